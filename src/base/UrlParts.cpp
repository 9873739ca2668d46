#include "base/UrlParts.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <utility>

namespace orvek::base {

namespace {

struct UrlDeleter {
    void operator()(CURLU* handle) const noexcept { curl_url_cleanup(handle); }
};

struct CurlTextDeleter {
    void operator()(char* text) const noexcept { curl_free(text); }
};

using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;
using CurlText = std::unique_ptr<char, CurlTextDeleter>;

// One part as libcurl reports it, absent when the URL has none. Parts come back as written
// (no URL decoding), except the host, which libcurl always decodes.
std::optional<std::string> part(CURLU* handle, CURLUPart which) {
    char* raw = nullptr;
    const auto result = curl_url_get(handle, which, &raw, 0);
    const CurlText text(raw);
    if (result == CURLUE_OUT_OF_MEMORY)
        throw std::bad_alloc();
    if (result != CURLUE_OK || !text)
        return std::nullopt;
    return std::string(text.get());
}

} // namespace

std::optional<UrlParts> urlParts(std::string_view url) {
    // libcurl takes a C string: a NUL inside would silently cut the URL short.
    if (url.find('\0') != std::string_view::npos)
        return std::nullopt;
    const UrlHandle handle(curl_url());
    if (!handle)
        throw std::bad_alloc();
    const std::string text(url);
    const auto result =
        curl_url_set(handle.get(), CURLUPART_URL, text.c_str(), CURLU_NON_SUPPORT_SCHEME);
    if (result == CURLUE_OUT_OF_MEMORY)
        throw std::bad_alloc();
    if (result != CURLUE_OK)
        return std::nullopt;
    auto scheme = part(handle.get(), CURLUPART_SCHEME);
    auto host = part(handle.get(), CURLUPART_HOST);
    auto path = part(handle.get(), CURLUPART_PATH);
    if (!scheme || !host || host->empty())
        return std::nullopt;
    UrlParts parts;
    parts.scheme = std::move(*scheme);
    // Schemes are case-insensitive; libcurl lowers the ones it knows, this lowers the rest.
    std::transform(parts.scheme.begin(), parts.scheme.end(), parts.scheme.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    parts.host = std::move(*host);
    parts.user = part(handle.get(), CURLUPART_USER);
    parts.password = part(handle.get(), CURLUPART_PASSWORD);
    parts.port = part(handle.get(), CURLUPART_PORT);
    parts.path = path.value_or("/");
    parts.query = part(handle.get(), CURLUPART_QUERY);
    parts.fragment = part(handle.get(), CURLUPART_FRAGMENT);
    return parts;
}

} // namespace orvek::base
