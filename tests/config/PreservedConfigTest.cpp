#include "config/PreservedConfig.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Outcome.h"
#include "RunAsNobody.h"
#include "TempHome.h"
#include "base/InstallerFailure.h"
#include "base/PlatformError.h"
#include "base/ProcessRunner.h"

namespace orvek::config {
namespace {

namespace fs = std::filesystem;
using base::InstallerFailure;
using base::PlatformError;
using PreservedConfig::Step;

constexpr const char* kUnsupported = "Настройки не поддерживаются. Исходные файлы сохранены.";
constexpr const char* kUnsupportedCode = "CONFIGURATION_UNSUPPORTED";
constexpr const char* kChanged = "Настройки изменились во время проверки.";
constexpr const char* kChangedCode = "CONFIGURATION_CHANGED";
constexpr const char* kLinkMessage =
    "Путь содержит символическую ссылку. Выберите обычную локальную папку.";
constexpr const char* kTooLarge = "Файл настроек слишком большой.";
constexpr uid_t kNobody = test::kNobody;
constexpr const char* kTestAttribute = "user.orvek-test";

const std::regex kUuidName(
    R"(opencode\.json\.orvek-(stage|backup)-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12})");

constexpr std::array kAllSteps{Step::checked,  Step::staged,   Step::written, Step::rechecked,
                               Step::backedUp, Step::verified, Step::renamed};

bool isRoot() {
    return ::geteuid() == 0;
}

// What a user could notice about a file without opening an editor.
struct FileState {
    std::string bytes;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    std::int64_t mtimeSeconds = 0;
    long mtimeNanoseconds = 0;

    bool operator==(const FileState&) const = default;
};

void PrintTo(const FileState& state, std::ostream* out) {
    *out << "{" << state.bytes.size() << " bytes, mode " << std::oct << state.mode << std::dec
         << ", " << state.owner << ":" << state.group << ", mtime " << state.mtimeSeconds << "."
         << state.mtimeNanoseconds << "}";
}

FileState stateOf(const fs::path& path) {
    struct stat attributes {};
    EXPECT_EQ(::lstat(path.c_str(), &attributes), 0) << path;
    FileState state;
    if (S_ISREG(attributes.st_mode))
        state.bytes = test::slurp(path);
    state.mode = attributes.st_mode;
    state.owner = attributes.st_uid;
    state.group = attributes.st_gid;
#if defined(__APPLE__)
    state.mtimeSeconds = attributes.st_mtimespec.tv_sec;
    state.mtimeNanoseconds = attributes.st_mtimespec.tv_nsec;
#else
    state.mtimeSeconds = attributes.st_mtim.tv_sec;
    state.mtimeNanoseconds = attributes.st_mtim.tv_nsec;
#endif
    return state;
}

// A past time with a fraction, so that a copy which drops or rounds times shows.
void agePath(const fs::path& path) {
    const std::array<struct timespec, 2> times{
        {{1'000'000'000, 123'456'789}, {1'100'000'000, 987'654'321}}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times.data(), AT_SYMLINK_NOFOLLOW), 0) << path;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<fs::path> siblingsWith(const fs::path& target, const std::string& infix) {
    std::vector<fs::path> found;
    const auto prefix = target.filename().string() + "." + infix;
    for (const auto& name : namesIn(target.parent_path()))
        if (name.starts_with(prefix))
            found.push_back(target.parent_path() / name);
    return found;
}

std::optional<std::string> attribute(const fs::path& path, const char* name) {
    std::array<char, 256> value{};
#if defined(__APPLE__)
    const auto length = ::getxattr(path.c_str(), name, value.data(), value.size(), 0, 0);
#else
    const auto length = ::getxattr(path.c_str(), name, value.data(), value.size());
#endif
    if (length < 0)
        return std::nullopt;
    return std::string(value.data(), static_cast<std::size_t>(length));
}

// False when the file system has no user attributes.
bool setAttribute(const fs::path& path, const char* name, const std::string& value) {
#if defined(__APPLE__)
    const int result = ::setxattr(path.c_str(), name, value.data(), value.size(), 0, 0);
#else
    const int result = ::setxattr(path.c_str(), name, value.data(), value.size(), 0);
#endif
    if (result == 0)
        return true;
    EXPECT_TRUE(errno == ENOTSUP || errno == EOPNOTSUPP) << std::strerror(errno);
    return false;
}

template <typename Body> void expectUnsupported(Body body) {
    EXPECT_EQ(test::outcomeOf(body), test::failureText(kUnsupported, kUnsupportedCode));
}

template <typename Body>
std::optional<base::PlatformError> expectPlatformError(int number, Body body) {
    try {
        body();
        ADD_FAILURE() << "expected a platform error " << number;
    } catch (const base::PlatformError& error) {
        EXPECT_EQ(error.errnoValue(), number) << error.what();
        return error;
    }
    return std::nullopt;
}

class PreservedConfigWrite : public ::testing::Test {
protected:
    test::TempHome home;
    const fs::path folder = home / "opencode";
    const fs::path target = folder / "opencode.json";

