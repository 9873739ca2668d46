#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/TempFolder.h"

namespace orvek::test {

/// A fresh folder under the system's temporary folder, removed with everything in it when the
/// fixture goes away. Its path has no symbolic links, so the engine's link checks accept it.
class TempHome {
public:
    TempHome();

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_folder.path(); }
    [[nodiscard]] std::filesystem::path operator/(const std::filesystem::path& relative) const {
        return m_folder / relative;
    }

    /// Writes a file (and its parent folders), replacing any earlier content.
    void write(const std::filesystem::path& relative, std::string_view bytes,
               std::filesystem::perms mode = std::filesystem::perms::owner_read |
                                             std::filesystem::perms::owner_write) const;
    /// Writes an executable shell script; `body` follows the "#!/bin/sh" line.
    [[nodiscard]] std::filesystem::path script(const std::filesystem::path& relative,
                                               std::string_view body) const;

private:
    base::TempFolder m_folder;
};

/// The whole content of a file, or throws.
[[nodiscard]] std::string slurp(const std::filesystem::path& path);

} // namespace orvek::test
