#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Fixtures.h"
#include "Outcome.h"
#include "TempHome.h"
#include "base/Hashing.h"
#include "base/PlatformError.h"
#include "installer/InstallerCore.h"

namespace orvek::installer {
namespace {

namespace fs = std::filesystem;

constexpr const char* kInvalid = "Неверные сведения о загрузке.";
constexpr const char* kDamaged =
    "Сохранённая загрузка повреждена. Удалите её из кэша мастера и повторите.";
constexpr const char* kNoDownload = "Не удалось скачать компонент. Проверьте интернет и повторите.";
constexpr const char* kChecksum = "Контрольная сумма загрузки не совпала.";
constexpr const char* kLinkMessage =
    "Путь содержит символическую ссылку. Выберите обычную локальную папку.";

constexpr const char* kUrl = "https://downloads.example.com/OpenCode-2.1.4-arm64.dmg";
constexpr const char* kName = "OpenCode-2.1.4-arm64.dmg";

std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A curl stand-in: records every argument, one a line, then does what the test asks with
// $out, the path given after --output.
class Download : public ::testing::Test {
protected:
    Download() : m_payload(test::pseudoRandomBytes(200'000, 7)) {
        home.write("fixture/payload", m_payload);
    }

    [[nodiscard]] InstallerCore core() const {
        Deployment deployment;
        deployment.curl = home / "bin/curl";
        return InstallerCore(home / "resources", home.path(), home / ".config", deployment);
    }
    [[nodiscard]] fs::path downloads() const { return core().root() / "downloads"; }
    [[nodiscard]] fs::path target() const { return downloads() / kName; }
    [[nodiscard]] std::string payloadHash() const { return base::hash(m_payload); }
    [[nodiscard]] const std::string& payload() const { return m_payload; }

    void standIn(const std::string& action) const {
        (void)home.script("bin/curl", "out=''\nprev=''\nfor a in \"$@\"; do\n"
                                      "  printf '%s\\n' \"$a\" >> '" +
                                          (home / "curl-args").string() +
                                          "'\n"
                                          "  if [ \"$prev\" = --output ]; then out=$a; fi\n"
                                          "  prev=$a\ndone\n" +
                                          action);
    }
    void servePayload() const {
        standIn("cat '" + (home / "fixture/payload").string() + "' > \"$out\"");
    }

    [[nodiscard]] bool curlRan() const { return fs::exists(home / "curl-args"); }
    [[nodiscard]] std::vector<std::string> curlArguments() const {
        std::vector<std::string> lines;
        std::istringstream text(test::slurp(home / "curl-args"));
        for (std::string line; std::getline(text, line);)
            lines.push_back(line);
        return lines;
    }

    test::TempHome home;

private:
    std::string m_payload;
};

TEST_F(Download, RefusesInvalidDetailsBeforeRunningOrCreatingAnything) {
    const std::string good = payloadHash();
    struct Row {
        const char* name;
        std::string url;
        std::string sha256;
        std::string file;
    };
    std::string upper = good;
    for (auto& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const Row rows[] = {
        {"plain http", "http://downloads.example.com/a.dmg", good, kName},
        {"upper-case scheme", "HTTPS://downloads.example.com/a.dmg", good, kName},
        {"no address", "", good, kName},
        {"upper-case hash", kUrl, upper, kName},
        {"63 digits", kUrl, good.substr(1), kName},
        {"65 digits", kUrl, good + "0", kName},
        {"not hexadecimal", kUrl, good.substr(1) + "g", kName},
        {"name with a slash", kUrl, good, "../OpenCode.dmg"},
        {"name with a trailing slash", kUrl, good, "OpenCode.dmg/"},
        {"empty name", kUrl, good, ""},
        {"dot", kUrl, good, "."},
        {"dot dot", kUrl, good, ".."},
        {"name with a NUL", kUrl, good, std::string("a\0b", 3)},
    };
    servePayload();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(test::outcomeOf([&] { (void)core().download(row.url, row.sha256, row.file); }),
                  test::failureText(kInvalid));
        EXPECT_FALSE(curlRan());
        EXPECT_FALSE(fs::exists(home / "Library"));
    }
}

TEST_F(Download, RunsCurlWithExactlyTheseArguments) {
    servePayload();
    (void)core().download(kUrl, payloadHash(), kName);

    const auto recorded = curlArguments();
    ASSERT_EQ(recorded.size(), 15U);
    const fs::path output = recorded[13];
    EXPECT_EQ(output.parent_path(), downloads());
    EXPECT_TRUE(std::regex_match(
        output.filename().string(),
        std::regex(
            "[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.download")))
        << output;
    const std::vector<std::string> expected = {"--fail",
                                               "--location",
                                               "--proto",
                                               "=https",
                                               "--proto-redir",
                                               "=https",
                                               "--connect-timeout",
                                               "30",
                                               "--max-time",
                                               "1800",
                                               "--retry",
                                               "2",
                                               "--output",
                                               output.string(),
                                               kUrl};
    EXPECT_EQ(recorded, expected);
}

TEST_F(Download, StoresTheVerifiedFileUnderItsName) {
    servePayload();
    const auto result = core().download(kUrl, payloadHash(), kName);
    EXPECT_EQ(result, target());
    EXPECT_EQ(test::slurp(result), payload());
    EXPECT_EQ(entries(downloads()), std::vector<std::string>{kName});
}

TEST_F(Download, ReturnsTheCachedFileWithoutRunningCurl) {
    servePayload();
    (void)core().download(kUrl, payloadHash(), kName);
    fs::remove(home / "curl-args");
    // A second run must not need the network at all.
    standIn("exit 6");

    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        EXPECT_EQ(core().download(kUrl, payloadHash(), kName), target());
        EXPECT_FALSE(curlRan());
        EXPECT_EQ(test::slurp(target()), payload());
    }
}

TEST_F(Download, ReportsADamagedCacheOnEveryRetryAndKeepsIt) {
    servePayload();
    std::string damaged = payload();
    damaged[damaged.size() / 2] ^= 0x01;
    home.write(target().lexically_relative(home.path()), damaged);

    for (int attempt = 0; attempt < 3; ++attempt) {
        SCOPED_TRACE(attempt);
        EXPECT_EQ(test::outcomeOf([&] { (void)core().download(kUrl, payloadHash(), kName); }),
                  test::failureText(kDamaged));
        EXPECT_FALSE(curlRan());
        EXPECT_EQ(test::slurp(target()), damaged);
        EXPECT_EQ(entries(downloads()), std::vector<std::string>{kName});
    }
}

TEST_F(Download, FailedTransfersLeaveNothingBehind) {
    const std::string payloadPath = (home / "fixture/payload").string();
    struct Row {
        const char* name;
        std::string action;
        const char* message;
    };
    const Row rows[] = {
        {"curl fails at once", "exit 22", kNoDownload},
        {"curl fails after part of the file",
         "head -c 1000 '" + payloadPath + "' > \"$out\"\nexit 22", kNoDownload},
        {"killed by a signal", "head -c 1000 '" + payloadPath + "' > \"$out\"\nkill -9 $$",
         kNoDownload},
        {"different bytes", "printf 'not the payload' > \"$out\"", kChecksum},
        {"truncated", "head -c 199999 '" + payloadPath + "' > \"$out\"", kChecksum},
        {"payload with one byte more", "cat '" + payloadPath + "' > \"$out\"\nprintf x >> \"$out\"",
         kChecksum},
        {"nothing written", "exit 0", kChecksum},
        {"a pipe instead of a file", "mkfifo \"$out\"", kChecksum},
        {"a folder instead of a file", "mkdir \"$out\"", kChecksum},
        {"a link to the payload", "ln -s '" + payloadPath + "' \"$out\"", kLinkMessage},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        standIn(row.action);
        EXPECT_EQ(test::outcomeOf([&] { (void)core().download(kUrl, payloadHash(), kName); }),
                  test::failureText(row.message));
        EXPECT_TRUE(curlRan());
        EXPECT_EQ(entries(downloads()), std::vector<std::string>{});
        fs::remove(home / "curl-args");
    }
}

TEST_F(Download, NeverReplacesAFileThatAppearedDuringTheDownload) {
    const std::string payloadPath = (home / "fixture/payload").string();
    const std::string targetPath = target().string();
    struct Row {
        const char* name;
        std::string action;
    };
    const Row rows[] = {
        {"a file", "printf theirs > '" + targetPath + "'"},
        {"a link", "ln -s '" + payloadPath + "' '" + targetPath + "'"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        standIn(row.action + "\ncat '" + payloadPath + "' > \"$out\"");
        if (std::string(row.name) == "a file") {
            try {
                (void)core().download(kUrl, payloadHash(), kName);
                ADD_FAILURE() << "expected EEXIST";
            } catch (const base::PlatformError& error) {
                EXPECT_EQ(error.errnoValue(), EEXIST) << error.what();
            }
            EXPECT_EQ(test::slurp(target()), "theirs");
        } else {
            EXPECT_EQ(test::outcomeOf([&] { (void)core().download(kUrl, payloadHash(), kName); }),
                      test::failureText(kLinkMessage));
            EXPECT_TRUE(fs::is_symlink(target()));
        }
        EXPECT_EQ(entries(downloads()), std::vector<std::string>{kName});
        fs::remove(target());
    }
}

TEST_F(Download, RefusesLinksInTheCachePath) {
    servePayload();
    fs::create_directories(home / "elsewhere");
    home.write("elsewhere/OpenCode.dmg", payload());
    struct Row {
        const char* name;
        fs::path link;
        fs::path destination;
    };
    const Row rows[] = {
        {"cache folder", downloads(), home / "elsewhere"},
        {"cached file", target(), home / "elsewhere/OpenCode.dmg"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::create_directories(row.link.parent_path());
        fs::create_symlink(row.destination, row.link);
        EXPECT_EQ(test::outcomeOf([&] { (void)core().download(kUrl, payloadHash(), kName); }),
                  test::failureText(kLinkMessage));
        EXPECT_FALSE(curlRan());
        EXPECT_EQ(entries(home / "elsewhere"), std::vector<std::string>{"OpenCode.dmg"});
        fs::remove(row.link);
    }
}

// What the download observer heard, with when, in order.
struct Heard {
    std::optional<DownloadProgress> progress;
    std::chrono::steady_clock::time_point at;
};

/// `grew` hears each size the observer is told, as it is told.
std::vector<Heard> downloadWatched(InstallerCore core, const std::string& sha256,
                                   std::optional<std::uint64_t> expected, std::string& outcome,
                                   const std::function<void(std::uint64_t)>& grew = {}) {
    std::vector<Heard> heard;
    core.setDownloadObserver([&](const std::optional<DownloadProgress>& progress) {
        heard.push_back({progress, std::chrono::steady_clock::now()});
        if (progress && grew)
            grew(progress->received);
    });
    outcome = test::outcomeOf([&] { (void)core.download(kUrl, sha256, kName, expected); });
    return heard;
}

// curl writes the payload in four parts; the engine sees the file grow. Before each next part
// curl waits until the observer was told the last one (a mark per size told), for at most ten
// seconds, so the growth is seen however slowly the engine looks.
TEST_F(Download, PublishesTheGrowthOfTheUnfinishedFileAndThenItsEnd) {
    const auto told = home / "told";
    standIn("for part in 0 1 2 3; do\n"
            "  dd if='" +
            (home / "fixture/payload").string() +
            "' bs=50000 skip=$part count=1 status=none >> \"$out\"\n"
            "  tries=0\n"
            "  while [ $part -lt 3 ] && [ $tries -lt 200 ] &&\n"
            "        [ ! -e '" +
            told.string() +
            "'/$(( (part + 1) * 50000 )) ]; do\n"
            "    sleep 0.05; tries=$((tries + 1))\n"
            "  done\n"
            "done");
    for (const std::optional<std::uint64_t> expected :
         {std::optional<std::uint64_t>(200'000), std::optional<std::uint64_t>()}) {
        SCOPED_TRACE(expected ? "with a size" : "without a size");
        fs::remove_all(downloads());
        fs::remove_all(told);
        fs::create_directories(told);
        std::string outcome;
        const auto heard =
            downloadWatched(core(), payloadHash(), expected, outcome, [&](std::uint64_t size) {
                std::ofstream(told / std::to_string(size)).flush();
            });
        EXPECT_EQ(outcome, test::kPassed);

        ASSERT_GE(heard.size(), 4U) << "the start, some growth and the end";
        EXPECT_EQ(heard.front().progress, (DownloadProgress{0, expected}));
        EXPECT_FALSE(heard.back().progress.has_value());
        std::uint64_t last = 0;
        for (std::size_t i = 1; i + 1 < heard.size(); ++i) {
            ASSERT_TRUE(heard[i].progress.has_value()) << "the end is told once, last";
            EXPECT_GT(heard[i].progress->received, last) << "only changes are told";
            EXPECT_LE(heard[i].progress->received, 200'000U);
            EXPECT_EQ(heard[i].progress->expected, expected);
            last = heard[i].progress->received;
            if (i > 1) {
                EXPECT_GE(heard[i].at - heard[i - 1].at, std::chrono::milliseconds(250))
                    << "never looked at more often than every 250 ms";
            }
        }
        EXPECT_GE(last, 100'000U) << "growth between the parts was seen";
    }
}

TEST_F(Download, EndsTheProgressOnFailuresAndSaysNothingForTheCache) {
    struct Row {
        const char* name;
        std::string action;
        std::string expected;
    };
    const Row rows[] = {
        {"curl fails", "printf partial > \"$out\"; sleep 0.4; exit 22",
         test::failureText(kNoDownload)},
        {"wrong bytes", "printf other > \"$out\"; sleep 0.4", test::failureText(kChecksum)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(home / "curl-args");
        standIn(row.action);
        std::string outcome;
        const auto heard = downloadWatched(core(), payloadHash(), 7, outcome);
        EXPECT_EQ(outcome, row.expected);
        ASSERT_FALSE(heard.empty());
        EXPECT_FALSE(heard.back().progress.has_value());
        EXPECT_EQ(
            std::count_if(heard.begin(), heard.end(), [](const Heard& h) { return !h.progress; }),
            1);
    }

    servePayload();
    std::string outcome;
    (void)downloadWatched(core(), payloadHash(), std::nullopt, outcome);
    ASSERT_EQ(outcome, test::kPassed);
    EXPECT_TRUE(downloadWatched(core(), payloadHash(), std::nullopt, outcome).empty())
        << "a cached file downloads nothing";
    EXPECT_EQ(outcome, test::kPassed);
}

TEST(PayloadSize, IsAPositiveCountInDecimalDigitsOrNothing) {
    struct Row {
        const char* text;
        std::optional<std::uint64_t> size;
    };
    const Row rows[] = {
        {"121400000", 121'400'000},
        {"1", 1},
        {"007", 7},
        {"18446744073709551615", UINT64_MAX},
        {"18446744073709551616", std::nullopt},
        {"0", std::nullopt},
        {"", std::nullopt},
        {"-5", std::nullopt},
        {"+5", std::nullopt},
        {"5 ", std::nullopt},
        {" 5", std::nullopt},
        {"1e6", std::nullopt},
        {"12.5", std::nullopt},
        {"٣", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(InstallerCore::payloadSize({{"url", kUrl}, {"size", row.text}}), row.size);
    }
    EXPECT_EQ(InstallerCore::payloadSize({{"url", kUrl}}), std::nullopt);
}

class HashFile : public ::testing::Test {
protected:
    test::TempHome home;
};

TEST_F(HashFile, KnownDigests) {
    home.write("empty", "");
    home.write("abc", "abc");
    EXPECT_EQ(base::hashFile(home / "empty"),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(base::hashFile(home / "abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_F(HashFile, MatchesTheInMemoryHashAcrossReadBoundaries) {
    // The file is read in chunks of this size.
    constexpr std::size_t kChunk = 1'048'576;
    const std::size_t sizes[] = {1, kChunk - 1, kChunk, kChunk + 1, 3 * kChunk + 7};
    for (const auto size : sizes) {
        SCOPED_TRACE(size);
        const auto bytes = test::pseudoRandomBytes(size, static_cast<unsigned>(size));
        home.write("payload", bytes);
        EXPECT_EQ(base::hashFile(home / "payload"), base::hash(bytes));
    }
}

TEST_F(HashFile, RefusesWhatIsNotAPlainFile) {
    home.write("file", "abc");
    fs::create_directories(home / "folder");
    fs::create_symlink(home / "file", home / "link");
    struct Row {
        const char* name;
        fs::path path;
        int error;
    };
    const Row rows[] = {
        {"missing", home / "missing", ENOENT},
        {"folder", home / "folder", EISDIR},
        {"link", home / "link", ELOOP},
        {"device", "/dev/zero", EINVAL},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            (void)base::hashFile(row.path);
            ADD_FAILURE() << "expected a platform error";
        } catch (const base::PlatformError& error) {
            EXPECT_EQ(error.errnoValue(), row.error) << error.what();
            EXPECT_EQ(error.path(), row.path);
        }
    }
}

} // namespace
} // namespace orvek::installer
