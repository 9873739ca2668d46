#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Campaign.h"
#include "LinkWorld.h"
#include "McpScenarios.h"
#include "Outcome.h"
#include "base/FilePrimitives.h"
#include "base/Json.h"
#include "config/ModelPreset.h"
#include "config/PreservedConfig.h"
#include "installer/ExistingConnection.h"
#include "installer/InstallerCore.h"
#include "mcp/LocalMcp.h"
#include "promo/PromoOfferLoader.h"
#include "skills/GlobalSkills.h"
#include "skills/RoleWorkspace.h"

namespace orvek::test {
namespace {

namespace fs = std::filesystem;
using base::JsonValue;
using installer::InstallerCore;

constexpr const char* kLink =
    "Путь содержит символическую ссылку. Выберите обычную локальную папку.";
constexpr const char* kUnsupported =
    "code CONFIGURATION_UNSUPPORTED: Настройки не поддерживаются. Исходные файлы сохранены.";
constexpr const char* kNoOffer = "no offer";
constexpr const char* kNotFresh = "desktop data not fresh";

constexpr const char* kJsonc = ".config/opencode/opencode.jsonc";
constexpr const char* kOverlay = ".config/opencode/opencode.json";
constexpr const char* kMarker = ".config/opencode/opencode.json.orvek-preset-owned";
constexpr const char* kKey = ".config/opencode/orvek-api-key";
constexpr const char* kAgents = ".config/opencode/AGENTS.md";
constexpr const char* kState = ".config/opencode/.orvek-awareness.json";
constexpr const char* kPending = ".config/opencode/.orvek-awareness-pending.json";
constexpr const char* kSkill = ".config/opencode/skills/orvek-demo/SKILL.md";
constexpr const char* kDesktopState =
    "Library/Application Support/ai.opencode.desktop/opencode.global.dat";
constexpr const char* kDesktopMarker =
    "Library/Application Support/ai.opencode.desktop/orvek-model-preset-v1.prepared";
constexpr const char* kHelper =
    "Library/Application Support/Orvek/OpenCodeSetup/0.1.0/helper/orvek";
constexpr const char* kCachedArchive =
    "Library/Application Support/Orvek/OpenCodeSetup/0.1.0/downloads/orvek-0.1.10-arm64.tar.gz";
constexpr const char* kCachedImage =
    "Library/Application Support/Orvek/OpenCodeSetup/0.1.0/downloads/OpenCode-2.1.4-arm64.dmg";
constexpr const char* kWorkspace = "Documents/Orvek Workspaces/developer";

// The helper's connection as it saves it, for the service of the test deployment.
constexpr const char* kConnection = R"({
  "model": "orvek/gpt-5.6-sol",
  "provider": {
    "orvek": {
      "npm": "@ai-sdk/openai-compatible",
      "options": {"baseURL": "https://api.orvek.test/v1", "apiKey": "{file:orvek-api-key}"},
      "models": {"claude-opus-5": {}}
    }
  }
}
)";

using Prepare = std::function<void(LinkWorld&)>;
using Step = std::function<std::string(LinkWorld&)>;
/// A step with a point where a test changes the disk under it.
using HookedStep = std::function<std::string(LinkWorld&, const std::function<void()>& swap)>;

// ---- The steps of the wizard, each run as its caller runs it ----

std::string applyPreset(LinkWorld& world) {
    return outcomeOf([&] { world.core().applyPreset(world.core().globalConfig()); });
}

std::string prepareDesktop(LinkWorld& world) {
    bool fresh = false;
    const auto outcome = outcomeOf(
        [&] { fresh = InstallerCore::tryPrepareFreshDesktopDefaults(world.core().desktopData()); });
    return outcome == kPassed && !fresh ? kNotFresh : outcome;
}

JsonValue serviceAnswer(const std::string& path) {
    if (path == "key")
        return {{"key", {{"name", "test"}}}};
    JsonValue data = JsonValue::array();
    for (const auto& id : InstallerCore::orvekModels)
        data.push_back({{"id", id}});
    return {{"data", data}};
}

