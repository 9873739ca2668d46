#include "base/HttpsClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <new>
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
};

// Returning less than offered makes libcurl abort the transfer with a write error. This is the
// cap that holds when the server sends no length (a chunked body).
std::size_t collect(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto& body = *static_cast<Body*>(user);
    const std::size_t offered = size * count;
    if (offered > body.limit - body.bytes.size())
        return 0;
    try {
        body.bytes.append(data, offered);
    } catch (...) {
        // Exceptions must not cross libcurl's C frames; the aborted transfer reports it.
        return 0;
    }
    return offered;
}

long milliseconds(double seconds) {
    return static_cast<long>(seconds * 1000);
}

} // namespace

HttpsError::HttpsError() : std::runtime_error("Не удалось получить ответ сервера по HTTPS.") {}

HttpsResponse httpsGet(const HttpsRequest& request) {
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
    List connectTo;
    if (request.connectTo)
        connectTo = append(List(), "::" + *request.connectTo);
    Body body{{}, request.limits.maxBody};

    set(handle, CURLOPT_URL, request.url.c_str());
    set(handle, CURLOPT_PROTOCOLS_STR, "https");
    // No redirect is followed: a 3xx answer is itself the response.
    set(handle, CURLOPT_FOLLOWLOCATION, 0L);
    set(handle, CURLOPT_REDIR_PROTOCOLS_STR, "https");
    set(handle, CURLOPT_HTTPGET, 1L);
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
    set(handle, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.limits.maxBody));
    set(handle, CURLOPT_WRITEFUNCTION, &collect);
    set(handle, CURLOPT_WRITEDATA, static_cast<void*>(&body));
    if (request.trustedCa)
        set(handle, CURLOPT_CAINFO, request.trustedCa->c_str());
    if (connectTo)
        set(handle, CURLOPT_CONNECT_TO, connectTo.get());

    if (curl_easy_perform(handle) != CURLE_OK)
        throw HttpsError();
    HttpsResponse response;
    char* effective = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &response.status) != CURLE_OK ||
        curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) != CURLE_OK)
        throw HttpsError();
    if (effective == nullptr || request.url != effective)
        throw HttpsError();
    response.body = std::move(body.bytes);
    return response;
}

} // namespace orvek::base
