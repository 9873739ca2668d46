#pragma once

#include "base/Bytes.h"

namespace orvek::config {

/// OpenCode's desktop state with the service's models shown and the free ones hidden: the exact
/// bytes of "opencode.global.dat" and of its marker.
[[nodiscard]] base::Bytes desktopDefaultsContent();

} // namespace orvek::config
