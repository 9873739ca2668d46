#pragma once

#include <filesystem>

namespace orvek::base {

/// Whether anything stands under the name, a dangling link included; an item that cannot be
/// examined counts as absent.
[[nodiscard]] bool present(const std::filesystem::path& path) noexcept;

/// Like `present`, but any error other than "no such file" throws PlatformError, so an
/// unreadable folder never passes for an empty one.
[[nodiscard]] bool presentOrFail(const std::filesystem::path& path);

} // namespace orvek::base
