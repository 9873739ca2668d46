#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Bytes.h"

namespace orvek::base {

/// How long a request may wait and how much it may bring back.
struct HttpsLimits {
    /// Longest pause without any bytes moving, connection set-up included.
    double idleSeconds = 15;
    /// Longest the whole transfer may take.
    double totalSeconds = 30;
    /// Largest body accepted, in bytes, whether or not the server announces a length.
    std::size_t maxBody = 2097152;
};

/// One GET over HTTPS. Nothing is stored between requests (no cookies, cache or credentials),
/// no redirect is ever followed, the server's certificate and name are always checked, and only
/// the headers given here are sent beyond the client's own minimum.
struct HttpsRequest {
    /// An "https://" address; any other scheme is refused before anything is sent.
    std::string url;
    /// Whole header lines such as "Authorization: Bearer …"; no line break inside.
    std::vector<std::string> headers;
    HttpsLimits limits;
    /// A CA bundle to trust instead of the system's; only tests and the sandbox set it.
    std::optional<std::filesystem::path> trustedCa;
    /// "HOST:PORT" where the connection really goes, the address itself kept as given (the
    /// certificate is checked against the address's host); only the sandbox sets it.
    std::optional<std::string> connectTo;
    /// A body over `limits.maxBody` ends the transfer as a response marked `oversized` (with the
    /// body cut at the limit) instead of failing; for callers that judge such a body themselves.
    bool keepOversized = false;
};

/// The answer to a request that completed: any status, a redirect included, with its body.
struct HttpsResponse {
    long status = 0;
    Bytes body;
    /// Only with `keepOversized`: the server sent more than `maxBody` bytes; `body` is cut short.
    bool oversized = false;
    /// The header lines of the final response, names as sent, values without surrounding spaces.
    std::vector<std::pair<std::string, std::string>> headers;

    /// The value of the first header named `name` (any case); absent when there is none.
    [[nodiscard]] std::optional<std::string> header(std::string_view name) const;
};

/// No complete answer: the transfer failed, a limit was hit, or the answer came from another
/// address than the one asked. The description is a finished Russian sentence.
class HttpsError : public std::runtime_error {
public:
    HttpsError();
};

/// Sends the request and waits for the whole answer; throws HttpsError.
[[nodiscard]] HttpsResponse httpsGet(const HttpsRequest& request);

/// The same as a POST of `body`, sent exactly as given and announced by length; throws
/// HttpsError.
[[nodiscard]] HttpsResponse httpsPost(const HttpsRequest& request, std::string_view body);

} // namespace orvek::base
