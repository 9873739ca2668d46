#include "base/InstallerFailure.h"

#include <cassert>
#include <utility>

namespace orvek::base {

InstallerFailure::InstallerFailure(std::string message, std::optional<std::string> code)
    : m_message(std::move(message)), m_code(std::move(code)) {
    assert(!m_message.empty());
}

bool InstallerFailure::hasCode(const std::exception& error, std::string_view code) noexcept {
    const auto* failure = dynamic_cast<const InstallerFailure*>(&error);
    return failure != nullptr && failure->m_code.has_value() && *failure->m_code == code;
}

} // namespace orvek::base
