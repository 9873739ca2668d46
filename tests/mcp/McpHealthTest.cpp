#include "mcp/McpHealth.h"

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "McpPeers.h"
#include "SandboxServer.h"
#include "TempHome.h"
#include "TestCertificateAuthority.h"

namespace orvek::mcp {
namespace {

using nlohmann::json;
using sandbox::McpAnswer;
using sandbox::McpService;

constexpr std::size_t kLimit = 2097152;
const std::string kTwoTools =
    std::string(McpHealth::kConfirmedPrefix) + "2" + std::string(McpHealth::kConfirmedSuffix);

std::string initializeResult(const json& result) {
    return json{{"jsonrpc", "2.0"}, {"id", 1}, {"result", result}}.dump();
}

std::string toolsResult(const json& tools) {
    return json{{"jsonrpc", "2.0"}, {"id", 3}, {"result", {{"tools", tools}}}}.dump();
}

McpAnswer reply(int status, std::string body, std::string contentType = "application/json") {
    McpAnswer answer;
    answer.status = status;
    answer.body = std::move(body);
    answer.contentType = std::move(contentType);
    return answer;
}

// A JSON response object padded with trailing spaces to exactly `size` bytes.
std::string padded(std::string body, std::size_t size) {
    body.resize(size, ' ');
    return body;
}

// The sandbox's MCP endpoint on a loopback HTTPS server the probe trusts.
class McpHealthTest : public ::testing::Test {
protected:
    [[nodiscard]] McpEndpoint endpoint(const std::string& path = "/mcp") const {
        return {server.baseUrl() + path, files.caCertificate, std::nullopt};
    }

