#include <cerrno>
#include <filesystem>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "Outcome.h"
#include "RunAsNobody.h"
#include "Snapshot.h"
#include "TempHome.h"
#include "base/FilePrimitives.h"
#include "base/Hashing.h"
#include "base/InstallerFailure.h"
#include "base/Json.h"
#include "base/JsonError.h"
#include "base/PlatformError.h"

namespace orvek::base {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLinkMessage =
    "Путь содержит символическую ссылку. Выберите обычную локальную папку.";
constexpr const char* kTooLarge = "Файл настроек слишком большой.";
constexpr const char* kUnsupported = "Неподдерживаемый файл настроек.";

// Runs the body with the given umask and restores the previous one.
template <typename Body> void withUmask(mode_t mask, Body body) {
    const mode_t previous = ::umask(mask);
    body();
    ::umask(previous);
}

template <typename Body> PlatformError expectPlatformError(int expectedErrno, Body body) {
    try {
        body();
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.errnoValue(), expectedErrno) << error.what();
        return error;
    }
    ADD_FAILURE() << "expected a platform error " << expectedErrno;
    return PlatformError(0, "", "");
}

class FilePrimitives : public ::testing::Test {
protected:
    test::TempHome home;
};

TEST_F(FilePrimitives, HashIsLowerCaseSha256) {
    EXPECT_EQ(hash(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hash("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hash(std::string("\0\xff", 2)).size(), 64U);
}

TEST_F(FilePrimitives, NoLinksAcceptsPlainAndMissingPaths) {
    home.write("Documents/a.json", "{}");
    EXPECT_NO_THROW(noLinks(home / "Documents/a.json"));
    EXPECT_NO_THROW(noLinks(home / "Documents/not/yet/there.json"));
    EXPECT_NO_THROW(noLinks(home / "Documents//a.json/"));
    EXPECT_NO_THROW(noLinks("/"));
    EXPECT_NO_THROW(noLinks("/tmp/orvek-not-there/x"));
}

TEST_F(FilePrimitives, NoLinksRefusesALinkAnywhereInThePath) {
    fs::create_directories(home / "real/inner");
    home.write("real/file", "x");
    fs::create_directory_symlink(home / "real", home / "Documents");
    fs::create_symlink(home / "real/file", home / "file-link");
    fs::create_symlink(home / "nowhere", home / "dangling");
    // Only the exact system paths /tmp and /var may be links; a user's own "tmp" may not.
    fs::create_directory_symlink("private/tmp", home / "tmp");

    const fs::path refused[] = {
        home / "Documents",         home / "Documents/inner", home / "Documents/inner/new/x",
        home / "file-link",         home / "dangling",        home / "dangling/below",
        home / "Documents/../real", home / "tmp/x",
    };
    for (const auto& path : refused) {
        SCOPED_TRACE(path.string());
        EXPECT_EQ(test::outcomeOf([&] { noLinks(path); }), test::failureText(kLinkMessage));
    }
}

TEST_F(FilePrimitives, ReadAcceptsUpToOneMebibyte) {
    home.write("exact", std::string(1'048'576, 'a'));
    home.write("over", std::string(1'048'577, 'a'));
    home.write("empty", "");
    EXPECT_EQ(read(home / "exact").size(), 1'048'576U);
    EXPECT_EQ(read(home / "empty"), "");
    EXPECT_EQ(test::outcomeOf([&] { (void)read(home / "over"); }), test::failureText(kTooLarge));
}

TEST_F(FilePrimitives, ReadRefusesFilesWithoutASize) {
    ASSERT_EQ(::mkfifo((home / "pipe").c_str(), 0600), 0);
    // A pipe has no size that bounds it; opening it must not block either.
    EXPECT_EQ(test::outcomeOf([&] { (void)read(home / "pipe"); }), test::failureText(kTooLarge));
}

TEST_F(FilePrimitives, ReadPassesPlatformErrorsThrough) {
    const auto missing = expectPlatformError(ENOENT, [&] { (void)read(home / "no"); });
    EXPECT_EQ(std::string(missing.what()), "Не удалось прочитать файл «" + (home / "no").string() +
                                               "»: нет такого файла или папки.");
    fs::create_directory(home / "folder");
    expectPlatformError(EISDIR, [&] { (void)read(home / "folder"); });

    // Root reads anything, so as root the read runs as an ordinary user who owns the file and
    // may pass through the home: only the file's own mode can refuse it.
    const auto secret = home / "secret";
    home.write("secret", "x", fs::perms::none);
    const auto readSecret = [&]() -> std::string {
        try {
            (void)read(secret);
            return "ok";
        } catch (const PlatformError& error) {
            return "errno " + std::to_string(error.errnoValue()) + ": " + error.what();
        }
    };
    std::string outcome;
    if (::geteuid() == 0) {
        ASSERT_EQ(::chmod(home.path().c_str(), 0711), 0);
        ASSERT_EQ(::chown(secret.c_str(), test::kNobody, test::kNobody), 0);
        outcome = test::runAsNobody(readSecret);
    } else {
        outcome = readSecret();
    }
    EXPECT_EQ(outcome, "errno " + std::to_string(EACCES) + ": Не удалось прочитать файл «" +
                           secret.string() + "»: нет доступа.");
}

TEST_F(FilePrimitives, ReadRefusesLinks) {
    home.write("real.json", "{}");
    fs::create_symlink(home / "real.json", home / "link.json");
    EXPECT_EQ(test::outcomeOf([&] { (void)read(home / "link.json"); }),
              test::failureText(kLinkMessage));
}

TEST_F(FilePrimitives, ReadObjectAcceptsOnlyAnObject) {
    home.write("object.json", R"({"model":"orvek/claude-opus-5","n":[1,2]})");
    const auto value = readObject(home / "object.json");
    EXPECT_EQ(value.at("model"), "orvek/claude-opus-5");

    for (const char* text : {"[1,2]", "\"text\"", "3", "null"}) {
        SCOPED_TRACE(text);
        home.write("other.json", text);
        EXPECT_EQ(test::outcomeOf([&] { (void)readObject(home / "other.json"); }),
                  test::failureText(kUnsupported));
    }
}

TEST_F(FilePrimitives, ReadObjectPassesDecoderErrorsThrough) {
    const std::string invalid[] = {"{",
                                   "{\"a\":1,}",
                                   "{\"a\":1} // note",
                                   "{\"a\":\"\xff\"}",
                                   "",
                                   "{} x",
                                   std::string("{\"a\":1}\0junk", 12)};
    for (const auto& text : invalid) {
        SCOPED_TRACE(text);
        home.write("bad.json", text);
        try {
            (void)readObject(home / "bad.json");
            ADD_FAILURE();
        } catch (const JsonError& error) {
            EXPECT_TRUE(error.byteOffset().has_value());
            EXPECT_NE(std::string(error.what()).find((home / "bad.json").string()),
                      std::string::npos);
        }
    }
}

TEST_F(FilePrimitives, CreateWritesANewOwnerOnlyFile) {
    withUmask(0, [&] { create(home / "new.json", "{\"a\":1}"); });
    EXPECT_EQ(test::slurp(home / "new.json"), "{\"a\":1}");
    EXPECT_EQ(test::modeOf(home / "new.json"), 0600U);
    // Made under a name of its own first; nothing but the file is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(home.path()), fs::directory_iterator()), 1);
}

TEST_F(FilePrimitives, CreateNeverReplaces) {
    home.write("user.json", "mine",
               fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    expectPlatformError(EEXIST, [&] { create(home / "user.json", "theirs"); });
    EXPECT_EQ(test::slurp(home / "user.json"), "mine");
    EXPECT_EQ(std::distance(fs::directory_iterator(home.path()), fs::directory_iterator()), 1);
    EXPECT_EQ(test::modeOf(home / "user.json"), 0640U);

    // A dangling link is not a way around it either.
    fs::create_symlink(home / "elsewhere", home / "trap.json");
    EXPECT_EQ(test::outcomeOf([&] { create(home / "trap.json", "x"); }),
              test::failureText(kLinkMessage));
    EXPECT_FALSE(fs::exists(home / "elsewhere"));
}

TEST_F(FilePrimitives, CreateRefusesLinkedFolders) {
    fs::create_directory(home / "real");
    fs::create_directory_symlink(home / "real", home / "linked");
    EXPECT_EQ(test::outcomeOf([&] { create(home / "linked/a.json", "x"); }),
              test::failureText(kLinkMessage));
    EXPECT_TRUE(fs::is_empty(home / "real"));
}

TEST_F(FilePrimitives, CreateInAMissingFolderFails) {
    expectPlatformError(ENOENT, [&] { create(home / "no/a.json", "x"); });
}

TEST_F(FilePrimitives, DirectoryCreatesOwnerOnlyFolders) {
    fs::create_directory(home / "existing");
    fs::permissions(home / "existing", fs::perms(0755));
    withUmask(022, [&] { directory(home / "existing/a/b/c"); });
    for (const char* created : {"existing/a", "existing/a/b", "existing/a/b/c"}) {
        SCOPED_TRACE(created);
        EXPECT_TRUE(fs::is_directory(home / created));
        EXPECT_EQ(test::modeOf(home / created), 0700U);
    }
    EXPECT_EQ(test::modeOf(home / "existing"), 0755U);
    // Existing folders are accepted as they are.
    EXPECT_NO_THROW(directory(home / "existing/a/b"));
    EXPECT_NO_THROW(directory(home / "existing/a/b/"));
}

TEST_F(FilePrimitives, DirectoryRefusesLinksAndFiles) {
    fs::create_directory(home / "real");
    fs::create_directory_symlink(home / "real", home / "linked");
    EXPECT_EQ(test::outcomeOf([&] { directory(home / "linked/a/b"); }),
              test::failureText(kLinkMessage));
    EXPECT_TRUE(fs::is_empty(home / "real"));

    home.write("file", "x");
    expectPlatformError(ENOTDIR, [&] { directory(home / "file"); });
    expectPlatformError(ENOTDIR, [&] { directory(home / "file/below"); });
    EXPECT_EQ(test::slurp(home / "file"), "x");
}

} // namespace
} // namespace orvek::base
