#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "TempHome.h"
#include "installer/InstallerCore.h"

namespace orvek::test {

/// A home with the application's resources beside it: a toolkit package (a small one written
/// by the test, or the one the application ships), a payload manifest and, on request, the
/// installed helper the video workspace points at.
class SkillsBench {
public:
    SkillsBench();

    /// Writes `bytes` at `relative` below the resources' "toolkit" folder.
    void package(const std::filesystem::path& relative, std::string_view bytes) const;
    /// Copies the toolkit package the application ships.
    void useShippedToolkit() const;
    /// Puts a helper matching the manifest where the engine expects it.
    void installHelper() const;

    [[nodiscard]] installer::InstallerCore core() const;
    [[nodiscard]] std::filesystem::path global() const { return core().globalConfig(); }
    [[nodiscard]] std::filesystem::path resources() const { return home / "resources"; }

    TempHome home;
};

} // namespace orvek::test
