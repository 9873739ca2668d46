// The support tool as support runs it: a real process against real servers.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "McpPeers.h"
#include "SandboxServer.h"
#include "TempHome.h"
#include "TestCertificateAuthority.h"
#include "base/ProcessRunner.h"
#include "mcp/LocalMcp.h"
#include "mcp/McpHealth.h"

namespace orvek::mcp {
namespace {

base::ProcessResult check(const std::vector<std::string>& arguments) {
    return base::run(ORVEK_MCP_CHECK, arguments, std::nullopt, 120);
}

TEST(McpCheckTool, ProbesAnEndpointAndPrintsTheResultLine) {
    test::TempHome home;
    const auto files = sandbox::TestCertificateAuthority().writeTo(home.path());
    sandbox::SandboxServer server(files);
    server.serveMcp("/mcp", sandbox::McpService{});
    sandbox::McpAnswer forbidden;
    forbidden.status = 403;
    server.serveMcp("/signed", sandbox::McpService{false, true, {{"initialize", forbidden}}});

    const auto confirmed = check({server.baseUrl() + "/mcp", "--cacert", files.caCertificate});
    EXPECT_EQ(confirmed.status, 0);
    EXPECT_EQ(confirmed.standardOutput, std::string(McpHealth::kConfirmedPrefix) + "2" +
                                            std::string(McpHealth::kConfirmedSuffix) + "\n");

    const auto signIn = check({"--cacert", files.caCertificate, server.baseUrl() + "/signed"});
    EXPECT_EQ(signIn.status, 1);
    EXPECT_EQ(signIn.standardOutput, std::string(McpHealth::kSignInRequired) + "\n");

    // Without the test authority the certificate is not trusted: no answer at all.
    const auto untrusted = check({server.baseUrl() + "/mcp"});
    EXPECT_EQ(untrusted.status, 1);
    EXPECT_EQ(untrusted.standardOutput, std::string(McpHealth::kUnavailable) + "\n");
}

TEST(McpCheckTool, RunsTheLocalExchangeAgainstAnyStdioServer) {
    ASSERT_EQ(test::McpPeerPaths::missing(), "");
    const auto sdk = check({"--stdio", "--", "node", test::McpPeerPaths::sdkServer().string(),
                            test::McpPeerPaths::modules().string(), "stdio"});
    EXPECT_EQ(sdk.status, 0);
    EXPECT_EQ(sdk.standardOutput, "tools: 3\n");

    const auto everything = check({"--stdio", "--", test::McpPeerPaths::node().string(),
                                   test::McpPeerPaths::everythingServer().string(), "stdio"});
    EXPECT_EQ(everything.status, 0);
    EXPECT_TRUE(everything.standardOutput.starts_with("tools: ")) << everything.standardOutput;

    // Closes its output unanswered while still reading, so the request is always written.
    const auto silent = check({"--stdio", "--", "/bin/sh", "-c", "exec >&-; cat >/dev/null"});
    EXPECT_EQ(silent.status, 1);
    EXPECT_EQ(silent.standardOutput,
              "failed: Настройки не поддерживаются. Исходные файлы сохранены.\n");
}

TEST(McpCheckTool, AWrongCommandLineIsAUsageError) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"--stdio"},
                                               {"--stdio", "node"},
                                               {"--stdio", "--"},
                                               {"https://a/mcp", "https://b/mcp"},
                                               {"--cacert"},
                                               {"--verbose"},
                                               {"--stdio", "--", "no-such-command-here"}}) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        const auto result = check(arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.standardOutput, "");
    }
}

} // namespace
} // namespace orvek::mcp