std::string reuseWith(LinkWorld& world, const std::function<void(const std::string&)>& asked) {
    return outcomeOf([&] {
        installer::ExistingConnection::reuse(world.core(),
                                             [&](const std::string& path, const std::string&) {
                                                 asked(path);
                                                 return serviceAnswer(path);
                                             });
    });
}

std::string reuse(LinkWorld& world) {
    return reuseWith(world, [](const std::string&) {});
}

std::string installHelper(LinkWorld& world) {
    return outcomeOf([&] { world.core().installHelper(); });
}

std::string install(LinkWorld& world) {
    return outcomeOf([&] {
        auto core = world.core();
        core.install({});
    });
}

Step prepareProfile(std::string role, std::optional<std::string> parent = std::nullopt) {
    return [role, parent](LinkWorld& world) {
        return outcomeOf([&] {
            const auto chosen =
                parent ? std::optional<fs::path>(world.home() / *parent) : std::nullopt;
            (void)skills::prepareProfile(world.core(), role, chosen);
        });
    };
}

Step installGlobal(std::string role) {
    return [role](LinkWorld& world) {
        return outcomeOf([&] {
            skills::installGlobal(world.core(), LinkWorld::package(), role,
                                  world.home() / ("ws-" + role));
        });
    };
}

std::string repairWith(LinkWorld& world, const std::function<void()>& duringCheck) {
    return outcomeOf([&] {
        mcp::McpCancellation cancellation;
        (void)mcp::LocalMcp::repair(world.core(), cancellation,
                                    [&](const InstallerCore&, mcp::McpCancellation&) {
                                        duringCheck();
                                        return 3;
                                    });
    });
}

std::string repair(LinkWorld& world) {
    return repairWith(world, [] {});
}

std::string loadPromo(LinkWorld& world) {
    const auto offer = promo::loadPromoOffer(
        world.resources(), world.core().deployment(), promo::test::kNow,
        [](std::chrono::system_clock::time_point) { return std::string("15 июл. 2030 г."); });
    return offer ? kPassed : kNoOffer;
}

// ---- The states the steps meet ----

void nothing(LinkWorld&) {}

void helperConfiguration(LinkWorld& world) {
    world.write(fs::path("home") / kJsonc, R"({"provider": {"orvek": {}}})");
}

void presetApplied(LinkWorld& world) {
    helperConfiguration(world);
    ASSERT_EQ(applyPreset(world), kPassed);
}

void desktopSeeded(LinkWorld& world) {
    ASSERT_EQ(prepareDesktop(world), kPassed);
}

void savedConnection(LinkWorld& world) {
    world.write(fs::path("home") / kJsonc, kConnection);
    world.write(fs::path("home") / kKey, "sk-orvek-0123456789abcdef\n");
}

void helperOffered(LinkWorld& world) {
    world.offerHelperArchive();
}

void archiveCached(LinkWorld& world) {
    world.offerHelperArchive();
    ASSERT_EQ(installHelper(world), kPassed);
    fs::remove(world.core().helper());
}

void imageOffered(LinkWorld& world) {
    world.offerImage();
}

void foundInHome(LinkWorld& world) {
    world.offerImage();
    world.installOpenCode(world.home() / "Applications");
}

void foundOnTheMac(LinkWorld& world) {
    world.offerImage();
    world.installOpenCode(world.systemApplications());
}

void chosenFolder(LinkWorld& world) {
    fs::create_directories(world.home() / "Chosen");
}

void workspaceMade(LinkWorld& world) {
    ASSERT_EQ(prepareProfile("developer")(world), kPassed);
}

void skillsInstalled(LinkWorld& world) {
    ASSERT_EQ(installGlobal("developer")(world), kPassed);
}

void transactionInterrupted(LinkWorld& world) {
    // A run that stopped right after its undo record was written.
    struct Stop {};
    try {
        skills::installGlobalForTesting(
            world.core(), LinkWorld::package(), "developer", world.home() / "ws-developer",
            skills::kEarlierVideoEditHash, [](const std::string& point) {
                if (point == "recorded")
                    throw Stop{};
            });
    } catch (const Stop&) {
    }
    ASSERT_TRUE(fs::exists(world.home() / kPending));
}