    test::TempHome home;
    sandbox::CertificateFiles files = sandbox::TestCertificateAuthority().writeTo(home.path());
    sandbox::SandboxServer server{files};
};

TEST_F(McpHealthTest, AWorkingServerIsConfirmedWhateverItsAnswersLookLike) {
    struct Row {
        const char* name;
        bool eventStream;
        bool sessions;
    };
    for (const Row& row :
         {Row{"json with sessions", false, true}, Row{"event stream with sessions", true, true},
          Row{"json without sessions", false, false},
          Row{"event stream without sessions", true, false}}) {
        SCOPED_TRACE(row.name);
        const std::string path =
            std::string("/mcp-") + (row.eventStream ? "s" : "j") + (row.sessions ? "s" : "n");
        server.serveMcp(path, McpService{row.eventStream, row.sessions, {}});
        EXPECT_EQ(McpHealth::probe(endpoint(path)), kTwoTools);
        EXPECT_EQ(server.received(path).size(), 3U);
    }
}

TEST_F(McpHealthTest, SendsExactlyTheHandshakeWithTheLatestSessionIdAndNoCredentials) {
    server.serveMcp("/mcp", McpService{});
    ASSERT_EQ(McpHealth::probe(endpoint()), kTwoTools);
    const auto requests = server.received("/mcp");
    ASSERT_EQ(requests.size(), 3U);

    const json expected[] = {
        {{"jsonrpc", "2.0"},
         {"method", "initialize"},
         {"id", 1},
         {"params",
          {{"protocolVersion", "2025-03-26"},
           {"capabilities", json::object()},
           {"clientInfo", {{"name", "orvek-setup-health"}, {"version", "0.4.7"}}}}}},
        {{"jsonrpc", "2.0"}, {"method", "notifications/initialized"}},
        {{"jsonrpc", "2.0"}, {"method", "tools/list"}, {"id", 3}},
    };
    const std::vector<std::vector<std::string>> names = {
        {"accept", "content-length", "content-type", "host"},
        {"accept", "content-length", "content-type", "host", "mcp-protocol-version",
         "mcp-session-id"},
        {"accept", "content-length", "content-type", "host", "mcp-protocol-version",
         "mcp-session-id"},
    };
    // The notification's answer hands out a new id, which replaces the first one.
    const std::optional<std::string> sessions[] = {std::nullopt, "sbx-session-1", "sbx-session-2"};
    for (std::size_t step = 0; step < 3; ++step) {
        SCOPED_TRACE(step);
        const auto& request = requests[step];
        EXPECT_EQ(json::parse(request.body), expected[step]);
        std::vector<std::string> sent;
        for (const auto& header : request.headers)
            sent.push_back(header.first);
        std::sort(sent.begin(), sent.end());
        EXPECT_EQ(sent, names[step]);
        EXPECT_EQ(request.header("content-type"), "application/json");
        EXPECT_EQ(request.header("accept"), "application/json, text/event-stream");
        EXPECT_EQ(request.header("mcp-session-id"), sessions[step]);
        if (step > 0) {
            EXPECT_EQ(request.header("mcp-protocol-version"), "2025-03-26");
        }
    }
}

TEST_F(McpHealthTest, EveryFailingAnswerGivesItsOwnLine) {
    const std::string eventStreamTwoIds = "event: message\ndata: " + toolsResult(json::array()) +
                                          "\n\ndata: " + toolsResult({{{"name", "a"}}}) + "\n\n";
    const std::string eventStreamLastEmpty =
        "data: " + toolsResult({{{"name", "a"}}}) + "\ndata: " + toolsResult(json::array()) + "\n";
    const json initialize = {{"protocolVersion", "2024-11-05"}, {"capabilities", json::object()}};
    struct Row {
        const char* name;
        std::string method;
        McpAnswer answer;
        std::string_view expected;
        std::string extraLine = {};
    };
    const std::string one =
        std::string(McpHealth::kConfirmedPrefix) + "1" + std::string(McpHealth::kConfirmedSuffix);
    const std::vector<Row> rows = {
        {"401 on initialize", "initialize", reply(401, "", "text/plain"),
         McpHealth::kSignInRequired},
        {"403 on tools/list", "tools/list", reply(403, "", "text/plain"),
         McpHealth::kSignInRequired},
        {"401 on the notification", "notifications/initialized", reply(401, "", "text/plain"),
         McpHealth::kSignInRequired},
        {"500", "initialize", reply(500, "{}"), McpHealth::kUnavailable},
        {"404 on the notification", "notifications/initialized", reply(404, ""),
         McpHealth::kUnavailable},
        {"299 is still a success", "tools/list", reply(299, toolsResult({{{"name", "a"}}})), one},
        {"300", "tools/list", reply(300, toolsResult({{{"name", "a"}}})), McpHealth::kUnavailable},
        {"a notification answered with anything", "notifications/initialized",
         reply(200, "not json at all", "text/html"), kTwoTools},
        {"no body", "initialize", reply(200, ""), McpHealth::kInvalid},
        {"an array", "initialize", reply(200, "[" + initializeResult(initialize) + "]"),
         McpHealth::kInvalid},
        {"an event stream without an id", "initialize",
         reply(200, "data: {\"jsonrpc\":\"2.0\",\"result\":{}}\n", "text/event-stream"),
         McpHealth::kInvalid},
        {"an error member, even null", "tools/list",
         reply(200, R"({"jsonrpc":"2.0","id":3,"error":null,"result":{"tools":[{"name":"a"}]}})"),
         McpHealth::kInvalid},
        {"no result", "initialize", reply(200, R"({"jsonrpc":"2.0","id":1})"), McpHealth::kInvalid},
        {"a result that is no object", "tools/list",
         reply(200, R"({"jsonrpc":"2.0","id":3,"result":[]})"), McpHealth::kInvalid},
        {"an older protocol version", "initialize", reply(200, initializeResult(initialize)),
         kTwoTools},
        {"no capabilities", "initialize",
         reply(200, initializeResult({{"protocolVersion", "2025-03-26"}})),
         McpHealth::kInitializeUnconfirmed},
        {"no tools member", "tools/list",
         reply(200, R"({"jsonrpc":"2.0","id":3,"result":{"nextCursor":"x"}})"),
         McpHealth::kNoTools},
        {"tools empty", "tools/list", reply(200, toolsResult(json::array())), McpHealth::kNoTools},
        {"a tool without a name", "tools/list",
         reply(200, toolsResult({{{"description", "unnamed"}}})), McpHealth::kNoTools},
        {"a name that is no string", "tools/list", reply(200, toolsResult({{{"name", 7}}})),
         McpHealth::kNoTools},
        {"an empty tool object", "tools/list",
         reply(200, toolsResult({{{"name", "a"}}, json::object()})), McpHealth::kNoTools},
        {"tools as an object", "tools/list", reply(200, toolsResult({{"name", "a"}})),
         McpHealth::kNoTools},
        {"the later of two data lines wins", "tools/list",
         reply(200, eventStreamTwoIds, "text/event-stream"), one},
        {"the later of two data lines wins, even empty", "tools/list",
         reply(200, eventStreamLastEmpty, "text/event-stream"), McpHealth::kNoTools},
        {"a body of exactly 2 MiB", "tools/list",
         reply(200, padded(toolsResult({{{"name", "a"}}}), kLimit)), one},
        {"a body of 2 MiB and one byte", "tools/list",
         reply(200, padded(toolsResult({{{"name", "a"}}}), kLimit + 1)), McpHealth::kInvalid},
        {"an event stream that is not UTF-8", "initialize",
         reply(200, "data: " + initializeResult(initialize) + "\n\xff\n", "text/event-stream"),
         McpHealth::kInvalid},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        McpService service;
        service.answers[row.method] = row.answer;
        server.serveMcp("/mcp", service);
        EXPECT_EQ(McpHealth::probe(endpoint()), row.expected);
    }
}

TEST_F(McpHealthTest, ARedirectIsNeverFollowedOnAnyStep) {
    server.serveMcp("/elsewhere", McpService{});
    for (const char* method : {"initialize", "notifications/initialized", "tools/list"}) {
        SCOPED_TRACE(method);
        McpService service;
        McpAnswer redirect;
        redirect.location = server.baseUrl() + "/elsewhere";
        service.answers[method] = redirect;
        server.serveMcp("/mcp", service);
        EXPECT_EQ(McpHealth::probe(endpoint()), McpHealth::kUnavailable);
    }
    EXPECT_TRUE(server.received("/elsewhere").empty());
}

TEST_F(McpHealthTest, NoAnswerAtAllIsUnavailable) {
    auto untrusted = endpoint();
    untrusted.trustedCa.reset();
    auto closedPort = endpoint();
    closedPort.url = "https://127.0.0.1:1/mcp";
    auto cleartext = endpoint();
    cleartext.url = "http://127.0.0.1:" + std::to_string(server.port()) + "/mcp";
    server.serveMcp("/mcp", McpService{});
    for (const auto* target : {&untrusted, &closedPort, &cleartext})
        EXPECT_EQ(McpHealth::probe(*target), McpHealth::kUnavailable) << target->url;
    EXPECT_TRUE(server.received("/mcp").empty());
}

// The deadline is shared by all three requests: a stall on any of them ends the probe there.
TEST_F(McpHealthTest, AStallOnAnyStepEndsAtTheDeadline) {
    for (const char* method : {"initialize", "notifications/initialized", "tools/list"}) {
        SCOPED_TRACE(method);
        McpService service;
        McpAnswer stall;
        stall.stall = true;
        service.answers[method] = stall;
        sandbox::SandboxServer stalling(files);
        stalling.serveMcp("/mcp", service);
        EXPECT_EQ(McpHealth::probeForTesting(
                      {stalling.baseUrl() + "/mcp", files.caCertificate, std::nullopt},
                      std::chrono::milliseconds(1500)),
                  McpHealth::kTimedOut);
    }
}

// The official TypeScript SDK's own transport, stateful and stateless, answering with JSON or
// with an event stream: the probe must pass against the servers users really run.
TEST_F(McpHealthTest, ServersOfTheOfficialSdkAreConfirmed) {
    ASSERT_EQ(test::McpPeerPaths::missing(), "");
    const std::string three =
        std::string(McpHealth::kConfirmedPrefix) + "3" + std::string(McpHealth::kConfirmedSuffix);
    const std::vector<std::vector<std::string>> variants = {
        {}, {"--json"}, {"--stateless"}, {"--json", "--stateless"}};
    int index = 0;
    for (const auto& flags : variants) {
        SCOPED_TRACE(::testing::PrintToString(flags));
        const auto folder = home / ("peer-" + std::to_string(index++));
        std::filesystem::create_directories(folder);
        const test::SdkHttpPeer peer(folder, files.serverCertificate, files.serverKey, flags);
        EXPECT_EQ(McpHealth::probe({peer.url(), files.caCertificate, std::nullopt}), three);
    }
}

} // namespace
} // namespace orvek::mcp
