#include "base/UrlParts.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace orvek::base {
namespace {

struct PartsRow {
    const char* url;
    UrlParts parts;
};

TEST(UrlParts, TakesAnAbsoluteUrlApartAsLibcurlReadsIt) {
    const PartsRow rows[] = {
        {"https://orvek.ru/balance",
         {"https", "orvek.ru", std::nullopt, std::nullopt, std::nullopt, "/balance", std::nullopt,
          std::nullopt}},
        {"https://orvek.ru",
         {"https", "orvek.ru", std::nullopt, std::nullopt, std::nullopt, "/", std::nullopt,
          std::nullopt}},
        // The scheme's default port still counts as written, and libcurl drops leading zeros.
        {"https://orvek.ru:443/",
         {"https", "orvek.ru", std::nullopt, std::nullopt, "443", "/", std::nullopt, std::nullopt}},
        {"https://orvek.ru:0443/",
         {"https", "orvek.ru", std::nullopt, std::nullopt, "443", "/", std::nullopt, std::nullopt}},
        {"https://orvek.ru:/x",
         {"https", "orvek.ru", std::nullopt, std::nullopt, std::nullopt, "/x", std::nullopt,
          std::nullopt}},
        {"https://u:p@orvek.ru/",
         {"https", "orvek.ru", "u", "p", std::nullopt, "/", std::nullopt, std::nullopt}},
        {"https://u@orvek.ru/",
         {"https", "orvek.ru", "u", std::nullopt, std::nullopt, "/", std::nullopt, std::nullopt}},
        {"https://@orvek.ru/",
         {"https", "orvek.ru", "", std::nullopt, std::nullopt, "/", std::nullopt, std::nullopt}},
        {"https://:@orvek.ru/",
         {"https", "orvek.ru", "", "", std::nullopt, "/", std::nullopt, std::nullopt}},
        {"HTTPS://ORVEK.ru/A?b=1#c",
         {"https", "ORVEK.ru", std::nullopt, std::nullopt, std::nullopt, "/A", "b=1", "c"}},
        {"Mailbox://orvek.ru/",
         {"mailbox", "orvek.ru", std::nullopt, std::nullopt, std::nullopt, "/", std::nullopt,
          std::nullopt}},
        {"http://orvek.ru/%41",
         {"http", "orvek.ru", std::nullopt, std::nullopt, std::nullopt, "/%41", std::nullopt,
          std::nullopt}},
        {"https://[::1]/",
         {"https", "[::1]", std::nullopt, std::nullopt, std::nullopt, "/", std::nullopt,
          std::nullopt}},
        {"https://orvek.ru./",
         {"https", "orvek.ru.", std::nullopt, std::nullopt, std::nullopt, "/", std::nullopt,
          std::nullopt}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.url);
        EXPECT_EQ(urlParts(row.url), std::optional<UrlParts>(row.parts));
    }
}

TEST(UrlParts, RefusesWhatIsNoAbsoluteUrlWithAHost) {
    using namespace std::string_literals;
    for (const auto& url :
         {"orvek.ru/balance"s, "/balance"s, ""s, "https:orvek.ru"s, "https://orvek.ru/a b"s,
          "https://orvek.ru/\n"s, "https://orvek.ru:65536/"s, "https://orvek.ru:abc/"s,
          "https://u@"s, "https://orvek.ru\0.evil.example/"s}) {
        SCOPED_TRACE(url);
        EXPECT_EQ(urlParts(url), std::nullopt);
    }
}

} // namespace
} // namespace orvek::base
