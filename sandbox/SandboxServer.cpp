#include "SandboxServer.h"

#include <signal.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

namespace orvek::sandbox {

namespace {

constexpr std::size_t kChunk = 256 * 1024;
// Waiting for the accept loop to begin before stopping it: 10 ms steps, 10 s at most.
constexpr int kStartPolls = 1000;
constexpr auto kStartPoll = std::chrono::milliseconds(10);

// The open file behind one response, kept alive by the content provider that reads it.
struct FileReader {
    std::ifstream in;
    std::vector<char> buffer;
};

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The server files the connection's addresses among the headers; the client sent none of them.
bool isConnectionNote(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
}

} // namespace

SandboxServer::SandboxServer(const CertificateFiles& files)
    : SandboxServer(std::make_unique<httplib::SSLServer>(files.serverCertificate.c_str(),
                                                         files.serverKey.c_str()),
                    "https") {}

std::unique_ptr<SandboxServer> SandboxServer::plainHttpForTesting() {
    return std::unique_ptr<SandboxServer>(
        new SandboxServer(std::make_unique<httplib::Server>(), "http"));
}

SandboxServer::SandboxServer(std::unique_ptr<httplib::Server> server, std::string scheme)
    : m_server(std::move(server)), m_scheme(std::move(scheme)) {
    if (!m_server->is_valid())
        throw std::runtime_error("sandbox server: the certificate or key cannot be used");
    m_server->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        answer(request, response);
    });
    m_server->Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
        answer(request, response);
    });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("sandbox server: no port on 127.0.0.1");
    // The socket listens from here on, so clients may connect before the loop below starts.
    m_thread = std::thread([this] {
        // A client that hangs up mid-reply must cost a failed write, not the whole process; the
        // connection threads are started from this one and inherit the mask.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        m_server->listen_after_bind();
        m_listenReturned = true;
    });
}

SandboxServer::~SandboxServer() {
    // Stalled requests hold connection threads that stop() would wait for.
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    // stop() does nothing before the accept loop has begun, and the loop would then run forever.
    for (int poll = 0; poll < kStartPolls && !m_server->is_running() && !m_listenReturned; ++poll)
        std::this_thread::sleep_for(kStartPoll);
    m_server->stop();
    m_thread.join();
}

std::string SandboxServer::baseUrl() const {
    return m_scheme + "://127.0.0.1:" + std::to_string(m_port);
}

void SandboxServer::serveFile(const std::string& path, const std::filesystem::path& localPath,
                              std::size_t bytesPerSecond) {
    const std::lock_guard lock(m_mutex);
    m_routes.insert_or_assign(path, ServeFile{localPath, bytesPerSecond});
}

void SandboxServer::redirect(const std::string& from, const std::string& to) {
    const std::lock_guard lock(m_mutex);
    m_routes.insert_or_assign(from, Redirect{to});
}

void SandboxServer::fail(const std::string& path, int status) {
    const std::lock_guard lock(m_mutex);
    m_routes.insert_or_assign(path, Fail{status});
}

void SandboxServer::respond(const std::string& path, int status, std::string body,
                            std::string contentType) {
    const std::lock_guard lock(m_mutex);
    m_routes.insert_or_assign(path, Respond{status, std::move(body), std::move(contentType)});
}

void SandboxServer::requireHeader(const std::string& path, const std::string& name,
                                  std::string value) {
    const std::lock_guard lock(m_mutex);
    m_required.insert_or_assign(path, std::pair{lowerCase(name), std::move(value)});
}

void SandboxServer::respondChunked(const std::string& path, std::string body) {
    const std::lock_guard lock(m_mutex);
    m_routes.insert_or_assign(path,
                              RespondChunked{std::make_shared<const std::string>(std::move(body))});
}

void SandboxServer::stall(const std::string& path) {
    const std::lock_guard lock(m_mutex);
    m_routes.insert_or_assign(path, Stall{});
}

