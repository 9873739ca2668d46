#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>

namespace orvek::sandbox {

enum class PlistFormat { xml, binary };

/// The Info.plist entries of the accepted OpenCode build.
[[nodiscard]] std::map<std::string, std::string> openCodeInfo();

/// A property list holding one dictionary of strings, in the format asked for.
[[nodiscard]] std::string infoPlist(const std::map<std::string, std::string>& entries,
                                    PlistFormat format);

/// A small OpenCode.app at `app` (a new folder) with these Info.plist bytes, an executable and a
/// resource file; unsigned.
void writeApp(const std::filesystem::path& app, std::string_view infoPlistBytes);

/// Signs the bundle for `team` with the sandbox's sign-app found in `standIns`.
void signApp(const std::filesystem::path& standIns, const std::filesystem::path& app,
             const std::string& team);

/// Packs `app`, which must be named OpenCode.app, into a disk image as the sandbox's hdiutil
/// reads it. Throws when tar fails.
void packImage(const std::filesystem::path& app, const std::filesystem::path& image);

} // namespace orvek::sandbox
