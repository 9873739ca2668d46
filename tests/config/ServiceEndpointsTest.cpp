#include "config/ServiceEndpoints.h"

#include <stdexcept>

#include <gtest/gtest.h>

#include "installer/Deployment.h"

namespace orvek::config {
namespace {

TEST(ServiceEndpoints, EveryAddressComesFromTheOneBase) {
    const ServiceEndpoints production(installer::Deployment::production().apiBase);
    EXPECT_EQ(production.modelBase(), "https://api.orvek.ru/v1");
    EXPECT_EQ(production.key(), "https://api.orvek.ru/v1/key");
    EXPECT_EQ(production.models(), "https://api.orvek.ru/v1/models");
    EXPECT_EQ(production.mcp(), "https://api.orvek.ru/mcp");
    EXPECT_EQ(production.oauthClient(),
              "https://api.orvek.ru/.well-known/oauth-client/orvek-cli-mcp.json");

    const ServiceEndpoints sandbox("https://localhost");
    EXPECT_EQ(sandbox.mcp(), "https://localhost/mcp");
}

TEST(ServiceEndpoints, RefusesABaseThatIsNotJustAnHttpsHost) {
    for (const char* base :
         {"http://api.orvek.ru", "https://", "https://api.orvek.ru/", "https://api.orvek.ru/v1",
          "https://api.orvek.ru:443", "https://user@api.orvek.ru", "api.orvek.ru",
          "https://api.orvek.ru?x", "https://.orvek.ru"}) {
        SCOPED_TRACE(base);
        EXPECT_THROW(ServiceEndpoints{base}, std::invalid_argument);
    }
}

} // namespace
} // namespace orvek::config