std::optional<std::string> SandboxServer::lastHeader(const std::string& path,
                                                     const std::string& name) const {
    const std::lock_guard lock(m_mutex);
    const auto found = m_lastHeaders.find(path);
    if (found == m_lastHeaders.end())
        return std::nullopt;
    const auto wanted = lowerCase(name);
    for (const auto& [headerName, value] : found->second)
        if (headerName == wanted)
            return value;
    return std::nullopt;
}

std::vector<std::string> SandboxServer::lastHeaderNames(const std::string& path) const {
    const std::lock_guard lock(m_mutex);
    std::vector<std::string> names;
    if (const auto found = m_lastHeaders.find(path); found != m_lastHeaders.end())
        for (const auto& header : found->second)
            names.push_back(header.first);
    std::sort(names.begin(), names.end());
    return names;
}

int SandboxServer::requestCount(const std::string& path) const {
    const std::lock_guard lock(m_mutex);
    const auto found = m_requests.find(path);
    return found == m_requests.end() ? 0 : found->second;
}

std::optional<std::string> ReceivedRequest::header(const std::string& name) const {
    const auto wanted = lowerCase(name);
    for (const auto& [headerName, value] : headers)
        if (headerName == wanted)
            return value;
    return std::nullopt;
}

void SandboxServer::serveMcp(const std::string& path, McpService service) {
    const std::lock_guard lock(m_mutex);
    m_routes.insert_or_assign(path, std::move(service));
}

std::vector<ReceivedRequest> SandboxServer::received(const std::string& path) const {
    const std::lock_guard lock(m_mutex);
    const auto found = m_received.find(path);
    return found == m_received.end() ? std::vector<ReceivedRequest>() : found->second;
}

void SandboxServer::hold(httplib::Response& response) {
    std::unique_lock lock(m_mutex);
    (void)m_stopped.wait_for(lock, kStallLimit, [this] { return m_stopping; });
    response.status = 503;
}

void SandboxServer::answerMcp(const McpService& service, const ReceivedRequest& received,
                              httplib::Response& response) {
    using nlohmann::json;
    // A session id on "initialize" and another on the notification, so that a client must
    // keep the latest; handed out with scripted answers too, so they test one thing only.
    const auto handOutSession = [&] {
        if (!service.sessions || received.method == "tools/list")
            return;
        const std::lock_guard lock(m_mutex);
        response.set_header("Mcp-Session-Id", "sbx-session-" + std::to_string(++m_sessions));
    };
    if (const auto found = service.answers.find(received.method); found != service.answers.end()) {
        const auto& answer = found->second;
        if (answer.stall) {
            hold(response);
            return;
        }
        handOutSession();
        if (answer.location) {
            response.set_redirect(*answer.location, 307);
            return;
        }
        response.status = answer.status;
        response.set_content(answer.body, answer.contentType);
        return;
    }

    const auto request = json::parse(received.body, nullptr, false);
    // A strict server, as the protocol asks: the version on every request after "initialize"
    // and the latest session id back on every request once one was handed out.
    if (received.method != "initialize") {
        if (received.header("mcp-protocol-version") != "2025-03-26") {
            response.status = 400;
            return;
        }
        if (service.sessions) {
            const std::lock_guard lock(m_mutex);
            if (received.header("mcp-session-id") != "sbx-session-" + std::to_string(m_sessions)) {
                response.status = 404;
                return;
            }
        }
    }
    handOutSession();
    json reply = {{"jsonrpc", "2.0"},
                  {"id", request.is_object() ? request.value("id", json()) : json()}};
    if (received.method == "initialize") {
        reply["result"] = {{"protocolVersion", "2025-03-26"},
                           {"capabilities", {{"tools", json::object()}}},
                           {"serverInfo", {{"name", "orvek-sandbox"}, {"version", "0.1.10"}}}};
    } else if (received.method == "tools/list") {
        json tools = json::array();
        for (const char* name : {"orvek_models", "orvek_balance"})
            tools.push_back({{"name", name}, {"inputSchema", {{"type", "object"}}}});
        reply["result"] = {{"tools", tools}};
    } else {
        response.status = 202;
        return;
    }
    if (service.eventStream)
        response.set_content("event: message\ndata: " + reply.dump() + "\n\n", "text/event-stream");
    else
        response.set_content(reply.dump(), "application/json");
}

