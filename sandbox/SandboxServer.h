#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "TestCertificateAuthority.h"

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace orvek::sandbox {

/// One answer of the sandbox's MCP endpoint in place of its normal one.
struct McpAnswer {
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    /// Answers 307 with this Location instead.
    std::optional<std::string> location;
    /// Holds the request unanswered, as `SandboxServer::stall` does.
    bool stall = false;
};

/// How the sandbox's streamable-HTTP MCP endpoint behaves. By default it is a strict, working
/// server: JSON answers, a session id on "initialize" replaced by another on the notification,
/// both required back as the protocol says, and two tools.
struct McpService {
    /// Answers as an event stream (an event line, then the response on a "data:" line).
    bool eventStream = false;
    /// Hands out and requires session ids; without, no session header is sent or checked.
    bool sessions = true;
    /// Answers by JSON-RPC method name ("initialize", "notifications/initialized",
    /// "tools/list") in place of the normal ones.
    std::map<std::string, McpAnswer> answers;
};

/// What the server saw of one request.
struct ReceivedRequest {
    std::string method;
    /// Header names lower-cased, in arrival order.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    [[nodiscard]] std::optional<std::string> header(const std::string& name) const;
};

/// A web server on 127.0.0.1 at a free port, answering GET requests from a table of paths on
/// its own thread until it is destroyed. Never part of the shipped application.
class SandboxServer {
public:
    /// HTTPS with the given server certificate; throws std::runtime_error when the certificate
    /// cannot be loaded or no port can be bound.
    explicit SandboxServer(const CertificateFiles& files);
    /// Plain HTTP, for checking that a client refuses to go there; throws as above.
    [[nodiscard]] static std::unique_ptr<SandboxServer> plainHttpForTesting();
    /// Stops listening and joins the server thread.
    ~SandboxServer();
    SandboxServer(const SandboxServer&) = delete;
    SandboxServer& operator=(const SandboxServer&) = delete;

    /// "https://127.0.0.1:PORT" (or "http://" for the plain server), without a trailing slash.
    [[nodiscard]] std::string baseUrl() const;
    [[nodiscard]] int port() const noexcept { return m_port; }

    // For each path the latest of these registrations wins; other paths answer 404.

    /// Answers with the file's bytes, read from disk in chunks when the request comes; with a
    /// pace, about that many bytes a second, in twentieths of a second.
    void serveFile(const std::string& path, const std::filesystem::path& localPath,
                   std::size_t bytesPerSecond = 0);
    /// Answers 302 Found with `to` (an absolute address or a path) as the Location.
    void redirect(const std::string& from, const std::string& to);
    /// Answers with this status and an empty body.
    void fail(const std::string& path, int status);
    /// Answers with this status, body and content type.
    void respond(const std::string& path, int status, std::string body,
                 std::string contentType = "application/json");
    /// Answers 200 with `body` in chunks and no length announced (chunked transfer
    /// encoding), so only the client's own count can bound it.
    void respondChunked(const std::string& path, std::string body);
    /// Requests for this path without the header `name` set to exactly `value` are answered
    /// 401 with an error object, whatever the path's own answer is; as a service checks a key.
    void requireHeader(const std::string& path, const std::string& name, std::string value);
    /// Answers POST requests at this path as an MCP server over streamable HTTP.
    void serveMcp(const std::string& path, McpService service);

    /// Holds every request unanswered until the server is being destroyed or `kStallLimit`
    /// has passed, then answers 503; for clients' time limits.
    void stall(const std::string& path);

    /// The longest a stalled request is held.
    static constexpr auto kStallLimit = std::chrono::seconds(10);

    /// How many requests for this path have arrived so far, whatever they were answered with.
    [[nodiscard]] int requestCount(const std::string& path) const;
    /// The value of the header `name` (any case) in the latest request for this path; absent
    /// when that request had no such header or no request has arrived.
    [[nodiscard]] std::optional<std::string> lastHeader(const std::string& path,
                                                        const std::string& name) const;
    /// The names of all headers of the latest request for this path, lower-case and sorted.
    [[nodiscard]] std::vector<std::string> lastHeaderNames(const std::string& path) const;
    /// Every request for this path so far, in arrival order.
    [[nodiscard]] std::vector<ReceivedRequest> received(const std::string& path) const;

private:
    struct ServeFile {
        std::filesystem::path localPath;
        std::size_t bytesPerSecond = 0;
    };
    struct Redirect {
        std::string location;
    };
    struct Fail {
        int status = 404;
    };
    struct Respond {
        int status = 200;
        std::string body;
        std::string contentType;
    };
    struct RespondChunked {
        std::shared_ptr<const std::string> body;
    };
    struct Stall {};
    using Route =
        std::variant<ServeFile, Redirect, Fail, Respond, RespondChunked, Stall, McpService>;
    // Header names lower-cased, in arrival order.
    using Headers = std::vector<std::pair<std::string, std::string>>;

    SandboxServer(std::unique_ptr<httplib::Server> server, std::string scheme);
    void answer(const httplib::Request& request, httplib::Response& response);
    void answerMcp(const McpService& service, const ReceivedRequest& received,
                   httplib::Response& response);
    // Waits as `stall` does, then answers 503.
    void hold(httplib::Response& response);

    std::unique_ptr<httplib::Server> m_server;
    std::string m_scheme;
    int m_port = -1;
    mutable std::mutex m_mutex;
    std::map<std::string, Route> m_routes;
    // Path -> (lower-case header name, the value it must have).
    std::map<std::string, std::pair<std::string, std::string>> m_required;
    std::map<std::string, int> m_requests;
    std::map<std::string, Headers> m_lastHeaders;
    std::map<std::string, std::vector<ReceivedRequest>> m_received;
    int m_sessions = 0;
    bool m_stopping = false;
    std::condition_variable m_stopped;
    std::atomic<bool> m_listenReturned{false};
    std::thread m_thread;
};

} // namespace orvek::sandbox
