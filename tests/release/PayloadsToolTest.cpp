// orvek-payloads run as the release engineer runs it: the manifest it writes from real
// artefacts, read back by the engine; everything it refuses, with no file left behind; and a
// fresh run on the simulated Mac driven by a manifest it made.

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "TestRelease.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "base/ProcessRunner.h"
#include "base/TempFolder.h"
#include "installer/Deployment.h"
#include "installer/InstallerCore.h"

namespace orvek {
namespace {

namespace fs = std::filesystem;
using base::JsonValue;
using installer::InstallerCore;
using test::kHash;
using test::payloads;
using test::TestRelease;
using test::validManifest;

JsonValue decoded(const fs::path& file) {
    return JsonValue::parse(test::slurp(file));
}

void set(std::vector<std::string>& arguments, const std::string& option, const std::string& value) {
    const auto at = std::find(arguments.begin(), arguments.end(), option);
    if (at == arguments.end()) {
        arguments.push_back(option);
        arguments.push_back(value);
    } else {
        *(at + 1) = value;
    }
}

void drop(std::vector<std::string>& arguments, const std::string& option) {
    const auto at = std::find(arguments.begin(), arguments.end(), option);
    if (at != arguments.end())
        arguments.erase(at, at + 2);
}

struct AcceptedRow {
    const char* name;
    const char* entry;
};

void PrintTo(const AcceptedRow& row, std::ostream* out) {
    *out << row.name;
}

class PayloadsWrites : public ::testing::TestWithParam<AcceptedRow> {};

TEST_P(PayloadsWrites, TheManifestTheEngineReadsFromTheArtefacts) {
    const TestRelease release;
    release.pack(release.archive(), {GetParam().entry});
    const auto resources = release.folder() / "Resources";
    fs::create_directory(resources);
    const auto output = resources / "payloads.json";

    const auto result = payloads(release.arguments(output));
    ASSERT_EQ(result.status, 0) << result.standardError;

    // Canonical: compact, keys sorted, every "/" escaped, as the engine writes its own JSON.
    const auto manifest = decoded(output);
    EXPECT_EQ(test::slurp(output), base::json(manifest));
    const JsonValue expected = {{"desktopTeamID", TestRelease::kTeam},
                                {"arm64",
                                 {{"url", TestRelease::kImageUrl},
                                  {"sha256", base::hashFile(release.image())},
                                  {"size", std::to_string(fs::file_size(release.image()))}}},
                                {"cli-arm64",
                                 {{"url", TestRelease::kArchiveUrl},
                                  {"sha256", release.pin()},
                                  {"binarySha256", base::hashFile(release.helper())},
                                  {"size", std::to_string(fs::file_size(release.archive()))}}}};
    EXPECT_EQ(manifest, expected);

    // The engine, pinned to this archive, takes every value as it downloads and verifies by.
    auto deployment = installer::Deployment::production();
    deployment.helperArchiveHash = release.pin();
    const InstallerCore core(resources, release.folder().path(), std::nullopt, deployment);
    EXPECT_EQ(core.helperBinaryHash(), base::hashFile(release.helper()));
    const auto image = InstallerCore::stringEntry(core.payloadManifest(), "arm64");
    ASSERT_TRUE(image);
    EXPECT_EQ(InstallerCore::payloadSize(*image), fs::file_size(release.image()));

    const auto check =
        payloads({"--check", output.string(), "--archive-pin-for-testing", release.pin()});
    EXPECT_EQ(check.status, 0) << check.standardError;
}

INSTANTIATE_TEST_SUITE_P(Listings, PayloadsWrites,
                         ::testing::Values(AcceptedRow{"bare", "orvek"},
                                           AcceptedRow{"dotted", "./orvek"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct RefusedRow {
    const char* name;
    std::function<void(const TestRelease&, std::vector<std::string>&)> change;
    const char* says;
};

void PrintTo(const RefusedRow& row, std::ostream* out) {
    *out << row.name;
}

// The archive the row packs, with its own hash as the pin so that only its content is refused.
void repack(const TestRelease& release, std::vector<std::string>& arguments,
            const std::vector<std::string>& entries) {
    const auto archive = release.folder() / "other.tar.gz";
    release.pack(archive, entries);
    set(arguments, "--archive", archive.string());
    set(arguments, "--archive-pin-for-testing", base::hashFile(archive));
}

const std::vector<RefusedRow>& refusedRows() {
    static const std::vector<RefusedRow> kRows = {
        {"image_over_http",
         [](const auto&, auto& arguments) {
             set(arguments, "--image-url", "http://downloads.orvek.test/OpenCode.dmg");
         },
         "Адрес образа OpenCode должен начинаться с https://"},
        {"archive_over_http",
         [](const auto&, auto& arguments) {
             set(arguments, "--archive-url", "http://downloads.orvek.test/orvek.tar.gz");
         },
         "Адрес архива подключения должен начинаться с https://"},
        {"missing_image",
         [](const auto& release, auto& arguments) {
             set(arguments, "--image", (release.folder() / "absent.dmg").string());
         },
         "Не удаётся прочитать образ OpenCode"},
        {"image_is_a_folder",
         [](const auto& release, auto& arguments) {
             set(arguments, "--image", release.folder().path().string());
         },
         "Не обычный файл (образ OpenCode)"},
        {"missing_archive",
         [](const auto& release, auto& arguments) {
             set(arguments, "--archive", (release.folder() / "absent.tar.gz").string());
         },
         "Не удаётся прочитать архив подключения"},
        {"archive_with_a_second_entry",
         [](const auto& release, auto& arguments) {
             repack(release, arguments, {"orvek", "README"});
         },
         "должен содержать ровно один файл «orvek», а в нём: orvek, README."},
        {"helper_inside_a_folder",
         [](const auto& release, auto& arguments) {
             release.folder().write("helper/bin/orvek", "#!/bin/sh\n");
             repack(release, arguments, {"bin/orvek"});
         },
         "должен содержать ровно один файл «orvek»"},
        {"helper_is_a_link",
         [](const auto& release, auto& arguments) {
             fs::create_directory(release.folder() / "linked");
             fs::create_symlink("../helper/orvek", release.folder() / "linked/orvek");
             const auto archive = release.folder() / "linked.tar.gz";
             const auto packed = base::run(
                 "/usr/bin/tar",
                 {"-C", (release.folder() / "linked").string(), "-czf", archive.string(), "orvek"},
                 std::nullopt, 60);
             ASSERT_EQ(packed.status, 0) << packed.standardError;
             set(arguments, "--archive", archive.string());
             set(arguments, "--archive-pin-for-testing", base::hashFile(archive));
         },
         "не является обычным файлом."},
        {"helper_under_another_name",
         [](const auto& release, auto& arguments) { repack(release, arguments, {"orvek-cli"}); },
         "должен содержать ровно один файл «orvek»"},
        {"not_a_tar_archive",
         [](const auto& release, auto& arguments) {
             set(arguments, "--archive", release.image().string());
             set(arguments, "--archive-pin-for-testing", base::hashFile(release.image()));
         },
         "tar не смог прочитать архив подключения"},
        {"archive_not_the_pinned_one",
         [](const auto&, auto& arguments) { drop(arguments, "--archive-pin-for-testing"); },
         "а приложение принимает только d91b6032f654ee4c7f276d725a8dfd2d2ce823dc16a65baf5a3143c11d901f86"},
        {"team_too_short",
         [](const auto&, auto& arguments) { set(arguments, "--team", "ORVEKSBX1"); },
         "Идентификатор команды OpenCode должен состоять ровно из 10 символов"},
        {"team_in_lower_case",
         [](const auto&, auto& arguments) { set(arguments, "--team", "orveksbx01"); },
         "Идентификатор команды OpenCode должен состоять ровно из 10 символов"},
        {"team_with_a_dash",
         [](const auto&, auto& arguments) { set(arguments, "--team", "ORVEK-SBX1"); },
         "Идентификатор команды OpenCode должен состоять ровно из 10 символов"},
    };
    return kRows;
}

class PayloadsRefuses : public ::testing::TestWithParam<RefusedRow> {};

TEST_P(PayloadsRefuses, WithAReasonAndNoFile) {
    const TestRelease release;
    const auto output = release.folder() / "payloads.json";
    auto arguments = release.arguments(output);
    GetParam().change(release, arguments);

    const auto result = payloads(arguments);
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.standardError.find(GetParam().says), std::string::npos)
        << result.standardError;
    EXPECT_FALSE(fs::exists(output));
    // Nothing half-made stays beside the output either.
    for (const auto& entry : fs::directory_iterator(release.folder().path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".orvek-payloads-"));
}

INSTANTIATE_TEST_SUITE_P(Artefacts, PayloadsRefuses, ::testing::ValuesIn(refusedRows()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Payloads, NeverReplacesAnExistingFile) {
    const TestRelease release;
    release.folder().write("payloads.json", "the manifest of another release");
    const auto output = release.folder() / "payloads.json";

    const auto result = payloads(release.arguments(output));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.standardError.find("уже существует"), std::string::npos)
        << result.standardError;
    EXPECT_EQ(test::slurp(output), "the manifest of another release");
}

struct CheckRow {
    const char* name;
    std::function<void(JsonValue&)> change;
    const char* says;
};

void PrintTo(const CheckRow& row, std::ostream* out) {
    *out << row.name;
}

const std::vector<CheckRow>& checkRows() {
    static const std::vector<CheckRow> kRows = {
        {"accepted", [](JsonValue&) {}, ""},
        {"size_as_a_number", [](JsonValue& manifest) { manifest["arm64"]["size"] = 123456; },
         "нет записи «arm64» из одних строк"},
        {"size_not_in_digits", [](JsonValue& manifest) { manifest["cli-arm64"]["size"] = "4 KiB"; },
         "«size» в записи «cli-arm64»"},
        {"zero_size", [](JsonValue& manifest) { manifest["arm64"]["size"] = "0"; },
         "«size» в записи «arm64»"},
        {"no_team", [](JsonValue& manifest) { manifest.erase("desktopTeamID"); },
         "«desktopTeamID» манифеста"},
        {"team_as_a_number", [](JsonValue& manifest) { manifest["desktopTeamID"] = 1234567890; },
         "«desktopTeamID» манифеста"},
        {"no_helper_entry", [](JsonValue& manifest) { manifest.erase("cli-arm64"); },
         "нет записи «cli-arm64» из одних строк"},
        {"image_without_url", [](JsonValue& manifest) { manifest["arm64"].erase("url"); },
         "В записи «arm64» манифеста нет «url»."},
        {"helper_over_http",
         [](JsonValue& manifest) { manifest["cli-arm64"]["url"] = "http://orvek.test/o.tar.gz"; },
         "Адрес в записи «cli-arm64» манифеста должен начинаться с https://."},
        {"image_hash_in_upper_case",
         [](JsonValue& manifest) {
             manifest["arm64"]["sha256"] =
                 "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
         },
         "«sha256» в записи «arm64»"},
        {"archive_not_the_pinned_one",
         [](JsonValue& manifest) { manifest["cli-arm64"]["sha256"] = kHash; },
         "не тот, что закреплён в приложении"},
        {"helper_hash_in_upper_case",
         [](JsonValue& manifest) {
             manifest["cli-arm64"]["binarySha256"] =
                 "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
         },
         "не принят приложением: Отсутствует проверенная контрольная сумма подключения."},
        {"not_an_object",
         [](JsonValue& manifest) {
             manifest = JsonValue::array({1, 2});
         },
         "Приложение не прочтёт манифест: Неподдерживаемый файл настроек."},
    };
    return kRows;
}

class PayloadsCheck : public ::testing::TestWithParam<CheckRow> {};

TEST_P(PayloadsCheck, AcceptsOnlyWhatTheEngineWould) {
    const test::TempHome folder;
    auto manifest = validManifest();
    GetParam().change(manifest);
    folder.write("release.json", manifest.dump(2));

    const auto result = payloads({"--check", (folder / "release.json").string()});
    const std::string says = GetParam().says;
    EXPECT_EQ(result.status, says.empty() ? 0 : 1) << result.standardError;
    EXPECT_NE(result.standardError.find(says), std::string::npos) << result.standardError;
}

INSTANTIATE_TEST_SUITE_P(Manifests, PayloadsCheck, ::testing::ValuesIn(checkRows()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Payloads, RefusesAManifestThatIsNoJson) {
    const test::TempHome folder;
    folder.write("release.json", "{\"arm64\": ");
    const auto result = payloads({"--check", (folder / "release.json").string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.standardError.find("Приложение не прочтёт манифест"), std::string::npos)
        << result.standardError;
}

TEST(Payloads, UsageErrors) {
    const std::vector<std::vector<std::string>> lines = {
        {},
        {"--image"},
        {"--image", "a.dmg", "--image-url", "https://orvek.test/a.dmg"},
        {"--check", "payloads.json", "--output", "other.json"},
        {"--check", "payloads.json", "--check", "payloads.json"},
        {"--check", "payloads.json", "--archive-pin-for-testing", "D91B"},
        {"--manifest", "payloads.json"},
    };
    for (const auto& line : lines) {
        const auto result = payloads(line);
        EXPECT_EQ(result.status, 2) << testing::PrintToString(line);
        EXPECT_NE(result.standardError.find("usage: orvek-payloads"), std::string::npos);
    }
}

// The simulated Mac hands its served image and archive to the tool and installs by its manifest.
TEST(Payloads, ItsManifestDrivesAFreshRunOnTheSimulatedMac) {
    const test::TempHome home;
    const auto result = base::run(ORVEK_SANDBOX,
                                  {"run", "--scenario", "fresh", "--home", home.path().string(),
                                   "--keep", "--payloads-tool", ORVEK_PAYLOADS_TOOL},
                                  std::nullopt, 300);
    const auto machineAt = result.standardError.find("machine: ");
    ASSERT_NE(machineAt, std::string::npos) << result.standardError;
    auto machinePath = result.standardError.substr(machineAt + 9);
    machinePath = machinePath.substr(0, machinePath.find('\n'));
    const auto kept = fs::path(machinePath);
    const auto manifestBytes = test::slurp(kept / "Resources/payloads.json");
    base::removeTree(kept);

    EXPECT_EQ(result.status, 0) << result.standardError;
    EXPECT_TRUE(result.standardOutput.ends_with("\nready\n")) << result.standardOutput;
    // The tool's manifest, not the sandbox's own: canonical, with the payloads' sizes.
    const auto manifest = JsonValue::parse(manifestBytes);
    EXPECT_EQ(manifestBytes, base::json(manifest));
    EXPECT_TRUE(manifest["arm64"].contains("size"));
    EXPECT_TRUE(manifest["cli-arm64"].contains("size"));
}

} // namespace
} // namespace orvek
