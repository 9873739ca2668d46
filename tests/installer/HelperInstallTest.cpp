#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Fixtures.h"
#include "Outcome.h"
#include "TempHome.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "base/JsonError.h"
#include "base/PlatformError.h"
#include "base/ProcessRunner.h"
#include "installer/InstallerCore.h"

namespace orvek::installer {
namespace {

namespace fs = std::filesystem;

constexpr const char* kMissing = "Отсутствует компонент подключения.";
constexpr const char* kDamaged = "Архив подключения повреждён.";
constexpr const char* kContent = "Неподдерживаемое содержимое архива подключения.";
constexpr const char* kUnpack = "Не удалось распаковать подключение.";
constexpr const char* kChecksum = "Контрольная сумма подключения не совпала.";
constexpr const char* kChanged = "Компонент подключения изменён. Повторите установку.";
constexpr const char* kNoBinaryHash = "Отсутствует проверенная контрольная сумма подключения.";
constexpr const char* kUnsupportedManifest = "Неподдерживаемый файл настроек.";
constexpr const char* kLinkMessage =
    "Путь содержит символическую ссылку. Выберите обычную локальную папку.";

constexpr const char* kUrl = "https://downloads.example.com/orvek-0.1.10-arm64.tar.gz";
constexpr const char* kArchiveName = "orvek-0.1.10-arm64.tar.gz";

std::string upper(std::string text) {
    for (auto& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// One simulated Mac: a home with the manifest in its resources, a curl stand-in that serves a
// fixture archive and records that it ran, and the real tar unless a test puts a script there.
class Bench {
public:
    Bench() : m_binary(test::pseudoRandomBytes(300'000, 11)) {
        home.write("fixture/plain/orvek", m_binary);
    }

    // Packs `entries` of fixture/`folder` with the real tar into fixture/`name`.
    [[nodiscard]] fs::path pack(const std::string& name, const std::string& folder,
                                const std::vector<std::string>& entries,
                                const std::vector<std::string>& options = {}) const {
        const auto archive = home / "fixture" / name;
        std::vector<std::string> arguments = {"-C", (home / "fixture" / folder).string(), "-czf",
                                              archive.string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.insert(arguments.end(), entries.begin(), entries.end());
        const auto result = base::run("/usr/bin/tar", arguments, std::nullopt, 60);
        EXPECT_EQ(result.status, 0) << result.standardError;
        return archive;
    }
    [[nodiscard]] fs::path plainArchive() const { return pack("plain.tgz", "plain", {"orvek"}); }

    // Serves `archive` from the curl stand-in, pins its hash and writes a matching manifest.
    void offer(const fs::path& archive) {
        (void)home.script("bin/curl", "out=''\nprev=''\nfor a in \"$@\"; do\n"
                                      "  if [ \"$prev\" = --output ]; then out=$a; fi\n"
                                      "  prev=$a\ndone\n"
                                      "printf 'ran\\n' >> '" +
                                          (home / "curl-ran").string() + "'\ncat '" +
                                          archive.string() + "' > \"$out\"");
        m_pinned = base::hashFile(archive);
        manifest(
            {{"cli-arm64", {{"url", kUrl}, {"sha256", m_pinned}, {"binarySha256", binaryHash()}}}});
    }
    void manifest(const JsonValue& value) const {
        home.write("resources/payloads.json", value.dump());
    }

    void useTar(const std::string& body) { m_tar = home.script("bin/tar", body); }
    // The real tar behind a script that writes each run's arguments, one run a line.
    void logTar() {
        useTar("printf '%s\\n' \"$*\" >> '" + (home / "tar-log").string() +
               "'\nexec /usr/bin/tar \"$@\"");
    }

    [[nodiscard]] InstallerCore core() const {
        Deployment deployment = Deployment::production();
        deployment.curl = home / "bin/curl";
        deployment.tar = m_tar;
        deployment.helperArchiveHash = m_pinned;
        return InstallerCore(home / "resources", home.path(), home / ".config", deployment);
    }
    [[nodiscard]] fs::path root() const { return core().root(); }
    [[nodiscard]] fs::path helper() const { return core().helper(); }

    [[nodiscard]] bool curlRan() const { return fs::exists(home / "curl-ran"); }
    [[nodiscard]] std::string tarLog() const {
        return fs::exists(home / "tar-log") ? test::slurp(home / "tar-log") : std::string();
    }
    [[nodiscard]] std::vector<std::string> stagingLeft() const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(root(), error))
            if (entry.path().filename().string().starts_with("helper-stage-"))
                names.push_back(entry.path().filename().string());
        return names;
    }
    [[nodiscard]] bool helperPresent() const {
        std::error_code error;
        return fs::symlink_status(helper(), error).type() != fs::file_type::not_found;
    }

    [[nodiscard]] const std::string& binary() const { return m_binary; }
    [[nodiscard]] std::string binaryHash() const { return base::hash(m_binary); }
    [[nodiscard]] const std::string& pinned() const { return m_pinned; }

    test::TempHome home;

private:
    std::string m_binary;
    std::string m_pinned = std::string(Deployment::production().helperArchiveHash);
    fs::path m_tar = "/usr/bin/tar";
};

void expectInstalled(const Bench& bench) {
    EXPECT_EQ(test::slurp(bench.helper()), bench.binary());
    struct stat attributes {};
    ASSERT_EQ(::lstat(bench.helper().c_str(), &attributes), 0);
    EXPECT_TRUE(S_ISREG(attributes.st_mode));
    EXPECT_EQ(attributes.st_mode & 07777, 0700U);
    EXPECT_TRUE(bench.stagingLeft().empty());
}

void expectNothingInstalled(const Bench& bench) {
    EXPECT_FALSE(bench.helperPresent());
    EXPECT_TRUE(bench.stagingLeft().empty());
}

TEST(HelperInstall, InstallsTheSingleEntryWithOwnerOnlyModeAndKeepsTheArchiveCached) {
    struct Row {
        const char* name;
        const char* entry;
    };
    const Row rows[] = {{"plain name", "orvek"}, {"dotted name", "./orvek"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        const auto archive = bench.pack("helper.tgz", "plain", {row.entry});
        bench.offer(archive);

        bench.core().installHelper();

        expectInstalled(bench);
        EXPECT_TRUE(bench.curlRan());
        EXPECT_EQ(test::slurp(bench.root() / "downloads" / kArchiveName), test::slurp(archive));
    }
}

// The listing is judged line by line; blank lines and a missing final line feed do not count.
TEST(HelperInstall, AcceptsTheListingWithoutFinalLineFeedOrWithBlankLines) {
    struct Row {
        const char* name;
        const char* listing;
    };
    const Row rows[] = {
        {"no final line feed", "orvek"},
        {"dotted, no final line feed", "./orvek"},
        {"blank lines around", "\\n\\norvek\\n\\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        bench.offer(bench.plainArchive());
        bench.useTar(std::string("if [ \"$1\" = -tzf ]; then printf '") + row.listing +
                     "'; exit 0; fi\nexec /usr/bin/tar \"$@\"");

        bench.core().installHelper();

        expectInstalled(bench);
    }
}

TEST(HelperInstall, PresentUnchangedHelperIsVerifiedWithoutDownloadOrTar) {
    Bench bench;
    bench.offer(bench.plainArchive());
    bench.core().installHelper();
    fs::remove(bench.home / "curl-ran");
    bench.logTar();

    bench.core().installHelper();
    bench.core().verifyHelper();

    EXPECT_FALSE(bench.curlRan());
    EXPECT_EQ(bench.tarLog(), "");
    expectInstalled(bench);
}

TEST(HelperInstall, RefusesAManifestEntryThatIsNotThePinnedArchiveBeforeDownloading) {
    Bench bench;
    bench.offer(bench.plainArchive());
    bench.logTar();
    const std::string pinned = bench.pinned();
    const std::string binary = bench.binaryHash();
    const std::string other = base::hash("another build");
    struct Row {
        const char* name;
        JsonValue manifest;
    };
    const Row rows[] = {
        {"other archive hash",
         {{"cli-arm64", {{"url", kUrl}, {"sha256", other}, {"binarySha256", binary}}}}},
        {"pinned hash in upper case",
         {{"cli-arm64", {{"url", kUrl}, {"sha256", upper(pinned)}, {"binarySha256", binary}}}}},
        {"no archive hash", {{"cli-arm64", {{"url", kUrl}, {"binarySha256", binary}}}}},
        {"no address", {{"cli-arm64", {{"sha256", pinned}, {"binarySha256", binary}}}}},
        {"no entry", {{"arm64", {{"url", kUrl}, {"sha256", pinned}}}}},
        {"entry is a string", {{"cli-arm64", kUrl}}},
        {"address is a number",
         {{"cli-arm64", {{"url", 7}, {"sha256", pinned}, {"binarySha256", binary}}}}},
        {"another value is not a string",
         {{"cli-arm64", {{"url", kUrl}, {"sha256", pinned}, {"binarySha256", nullptr}}}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        bench.manifest(row.manifest);

        EXPECT_EQ(test::outcomeOf([&] { bench.core().installHelper(); }),
                  test::failureText(kMissing));

        EXPECT_FALSE(bench.curlRan());
        EXPECT_FALSE(fs::exists(bench.root() / "downloads"));
        EXPECT_EQ(bench.tarLog(), "");
        EXPECT_FALSE(bench.helperPresent());
    }
}

TEST(HelperInstall, ManifestDecodingErrorsPassAndOtherTopValuesAreRefused) {
    Bench bench;
    bench.offer(bench.plainArchive());

    bench.home.write("resources/payloads.json", "[]");
    EXPECT_EQ(test::outcomeOf([&] { bench.core().installHelper(); }),
              test::failureText(kUnsupportedManifest));

    bench.home.write("resources/payloads.json", "{\"cli-arm64\": ");
    EXPECT_THROW(bench.core().installHelper(), base::JsonError);
    EXPECT_FALSE(bench.curlRan());
}

TEST(HelperInstall, RefusesAnExecutableHashThatIsNotLowerCaseHex) {
    struct Row {
        const char* name;
        std::string (*written)(const std::string& good);
    };
    const Row rows[] = {
        {"upper case", [](const std::string& good) { return upper(good); }},
        {"63 digits", [](const std::string& good) { return good.substr(1); }},
        {"65 digits", [](const std::string& good) { return good + "0"; }},
        {"not hexadecimal", [](const std::string& good) { return good.substr(1) + "g"; }},
        {"empty", [](const std::string&) { return std::string(); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        bench.offer(bench.plainArchive());
        bench.manifest({{"cli-arm64",
                         {{"url", kUrl},
                          {"sha256", bench.pinned()},
                          {"binarySha256", row.written(bench.binaryHash())}}}});

        EXPECT_EQ(test::outcomeOf([&] { bench.core().installHelper(); }),
                  test::failureText(kNoBinaryHash));
        expectNothingInstalled(bench);
        EXPECT_EQ(test::outcomeOf([&] { (void)bench.core().helperBinaryHash(); }),
                  test::failureText(kNoBinaryHash));
    }

    Bench bench;
    bench.offer(bench.plainArchive());
    bench.manifest({{"cli-arm64", {{"url", kUrl}, {"sha256", bench.pinned()}}}});
    EXPECT_EQ(test::outcomeOf([&] { (void)bench.core().helperBinaryHash(); }),
              test::failureText(kNoBinaryHash));
}

TEST(HelperInstall, RefusesArchiveContentOtherThanOneEntryBeforeUnpacking) {
    struct Row {
        const char* name;
        std::vector<std::string> entries;
        bool orvekIsFolder;
    };
    const Row rows[] = {
        {"a read-me beside it", {"orvek", "README"}, false},
        {"inside a folder", {"bin/orvek"}, false},
        {"another name", {"orvek-cli"}, false},
        {"a folder named orvek", {"orvek"}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        bench.home.write("fixture/tree/README", "read me");
        bench.home.write("fixture/tree/bin/orvek", bench.binary());
        bench.home.write("fixture/tree/orvek-cli", bench.binary());
        if (row.orvekIsFolder)
            bench.home.write("fixture/tree/orvek/x", bench.binary());
        else
            bench.home.write("fixture/tree/orvek", bench.binary());
        bench.offer(bench.pack("helper.tgz", "tree", row.entries));
        bench.logTar();

        EXPECT_EQ(test::outcomeOf([&] { bench.core().installHelper(); }),
                  test::failureText(kContent));

        expectNothingInstalled(bench);
        EXPECT_EQ(bench.tarLog().find("-xzf"), std::string::npos) << bench.tarLog();
    }
}

// The listing shows names only: a link or a folder can carry the accepted name.
TEST(HelperInstall, RefusesAnEntryNamedOrvekThatIsNotAPlainFile) {
    {
        SCOPED_TRACE("symbolic link");
        Bench bench;
        fs::create_directories(bench.home / "fixture/linked");
        fs::create_symlink(bench.home / "fixture/plain/orvek", bench.home / "fixture/linked/orvek");
        bench.offer(bench.pack("helper.tgz", "linked", {"orvek"}));

        EXPECT_EQ(test::outcomeOf([&] { bench.core().installHelper(); }),
                  test::failureText(kContent));

        expectNothingInstalled(bench);
        EXPECT_EQ(test::slurp(bench.home / "fixture/plain/orvek"), bench.binary());
    }
    {
        // GNU tar lists a folder with a final slash; other tars print the stored name as is.
        SCOPED_TRACE("folder");
        Bench bench;
        fs::create_directories(bench.home / "fixture/folder/orvek");
        bench.offer(bench.pack("helper.tgz", "folder", {"orvek"}, {"--no-recursion"}));
        bench.useTar("if [ \"$1\" = -tzf ]; then echo orvek; exit 0; fi\nexec /usr/bin/tar \"$@\"");

        EXPECT_EQ(test::outcomeOf([&] { bench.core().installHelper(); }),
                  test::failureText(kContent));

        expectNothingInstalled(bench);
    }
}

TEST(HelperInstall, RefusesAnArchiveTarCannotListAsText) {
    struct Row {
        const char* name;
        const char* tar;
    };
    const Row rows[] = {
        {"not a gzip archive", nullptr},
        {"listing is not UTF-8",
         "if [ \"$1\" = -tzf ]; then printf 'orvek\\377\\n'; exit 0; fi\nexec /usr/bin/tar \"$@\""},
        {"listing tar fails after printing the name",
         "if [ \"$1\" = -tzf ]; then echo orvek; exit 2; fi\nexec /usr/bin/tar \"$@\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        if (row.tar == nullptr) {
            bench.home.write("fixture/damaged.tgz", test::pseudoRandomBytes(4'096, 3));
            bench.offer(bench.home / "fixture/damaged.tgz");
        } else {
            bench.offer(bench.plainArchive());
            bench.useTar(row.tar);
        }

        EXPECT_EQ(test::outcomeOf([&] { bench.core().installHelper(); }),
                  test::failureText(kDamaged));

        expectNothingInstalled(bench);
    }
}

TEST(HelperInstall, FailedExtractionLeavesNoStagingFolder) {
    Bench bench;
    bench.offer(bench.plainArchive());
    // Lists honestly, then fails half-way through unpacking, leaving a partial file behind.
    bench.useTar("if [ \"$1\" = -tzf ]; then exec /usr/bin/tar \"$@\"; fi\n"
                 "printf 'partial' > \"$4/orvek\"\nexit 2");

    EXPECT_EQ(test::outcomeOf([&] { bench.core().installHelper(); }), test::failureText(kUnpack));

    expectNothingInstalled(bench);
}

TEST(HelperInstall, RefusesAnExecutableWithAnotherHash) {
    Bench bench;
    bench.home.write("fixture/other/orvek", "a different build");
    bench.offer(bench.pack("helper.tgz", "other", {"orvek"}));

    EXPECT_EQ(test::outcomeOf([&] { bench.core().installHelper(); }), test::failureText(kChecksum));

    expectNothingInstalled(bench);
}

TEST(HelperInstall, ReportsAChangedHelperAndLeavesItInPlace) {
    Bench bench;
    bench.offer(bench.plainArchive());
    bench.core().installHelper();
    fs::remove(bench.helper());
    bench.home.write(fs::relative(bench.helper(), bench.home.path()), "changed");

    EXPECT_EQ(test::outcomeOf([&] { bench.core().installHelper(); }), test::failureText(kChanged));
    EXPECT_EQ(test::outcomeOf([&] { bench.core().verifyHelper(); }), test::failureText(kChanged));

    EXPECT_EQ(test::slurp(bench.helper()), "changed");
}

TEST(HelperInstall, VerifyingAMissingHelperPassesThePlatformError) {
    Bench bench;
    bench.offer(bench.plainArchive());
    try {
        bench.core().verifyHelper();
        ADD_FAILURE() << "expected a platform error";
    } catch (const base::PlatformError& error) {
        EXPECT_EQ(error.errnoValue(), ENOENT);
    }
}

// The helper is read first: when it is missing that is what the user is told, whatever state
// the manifest is in.
TEST(HelperInstall, AMissingHelperIsReportedBeforeTheManifest) {
    Bench bench;
    for (const char* manifest : {"[]", "{\"cli-arm64\":{}}", "not json"}) {
        SCOPED_TRACE(manifest);
        bench.home.write("resources/payloads.json", manifest);
        try {
            bench.core().verifyHelper();
            ADD_FAILURE() << "expected a platform error";
        } catch (const base::PlatformError& error) {
            EXPECT_EQ(error.errnoValue(), ENOENT);
            EXPECT_EQ(error.path(), bench.core().helper());
        }
    }
}

TEST(HelperInstall, RefusesAHelperFolderThatIsALink) {
    Bench bench;
    bench.offer(bench.plainArchive());
    bench.home.write("elsewhere/orvek", bench.binary());
    fs::create_directories(bench.root());
    fs::create_symlink(bench.home / "elsewhere", bench.root() / "helper");

    EXPECT_EQ(test::outcomeOf([&] { bench.core().installHelper(); }),
              test::failureText(kLinkMessage));
    EXPECT_EQ(test::outcomeOf([&] { bench.core().verifyHelper(); }),
              test::failureText(kLinkMessage));

    EXPECT_FALSE(bench.curlRan());
    EXPECT_EQ(test::slurp(bench.home / "elsewhere/orvek"), bench.binary());
}

// Someone else's file that takes the name during installation is never overwritten.
TEST(HelperInstall, NeverReplacesAFileThatAppearsAtTheHelperMeanwhile) {
    Bench bench;
    bench.offer(bench.plainArchive());
    const auto folder = bench.helper().parent_path().string();
    bench.useTar("if [ \"$1\" = -xzf ]; then mkdir -p '" + folder + "' && printf 'theirs' > '" +
                 folder + "/orvek'; fi\nexec /usr/bin/tar \"$@\"");

    try {
        bench.core().installHelper();
        ADD_FAILURE() << "expected a platform error";
    } catch (const base::PlatformError& error) {
        EXPECT_EQ(error.errnoValue(), EEXIST);
    }

    EXPECT_EQ(test::slurp(bench.helper()), "theirs");
    EXPECT_TRUE(bench.stagingLeft().empty());
}

} // namespace
} // namespace orvek::installer
