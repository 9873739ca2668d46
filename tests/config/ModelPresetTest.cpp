#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Outcome.h"
#include "Snapshot.h"
#include "TempHome.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "base/JsonError.h"
#include "base/PlatformError.h"
#include "installer/InstallerCore.h"

namespace orvek::installer {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUnsupported = "Неподдерживаемый файл настроек.";
constexpr const char* kIncompatible =
    "Существующие настройки несовместимы с набором моделей. Они сохранены.";
constexpr const char* kMcpPresent =
    "MCP Орвека уже задан в пользовательских настройках. Настройки сохранены.";
constexpr const char* kMarkerChanged = "Маркер набора моделей изменён.";
constexpr const char* kAlreadyExists = "Файл настроек уже существует и сохранён без изменений.";
constexpr const char* kHelperChanged = "Компонент подключения изменён. Повторите установку.";
constexpr const char* kLinkMessage =
    "Путь содержит символическую ссылку. Выберите обычную локальную папку.";

// Formatted and ordered differently from the preset on purpose: only its decoded value counts.
constexpr const char* kFreeProvider =
    "{\n  \"options\": {\"baseURL\": \"https://x/y\"},\n  \"models\": {\"big-pickle\": {}}\n}\n";
// OpenCode compares these bytes with the marker on every later run; written out by hand.
constexpr const char* kPreset =
    R"({"enabled_providers":["orvek","opencode-free"],"provider":{"opencode-free":{"models":{"big-pickle":{}},"options":{"baseURL":"https:\/\/x\/y"}}}})";
constexpr const char* kHelperConfiguration =
    "{\n  \"provider\": {\"orvek\": {\"options\": {\"baseURL\": \"https://api.example\"}}}\n}\n";
constexpr const char* kHelperBinary = "#!/bin/sh\necho orvek\n";

constexpr const char* kJsonc = ".config/opencode/opencode.jsonc";
constexpr const char* kPresetFile = ".config/opencode/opencode.json";
constexpr const char* kMarker = ".config/opencode/opencode.json.orvek-preset-owned";
constexpr const char* kDesktopDat =
    "Library/Application Support/ai.opencode.desktop/opencode.global.dat";

// A home after a successful helper sign-in: the helper installed and matching its manifest, the
// helper's configuration written, the application's resources beside it.
class Bench {
public:
    Bench() {
        home.write("resources/free-provider.json", kFreeProvider);
        home.write("resources/payloads.json",
                   base::json({{"cli-arm64", {{"binarySha256", base::hash(kHelperBinary)}}}}));
        home.write(fs::relative(core().helper(), home.path()), kHelperBinary);
        home.write(kJsonc, kHelperConfiguration);
    }

    [[nodiscard]] InstallerCore core() const {
        return InstallerCore(home / "resources", home.path(), home / ".config");
    }
    [[nodiscard]] fs::path folder() const { return home / ".config/opencode"; }
    void apply() const { core().applyPreset(folder()); }

    [[nodiscard]] std::vector<std::string> folderNames() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    void expectPublished(const std::string& configuration = kHelperConfiguration) const {
        EXPECT_EQ(test::slurp(home / kPresetFile), kPreset);
        EXPECT_EQ(test::slurp(home / kMarker), kPreset);
        EXPECT_EQ(test::modeOf(home / kPresetFile), 0600U);
        EXPECT_EQ(test::slurp(home / kJsonc), configuration);
        // No temporary, staged or backup file stays beside the preset.
        EXPECT_EQ(folderNames(),
                  (std::vector<std::string>{"opencode.json", "opencode.json.orvek-preset-owned",
                                            "opencode.jsonc"}));
    }

