#pragma once

#include <string>

namespace orvek::base {

/// A random version-4 UUID in the upper-case 8-4-4-4-12 form; throws PlatformError (EAGAIN)
/// when the system has no random bytes to give.
[[nodiscard]] std::string newUuid();

} // namespace orvek::base
