#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace orvek::test {

/// Shell lines for a stand-in script that append its argument list to `log` as one line,
/// each argument followed by the unit separator, so arguments with spaces stay whole.
[[nodiscard]] std::string callLogLines(const std::filesystem::path& log);

/// The calls noted by `callLogLines`, each as its argument list; none when `log` is missing.
[[nodiscard]] std::vector<std::vector<std::string>> readCallLog(const std::filesystem::path& log);

} // namespace orvek::test