void remoteMcpEntry(LinkWorld& world) {
    // The remote OAuth entry of the test deployment's service, the one the repair replaces.
    const JsonValue configuration = {
        {"mcp", {{"orvek", sandbox::remoteMcpEntry(world.core().deployment().apiBase)}}}};
    world.write(fs::path("home") / kJsonc, configuration.dump(2) + "\n");
}

void remoteMcpEntryWithPreset(LinkWorld& world) {
    remoteMcpEntry(world);
    const auto preset =
        config::presetBytes(base::readObject(world.resources() / "free-provider.json"));
    world.write(fs::path("home") / kOverlay, preset);
    world.write(fs::path("home") / kMarker, preset);
}

// ---- Every path the wizard reads or writes ----

struct Site {
    const char* name;
    Anchor anchor;
    const char* path; // below the anchor
    Prepare prepare;
    Step step;
    /// What the user is told when a link stands in the path.
    const char* refusal = kLink;
    /// Components (0 the anchor) the wizard only tests for existence, following links: where
    /// the link leads nowhere usable, it finds nothing there and goes on without it.
    int existenceOnly = -1;
};

void PrintTo(const Site& site, std::ostream* out) {
    *out << site.name;
}

std::string nameOf(const ::testing::TestParamInfo<Site>& info) {
    return info.param.name;
}

const std::vector<Site>& sites() {
    static const std::vector<Site> table = {
        // The model preset beside the helper's settings, its marker, and the resources it reads.
        {"PresetReadsHelperSettings", Anchor::home, kJsonc, helperConfiguration, applyPreset},
        {"PresetWritesOverlay", Anchor::home, kOverlay, helperConfiguration, applyPreset},
        {"PresetWritesMarker", Anchor::home, kMarker, helperConfiguration, applyPreset},
        {"PresetReadsFreeProvider", Anchor::resources, "free-provider.json", helperConfiguration,
         applyPreset},
        {"PresetReadsManifest", Anchor::resources, "payloads.json", helperConfiguration,
         applyPreset},
        {"PresetRecheckOverlay", Anchor::home, kOverlay, presetApplied, applyPreset},
        {"PresetRecheckMarker", Anchor::home, kMarker, presetApplied, applyPreset},
        // Desktop defaults under the home, first seeded and then found seeded.
        {"DesktopWritesState", Anchor::home, kDesktopState, nothing, prepareDesktop},
        {"DesktopWritesMarker", Anchor::home, kDesktopMarker, nothing, prepareDesktop},
        {"DesktopReadsState", Anchor::home, kDesktopState, desktopSeeded, prepareDesktop},
        {"DesktopReadsMarker", Anchor::home, kDesktopMarker, desktopSeeded, prepareDesktop},
        // The saved connection: settings patched in place, the key file read.
        {"ReusePatchesSettings", Anchor::home, kJsonc, savedConnection, reuse},
        {"ReuseReadsKey", Anchor::home, kKey, savedConnection, reuse},
        // The helper and the download cache.
        {"HelperVerified", Anchor::home, kHelper, nothing, installHelper},
        {"HelperInstalled", Anchor::home, kHelper, helperOffered, installHelper},
        {"ArchiveDownloaded", Anchor::home, kCachedArchive, helperOffered, installHelper},
        {"ArchiveFromCache", Anchor::home, kCachedArchive, archiveCached, installHelper},
        // OpenCode: found in either Applications folder, or installed into the user's.
        {"OpenCodeFoundInHome", Anchor::home, "Applications/OpenCode.app/Contents/Info.plist",
         foundInHome, install},
        {"OpenCodeFoundOnTheMac", Anchor::systemApplications, "OpenCode.app/Contents/Info.plist",
         foundOnTheMac, install, kLink, 1},
        {"OpenCodeInstalled", Anchor::home, "Applications/OpenCode.app", imageOffered, install},
        {"ImageDownloaded", Anchor::home, kCachedImage, imageOffered, install},
        // Role workspaces: made in the default places or a chosen folder, then adopted.
        {"WorkspaceMade", Anchor::home, kWorkspace, nothing, prepareProfile("developer")},
        {"VideoWorkspaceMade", Anchor::home, "Movies/Orvek Studio", nothing,
         prepareProfile("video")},
        {"WorkspaceInChosenFolder", Anchor::home, "Chosen", chosenFolder,
         prepareProfile("developer", "Chosen")},
        {"WorkspaceMarkerAdopted", Anchor::home,
         "Documents/Orvek Workspaces/developer/.orvek-profile.json", workspaceMade,
         prepareProfile("developer")},
        {"WorkspaceFileAdopted", Anchor::home, "Documents/Orvek Workspaces/developer/notes.md",
         workspaceMade, prepareProfile("developer")},
        {"ToolkitRead", Anchor::resources, "toolkit/profiles/developer/notes.md", nothing,
         prepareProfile("developer")},
        // Global skills, the global instructions and the awareness state with its undo record.
        {"SkillCreated", Anchor::home, kSkill, nothing, installGlobal("developer")},
        {"AgentsCreated", Anchor::home, kAgents, nothing, installGlobal("developer")},
        {"StateCreated", Anchor::home, kState, nothing, installGlobal("developer")},
        {"UndoRecordCreated", Anchor::home, kPending, nothing, installGlobal("developer")},
        {"SkillVerified", Anchor::home, kSkill, skillsInstalled, installGlobal("analyst")},
        {"AgentsReplaced", Anchor::home, kAgents, skillsInstalled, installGlobal("analyst")},
        {"StateReplaced", Anchor::home, kState, skillsInstalled, installGlobal("analyst")},
        {"UndoRecordRecovered", Anchor::home, kPending, transactionInterrupted,
         installGlobal("developer")},
        // The MCP entry repaired in the helper's settings, next to the wizard's overlay.
        {"McpRepairsSettings", Anchor::home, kJsonc, remoteMcpEntry, repair},
        {"McpInspectsOverlay", Anchor::home, kOverlay, remoteMcpEntryWithPreset, repair},
        {"McpInspectsMarker", Anchor::home, kMarker, remoteMcpEntryWithPreset, repair},
        // The promo record shipped in the resources: a doubtful one is simply no offer.
        {"PromoRecord", Anchor::resources, "promo.json", nothing, loadPromo, kNoOffer},
    };
    return table;
}

