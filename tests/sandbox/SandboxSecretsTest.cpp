// The account key stays in the helper's own key file. Whole runs on the simulated Mac with a
// key of known bytes, then everything the run left or showed is searched for it: the status
// lines and alerts it printed, its standard error, the argument list of every program started
// on the way, and every file of the simulated home and machine but the key file itself.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "base/Base64.h"
#include "base/ProcessRunner.h"
#include "base/TempFolder.h"

namespace orvek {
namespace {

namespace fs = std::filesystem;

// Printable ASCII as the service's keys are, with the bytes each encoding below changes.
constexpr std::string_view kKey = "sk-ORVEK-probe+Qz7/Wx3=Kd9!Lm2%Tn5~Vb8";

struct Form {
    std::string name;
    std::string bytes;
};

std::string hex(std::string_view bytes, const char* digits) {
    std::string text;
    for (const char byte : bytes) {
        text += digits[static_cast<unsigned char>(byte) >> 4];
        text += digits[static_cast<unsigned char>(byte) & 0xf];
    }
    return text;
}

std::string percentEncoded(std::string_view bytes, const char* digits) {
    std::string text;
    for (const char byte : bytes) {
        const bool unreserved = std::isalnum(static_cast<unsigned char>(byte)) != 0 ||
                                byte == '-' || byte == '.' || byte == '_' || byte == '~';
        if (unreserved) {
            text += byte;
        } else {
            text += '%';
            text += hex(std::string_view(&byte, 1), digits);
        }
    }
    return text;
}

// The characters of the key's Base64 that do not depend on what comes before or after it in
// the encoded bytes, for each of the three places it can start in a group of three bytes.
std::vector<std::string> base64Cores(std::string_view key) {
    std::vector<std::string> cores;
    for (std::size_t offset = 0; offset < 3; ++offset) {
        auto encoded = base::base64Encode(std::string(offset, '\0') + std::string(key));
        while (encoded.ends_with('='))
            encoded.pop_back();
        if ((offset + key.size()) % 3 != 0)
            encoded.pop_back();
        cores.push_back(encoded.substr(offset == 0 ? 0 : offset + 1));
    }
    return cores;
}

std::vector<Form> formsOf(std::string_view key) {
    std::string solidusEscaped;
    for (const char byte : key)
        solidusEscaped += byte == '/' ? std::string("\\/") : std::string(1, byte);
    std::vector<Form> forms = {
        {"as it is", std::string(key)},
        {"JSON with the solidus escaped", solidusEscaped},
        {"hexadecimal", hex(key, "0123456789abcdef")},
        {"upper-case hexadecimal", hex(key, "0123456789ABCDEF")},
        {"URL-encoded", percentEncoded(key, "0123456789ABCDEF")},
        {"URL-encoded, lower case", percentEncoded(key, "0123456789abcdef")}};
    for (const auto& core : base64Cores(key)) {
        forms.push_back({"Base64", core});
        auto urlSafe = core;
        for (auto& byte : urlSafe)
            byte = byte == '+' ? '-' : byte == '/' ? '_' : byte;
        forms.push_back({"Base64 for URLs", urlSafe});
    }
    return forms;
}

// The search below is only as good as these forms: each way the key could be written out,
// inside other bytes, is recognised.
TEST(SandboxSecretForms, FindTheKeyHoweverItIsWritten) {
    const std::string key(kKey);
    std::string urlSafe = base::base64Encode("k=" + key);
    for (auto& byte : urlSafe)
        byte = byte == '+' ? '-' : byte == '/' ? '_' : byte;
    const std::vector<std::string> leaks = {
        "Authorization: Bearer " + key,
        R"({"apiKey":")" + formsOf(key)[1].bytes + R"("})",
        base::base64Encode(key + "\n"),
        base::base64Encode("a" + key + "\n"),
        base::base64Encode("ab" + key),
        urlSafe,
        "token=" + percentEncoded(key, "0123456789ABCDEF") + "&x=1",
        "0x" + hex(key, "0123456789abcdef"),
    };
    const auto forms = formsOf(key);
    for (std::size_t i = 0; i < leaks.size(); ++i)
        EXPECT_TRUE(std::any_of(
            forms.begin(), forms.end(),
            [&](const Form& form) { return leaks[i].find(form.bytes) != std::string::npos; }))
            << "leak " << i << " is not recognised";
}

// `text` with every form of the key replaced, so a failure message never shows the key itself.
std::string redacted(std::string text) {
    for (const auto& form : formsOf(kKey))
        for (auto at = text.find(form.bytes); at != std::string::npos;
             at = text.find(form.bytes, at))
            text.replace(at, form.bytes.size(), "<key>");
    return text;
}

std::size_t lineCount(const std::string& text) {
    std::size_t count = 0;
    for (const char byte : text)
        count += byte == '\n' ? 1 : 0;
    return count;
}

// A folder the sandbox kept, removed when the test is done with it.
struct KeptFolder {
    fs::path path;
    ~KeptFolder() {
        if (!path.empty())
            base::removeTree(path);
    }
};

constexpr const char* kStatusCall = "status --json --environment current\n";
constexpr const char* kSetupCall = "setup --global --environment current --agent opencode --model";

struct Run {
    std::vector<std::string> command;
    /// The last line the run prints when it ends as its scenario expects.
    std::string lastLine;
    /// The helper's argument list the run must have recorded, so the recording is known to work.
    std::string helperCall;
};

void PrintTo(const Run& run, std::ostream* out) {
    *out << run.command[0] << " " << run.command[2];
}

class SandboxSecrets : public ::testing::TestWithParam<Run> {};

TEST_P(SandboxSecrets, TheKeyIsOnlyInTheHelpersKeyFile) {
    const test::TempHome scratch;
    scratch.write("key", std::string(kKey) + "\n");
    const auto home = scratch / "home";
    auto arguments = GetParam().command;
    arguments.insert(arguments.end(), {"--home", home.string(), "--keep", "--key-file",
                                       (scratch / "key").string(), "--record-arguments"});
    const auto result = base::run(ORVEK_SANDBOX, arguments, std::nullopt, 300);

    KeptFolder machine;
    std::istringstream errors(result.standardError);
    for (std::string line; std::getline(errors, line);)
        if (line.starts_with("machine: "))
            machine.path = line.substr(9);
    // The run's own output is shown redacted: a leak is reported below, never repeated here.
    ASSERT_FALSE(machine.path.empty()) << redacted(result.standardError);
    EXPECT_EQ(result.status, 0) << redacted(result.standardError);
    EXPECT_TRUE(result.standardOutput.ends_with(GetParam().lastLine + "\n"))
        << redacted(result.standardOutput);

    // The key was in play: the helper's file holds it, and a ready run needed the service to
    // accept it.
    const auto keyFile = home / ".config/opencode/orvek-api-key";
    ASSERT_TRUE(fs::exists(keyFile));
    EXPECT_TRUE(test::slurp(keyFile) == std::string(kKey) + "\n")
        << "the helper's key file does not hold the key given";

    const auto startedPrograms = test::slurp(machine.path / "arguments.log");
    EXPECT_NE(startedPrograms.find("/orvek " + GetParam().helperCall), std::string::npos)
        << "the helper did not record its arguments:\n"
        << redacted(startedPrograms);

    struct Place {
        std::string name;
        std::string bytes;
    };
    std::vector<Place> places = {{"the run's standard output", result.standardOutput},
                                 {"the run's standard error", result.standardError}};
    std::size_t files = 0;
    for (const auto& root : {home, machine.path}) {
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (!entry.is_regular_file() || entry.is_symlink() || entry.path() == keyFile)
                continue;
            places.push_back({entry.path().string(), test::slurp(entry.path())});
            ++files;
        }
    }
    const auto forms = formsOf(kKey);
    for (const auto& place : places)
        for (const auto& form : forms)
            // Where and in which form, never the key itself: this log is an output too.
            EXPECT_EQ(place.bytes.find(form.bytes), std::string::npos)
                << "the key (" << form.name << ") is in " << place.name;

    std::cout << "scanned " << lineCount(result.standardOutput) << " printed lines, "
              << lineCount(result.standardError) << " lines of standard error, "
              << lineCount(startedPrograms) << " argument lists of started programs, "
              << lineCount(test::slurp(machine.path / "processes.log"))
              << " argument lists of descendants seen running and " << files << " files for "
              << forms.size() << " forms of the key" << std::endl;
}

// Both ways to a connection, a refused key, and the MCP alerts that start the helper's server.
INSTANTIATE_TEST_SUITE_P(
    Runs, SandboxSecrets,
    ::testing::Values(Run{{"run", "--scenario", "fresh"}, "ready", kSetupCall},
                      Run{{"run", "--scenario", "saved"}, "ready", kStatusCall},
                      Run{{"run", "--scenario", "key-refused"}, "failed", kStatusCall},
                      Run{{"mcp", "--scenario", "mcp-repair"}, "done", "mcp\n"}));

} // namespace
} // namespace orvek