    void SetUp() override { fs::create_directories(folder); }

    // Each row of a table starts from an empty folder.
    void resetFolder() const {
        fs::remove_all(folder);
        fs::create_directories(folder);
    }

    void writeTarget(std::string_view bytes, mode_t mode = 0600) const {
        home.write(target.lexically_relative(home.path()), bytes);
        ASSERT_EQ(::chmod(target.c_str(), mode), 0);
    }
};

TEST_F(PreservedConfigWrite, ReplacesKeepingModeOwnerTimesAndAttributes) {
    struct Row {
        const char* name;
        mode_t mode;
    };
    const Row rows[] = {
        {"private", 0600},        {"group-readable", 0640}, {"executable", 0700},
        {"group-writable", 0664}, {"world-readable", 0644},
    };
    // A tight umask shows any mode that comes from file creation rather than from the target.
    const mode_t previousMask = ::umask(077);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        resetFolder();
        const std::string old = "{\"model\":\"old\"}\n";
        const std::string updated = "{\"model\":\"new\",\"x\":1}";
        writeTarget(old, row.mode);
        // The group is carried too: give the file one that creation would not choose.
        if (isRoot()) {
            ASSERT_EQ(::chown(target.c_str(), 0, kNobody), 0);
        }
        const bool attributes = setAttribute(target, kTestAttribute, "kept");
        agePath(target);
        const auto before = stateOf(target);

        PreservedConfig::write(target, old, updated);

        const auto after = stateOf(target);
        EXPECT_EQ(after.bytes, updated);
        EXPECT_EQ(after.mode, before.mode);
        EXPECT_EQ(after.owner, before.owner);
        EXPECT_EQ(after.group, before.group);
        EXPECT_TRUE(siblingsWith(target, "orvek-stage-").empty());

        const auto backups = siblingsWith(target, "orvek-backup-");
        ASSERT_EQ(backups.size(), 1U);
        EXPECT_TRUE(std::regex_match(backups[0].filename().string(), kUuidName))
            << backups[0].filename();
        EXPECT_EQ(namesIn(folder).size(), 2U);
        // The backup is a full copy of the replaced file, times included.
        EXPECT_EQ(stateOf(backups[0]), before);

        if (attributes) {
            EXPECT_EQ(attribute(target, kTestAttribute), "kept");
            EXPECT_EQ(attribute(backups[0], kTestAttribute), "kept");
        } else {
            std::printf("note: no user extended attributes here; attribute copy not checked\n");
        }
    }
    ::umask(previousMask);
}

#if defined(__linux__)
TEST_F(PreservedConfigWrite, CarriesTheAccessList) {
    // A POSIX ACL in the kernel's xattr form: owner rw, user 65534 r, group r, mask r, other -.
    struct Entry {
        std::uint16_t tag;
        std::uint16_t permissions;
        std::uint32_t id;
    };
    constexpr std::uint32_t kNone = 0xFFFFFFFF;
    const Entry entries[] = {
        {0x01, 6, kNone}, {0x02, 4, kNobody}, {0x04, 4, kNone}, {0x10, 4, kNone}, {0x20, 0, kNone},
    };
    std::string acl(4, '\0');
    acl[0] = 2;
    for (const auto& entry : entries)
        acl.append(reinterpret_cast<const char*>(&entry), sizeof entry);

    writeTarget("old", 0600);
    if (::setxattr(target.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0)
        GTEST_SKIP() << "no POSIX access lists on this file system: " << std::strerror(errno);
    const auto before = stateOf(target);
    ASSERT_EQ(before.mode & 07777, 0640U);

    PreservedConfig::write(target, "old", "new");

    EXPECT_EQ(stateOf(target).mode, before.mode);
    EXPECT_EQ(attribute(target, "system.posix_acl_access"), acl);
    const auto backups = siblingsWith(target, "orvek-backup-");
    ASSERT_EQ(backups.size(), 1U);
    EXPECT_EQ(attribute(backups[0], "system.posix_acl_access"), acl);
}
#endif

TEST_F(PreservedConfigWrite, ReplacesAtTheSizeLimits) {
    struct Row {
        const char* name;
        std::string old;
        std::string updated;
    };
    const Row rows[] = {
        {"empty to some", "", "{}"},
        {"some to empty", "{\"a\":1}", ""},
        {"one mebibyte each", std::string(1'048'576, 'a'), std::string(1'048'576, 'b')},
        {"small to one mebibyte", "{}", std::string(1'048'576, ' ')},
        {"one mebibyte to small", std::string(1'048'576, 'c'), "{}"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        resetFolder();
        writeTarget(row.old);

        PreservedConfig::write(target, row.old, row.updated);

        EXPECT_EQ(test::slurp(target), row.updated);
        const auto backups = siblingsWith(target, "orvek-backup-");
        ASSERT_EQ(backups.size(), 1U);
        EXPECT_EQ(test::slurp(backups[0]), row.old);
        EXPECT_EQ(namesIn(folder).size(), 2U);
    }
}

TEST_F(PreservedConfigWrite, EachReplacementAddsItsOwnBackup) {
    writeTarget("first");
    PreservedConfig::write(target, "first", "second");
    PreservedConfig::write(target, "second", "third");

    EXPECT_EQ(test::slurp(target), "third");
    const auto backups = siblingsWith(target, "orvek-backup-");
    ASSERT_EQ(backups.size(), 2U);
    std::vector<std::string> kept{test::slurp(backups[0]), test::slurp(backups[1])};
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"first", "second"}));
    EXPECT_TRUE(siblingsWith(target, "orvek-stage-").empty());
}