/// The anchor and each component below it, down to the file itself.
std::vector<fs::path> components(const LinkWorld& world, Anchor anchor, const fs::path& path) {
    std::vector<fs::path> chain = {world.anchor(anchor)};
    for (const auto& part : path)
        chain.push_back(chain.back() / part);
    return chain;
}

std::size_t chainLength(const fs::path& path) {
    return 1 + static_cast<std::size_t>(std::distance(path.begin(), path.end()));
}

constexpr LinkKind kKinds[] = {LinkKind::file, LinkKind::folder, LinkKind::dangling};

class LinkedPath : public ::testing::TestWithParam<Site> {};

TEST_P(LinkedPath, WithoutLinksTheStepSucceeds) {
    const auto& site = GetParam();
    LinkWorld world;
    site.prepare(world);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(site.step(world), kPassed);
}

TEST_P(LinkedPath, EveryComponentAsALinkIsRefusedAndNothingIsWrittenThroughIt) {
    const auto& site = GetParam();
    const auto count = chainLength(site.path);
    for (std::size_t index = 0; index < count; ++index) {
        for (const auto kind : kKinds) {
            LinkWorld world;
            site.prepare(world);
            ASSERT_FALSE(HasFatalFailure());
            const auto component = components(world, site.anchor, site.path)[index];
            SCOPED_TRACE(std::string(site.name) + ": " + kindName(kind) + " at " +
                         component.lexically_relative(world.home().parent_path()).string());
            const auto target = world.plant(component, kind);
            const auto before = linkSide(component, target);

            const auto outcome = site.step(world);

            // A dangling link, or a file where a folder should be, leads to nothing at all.
            const int depth = static_cast<int>(index);
            const bool foundNothing = depth <= site.existenceOnly &&
                                      (kind == LinkKind::dangling ||
                                       (kind == LinkKind::file && depth < site.existenceOnly));
            EXPECT_EQ(outcome, foundNothing ? kPassed : site.refusal);
            const auto after = linkSide(component, target);
            EXPECT_EQ(changedEntries(before.target, after.target), std::vector<std::string>{});
            EXPECT_EQ(after.link, before.link);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Links, LinkedPath, ::testing::ValuesIn(sites()), nameOf);

// ---- Links swapped in between a check and the use, where a test hook reaches ----

struct Swap {
    const char* name;
    Anchor anchor;
    const char* path;
    Prepare prepare;
    HookedStep step;
    /// The hook sits after the last check, right before the one rename onto the file's name:
    /// a link put at the name itself then is replaced, never followed.
    bool renamesOntoTheName = false;
};

void PrintTo(const Swap& swap, std::ostream* out) {
    *out << swap.name;
}

std::string nameOfSwap(const ::testing::TestParamInfo<Swap>& info) {
    return info.param.name;
}

HookedStep presetAt(InstallerCore::PresetStep point) {
    return [point](LinkWorld& world, const std::function<void()>& swap) {
        return outcomeOf([&] {
            world.core().applyPresetForTesting(world.core().globalConfig(),
                                               [&](InstallerCore::PresetStep step) {
                                                   if (step == point)
                                                       swap();
                                               });
        });
    };
}

std::string desktopBetweenStateAndMarker(LinkWorld& world, const std::function<void()>& swap) {
    return outcomeOf(
        [&] { InstallerCore::prepareDesktopDefaultsForTesting(world.core().desktopData(), swap); });
}

std::string reuseDuringModels(LinkWorld& world, const std::function<void()>& swap) {
    return reuseWith(world, [&](const std::string& path) {
        if (path == "models")
            swap();
    });
}

std::string repairDuringCheck(LinkWorld& world, const std::function<void()>& swap) {
    return repairWith(world, swap);
}

constexpr const char* kUserBytes = "{\"theme\": \"dark\"}\n";

void userSettings(LinkWorld& world) {
    world.write(fs::path("home") / kJsonc, kUserBytes);
}

HookedStep guardedWriteAt(config::PreservedConfig::Step point) {
    return [point](LinkWorld& world, const std::function<void()>& swap) {
        return outcomeOf([&] {
            config::PreservedConfig::writeForTesting(world.home() / kJsonc, kUserBytes,
                                                     "{\"theme\": \"light\"}\n",
                                                     [&](config::PreservedConfig::Step step) {
                                                         if (step == point)
                                                             swap();
                                                     });
        });
    };
}

std::string workspaceBeforeMove(LinkWorld& world, const std::function<void()>& swap) {
    return outcomeOf([&] {
        (void)skills::prepareProfileForTesting(world.core(), "developer", std::nullopt,
                                               [&](const std::string& point) {
                                                   if (point == "marked")
                                                       swap();
                                               });
    });
}

HookedStep skillsAt(std::string point) {
    return [point](LinkWorld& world, const std::function<void()>& swap) {
        return outcomeOf([&] {
            skills::installGlobalForTesting(
                world.core(), LinkWorld::package(), "developer", world.home() / "ws-developer",
                skills::kEarlierVideoEditHash, [&](const std::string& step) {
                    if (step == point)
                        swap();
                });
        });
    };
}

// The download observer hears the end of curl's transfer before the file is checked and moved.
std::string helperAfterDownload(LinkWorld& world, const std::function<void()>& swap) {
    return outcomeOf([&] {
        auto core = world.core();
        core.setDownloadObserver([&](const std::optional<installer::DownloadProgress>& progress) {
            if (!progress)
                swap();
        });
        core.installHelper();
    });
}

std::string installAfterDownload(LinkWorld& world, const std::function<void()>& swap) {
    return outcomeOf([&] {
        auto core = world.core();
        core.setDownloadObserver([&](const std::optional<installer::DownloadProgress>& progress) {
            if (!progress)
                swap();
        });
        core.install({});
    });
}

const std::vector<Swap>& swaps() {
    using config::PreservedConfig::Step;
    static const std::vector<Swap> table = {
        {"PresetSettingsAfterMarker", Anchor::home, kJsonc, helperConfiguration,
         presetAt(InstallerCore::PresetStep::marked)},
        {"PresetOverlayBeforeMove", Anchor::home, kOverlay, helperConfiguration,
         presetAt(InstallerCore::PresetStep::staged)},
        {"DesktopMarkerAfterState", Anchor::home, kDesktopMarker, nothing,
         desktopBetweenStateAndMarker},
        {"ReuseSettingsDuringRequest", Anchor::home, kJsonc, savedConnection, reuseDuringModels},
        {"ReuseKeyDuringRequest", Anchor::home, kKey, savedConnection, reuseDuringModels},
        {"McpSettingsDuringCheck", Anchor::home, kJsonc, remoteMcpEntry, repairDuringCheck},
        {"GuardedWriteChecked", Anchor::home, kJsonc, userSettings, guardedWriteAt(Step::checked)},
        {"GuardedWriteStaged", Anchor::home, kJsonc, userSettings, guardedWriteAt(Step::staged)},
        {"GuardedWriteWritten", Anchor::home, kJsonc, userSettings, guardedWriteAt(Step::written)},
        {"GuardedWriteRechecked", Anchor::home, kJsonc, userSettings,
         guardedWriteAt(Step::rechecked)},
        {"GuardedWriteBackedUp", Anchor::home, kJsonc, userSettings,
         guardedWriteAt(Step::backedUp)},
        {"GuardedWriteVerified", Anchor::home, kJsonc, userSettings, guardedWriteAt(Step::verified),
         true},
        {"ArchiveAfterDownload", Anchor::home, kCachedArchive, helperOffered, helperAfterDownload},
        {"HelperAfterArchiveDownload", Anchor::home, kHelper, helperOffered, helperAfterDownload},
        {"ImageAfterDownload", Anchor::home, kCachedImage, imageOffered, installAfterDownload},
        {"InstalledAppAfterDownload", Anchor::home, "Applications/OpenCode.app", imageOffered,
         installAfterDownload},
        {"WorkspaceBeforeMove", Anchor::home, kWorkspace, nothing, workspaceBeforeMove},
        {"AgentsAfterUndoRecord", Anchor::home, kAgents, nothing, skillsAt("recorded")},
        {"StateAfterAgents", Anchor::home, kState, nothing, skillsAt("AGENTS.md committed")},
    };
    return table;
}

class SwappedPath : public ::testing::TestWithParam<Swap> {};

TEST_P(SwappedPath, EveryComponentSwappedForALinkIsRefusedAndNothingIsWrittenThroughIt) {
    const auto& swap = GetParam();
    const auto count = chainLength(swap.path);
    for (std::size_t index = 0; index < count; ++index) {
        for (const auto kind : kKinds) {
            LinkWorld world;
            swap.prepare(world);
            ASSERT_FALSE(HasFatalFailure());
            const auto component = components(world, swap.anchor, swap.path)[index];
            SCOPED_TRACE(std::string(swap.name) + ": " + kindName(kind) + " swapped in at " +
                         component.lexically_relative(world.home().parent_path()).string());
            // The link leads to a place that looks like the user's as it was before the step.
            const auto target = world.lookalike(component, kind);
            std::optional<LinkSide> before;
            const auto outcome = swap.step(world, [&] {
                if (before)
                    return;
                world.swapIn(component, target);
                before = linkSide(component, target);
            });

            ASSERT_TRUE(before.has_value()) << "the hook was never reached: " << outcome;
            const auto after = linkSide(component, target);
            EXPECT_EQ(changedEntries(before->target, after.target), std::vector<std::string>{});
            if (swap.renamesOntoTheName && index + 1 == count) {
                EXPECT_EQ(outcome, kPassed);
                EXPECT_EQ(after.link, "");
                continue;
            }
            // Past a check, the next use refuses with the platform's own error, or the guarded
            // writer's when its rename finds nothing to move.
            EXPECT_TRUE(outcome == kLink || outcome.starts_with("errno ") ||
                        outcome == kUnsupported)
                << outcome;
            EXPECT_EQ(after.link, before->link);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Links, SwappedPath, ::testing::ValuesIn(swaps()), nameOfSwap);

} // namespace
} // namespace orvek::test
