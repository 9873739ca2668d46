#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "Outcome.h"
#include "Snapshot.h"
#include "TempHome.h"
#include "base/Json.h"
#include "installer/InstallerCore.h"

namespace orvek::installer {
namespace {

namespace fs = std::filesystem;

// OpenCode reads these bytes, and later runs compare them byte for byte; written out by hand.
constexpr const char* kContent =
    R"({"model":"{\"recent\":[],\"user\":[{\"modelID\":\"claude-opus-5\",\"providerID\":\"orvek\",\"visibility\":\"show\"},{\"modelID\":\"gpt-5.6-sol\",\"providerID\":\"orvek\",\"visibility\":\"show\"},{\"modelID\":\"claude-sonnet-5\",\"providerID\":\"orvek\",\"visibility\":\"show\"},{\"modelID\":\"claude-opus-5.5\",\"providerID\":\"orvek\",\"visibility\":\"show\"},{\"modelID\":\"claude-sonnet-5.5\",\"providerID\":\"orvek\",\"visibility\":\"show\"},{\"modelID\":\"gpt-6-astra\",\"providerID\":\"orvek\",\"visibility\":\"show\"},{\"modelID\":\"gpt-6.1-sol\",\"providerID\":\"orvek\",\"visibility\":\"show\"},{\"modelID\":\"big-pickle\",\"providerID\":\"opencode-free\",\"visibility\":\"hide\"},{\"modelID\":\"beam-free\",\"providerID\":\"opencode-free\",\"visibility\":\"hide\"},{\"modelID\":\"flint-40b-free\",\"providerID\":\"opencode-free\",\"visibility\":\"hide\"},{\"modelID\":\"mimo-v2.6-flash-free\",\"providerID\":\"opencode-free\",\"visibility\":\"hide\"},{\"modelID\":\"nemotron-3.5-super-vl-free\",\"providerID\":\"opencode-free\",\"visibility\":\"hide\"},{\"modelID\":\"nemotron-3.5-lightning-free\",\"providerID\":\"opencode-free\",\"visibility\":\"hide\"},{\"modelID\":\"deepseek-v4.1-flash-free\",\"providerID\":\"opencode-free\",\"visibility\":\"hide\"},{\"modelID\":\"glm-5.3-flash-free\",\"providerID\":\"opencode-free\",\"visibility\":\"hide\"}],\"variant\":{}}"})";

constexpr const char* kDat = "opencode.global.dat";
constexpr const char* kMarker = "orvek-model-preset-v1.prepared";

class DesktopDefaults : public ::testing::Test {
protected:
    fs::path folder() const { return home / "Library/Application Support/ai.opencode.desktop"; }

    test::TempHome home;
};

TEST_F(DesktopDefaults, SeedsAFreshFolderOnceAndAcceptsItLater) {
    ASSERT_TRUE(InstallerCore::tryPrepareFreshDesktopDefaults(folder()));
    EXPECT_EQ(test::modeOf(folder()), 0700U);
    EXPECT_EQ(test::slurp(folder() / kDat), kContent);
    EXPECT_EQ(test::slurp(folder() / kMarker), kContent);
    EXPECT_EQ(test::modeOf(folder() / kDat), 0600U);
    EXPECT_EQ(test::modeOf(folder() / kMarker), 0600U);

    const auto written = fs::last_write_time(folder() / kDat);
    EXPECT_TRUE(InstallerCore::tryPrepareFreshDesktopDefaults(folder()));
    EXPECT_EQ(fs::last_write_time(folder() / kDat), written);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder()), fs::directory_iterator()), 2);
}

TEST_F(DesktopDefaults, ContentDecodesToTheModelChoices) {
    ASSERT_TRUE(InstallerCore::tryPrepareFreshDesktopDefaults(folder()));
    const auto outer = JsonValue::parse(test::slurp(folder() / kDat));
    const auto choices = JsonValue::parse(outer.at("model").get<std::string>());
    EXPECT_EQ(choices.at("recent"), JsonValue::array());
    EXPECT_EQ(choices.at("variant"), JsonValue::object());
    const auto& user = choices.at("user");
    ASSERT_EQ(user.size(), 15U);
    for (std::size_t i = 0; i < user.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(user[i].at("visibility"), i < 7 ? "show" : "hide");
        EXPECT_EQ(user[i].at("providerID"), i < 7 ? "orvek" : "opencode-free");
    }
    EXPECT_EQ(user.front().at("modelID"), "claude-opus-5");
    EXPECT_EQ(user.back().at("modelID"), "glm-5.3-flash-free");
}

