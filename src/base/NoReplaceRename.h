#pragma once

#include <filesystem>

namespace orvek::base {

/// Renames `from` to `to` in one step, never replacing what is at `to`; throws PlatformError
/// (EEXIST when something already holds the name).
void moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

/// `moveWithoutReplacing` made durable: `from` is flushed to disk before the move and the folder
/// of `to` after it, so a power cut leaves the old state or the whole new item, never an empty
/// file under the new name. Throws PlatformError.
void publishWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace orvek::base
