#include "mcp/McpHealth.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/HttpsClient.h"
#include "base/Json.h"
#include "mcp/McpResponse.h"

namespace orvek::mcp::McpHealth {

namespace {

using base::JsonValue;
using Clock = std::chrono::steady_clock;

constexpr const char* kProtocolVersion = "2025-03-26";
constexpr std::size_t kBodyLimit = 2097152;

// The probe's redirect policy. The client never follows a redirect, so a 3xx answer arrives as
// the response itself and fails the status check; nothing is ever sent to its target.
struct McpNoRedirect {
    [[nodiscard]] static bool redirected(const base::HttpsResponse& response) {
        return response.status >= 300 && response.status < 400;
    }
};

JsonValue requestBody(int step) {
    switch (step) {
    case 0:
        return {{"jsonrpc", "2.0"},
                {"method", "initialize"},
                {"id", 1},
                {"params",
                 {{"protocolVersion", kProtocolVersion},
                  {"capabilities", JsonValue::object()},
                  {"clientInfo", {{"name", "orvek-setup-health"}, {"version", "0.4.7"}}}}}};
    case 1:
        return {{"jsonrpc", "2.0"}, {"method", "notifications/initialized"}};
    default:
        return {{"jsonrpc", "2.0"}, {"method", "tools/list"}, {"id", step + 1}};
    }
}

// One step's outcome: the result object of a response, or the line that ends the probe.
struct Exchange {
    std::optional<JsonValue> result;
    std::optional<std::string_view> verdict;
};

class Probe {
public:
    Probe(const McpEndpoint& endpoint, Clock::duration deadline)
        : m_endpoint(endpoint), m_deadline(Clock::now() + deadline) {}

    [[nodiscard]] std::string run() {
        std::optional<JsonValue> tools;
        for (int step = 0; step < 3; ++step) {
            auto exchange = send(step);
            if (exchange.verdict)
                return std::string(*exchange.verdict);
            if (step == 0 && !(exchange.result->contains("protocolVersion") &&
                               exchange.result->contains("capabilities")))
                return std::string(kInitializeUnconfirmed);
            if (step == 2 && exchange.result->contains("tools"))
                tools = JsonValue::object({{"tools", (*exchange.result)["tools"]}});
        }
        const auto count = tools ? McpResponse::toolCount(*tools) : std::nullopt;
        if (!count)
            return std::string(kNoTools);
        return std::string(kConfirmedPrefix) + std::to_string(*count) +
               std::string(kConfirmedSuffix);
    }

private:
    Exchange send(int step) {
        const auto remaining = m_deadline - Clock::now();
        if (remaining <= Clock::duration::zero())
            return {std::nullopt, kTimedOut};
        const double seconds = std::chrono::duration<double>(remaining).count();

        base::HttpsRequest request;
        request.url = m_endpoint.url;
        request.trustedCa = m_endpoint.trustedCa;
        request.connectTo = m_endpoint.connectTo;
        request.headers = {"Content-Type: application/json",
                           "Accept: application/json, text/event-stream"};
        if (step > 0)
            request.headers.push_back(std::string("MCP-Protocol-Version: ") + kProtocolVersion);
        if (m_sessionId)
            request.headers.push_back("Mcp-Session-Id: " + *m_sessionId);
        // The overall deadline bounds every request; the client counts whole milliseconds, so
        // its limit is rounded past the deadline, and the pause limit is a second longer, so
        // that a silent server ends the probe at the deadline itself, reported as a time-out.
        request.limits.totalSeconds = seconds + 0.002;
        request.limits.idleSeconds = seconds + 1;
        request.limits.maxBody = kBodyLimit;
        request.keepOversized = true;

        base::HttpsResponse response;
        try {
            response = base::httpsPost(request, base::json(requestBody(step)));
        } catch (const base::HttpsError&) {
            // A transfer error is not examined: it is a missing response, unless time ran out.
            if (Clock::now() >= m_deadline)
                return {std::nullopt, kTimedOut};
            return {std::nullopt, kUnavailable};
        }
        if (response.status == 401 || response.status == 403)
            return {std::nullopt, kSignInRequired};
        if (McpNoRedirect::redirected(response) || response.status < 200 || response.status > 299)
            return {std::nullopt, kUnavailable};
        if (auto sessionId = response.header("Mcp-Session-Id"))
            m_sessionId = std::move(sessionId);
        if (step == 1)
            return {JsonValue::object(), std::nullopt};

        if (response.oversized || response.body.size() > kBodyLimit)
            return {std::nullopt, kInvalid};
        auto message = McpResponse::responseObject(response.body);
        if (!message || message->contains("error"))
            return {std::nullopt, kInvalid};
        const auto result = message->find("result");
        if (result == message->end() || !result->is_object())
            return {std::nullopt, kInvalid};
        return {*result, std::nullopt};
    }

    const McpEndpoint& m_endpoint;
    Clock::time_point m_deadline;
    std::optional<std::string> m_sessionId;
};

} // namespace

std::string probe(const McpEndpoint& endpoint) {
    return Probe(endpoint, kDeadline).run();
}

std::string probeForTesting(const McpEndpoint& endpoint, std::chrono::milliseconds deadline) {
    return Probe(endpoint, deadline).run();
}

bool confirmed(std::string_view result) {
    return result.starts_with(kConfirmedPrefix) && result.ends_with(kConfirmedSuffix);
}

} // namespace orvek::mcp::McpHealth