    test::TempHome home;
};

TEST(ModelPreset, FirstRunWritesMarkerPresetAndDesktopDefaults) {
    const Bench bench;

    bench.apply();

    bench.expectPublished();
    EXPECT_EQ(test::modeOf(bench.home / kMarker), 0600U);
    EXPECT_TRUE(fs::is_regular_file(bench.home / kDesktopDat));
}

TEST(ModelPreset, EmbedsTheShippedProviderDecoded) {
    const Bench bench;
    const auto shipped = fs::path(ORVEK_TEST_DATA) / "../../resources/free-provider.json";
    bench.home.write("resources/free-provider.json", test::slurp(shipped));

    bench.apply();

    const auto preset = JsonValue::parse(test::slurp(bench.home / kPresetFile));
    EXPECT_EQ(preset.at("provider").at("opencode-free"), JsonValue::parse(test::slurp(shipped)));
    EXPECT_EQ(test::slurp(bench.home / kMarker), test::slurp(bench.home / kPresetFile));
}

TEST(ModelPreset, McpConfigurationBytes) {
    const InstallerCore anna("/Applications/Orvek.app/Contents/Resources", fs::path("/Users/anna"));
    EXPECT_EQ(
        base::json(anna.mcpConfiguration()),
        R"({"command":["\/Users\/anna\/Library\/Application Support\/Orvek\/OpenCodeSetup\/0.1.0\/helper\/orvek","mcp"],"enabled":true,"environment":{"ORVEK_TOKEN_STORAGE":"file"},"timeout":60000,"type":"local"})");
}

TEST(ModelPreset, StatesOfPresetAndMarker) {
    const std::string edited = std::string(kPreset) + " ";
    struct Row {
        const char* name;
        std::optional<std::string> preset;
        std::optional<std::string> marker;
        const char* message; // nullptr: succeeds with the preset in place
    };
    const Row rows[] = {
        {"neither exists", std::nullopt, std::nullopt, nullptr},
        {"marker only, equal", std::nullopt, kPreset, nullptr},
        {"marker only, different", std::nullopt, edited, kMarkerChanged},
        {"both equal", kPreset, kPreset, nullptr},
        {"preset different", edited, kPreset, kAlreadyExists},
        {"marker different", kPreset, edited, kAlreadyExists},
        {"both different", edited, edited, kAlreadyExists},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Bench bench;
        if (row.preset)
            bench.home.write(kPresetFile, *row.preset);
        if (row.marker)
            bench.home.write(kMarker, *row.marker);
        const auto before = test::snapshot(bench.home.path(), true);

        if (row.message) {
            EXPECT_EQ(test::outcomeOf([&] { bench.apply(); }), test::failureText(row.message));
            EXPECT_EQ(test::snapshot(bench.home.path(), true), before);
            continue;
        }
        bench.apply();
        bench.expectPublished();
        // Desktop defaults are attempted in every successful state.
        EXPECT_TRUE(fs::is_regular_file(bench.home / kDesktopDat));
        const auto after = test::snapshot(bench.home.path(), true);
        if (row.marker) {
            EXPECT_EQ(after.at(kMarker), before.at(kMarker));
        }
        if (row.preset) {
            EXPECT_EQ(after.at(kPresetFile), before.at(kPresetFile));
        }
    }
}

TEST(ModelPreset, PresetWithoutMarkerFailsWithTheMissingFile) {
    const Bench bench;
    bench.home.write(kPresetFile, kPreset);
    const auto before = test::snapshot(bench.home.path(), true);
    try {
        bench.apply();
        ADD_FAILURE() << "expected a missing marker";
    } catch (const base::PlatformError& error) {
        EXPECT_EQ(error.errnoValue(), ENOENT);
        EXPECT_EQ(error.path(), bench.home / kMarker);
    }
    EXPECT_EQ(test::snapshot(bench.home.path(), true), before);
}

// The two moments a run can be overtaken: the helper still writing its file after the marker,
// and a file of the user's appearing under the preset's name just before the move.
TEST(ModelPreset, RacesBeforeThePublishNeverMixOrReplace) {
    {
        const Bench bench;
        const auto outcome = test::outcomeOf([&] {
            bench.core().applyPresetForTesting(bench.folder(), [&](InstallerCore::PresetStep step) {
                if (step == InstallerCore::PresetStep::marked)
                    bench.home.write(kJsonc, std::string(kHelperConfiguration) + " ");
            });
        });
        EXPECT_EQ(outcome, "Настройки изменились во время подключения. Повторите проверку.");
        EXPECT_FALSE(fs::exists(bench.home / kPresetFile));
        EXPECT_EQ(test::slurp(bench.home / kJsonc), std::string(kHelperConfiguration) + " ");
    }
    {
        const Bench bench;
        const auto outcome = test::outcomeOf([&] {
            bench.core().applyPresetForTesting(bench.folder(), [&](InstallerCore::PresetStep step) {
                if (step == InstallerCore::PresetStep::staged)
                    bench.home.write(kPresetFile, R"({"model":"mine"})");
            });
        });
        EXPECT_EQ(outcome,
                  "errno " + std::to_string(EEXIST) + " at " + (bench.home / kPresetFile).string());
        EXPECT_EQ(test::slurp(bench.home / kPresetFile), R"({"model":"mine"})");
        EXPECT_EQ(bench.folderNames(),
                  (std::vector<std::string>{"opencode.json", "opencode.json.orvek-preset-owned",
                                            "opencode.jsonc"}))
            << "the staged preset went away";
    }
}

TEST(ModelPreset, SecondRunWritesNothing) {
    const Bench bench;
    bench.apply();
    const auto before = test::snapshot(bench.home.path(), true);

    bench.apply();

    EXPECT_EQ(test::snapshot(bench.home.path(), true), before);
    bench.expectPublished();
}

TEST(ModelPreset, KeepsTheUsersEditOfThePreset) {
    const Bench bench;
    bench.apply();
    const std::string edited = std::string(kPreset) + " ";
    bench.home.write(kPresetFile, edited);

    EXPECT_EQ(test::outcomeOf([&] { bench.apply(); }), test::failureText(kAlreadyExists));

    EXPECT_EQ(test::slurp(bench.home / kPresetFile), edited);
    EXPECT_EQ(test::slurp(bench.home / kMarker), kPreset);
}

TEST(ModelPreset, RefusesHelperConfigurationsItCannotJoin) {
    struct Row {
        const char* name;
        const char* configuration;
        const char* message;
    };
    const Row rows[] = {
        {"enabled_providers empty", R"({"enabled_providers":[],"provider":{"orvek":{}}})",
         kIncompatible},
        {"policies", R"({"policies":{},"provider":{"orvek":{}}})", kIncompatible},
        {"experimental", R"({"experimental":false,"provider":{"orvek":{}}})", kIncompatible},
        {"disabled_providers", R"({"disabled_providers":[],"provider":{"orvek":{}}})",
         kIncompatible},
        {"providers", R"({"providers":null,"provider":{"orvek":{}}})", kIncompatible},
        {"no provider", R"({"mcp":{}})", kIncompatible},
        {"provider array", R"({"provider":["orvek"]})", kIncompatible},
        {"provider text", R"({"provider":"orvek"})", kIncompatible},
        {"provider without orvek", R"({"provider":{"anthropic":{}}})", kIncompatible},
        {"provider with opencode-free", R"({"provider":{"orvek":{},"opencode-free":{}}})",
         kIncompatible},
        {"incompatible before MCP", R"({"mcp":{"orvek":{}},"provider":{}})", kIncompatible},
        {"mcp holds orvek", R"({"mcp":{"orvek":{"type":"remote"}},"provider":{"orvek":{}}})",
         kMcpPresent},
        {"top value array", R"([{"provider":{"orvek":{}}}])", kUnsupported},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Bench bench;
        bench.home.write(kJsonc, row.configuration);
        const auto before = test::snapshot(bench.home.path(), true);

        EXPECT_EQ(test::outcomeOf([&] { bench.apply(); }), test::failureText(row.message));

        EXPECT_EQ(test::snapshot(bench.home.path(), true), before);
    }
}

TEST(ModelPreset, AcceptsOtherMcpServersAndLeavesThemAlone) {
    struct Row {
        const char* name;
        const char* configuration;
    };
    const Row rows[] = {
        {"other servers",
         R"({"mcp":{"github":{"type":"remote","url":"https://x"}},"provider":{"orvek":{}}})"},
        {"mcp not an object", R"({"mcp":["orvek"],"provider":{"orvek":null}})"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Bench bench;
        bench.home.write(kJsonc, row.configuration);

        bench.apply();

        bench.expectPublished(row.configuration);
    }
}

// Each of these stops the run before the first write: the home is left exactly as it was.
TEST(ModelPreset, RefusesBeforeWritingAnything) {
    struct Row {
        const char* name;
        std::function<void(const Bench&)> arrange;
        std::function<void(const Bench&)> expect;
    };
    const auto failsWith = [](const char* message) {
        return [message](const Bench& bench) {
            EXPECT_EQ(test::outcomeOf([&] { bench.apply(); }), test::failureText(message));
        };
    };
    const auto failsWithErrno = [](int number, const char* relative) {
        return [number, relative](const Bench& bench) {
            try {
                bench.apply();
                ADD_FAILURE() << "expected a platform error";
            } catch (const base::PlatformError& error) {
                EXPECT_EQ(error.errnoValue(), number);
                EXPECT_EQ(error.path(), bench.home / relative);
            }
        };
    };
    const auto failsToDecode = [](const Bench& bench) {
        EXPECT_THROW(bench.apply(), base::JsonError);
    };
    const Row rows[] = {
        {"free provider is an array",
         [](const Bench& bench) { bench.home.write("resources/free-provider.json", "[{}]"); },
         failsWith(kUnsupported)},
        {"free provider is not JSON",
         [](const Bench& bench) { bench.home.write("resources/free-provider.json", "{"); },
         failsToDecode},
        {"free provider missing",
         [](const Bench& bench) { fs::remove(bench.home / "resources/free-provider.json"); },
         failsWithErrno(ENOENT, "resources/free-provider.json")},
        {"helper configuration missing",
         [](const Bench& bench) { fs::remove(bench.home / kJsonc); },
         failsWithErrno(ENOENT, kJsonc)},
        {"helper configuration not JSON",
         [](const Bench& bench) { bench.home.write(kJsonc, R"({"provider":{"orvek":{}},})"); },
         failsToDecode},
        {"helper configuration with a NUL byte",
         [](const Bench& bench) {
             bench.home.write(kJsonc, std::string(R"({"provider":{"orvek":{}}})") + '\0');
         },
         failsToDecode},
        {"helper changed",
         [](const Bench& bench) {
             bench.home.write(fs::relative(bench.core().helper(), bench.home.path()),
                              std::string(kHelperBinary) + "#");
         },
         failsWith(kHelperChanged)},
        {"configuration folder is a link",
         [](const Bench& bench) {
             fs::rename(bench.folder(), bench.home / ".config/real");
             fs::create_directory_symlink(bench.home / ".config/real", bench.folder());
         },
         failsWith(kLinkMessage)},
        {"preset name is a dangling link",
         [](const Bench& bench) {
             fs::create_symlink(bench.home / "elsewhere.json", bench.home / kPresetFile);
         },
         failsWith(kLinkMessage)},
        {"marker name is a link",
         [](const Bench& bench) {
             bench.home.write("elsewhere.json", kPreset);
             fs::create_symlink(bench.home / "elsewhere.json", bench.home / kMarker);
         },
         failsWith(kLinkMessage)},
        {"desktop data folder is a link",
         [](const Bench& bench) {
             fs::create_directories(bench.home / "desktop-real");
             fs::create_directories(bench.home / "Library/Application Support");
             fs::create_directory_symlink(bench.home / "desktop-real", bench.core().desktopData());
         },
         failsWith(kLinkMessage)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Bench bench;
        row.arrange(bench);
        const auto before = test::snapshot(bench.home.path(), true);

        row.expect(bench);

        EXPECT_EQ(test::snapshot(bench.home.path(), true), before);
    }
}

// Desktop data OpenCode already uses is left alone; the preset is still published.
TEST(ModelPreset, PublishesBesideDesktopDataThatIsNotFresh) {
    const Bench bench;
    const auto drafts = bench.core().desktopData() / "drafts.sqlite";
    bench.home.write(fs::relative(drafts, bench.home.path()), "sqlite");

    bench.apply();

    bench.expectPublished();
    EXPECT_FALSE(fs::exists(bench.home / kDesktopDat));
    EXPECT_EQ(test::slurp(drafts), "sqlite");
}

// A later run still passes desktop failures other than "not fresh" on, and writes nothing.
TEST(ModelPreset, LaterRunPassesDesktopFailuresOn) {
    const Bench bench;
    bench.apply();
    fs::rename(bench.core().desktopData(), bench.home / "desktop-real");
    fs::create_directory_symlink(bench.home / "desktop-real", bench.core().desktopData());
    const auto before = test::snapshot(bench.home.path(), true);

    EXPECT_EQ(test::outcomeOf([&] { bench.apply(); }), test::failureText(kLinkMessage));

    EXPECT_EQ(test::snapshot(bench.home.path(), true), before);
}

} // namespace
} // namespace orvek::installer