TEST_F(PreservedConfigWrite, SameBytesWriteNothing) {
    // Re-verifying a file needs no right to change it, so even a read-only one passes.
    for (const mode_t mode : {0600, 0444}) {
        SCOPED_TRACE(mode);
        resetFolder();
        writeTarget("{\"same\":true}", mode);
        agePath(target);
        const auto before = stateOf(target);

        PreservedConfig::write(target, "{\"same\":true}", "{\"same\":true}");

        EXPECT_EQ(stateOf(target), before);
        EXPECT_EQ(namesIn(folder), std::vector<std::string>{"opencode.json"});
    }
}

TEST_F(PreservedConfigWrite, RefusesWhatItMustNotReplace) {
    struct Row {
        const char* name;
        std::string file;
        std::string expected;
        std::string updated;
        mode_t mode;
        std::optional<uid_t> owner;
    };
    const std::string current = "{\"a\":1}";
    const Row rows[] = {
        {"same bytes asked, file differs", "{\"a\":2}", current, current, 0600, std::nullopt},
        {"one byte differs", "{\"a\":2}", current, "{}", 0600, std::nullopt},
        {"file is shorter", "{\"a\"", current, "{}", 0600, std::nullopt},
        {"file is longer", current + "\n", current, "{}", 0600, std::nullopt},
        {"file is empty", "", current, "{}", 0600, std::nullopt},
        {"read-only for everyone", current, current, "{}", 0444, std::nullopt},
        {"owner may only read", current, current, "{}", 0400, std::nullopt},
        {"writable by others but not the owner", current, current, "{}", 0466, std::nullopt},
        {"owned by another user", current, current, "{}", 0644, kNobody},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.owner && !isRoot()) {
            std::printf("note: not root, \"%s\" skipped\n", row.name);
            continue;
        }
        resetFolder();
        writeTarget(row.file, row.mode);
        if (row.owner) {
            ASSERT_EQ(::chown(target.c_str(), *row.owner, *row.owner), 0);
        }
        agePath(target);
        const auto before = stateOf(target);

        expectUnsupported([&] { PreservedConfig::write(target, row.expected, row.updated); });

        EXPECT_EQ(stateOf(target), before);
        EXPECT_EQ(namesIn(folder), std::vector<std::string>{"opencode.json"});
    }
}

