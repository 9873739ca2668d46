#include "installer/InstallerCore.h"

#include <cstdlib>
#include <utility>

namespace orvek::installer {

namespace {

// Dot components resolved lexically, links left alone, no trailing separator.
std::filesystem::path standardized(const std::filesystem::path& path) {
    auto normal = path.lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path())
        normal = normal.parent_path();
    return normal;
}

} // namespace

InstallerCore::InstallerCore(const std::filesystem::path& resources,
                             const std::optional<std::filesystem::path>& home,
                             const std::optional<std::filesystem::path>& configHome,
                             Deployment deployment,
                             std::shared_ptr<const base::FileManager> fileManager)
    : m_fm(fileManager ? std::move(fileManager) : base::FileManager::defaultManager()),
      m_deployment(std::move(deployment)) {
    const auto homeArgument = home ? *home : m_fm->homeDirectoryForCurrentUser();
    m_resources = standardized(resources);
    m_home = standardized(homeArgument);
    if (configHome) {
        m_configHome = *configHome;
    } else if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        m_configHome = xdg;
    } else {
        // Built from the argument as passed; a relative XDG_CONFIG_HOME is refused before
        // anything is installed, not here.
        m_configHome = homeArgument / ".config";
    }
}

std::filesystem::path InstallerCore::globalConfig() const {
    return m_configHome / "opencode";
}

std::filesystem::path InstallerCore::root() const {
    return m_home / "Library/Application Support/Orvek/OpenCodeSetup/0.1.0";
}

std::filesystem::path InstallerCore::helper() const {
    return root() / "helper/orvek";
}

std::filesystem::path InstallerCore::desktopData() const {
    return m_home / "Library/Application Support/ai.opencode.desktop";
}

} // namespace orvek::installer
