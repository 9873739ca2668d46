#pragma once

#include "base/ProcessRunner.h"

namespace orvek::base {

/// The process's own environment block, as a child inherits it.
[[nodiscard]] char** environmentBlock() noexcept;

/// The process's own environment as a map, for handing a child everything inherited plus a
/// few variables of its own. Of duplicate names the first wins, as with getenv.
[[nodiscard]] Environment currentEnvironment();

} // namespace orvek::base