// An immutable or append-only file can be neither replaced nor removed, and a staged copy would
// carry the flag and stay behind for good: refused before anything is staged.
TEST_F(PreservedConfigWrite, RefusesImmutableAndAppendOnlyFiles) {
    const std::string current = "{\"a\":1}";
    for (const char* flag : {"i", "a"}) {
        SCOPED_TRACE(flag);
        resetFolder();
        writeTarget(current);
        const auto set = base::run("/usr/bin/chattr", {std::string("+") + flag, target.string()},
                                   std::nullopt, 30);
        if (set.status != 0)
            GTEST_SKIP() << "no file flags here: " << set.standardError;
        const auto before = stateOf(target);

        expectUnsupported([&] { PreservedConfig::write(target, current, "{}"); });

        EXPECT_EQ(stateOf(target), before);
        EXPECT_EQ(namesIn(folder), std::vector<std::string>{"opencode.json"});
        (void)base::run("/usr/bin/chattr", {std::string("-") + flag, target.string()}, std::nullopt,
                        30);
    }
}

TEST_F(PreservedConfigWrite, RefusesTargetsThatAreNotFiles) {
    fs::create_directory(target);
    const auto error =
        expectPlatformError(EISDIR, [&] { PreservedConfig::write(target, "", "x"); });
    ASSERT_TRUE(error);
    EXPECT_EQ(std::string(error->what()),
              "Не удалось прочитать файл «" + target.string() + "»: это папка, а не файл.");
    EXPECT_TRUE(fs::is_empty(target));
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"opencode.json"});

    fs::remove(target);
    ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
    // A pipe has no size, so reading it is refused before anything could block on it.
    EXPECT_EQ(test::outcomeOf([&] { PreservedConfig::write(target, "", "x"); }),
              test::failureText(kTooLarge, std::nullopt));
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(target)));
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"opencode.json"});
}

TEST_F(PreservedConfigWrite, RefusesLinkedPathsBeforeReading) {
    const auto real = home / "real";
    fs::create_directories(real);
    home.write("real/opencode.json", "{}");
    struct Row {
        const char* name;
        fs::path link;
        fs::path destination;
        fs::path target;
    };
    const Row rows[] = {
        {"linked folder", home / "linked", real, home / "linked/opencode.json"},
        {"linked file", target, real / "opencode.json", target},
        // Were the file read first, this would be "no such file".
        {"dangling link", target, home / "nowhere.json", target},
        {"link to a pipe", target, real / "pipe", target},
    };
    ASSERT_EQ(::mkfifo((real / "pipe").c_str(), 0600), 0);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::create_symlink(row.destination, row.link);
        const auto realBefore = stateOf(real / "opencode.json");
        const auto homeBefore = namesIn(home.path());
        const auto folderBefore = namesIn(folder);

        EXPECT_EQ(test::outcomeOf([&] { PreservedConfig::write(row.target, "{}", "{\"b\":2}"); }),
                  test::failureText(kLinkMessage, std::nullopt));

        EXPECT_EQ(stateOf(real / "opencode.json"), realBefore);
        EXPECT_EQ(namesIn(real), (std::vector<std::string>{"opencode.json", "pipe"}));
        EXPECT_EQ(namesIn(home.path()), homeBefore);
        EXPECT_EQ(namesIn(folder), folderBefore);
        fs::remove(row.link);
    }
}

