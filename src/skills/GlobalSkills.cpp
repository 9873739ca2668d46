#include "skills/GlobalSkills.h"

#include <map>

#include "base/FilePrimitives.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "base/PathPresence.h"
#include "base/Pieces.h"
#include "base/Uuid.h"
#include "config/PreservedConfig.h"
#include "skills/AwarenessSection.h"
#include "skills/RoleWorkspace.h"

namespace orvek::skills {

namespace fs = std::filesystem;

namespace {

constexpr const char* kStateDamagedMessage =
    "Каталог глобальных навыков повреждён. Файлы сохранены.";
constexpr const char* kCatalogueDamagedMessage = "Повреждён каталог глобальных навыков.";
constexpr const char* kExistsMessage =
    "Глобальный навык изменён или уже существует. Пользовательские файлы сохранены.";
constexpr const char* kOwnedChangedMessage =
    "Ранее установленный глобальный навык изменён. Файлы сохранены.";
constexpr const char* kVideoEditSkill = "skills/orvek-video-edit/SKILL.md";

// What the state file says, with the bytes it had, for the transaction's undo record.
struct AwarenessState {
    std::optional<base::Bytes> bytes;
    SkillCatalogue hashes;
    ProfileFolders profiles;
    std::optional<std::string> section;
};

std::optional<std::map<std::string, std::string>> textObject(const base::JsonValue& state,
                                                             const char* key) {
    const auto member = state.find(key);
    return member == state.end() ? std::nullopt : base::stringMap(*member);
}

AwarenessState loadState(const fs::path& path) {
    AwarenessState state;
    if (!base::presentOrFail(path))
        return state;
    state.bytes = base::read(path);
    const auto value = base::decodeObject(*state.bytes, path);
    auto hashes = textObject(value, "hashes");
    auto profiles = textObject(value, "profiles");
    const auto section = value.find("section");
    if (!hashes || !profiles || section == value.end() || !section->is_string())
        throw base::InstallerFailure(kStateDamagedMessage);
    state.hashes = std::move(*hashes);
    state.profiles = std::move(*profiles);
    state.section = section->get<std::string>();
    return state;
}

// Catalogue names come from a file on disk; they must stay inside the global skills folder.
bool validCatalogueName(const std::string& name) {
    if (!name.starts_with("skills/") || name.find('\\') != std::string::npos)
        return false;
    for (const auto piece : base::Pieces(name, '/'))
        if (piece == "..")
            return false;
    return true;
}

} // namespace

void installGlobalForTesting(const installer::InstallerCore& core, const PackageMap& package,
                             const std::optional<std::string>& role,
                             const std::optional<fs::path>& target,
                             std::string_view earlierVideoEditHash,
                             const AwarenessTransaction::StepHook& hook) {
    const auto global = core.globalConfig();
    const auto statePath = global / AwarenessTransaction::kStateName;
    const auto agentsPath = global / AwarenessTransaction::kAgentsName;
    base::noLinks(global);
    base::noLinks(statePath);
    base::noLinks(agentsPath);
    AwarenessTransaction::recovery(global);

    // ---- Planning: nothing is written until every check has passed.
    auto state = loadState(statePath);
    for (const auto& [name, hash] : state.hashes)
        if (!validCatalogueName(name))
            throw base::InstallerFailure(kCatalogueDamagedMessage);
    if (role)
        state.profiles[*role] = (target ? *target : defaultWorkspaceFolder(core, *role)).string();

    std::map<std::string, const base::Bytes*> creations;
    std::map<std::string, base::Bytes> replacements;
    const std::string_view prefix = kSkillsPrefix;
    for (const auto& [path, bytes] : package) {
        if (!path.starts_with(prefix))
            continue;
        const auto name = path.substr(std::string_view(".opencode/").size());
        const auto destination = global / name;
        base::noLinks(destination);
        const auto packageHash = base::hash(bytes);
        if (!base::presentOrFail(destination)) {
            creations.emplace(name, &bytes);
        } else if (auto existing = base::read(destination); existing != bytes) {
            const auto existingHash = base::hash(existing);
            const auto recorded = state.hashes.find(name);
            const bool upgradable = name == kVideoEditSkill && recorded != state.hashes.end() &&
                                    recorded->second == existingHash &&
                                    existingHash == earlierVideoEditHash;
            if (!upgradable)
                throw base::InstallerFailure(kExistsMessage);
            replacements.emplace(name, std::move(existing));
        }
        state.hashes[name] = packageHash;
    }

    for (const auto& [name, hash] : state.hashes) {
        if (creations.contains(name) || replacements.contains(name))
            continue;
        const auto owned = global / name;
        base::noLinks(owned);
        if (base::hash(base::readWhole(owned)) != hash)
            throw base::InstallerFailure(kOwnedChangedMessage);
    }

    const auto oldAgents = base::readIfPresent(agentsPath);
    const auto placed = placeSection(oldAgents, state.section,
                                     awarenessSection(global, state.hashes, state.profiles));
    const auto newState = awarenessState(state.hashes, state.profiles, placed.section);

    // ---- Writing.
    base::directory(global);
    for (const auto& [name, bytes] : creations) {
        const auto destination = global / name;
        base::directory(destination.parent_path());
        base::create(destination, *bytes);
    }
    for (const auto& [name, existing] : replacements) {
        const auto destination = global / name;
        // The earlier version stays beside the new one, so nothing of it is lost.
        auto backup = destination;
        backup += ".backup-" + base::newUuid();
        base::create(backup, existing);
        config::PreservedConfig::write(destination, existing, package.at(".opencode/" + name));
    }
    AwarenessTransaction::writeForTesting(global, {oldAgents, state.bytes, placed.agents, newState},
                                          hook);
}

void installGlobal(const installer::InstallerCore& core, const PackageMap& package,
                   const std::optional<std::string>& role, const std::optional<fs::path>& target) {
    installGlobalForTesting(core, package, role, target, kEarlierVideoEditHash, {});
}

} // namespace orvek::skills
