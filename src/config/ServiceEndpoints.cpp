#include "config/ServiceEndpoints.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <utility>

namespace orvek::config {

namespace {

// A host name only: letters, digits, dots and hyphens, so no port, user information or path
// can hide in it.
bool plainHost(std::string_view host) {
    return !host.empty() && host.front() != '.' && host.back() != '.' &&
           std::all_of(host.begin(), host.end(), [](unsigned char c) {
               return std::isalnum(c) != 0 || c == '.' || c == '-';
           });
}

} // namespace

ServiceEndpoints::ServiceEndpoints(std::string apiBase) : m_apiBase(std::move(apiBase)) {
    constexpr std::string_view kScheme = "https://";
    if (!std::string_view(m_apiBase).starts_with(kScheme) ||
        !plainHost(std::string_view(m_apiBase).substr(kScheme.size())))
        throw std::invalid_argument("service API base must be https:// and a host: " + m_apiBase);
}

} // namespace orvek::config
