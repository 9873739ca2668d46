#include "base/HttpsClient.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SandboxServer.h"
#include "TempHome.h"
#include "TestCertificateAuthority.h"

namespace orvek::base {
namespace {

constexpr std::size_t kCap = 2097152;

// A loopback HTTPS server with a certificate from a throwaway authority the requests trust.
class HttpsClientTest : public ::testing::Test {
protected:
    [[nodiscard]] HttpsRequest request(const std::string& path) const {
        HttpsRequest request;
        request.url = server.baseUrl() + path;
        request.trustedCa = files.caCertificate;
        request.limits.idleSeconds = 5;
        request.limits.totalSeconds = 10;
        return request;
    }

    test::TempHome home;
    sandbox::CertificateFiles files = sandbox::TestCertificateAuthority().writeTo(home.path());
    sandbox::SandboxServer server{files};
};

// Without a length the server could stream forever; the client's own count is the only bound.
TEST_F(HttpsClientTest, AChunkedBodyIsCappedByTheClientsOwnCount) {
    server.respondChunked("/exact", std::string(kCap, 'a'));
    server.respondChunked("/over", std::string(kCap + 1, 'a'));
    EXPECT_EQ(httpsGet(request("/exact")).body.size(), kCap);
    EXPECT_THROW((void)httpsGet(request("/over")), HttpsError);
}

TEST_F(HttpsClientTest, AnAnnouncedLengthOverTheCapIsRefused) {
    server.respond("/big", 200, std::string(kCap + 1, 'a'));
    server.respond("/fits", 200, std::string(kCap, 'a'));
    EXPECT_THROW((void)httpsGet(request("/big")), HttpsError);
    EXPECT_EQ(httpsGet(request("/fits")).body.size(), kCap);
}

TEST_F(HttpsClientTest, ARedirectIsTheAnswerNeverFollowed) {
    server.redirect("/moved", "/target");
    server.respond("/target", 200, "{}");
    EXPECT_EQ(httpsGet(request("/moved")).status, 302);
    EXPECT_EQ(server.requestCount("/target"), 0);
}

TEST_F(HttpsClientTest, SendsOnlyTheCallersHeaders) {
    server.respond("/h", 200, "{}");
    auto withKey = request("/h");
    withKey.headers = {"Authorization: Bearer sk-test-12345678"};
    EXPECT_EQ(httpsGet(withKey).status, 200);
    EXPECT_EQ(server.lastHeader("/h", "authorization"), "Bearer sk-test-12345678");
    EXPECT_EQ(server.lastHeaderNames("/h"),
              (std::vector<std::string>{"accept", "authorization", "host"}));
}

TEST_F(HttpsClientTest, RefusedBeforeAnythingIsSent) {
    server.respond("/x", 200, "{}");
    const auto plain = sandbox::SandboxServer::plainHttpForTesting();
    plain->respond("/x", 200, "{}");

    auto untrusted = request("/x");
    untrusted.trustedCa.reset();
    auto cleartext = request("/x");
    cleartext.url = plain->baseUrl() + "/x";
    auto split = request("/x");
    split.headers = {"X-Test: a\r\nCookie: b"};
    for (const auto* refused : {&untrusted, &cleartext, &split})
        EXPECT_THROW((void)httpsGet(*refused), HttpsError) << refused->url;
    EXPECT_EQ(plain->requestCount("/x"), 0);
    EXPECT_EQ(server.requestCount("/x"), 0) << "only the TLS handshake reached the server";
}

TEST_F(HttpsClientTest, ATransferThatStallsEndsAtTheIdleLimit) {
    server.stall("/slow");
    auto slow = request("/slow");
    slow.limits.idleSeconds = 1;
    slow.limits.totalSeconds = 2;
    EXPECT_THROW((void)httpsGet(slow), HttpsError);
}

} // namespace
} // namespace orvek::base

namespace orvek::base {
namespace {

TEST_F(HttpsClientTest, APostSendsItsBodyAndReturnsTheAnswersHeaders) {
    server.serveMcp("/post", sandbox::McpService{});
    auto post = request("/post");
    post.headers = {"Content-Type: application/json", "Accept: application/json"};
    const std::string body =
        R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-03-26"}})";
    const auto response = httpsPost(post, body);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.header("MCP-SESSION-ID"), "sbx-session-1");
    EXPECT_EQ(response.header("mcp-session-id"), "sbx-session-1");
    EXPECT_EQ(response.header("X-Absent"), std::nullopt);
    const auto received = server.received("/post");
    ASSERT_EQ(received.size(), 1U);
    EXPECT_EQ(received[0].method, "initialize");
    EXPECT_EQ(received[0].body, body);
    EXPECT_EQ(received[0].header("expect"), std::nullopt);
}

TEST_F(HttpsClientTest, AnOversizedBodyCanBeKeptAsAnAnswer) {
    server.respond("/big", 200, std::string(kCap + 1, 'a'));
    server.respondChunked("/chunked", std::string(kCap + 1, 'a'));
    server.respond("/fits", 200, std::string(kCap, 'a'));
    for (const char* path : {"/big", "/chunked", "/fits"}) {
        SCOPED_TRACE(path);
        auto keep = request(path);
        keep.keepOversized = true;
        const auto response = httpsPost(keep, "{}");
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(response.oversized, std::string(path) != "/fits");
        EXPECT_LE(response.body.size(), kCap);
    }
}

} // namespace
} // namespace orvek::base
