#pragma once

#include <optional>
#include <string_view>

#include "base/Bytes.h"

namespace orvek::base {

/// Standard Base64 with padding and without line breaks.
[[nodiscard]] std::string base64Encode(std::string_view bytes);
/// Decodes standard padded Base64 strictly: no line breaks, no spaces, no stray characters, and
/// the unused bits of the last group zero. Absent for anything else.
[[nodiscard]] std::optional<Bytes> base64Decode(std::string_view text);

} // namespace orvek::base