void SandboxServer::answer(const httplib::Request& request, httplib::Response& response) {
    Route route = Fail{404};
    ReceivedRequest received;
    {
        const std::lock_guard lock(m_mutex);
        ++m_requests[request.path];
        auto& headers = m_lastHeaders[request.path];
        headers.clear();
        for (const auto& [name, value] : request.headers)
            if (!isConnectionNote(name))
                headers.emplace_back(lowerCase(name), value);
        if (const auto found = m_routes.find(request.path); found != m_routes.end())
            route = found->second;
        if (const auto required = m_required.find(request.path); required != m_required.end()) {
            // Named copies: clang 14 cannot capture structured bindings in a lambda.
            const auto& name = required->second.first;
            const auto& value = required->second.second;
            const bool given = std::any_of(headers.begin(), headers.end(), [&](const auto& header) {
                return header.first == name && header.second == value;
            });
            if (!given)
                route = Respond{401, R"({"error":{"code":"invalid_api_key"}})", "application/json"};
        }
        const auto message = nlohmann::json::parse(request.body, nullptr, false);
        if (message.is_object() && message.contains("method") && message["method"].is_string())
            received.method = message["method"].get<std::string>();
        received.headers = headers;
        received.body = request.body;
        m_received[request.path].push_back(received);
    }
    if (const auto* mcp = std::get_if<McpService>(&route)) {
        if (request.method != "POST") {
            // No server-initiated stream: the protocol's answer for a GET it does not offer.
            response.status = 405;
            return;
        }
        answerMcp(*mcp, received, response);
        return;
    }
    if (std::holds_alternative<Stall>(route)) {
        hold(response);
        return;
    }
    if (const auto* respond = std::get_if<Respond>(&route)) {
        response.status = respond->status;
        response.set_content(respond->body, respond->contentType);
        return;
    }
    if (const auto* chunked = std::get_if<RespondChunked>(&route)) {
        response.status = 200;
        auto sent = std::make_shared<std::size_t>(0);
        response.set_chunked_content_provider(
            "application/json", [body = chunked->body, sent](std::size_t, httplib::DataSink& sink) {
                if (*sent == body->size()) {
                    sink.done();
                    return true;
                }
                const auto length = std::min(kChunk, body->size() - *sent);
                const bool written = sink.write(body->data() + *sent, length);
                *sent += length;
                return written;
            });
        return;
    }
    if (const auto* failure = std::get_if<Fail>(&route)) {
        response.status = failure->status;
        return;
    }
    if (const auto* redirect = std::get_if<Redirect>(&route)) {
        response.set_redirect(redirect->location, 302);
        return;
    }

    const auto& localPath = std::get<ServeFile>(route).localPath;
    // A paced reply sends a twentieth of the second's bytes, then waits out that twentieth.
    const auto pace = std::get<ServeFile>(route).bytesPerSecond;
    const std::size_t chunk = pace > 0 ? std::max<std::size_t>(pace / 20, 1) : kChunk;
    std::error_code error;
    const auto size = std::filesystem::file_size(localPath, error);
    auto reader = std::make_shared<FileReader>();
    reader->in.open(localPath, std::ios::binary);
    if (error || !reader->in) {
        response.status = 404;
        return;
    }
    response.set_content_provider(
        static_cast<std::size_t>(size), "application/octet-stream",
        [reader, chunk, pace](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            if (pace > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            reader->buffer.resize(std::min(length, chunk));
            reader->in.clear();
            reader->in.seekg(static_cast<std::streamoff>(offset));
            reader->in.read(reader->buffer.data(),
                            static_cast<std::streamsize>(reader->buffer.size()));
            const auto count = reader->in.gcount();
            // A file that shrank since its size was taken ends the reply early.
            if (count <= 0)
                return false;
            return sink.write(reader->buffer.data(), static_cast<std::size_t>(count));
        });
}

} // namespace orvek::sandbox
