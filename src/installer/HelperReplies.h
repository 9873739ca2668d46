#pragma once

#include <string>
#include <string_view>

#include "base/InstallerFailure.h"
#include "base/JsonValue.h"

namespace orvek::installer {

// How the wizard reads the helper's replies: JSON on its output streams, trusted only as far as
// these rules go.

/// The reply object, or an empty object for anything over 256 KiB, invalid or not an object.
[[nodiscard]] base::JsonValue response(std::string_view bytes);
/// True only for a JSON boolean true under the key.
[[nodiscard]] bool boolean(const base::JsonValue& dictionary, std::string_view key);
[[nodiscard]] bool setupSucceeded(int status, std::string_view standardOutput);
[[nodiscard]] bool statusConfigured(int status, std::string_view standardOutput);
/// The first recognised code from standard error, then standard output; otherwise
/// "CONFIGURATION_FAILED".
[[nodiscard]] std::string helperErrorCode(std::string_view standardOutput,
                                          std::string_view standardError);
[[nodiscard]] base::InstallerFailure setupFailure(std::string_view standardOutput,
                                                  std::string_view standardError, int status);

} // namespace orvek::installer
