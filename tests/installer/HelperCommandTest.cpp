#include "installer/HelperCommand.h"

#include <gtest/gtest.h>

#include "installer/InstallerCore.h"

namespace orvek::installer {
namespace {

using Arguments = std::vector<std::string>;

TEST(HelperCommand, StatusAndMcpArguments) {
    EXPECT_EQ(HelperCommand::statusArguments(),
              (Arguments{"status", "--json", "--environment", "current"}));
    EXPECT_EQ(HelperCommand::mcpArguments(), Arguments{"mcp"});
}

TEST(HelperCommand, SetupArgumentsAreTheFixedThirty) {
    const Arguments expected = {"setup",
                                "--global",
                                "--environment",
                                "current",
                                "--agent",
                                "opencode",
                                "--model",
                                "opencode=claude-opus-5",
                                "--model",
                                "opencode=gpt-5.6-sol",
                                "--model",
                                "opencode=claude-sonnet-5",
                                "--model",
                                "opencode=claude-opus-5.5",
                                "--model",
                                "opencode=claude-sonnet-5.5",
                                "--model",
                                "opencode=gpt-6-astra",
                                "--model",
                                "opencode=gpt-6.1-sol",
                                "--default-model",
                                "opencode=claude-opus-5",
                                "--provider-only",
                                "--accept-plan",
                                "--non-interactive",
                                "--credential-storage",
                                "file",
                                "--lock-wait-ms",
                                "0",
                                "--no-telemetry"};
    EXPECT_EQ(HelperCommand::setupArguments(), expected);
    EXPECT_EQ(expected.size(), 30U);
    EXPECT_EQ("opencode=" + std::string(InstallerCore::defaultOrvekModel), expected[21]);
}

} // namespace
} // namespace orvek::installer
