#include "base/HttpsClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <utility>

namespace orvek::base {

namespace {

struct EasyDeleter {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using List = std::unique_ptr<curl_slist, ListDeleter>;

// Once per process and never undone: another thread may still be in a transfer at exit.
void initialiseCurl() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK)
        throw HttpsError();
}

List append(List list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr)
        throw std::bad_alloc();
    (void)list.release();
    return List(grown);
}

template <typename Value> void set(CURL* handle, CURLoption option, Value value) {
    if (curl_easy_setopt(handle, option, value) != CURLE_OK)
        throw HttpsError();
}

struct Body {
    Bytes bytes;
    std::size_t limit = 0;
    bool overflowed = false;
};

// Returning less than offered makes libcurl abort the transfer with a write error. This is the
// cap that holds when the server sends no length (a chunked body).
std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto& body = *static_cast<Body*>(user);
    const std::size_t offered = size * count;
    if (offered > body.limit - body.bytes.size()) {
        body.overflowed = true;
        return 0;
    }
    try {
        body.bytes.append(data, offered);
    } catch (...) {
        // Exceptions must not cross libcurl's C frames; the aborted transfer reports it.
        return 0;
    }
    return offered;
}

using HeaderLines = std::vector<std::pair<std::string, std::string>>;

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

// Called once per header line of every response on the way, interim ones included; a status
// line starts a new response, so only the final response's headers remain.
std::size_t collectHeader(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto& headers = *static_cast<HeaderLines*>(user);
    const std::size_t offered = size * count;
    try {
        const std::string_view line(data, offered);
        if (line.starts_with("HTTP/")) {
            headers.clear();
            return offered;
        }
        const auto colon = line.find(':');
        if (colon != std::string_view::npos)
            headers.emplace_back(trimmed(line.substr(0, colon)), trimmed(line.substr(colon + 1)));
    } catch (...) {
        return 0;
    }
    return offered;
}

bool sameName(std::string_view left, std::string_view right) {
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

long milliseconds(double seconds) {
    return static_cast<long>(seconds * 1000);
}

} // namespace

HttpsError::HttpsError() : std::runtime_error("Не удалось получить ответ сервера по HTTPS.") {}

namespace {

HttpsResponse transfer(const HttpsRequest& request, const std::optional<std::string_view>& post) {
    if (!request.url.starts_with("https://"))
        throw HttpsError();
    for (const auto& line : request.headers)
        if (line.find_first_of("\r\n") != std::string::npos)
            throw HttpsError();
    initialiseCurl();
    const Easy easy(curl_easy_init());
    if (!easy)
        throw HttpsError();
    CURL* handle = easy.get();

    List headers;
    for (const auto& line : request.headers)
        headers = append(std::move(headers), line);
    // libcurl would otherwise announce large bodies with "Expect: 100-continue" and wait.
    if (post)
        headers = append(std::move(headers), "Expect:");
    List connectTo;
    if (request.connectTo)
        connectTo = append(List(), "::" + *request.connectTo);
    Body body{{}, request.limits.maxBody};
    HeaderLines received;

    set(handle, CURLOPT_URL, request.url.c_str());
    set(handle, CURLOPT_PROTOCOLS_STR, "https");
    // No redirect is followed: a 3xx answer is itself the response.
    set(handle, CURLOPT_FOLLOWLOCATION, 0L);
    set(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    if (post) {
        set(handle, CURLOPT_POST, 1L);
        set(handle, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(post->size()));
        set(handle, CURLOPT_POSTFIELDS, post->data());
    } else {
        set(handle, CURLOPT_HTTPGET, 1L);
    }
    set(handle, CURLOPT_NOSIGNAL, 1L);
    set(handle, CURLOPT_NETRC, static_cast<long>(CURL_NETRC_IGNORED));
    set(handle, CURLOPT_SSL_VERIFYPEER, 1L);
    set(handle, CURLOPT_SSL_VERIFYHOST, 2L);
    if (headers)
        set(handle, CURLOPT_HTTPHEADER, headers.get());
    set(handle, CURLOPT_CONNECTTIMEOUT_MS, milliseconds(request.limits.idleSeconds));
    set(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(handle, CURLOPT_LOW_SPEED_TIME,
        std::max(1L, milliseconds(request.limits.idleSeconds) / 1000));
    set(handle, CURLOPT_TIMEOUT_MS, milliseconds(request.limits.totalSeconds));
    // An announced length over the cap must reach `collect` too when the caller keeps it.
    if (!request.keepOversized)
        set(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.limits.maxBody));
    set(handle, CURLOPT_WRITEFUNCTION, &collect);
    set(handle, CURLOPT_WRITEDATA, static_cast<void*>(&body));
    set(handle, CURLOPT_HEADERFUNCTION, &collectHeader);
    set(handle, CURLOPT_HEADERDATA, static_cast<void*>(&received));
    if (request.trustedCa)
        set(handle, CURLOPT_CAINFO, request.trustedCa->c_str());
    if (connectTo)
        set(handle, CURLOPT_CONNECT_TO, connectTo.get());

    const CURLcode performed = curl_easy_perform(handle);
    const bool cut = performed == CURLE_WRITE_ERROR && body.overflowed && request.keepOversized;
    if (performed != CURLE_OK && !cut)
        throw HttpsError();
    HttpsResponse response;
    char* effective = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &response.status) != CURLE_OK ||
        curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK)
        throw HttpsError();
    if (effective == nullptr || request.url != effective)
        throw HttpsError();
    response.body = std::move(body.bytes);
    response.oversized = cut;
    response.headers = std::move(received);
    return response;
}

} // namespace

std::optional<std::string> HttpsResponse::header(std::string_view name) const {
    for (const auto& [headerName, value] : headers)
        if (sameName(headerName, name))
            return value;
    return std::nullopt;
}

HttpsResponse httpsGet(const HttpsRequest& request) {
    return transfer(request, std::nullopt);
}

HttpsResponse httpsPost(const HttpsRequest& request, std::string_view body) {
    return transfer(request, body);
}

} // namespace orvek::base
