#pragma once

#include <filesystem>

namespace orvek::installer {

/// Renames `from` to `to` in one step, never replacing what is at `to`; throws PlatformError
/// (EEXIST when something already holds the name).
void moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace orvek::installer