TEST_F(PreservedConfigWrite, MissingTargetIsThePlatformError) {
    const auto error =
        expectPlatformError(ENOENT, [&] { PreservedConfig::write(target, "", "x"); });
    ASSERT_TRUE(error);
    EXPECT_EQ(std::string(error->what()),
              "Не удалось прочитать файл «" + target.string() + "»: нет такого файла или папки.");
    EXPECT_TRUE(fs::is_empty(folder));
}

TEST_F(PreservedConfigWrite, RefusesContentItCouldNotReadBack) {
    writeTarget("{}");
    agePath(target);
    const auto before = stateOf(target);
    expectUnsupported([&] { PreservedConfig::write(target, "{}", std::string(1'048'577, ' ')); });
    EXPECT_EQ(stateOf(target), before);
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"opencode.json"});
}

TEST_F(PreservedConfigWrite, TooLargeTargetIsRefusedBeforeAnythingElse) {
    const std::string large(1'048'577, 'x');
    struct Row {
        const char* name;
        mode_t mode;
        std::optional<uid_t> owner;
    };
    // Each row would also be refused for its attributes; the size decides first.
    const Row rows[] = {{"writable", 0600, std::nullopt},
                        {"read-only", 0444, std::nullopt},
                        {"another user's", 0644, kNobody}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.owner && !isRoot())
            continue;
        resetFolder();
        writeTarget(large, row.mode);
        if (row.owner) {
            ASSERT_EQ(::chown(target.c_str(), *row.owner, *row.owner), 0);
        }
        agePath(target);
        const auto before = stateOf(target);

        EXPECT_EQ(test::outcomeOf([&] { PreservedConfig::write(target, large, "{}"); }),
                  test::failureText(kTooLarge, std::nullopt));

        EXPECT_EQ(stateOf(target), before);
        EXPECT_EQ(namesIn(folder), std::vector<std::string>{"opencode.json"});
    }
}

