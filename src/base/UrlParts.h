#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvek::base {

/// An absolute URL taken apart as libcurl reads it, so that a check of an address sees what a
/// request to it would use. Parts the URL does not have are absent; an empty user name or
/// password ("https://@host/") is present and empty.
struct UrlParts {
    /// In lower case, whatever case the URL was written in.
    std::string scheme;
    /// As libcurl reads it: percent-escapes decoded, letter case kept, brackets around IPv6.
    std::string host;
    std::optional<std::string> user;
    std::optional<std::string> password;
    /// The digits of a port written in the URL, even the scheme's default; an empty port (a
    /// lone colon) counts as none, as RFC 3986 says.
    std::optional<std::string> port;
    /// "/" when the URL has none.
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    friend bool operator==(const UrlParts&, const UrlParts&) = default;
};

/// The parts of `url`, or absent when libcurl does not read it as an absolute URL with a host
/// (a relative reference, spaces or control characters, a bad port, a NUL byte). Any scheme is
/// read. Throws std::bad_alloc only.
[[nodiscard]] std::optional<UrlParts> urlParts(std::string_view url);

} // namespace orvek::base
