#include "setup/DefaultServices.h"

#include <unistd.h>

#include <system_error>
#include <utility>

#include "skills/RoleWorkspace.h"

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

namespace orvek::setup {

namespace fs = std::filesystem;

namespace {

std::optional<fs::path> executablePath() {
#if defined(__APPLE__)
    std::uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::string buffer(size, '\0');
    if (_NSGetExecutablePath(buffer.data(), &size) != 0)
        return std::nullopt;
    buffer.resize(buffer.find('\0') == std::string::npos ? buffer.size() : buffer.find('\0'));
    std::error_code error;
    auto resolved = fs::canonical(buffer, error);
    return error ? std::nullopt : std::optional<fs::path>(resolved);
#else
    std::error_code error;
    auto resolved = fs::read_symlink("/proc/self/exe", error);
    return error ? std::nullopt : std::optional<fs::path>(resolved);
#endif
}

} // namespace

std::optional<fs::path> bundledResources() {
    const auto executable = executablePath();
    if (!executable)
        return std::nullopt;
    const auto folder = executable->parent_path();
    std::error_code error;
    // A bundle is what ships: without the release's manifest nothing could ever be installed
    // from it, so its resources count as missing. A build tree carries no release values.
    if (folder.filename() == "MacOS" &&
        fs::is_directory(folder.parent_path() / "Resources", error)) {
        const auto resources = folder.parent_path() / "Resources";
        if (!fs::is_regular_file(resources / "payloads.json", error))
            return std::nullopt;
        return resources;
    }
    if (fs::is_directory(folder / "resources", error))
        return folder / "resources";
    return std::nullopt;
}

SetupServices defaultServices(std::shared_ptr<installer::InstallerCore> core,
                              Workspace& workspace) {
    SetupServices services;
    services.main = [core](const SetupServices::Progress& progress) {
        core->install(progress);
        core->connect(progress);
    };
    services.observeDownloads = [core](const SetupServices::DownloadSink& sink) {
        core->setDownloadObserver(sink);
    };
    services.profile = [core](const std::string& role) {
        return skills::prepareProfile(*core, role);
    };
    services.alternateProfile = [core](const std::string& role, const fs::path& parent) {
        return skills::prepareProfile(*core, role, parent);
    };
    services.open = [core, &workspace] {
        if (const auto& app = core->installedApp())
            workspace.openApplication(*app);
    };
    return services;
}

} // namespace orvek::setup
