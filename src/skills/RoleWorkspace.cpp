#include "skills/RoleWorkspace.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <map>

#include "base/FilePrimitives.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "base/NoReplaceRename.h"
#include "base/PathPresence.h"
#include "base/PlatformError.h"
#include "base/TempFolder.h"
#include "base/Uuid.h"
#include "skills/GlobalSkills.h"
#include "skills/ToolkitPackage.h"

namespace orvek::skills {

namespace fs = std::filesystem;

namespace {

constexpr const char* kUnknownRoleMessage = "Неизвестное направление.";
constexpr const char* kNoInstructionsMessage = "В пакете отсутствуют инструкции направления.";
constexpr const char* kOccupiedMessage =
    "Рабочая папка занята. Выберите другую папку; существующие файлы сохранены.";
constexpr const char* kMismatchMessage =
    "Рабочая папка уже существует или пакет изменился. Её файлы сохранены.";
constexpr const char* kContentsChangedMessage = "Состав рабочей папки изменён. Её файлы сохранены.";
constexpr const char* kConflictCode = "WORKSPACE_CONFLICT";
constexpr const char* kProjectSettings = ".opencode/opencode.jsonc";
constexpr const char* kLegacyHashes = "toolkit/video-legacy-mac-hashes.json";
constexpr int kMarkerVersion = 1;

using HashMap = std::map<std::string, std::string>;

bool executable(const fs::path& path) {
    const auto extension = path.extension();
    return extension == ".sh" || extension == ".py";
}

HashMap hashesOf(const PackageMap& package) {
    HashMap hashes;
    for (const auto& [path, bytes] : package)
        hashes.emplace(path, base::hash(bytes));
    return hashes;
}

// The hashes of the video workspace an earlier release built; any trouble reading them only
// means that no earlier workspace can be recognised.
HashMap legacyHashes(const installer::InstallerCore& core) {
    try {
        const auto path = core.resources() / kLegacyHashes;
        if (auto hashes = base::stringMap(base::readObject(path)))
            return *hashes;
    } catch (const std::exception&) {
    }
    return {};
}

fs::path createWorkspace(const installer::InstallerCore& core, const std::string& role,
                         const fs::path& folder, const PackageMap& package, const HashMap& hashes,
                         const WorkspaceStepHook& hook) {
    const auto step = [&hook](const std::string& point) {
        if (hook)
            hook(point);
    };
    installGlobal(core, package, role, folder);

    const auto parent = folder.parent_path();
    base::directory(parent);
    // Built out of sight and moved into place in one step: the workspace is complete or absent.
    base::TempFolder staging(parent / (".orvek-stage-" + base::newUuid()));
    step("staging");
    for (const auto& [relative, bytes] : package) {
        const auto destination = staging / relative;
        base::directory(destination.parent_path());
        base::create(destination, bytes);
        if (executable(destination) && ::chmod(destination.c_str(), 0700) != 0)
            throw base::PlatformError(errno, "изменить права файла", destination);
        step(relative);
    }
    const base::JsonValue marker = {
        {"Hashes", hashes}, {"Profile", role}, {"Version", kMarkerVersion}};
    base::create(staging / kProfileMarkerName, base::json(marker));
    base::syncFolder(staging.path());
    step("marked");

    base::noLinks(folder);
    base::noLinks(parent);
    base::moveWithoutReplacing(staging.path(), folder);
    staging.take();
    base::syncFolder(parent);
    step("moved");
    return folder;
}

fs::path adoptWorkspace(const installer::InstallerCore& core, const std::string& role,
                        const fs::path& folder, const PackageMap& package, const HashMap& hashes) {
    const auto marker = base::readObject(folder / kProfileMarkerName);

    auto legacy = role == "video" ? legacyHashes(core) : HashMap();
    // Only a real record of the earlier workspace may match; the generated settings are
    // compared in their current form, as they would be written today.
    if (!legacy.empty() && package.contains(kProjectSettings))
        legacy[kProjectSettings] = base::hash(package.at(kProjectSettings));

    const auto hashesMember = marker.find("Hashes");
    const auto stored =
        hashesMember == marker.end() ? std::nullopt : base::stringMap(*hashesMember);
    const bool legacyMatch = role == "video" && !legacy.empty() && stored && *stored == legacy;

    const auto version = marker.find("Version");
    const auto profile = marker.find("Profile");
    const bool ours = version != marker.end() && version->is_number_integer() &&
                      *version == kMarkerVersion && profile != marker.end() &&
                      profile->is_string() && *profile == role &&
                      ((stored && *stored == hashes) || legacyMatch);
    if (!ours)
        throw base::InstallerFailure(kMismatchMessage, kConflictCode);

    // Edited files are the user's business; missing ones mean the folder is no longer ours.
    for (const auto& [relative, hash] : *stored) {
        const auto path = folder / relative;
        base::noLinks(path);
        struct stat attributes {};
        if (::lstat(path.c_str(), &attributes) != 0 || !S_ISREG(attributes.st_mode))
            throw base::InstallerFailure(kContentsChangedMessage, kConflictCode);
    }
    installGlobal(core, package, role, folder);
    return folder;
}

fs::path workspaceFolder(const installer::InstallerCore& core, const std::string& role,
                         const std::optional<fs::path>& alternateParent) {
    if (alternateParent)
        return *alternateParent / ("Orvek-" + role + "-" + base::newUuid());
    return defaultWorkspaceFolder(core, role);
}

} // namespace

fs::path defaultWorkspaceFolder(const installer::InstallerCore& core, const std::string& role) {
    if (role == "video")
        return core.home() / "Movies" / "Orvek Studio";
    return core.home() / "Documents" / "Orvek Workspaces" / role;
}

fs::path prepareProfileForTesting(const installer::InstallerCore& core, const std::string& role,
                                  const std::optional<fs::path>& alternateParent,
                                  const WorkspaceStepHook& hook) {
    const auto& roles = installer::InstallerCore::profileIDs;
    if (std::find(std::begin(roles), std::end(roles), role) == std::end(roles))
        throw base::InstallerFailure(kUnknownRoleMessage);
    const auto folder = workspaceFolder(core, role, alternateParent);

    auto package = bundledFiles(core, {"toolkit/common", "toolkit/profiles/" + role});
    if (package.empty() || !package.contains("AGENTS.md"))
        throw base::InstallerFailure(kNoInstructionsMessage);
    if (role == "video") {
        core.verifyHelper();
        const base::JsonValue settings = {{"mcp", {{"orvek", core.mcpConfiguration()}}}};
        package[kProjectSettings] = base::json(settings);
    }
    base::noLinks(folder);
    const auto hashes = hashesOf(package);

    if (!base::presentOrFail(folder))
        return createWorkspace(core, role, folder, package, hashes, hook);
    // A file under the workspace's name occupies it just as a folder of the user's does.
    struct stat attributes {};
    if (::lstat(folder.c_str(), &attributes) != 0)
        throw base::PlatformError(errno, "прочитать папку", folder);
    if (!S_ISDIR(attributes.st_mode) || !base::presentOrFail(folder / kProfileMarkerName))
        throw base::InstallerFailure(kOccupiedMessage, kConflictCode);
    return adoptWorkspace(core, role, folder, package, hashes);
}

fs::path prepareProfile(const installer::InstallerCore& core, const std::string& role,
                        const std::optional<fs::path>& alternateParent) {
    return prepareProfileForTesting(core, role, alternateParent, {});
}

} // namespace orvek::skills