TEST_F(PreservedConfigWrite, AnotherProgramsEditAfterStagingIsKept) {
    struct Row {
        const char* name;
        std::function<void()> edit;
    };
    // Editors save either in place or by renaming a new file over the old one.
    const Row rows[] = {
        {"rewritten in place",
         [this] { home.write(target.lexically_relative(home.path()), "theirs"); }},
        {"replaced by rename",
         [this] {
             home.write("theirs.tmp", "theirs");
             fs::rename(home / "theirs.tmp", target);
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        writeTarget("ours");

        EXPECT_EQ(test::outcomeOf([&] {
                      PreservedConfig::writeForTesting(target, "ours", "new", [&](Step step) {
                          if (step == Step::written)
                              row.edit();
                      });
                  }),
                  test::failureText(kChanged, kChangedCode));

        EXPECT_EQ(test::slurp(target), "theirs");
        EXPECT_EQ(namesIn(folder), std::vector<std::string>{"opencode.json"});
    }
}

TEST_F(PreservedConfigWrite, ATargetThatVanishesIsNotBroughtBack) {
    // The user deleted the file while the new bytes were being staged: it stays deleted.
    for (const Step when : {Step::checked, Step::staged, Step::written}) {
        SCOPED_TRACE(PreservedConfig::stepName(when));
        resetFolder();
        writeTarget("ours");
        expectPlatformError(ENOENT, [&] {
            PreservedConfig::writeForTesting(target, "ours", "new", [&](Step step) {
                if (step == when)
                    fs::remove(target);
            });
        });
        EXPECT_TRUE(namesIn(folder).empty());
    }
}

TEST_F(PreservedConfigWrite, AFolderMovedAsideKeepsNoStagedFile) {
    // The user moved the whole folder away mid-write: the write fails, and the staged copy is
    // removed from where the folder went, not looked for at the old path.
    const auto moved = folder.parent_path() / (folder.filename().string() + "-moved");
    for (const Step when : {Step::staged, Step::written}) {
        SCOPED_TRACE(PreservedConfig::stepName(when));
        resetFolder();
        fs::remove_all(moved);
        writeTarget("ours");
        EXPECT_ANY_THROW(PreservedConfig::writeForTesting(target, "ours", "new", [&](Step step) {
            if (step == when)
                fs::rename(folder, moved);
        }));
        EXPECT_EQ(namesIn(moved), std::vector<std::string>{target.filename().string()});
        EXPECT_EQ(test::slurp(moved / target.filename()), "ours");
    }
    fs::remove_all(moved);
}

TEST_F(PreservedConfigWrite, LaterChangesBeforeTheCommitAreRefused) {
    struct Row {
        Step step;
        // What the backup holds afterwards: it is made from whatever the target held.
        std::string backup;
    };
    const Row rows[] = {{Step::rechecked, "theirs"}, {Step::backedUp, "ours"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(PreservedConfig::stepName(row.step));
        resetFolder();
        writeTarget("ours");

        expectUnsupported([&] {
            PreservedConfig::writeForTesting(target, "ours", "new", [&](Step step) {
                if (step == row.step)
                    home.write(target.lexically_relative(home.path()), "theirs");
            });
        });

        EXPECT_EQ(test::slurp(target), "theirs");
        EXPECT_TRUE(siblingsWith(target, "orvek-stage-").empty());
        const auto backups = siblingsWith(target, "orvek-backup-");
        ASSERT_EQ(backups.size(), 1U);
        EXPECT_EQ(test::slurp(backups[0]), row.backup);
        EXPECT_EQ(namesIn(folder).size(), 2U);
    }
}

TEST_F(PreservedConfigWrite, FailedRenameIsRefusedAndKeepsTheBackup) {
    writeTarget("ours");
    // A folder in the target's place cannot be replaced by a file.
    expectUnsupported([&] {
        PreservedConfig::writeForTesting(target, "ours", "new", [&](Step step) {
            if (step == Step::verified) {
                fs::remove(target);
                fs::create_directory(target);
            }
        });
    });

    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_TRUE(fs::is_empty(target));
    EXPECT_TRUE(siblingsWith(target, "orvek-stage-").empty());
    const auto backups = siblingsWith(target, "orvek-backup-");
    ASSERT_EQ(backups.size(), 1U);
    EXPECT_EQ(test::slurp(backups[0]), "ours");
}

TEST_F(PreservedConfigWrite, ChangeRightAfterTheCommitIsReported) {
    writeTarget("ours");
    expectUnsupported([&] {
        PreservedConfig::writeForTesting(target, "ours", "new", [&](Step step) {
            if (step == Step::renamed)
                home.write(target.lexically_relative(home.path()), "theirs");
        });
    });

    EXPECT_EQ(test::slurp(target), "theirs");
    EXPECT_TRUE(siblingsWith(target, "orvek-stage-").empty());
    const auto backups = siblingsWith(target, "orvek-backup-");
    ASSERT_EQ(backups.size(), 1U);
    EXPECT_EQ(test::slurp(backups[0]), "ours");
}

TEST_F(PreservedConfigWrite, FailureAtAnyStepLeavesNoStagedFile) {
    for (const Step failing : kAllSteps) {
        SCOPED_TRACE(PreservedConfig::stepName(failing));
        resetFolder();
        writeTarget("ours", 0640);
        std::vector<Step> reached;

        EXPECT_THROW(PreservedConfig::writeForTesting(target, "ours", "new",
                                                      [&](Step step) {
                                                          reached.push_back(step);
                                                          if (step == failing)
                                                              throw std::runtime_error("stop");
                                                      }),
                     std::runtime_error);

        // Steps come in their declared order, each once.
        ASSERT_EQ(reached.size(), static_cast<std::size_t>(failing) + 1);
        EXPECT_TRUE(std::equal(reached.begin(), reached.end(), kAllSteps.begin()));
        EXPECT_EQ(test::slurp(target), failing == Step::renamed ? "new" : "ours");
        EXPECT_EQ(stateOf(target).mode & 07777, 0640U);
        EXPECT_TRUE(siblingsWith(target, "orvek-stage-").empty());
        const auto backups = siblingsWith(target, "orvek-backup-");
        EXPECT_EQ(backups.size(), failing >= Step::backedUp ? 1U : 0U);
        for (const auto& backup : backups)
            EXPECT_EQ(test::slurp(backup), "ours");
        EXPECT_EQ(namesIn(folder).size(), 1 + backups.size());
    }
}

// Runs `body` as user 65534 in a child when we are root, so that folder permissions bind;
// `realOnly` keeps root as the effective user. Returns what the body threw, or "ok".
std::string outcomeAs(bool dropPrivileges, bool realOnly, const std::function<void()>& body) {
    const auto describe = [&]() -> std::string {
        try {
            body();
            return "ok";
        } catch (const base::PlatformError& error) {
            return "errno " + std::to_string(error.errnoValue()) + ": " + error.what();
        } catch (const InstallerFailure& failure) {
            return failure.code().value_or("") + ": " + failure.message();
        } catch (const std::exception& error) {
            return std::string("other: ") + error.what();
        }
    };
    return dropPrivileges ? test::runAsNobody(describe, realOnly) : describe();
}

TEST_F(PreservedConfigWrite, ReadOnlyFolderIsThePlatformError) {
    writeTarget("ours");
    if (isRoot()) {
        // Root writes anywhere: the write runs as an ordinary user who owns file and folder.
        ASSERT_EQ(::chmod(home.path().c_str(), 0711), 0);
        ASSERT_EQ(::chown(folder.c_str(), kNobody, kNobody), 0);
        ASSERT_EQ(::chown(target.c_str(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(::chmod(folder.c_str(), 0500), 0);
    const auto before = stateOf(target);

    const auto outcome =
        outcomeAs(isRoot(), false, [&] { PreservedConfig::write(target, "ours", "new"); });

    const auto prefix = "errno " + std::to_string(EACCES) + ": Не удалось создать файл «" +
                        (folder / "opencode.json.orvek-stage-").string();
    EXPECT_TRUE(outcome.starts_with(prefix)) << outcome;
    EXPECT_TRUE(outcome.ends_with("»: нет доступа.")) << outcome;
    EXPECT_EQ(stateOf(target), before);
    EXPECT_EQ(namesIn(folder), std::vector<std::string>{"opencode.json"});
}

TEST_F(PreservedConfigWrite, OwnerMustBeTheRealUser) {
    if (!isRoot())
        GTEST_SKIP() << "needs root to run as two users at once";
    ASSERT_EQ(::chmod(home.path().c_str(), 0711), 0);
    // Real user 65534, effective user root: the file must belong to the one who started us.
    struct Row {
        const char* name;
        uid_t owner;
        std::string outcome;
        const char* bytes;
    };
    const Row rows[] = {
        {"the real user's file", kNobody, "ok", "new"},
        {"the effective user's file", 0, std::string(kUnsupportedCode) + ": " + kUnsupported,
         "ours"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        resetFolder();
        writeTarget("ours", 0640);
        ASSERT_EQ(::chown(target.c_str(), row.owner, kNobody), 0);
        const auto before = stateOf(target);

        const auto outcome =
            outcomeAs(true, true, [&] { PreservedConfig::write(target, "ours", "new"); });

        EXPECT_EQ(outcome, row.outcome);
        const auto after = stateOf(target);
        EXPECT_EQ(after.bytes, row.bytes);
        EXPECT_EQ(after.mode, before.mode);
        EXPECT_EQ(after.owner, before.owner);
        EXPECT_EQ(after.group, before.group);
    }
}

} // namespace
} // namespace orvek::config