TEST_F(DesktopDefaults, LeavesEveryOtherStateUntouched) {
    struct Row {
        const char* name;
        std::optional<std::string> dat;
        std::optional<std::string> marker;
        const char* drafts; // nullptr: none
        bool fresh;
        const char* message; // for a refusal
    };
    const std::string other = R"({"model":"{}"})";
    const Row rows[] = {
        {"drafts database", std::nullopt, std::nullopt, "drafts.sqlite", false,
         "В OpenCode уже есть настройки. Они сохранены; требуется отдельная проверка профиля."},
        {"drafts journal", std::nullopt, std::nullopt, "drafts.sqlite-wal", false,
         "В OpenCode уже есть настройки. Они сохранены; требуется отдельная проверка профиля."},
        {"drafts shared memory only", std::nullopt, std::nullopt, "drafts.sqlite-shm", false,
         "В OpenCode уже есть настройки. Они сохранены; требуется отдельная проверка профиля."},
        {"marker without state", std::nullopt, std::string(kContent), nullptr, false,
         "В OpenCode уже есть настройки. Они сохранены; требуется отдельная проверка профиля."},
        {"seeded before", std::string(kContent), std::string(kContent), nullptr, true, nullptr},
        {"seeded before, OpenCode used since", std::string(kContent), std::string(kContent),
         "drafts.sqlite", true, nullptr},
        {"marker gone after OpenCode ran", std::string(kContent), std::nullopt, "drafts.sqlite",
         true, nullptr},
        {"marker gone, OpenCode never ran", std::string(kContent), std::nullopt, nullptr, false,
         "Профиль OpenCode изменён. Автоматическое восстановление отключено."},
        {"marker edited", std::string(kContent), other, nullptr, false,
         "Настройки моделей изменены."},
        {"state edited", other, std::string(kContent), nullptr, false,
         "Существующие настройки моделей сохранены: требуется отдельная проверка профиля OpenCode."},
        {"state edited, no marker", other, std::nullopt, "drafts.sqlite", false,
         "Существующие настройки моделей сохранены: требуется отдельная проверка профиля OpenCode."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(folder());
        fs::create_directories(folder());
        fs::permissions(folder(), fs::perms(0755));
        if (row.dat)
            home.write(folder() / kDat, *row.dat);
        if (row.marker)
            home.write(folder() / kMarker, *row.marker);
        if (row.drafts != nullptr)
            home.write(folder() / row.drafts, "SQLite format 3");
        const auto before =
            std::distance(fs::directory_iterator(folder()), fs::directory_iterator());

        EXPECT_EQ(InstallerCore::tryPrepareFreshDesktopDefaults(folder()), row.fresh);
        if (row.message != nullptr) {
            try {
                InstallerCore::prepareDesktopDefaults(folder());
                ADD_FAILURE() << "expected a refusal";
            } catch (const InstallerFailure& failure) {
                EXPECT_EQ(failure.message(), row.message);
                EXPECT_EQ(failure.code(), "DESKTOP_NOT_FRESH");
            }
        }
        // Nothing written, nothing removed, the user's bytes as they were.
        EXPECT_EQ(std::distance(fs::directory_iterator(folder()), fs::directory_iterator()),
                  before);
        if (row.dat) {
            EXPECT_EQ(test::slurp(folder() / kDat), *row.dat);
        }
        if (row.marker) {
            EXPECT_EQ(test::slurp(folder() / kMarker), *row.marker);
        }
        EXPECT_EQ(test::modeOf(folder()), 0755U);
    }
}

TEST_F(DesktopDefaults, OtherFailuresPassThrough) {
    fs::create_directories(home / "real");
    fs::create_directories(home / "Library");
    fs::create_directory_symlink(home / "real", home / "Library/Application Support");
    try {
        (void)InstallerCore::tryPrepareFreshDesktopDefaults(folder());
        ADD_FAILURE() << "expected the link refusal";
    } catch (const InstallerFailure& failure) {
        EXPECT_EQ(failure.message(),
                  "Путь содержит символическую ссылку. Выберите обычную локальную папку.");
        EXPECT_FALSE(failure.code());
    }
    EXPECT_TRUE(fs::is_empty(home / "real"));

    // A state file that cannot be read is not a reason to skip quietly.
    fs::remove(home / "Library/Application Support");
    fs::create_directories(folder() / kDat);
    EXPECT_THROW((void)InstallerCore::tryPrepareFreshDesktopDefaults(folder()), std::exception);
}

// A marker that cannot be written takes the state written just before it away again, so the
// folder is fresh for the next run; a file someone put under the state's name meanwhile stays.
TEST_F(DesktopDefaults, AFailedMarkerRollsBackOnlyTheStateItWrote) {
    const auto dat = folder() / kDat;
    const auto marker = folder() / kMarker;
    const std::string expected = "errno " + std::to_string(EEXIST) + " at " + marker.string();

    EXPECT_EQ(test::outcomeOf([&] {
                  InstallerCore::prepareDesktopDefaultsForTesting(
                      folder(), [&] { home.write(fs::relative(marker, home.path()), "theirs"); });
              }),
              expected);
    EXPECT_FALSE(fs::exists(dat));
    EXPECT_EQ(test::slurp(marker), "theirs");

    fs::remove(marker);
    EXPECT_EQ(test::outcomeOf([&] {
                  InstallerCore::prepareDesktopDefaultsForTesting(folder(), [&] {
                      const auto staged = home / "user.dat";
                      home.write("user.dat", "user state");
                      fs::rename(staged, dat);
                      home.write(fs::relative(marker, home.path()), "theirs");
                  });
              }),
              expected);
    EXPECT_EQ(test::slurp(dat), "user state");
}

} // namespace
} // namespace orvek::installer
