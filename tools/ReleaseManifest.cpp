#include "ReleaseManifest.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <map>
#include <optional>
#include <string_view>

#include "base/FilePrimitives.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "base/NoReplaceRename.h"
#include "base/Pieces.h"
#include "base/PlatformError.h"
#include "base/ProcessRunner.h"
#include "base/TempFolder.h"
#include "base/Uuid.h"
#include "installer/Deployment.h"
#include "installer/InstallerCore.h"
#include "installer/PayloadRules.h"

namespace orvek::tools {

namespace fs = std::filesystem;
using base::JsonValue;
using installer::InstallerCore;
using installer::PayloadRules::helperEntry;
using installer::PayloadRules::isDownloadUrl;
using installer::PayloadRules::isTeamIdentifier;

namespace {

constexpr const char* kManifestName = "payloads.json";
constexpr std::string_view kImageKey = InstallerCore::architecture;
constexpr std::string_view kHelperKey = "cli-arm64";
constexpr double kTarTimeoutSeconds = 180;

// Fills each "{}" of `text` with the next value, so every message stays one sentence in one place.
std::string fill(std::string_view text, std::initializer_list<std::string_view> values) {
    std::string result;
    auto value = values.begin();
    while (true) {
        const auto slot = text.find("{}");
        if (slot == std::string_view::npos || value == values.end()) {
            result += text;
            return result;
        }
        result += text.substr(0, slot);
        result += *value++;
        text.remove_prefix(slot + 2);
    }
}

[[noreturn]] void refuse(std::string_view text, std::initializer_list<std::string_view> values) {
    throw ReleaseRefusal(fill(text, values));
}

struct MeasuredFile {
    std::string sha256;
    std::uint64_t size = 0;
};

// Hashed the way the engine hashes what it downloads; `what` names the artefact in a refusal.
MeasuredFile measure(const fs::path& path, std::string_view what) {
    try {
        struct stat attributes {};
        const auto descriptor = base::openForReading(path, attributes);
        if (!S_ISREG(attributes.st_mode))
            refuse("Не обычный файл ({}): {}", {what, path.string()});
        if (attributes.st_size == 0)
            refuse("Пустой файл ({}): {}", {what, path.string()});
        // The size written beside the hash is that of the very bytes hashed.
        auto digest = base::hashOpenFile(descriptor.get(), path);
        return {std::move(digest.sha256), digest.size};
    } catch (const ReleaseRefusal&) {
        throw;
    } catch (const std::exception& error) {
        refuse("Не удаётся прочитать {} {}: {}", {what, path.string(), error.what()});
    }
}

std::string listingLines(std::string_view listing) {
    std::string lines;
    for (const auto line : base::Pieces(listing, '\n'))
        if (!line.empty())
            lines += (lines.empty() ? "" : ", ") + std::string(line);
    return lines.empty() ? "ничего" : lines;
}

// The helper's hash comes from the one entry of the archive, extracted alone into a folder of
// our own; nothing else in the archive is ever unpacked.
std::string helperHash(const fs::path& archive) {
    const auto& tar = installer::Deployment::production().tar;
    const auto listing =
        base::run(tar, {"-tzf", archive.string()}, std::nullopt, kTarTimeoutSeconds);
    if (listing.signaled || listing.status != 0)
        refuse("tar не смог прочитать архив подключения {}: {}",
               {archive.string(), listing.standardError});
    const auto entry = helperEntry(listing.standardOutput);
    if (!entry)
        refuse("Архив подключения {} должен содержать ровно один файл «orvek», а в нём: {}.",
               {archive.string(), listingLines(listing.standardOutput)});

    const auto staging = base::TempFolder::unique("orvek-payloads-");
    const auto extraction = base::run(
        tar, {"-xzf", archive.string(), "-C", staging.path().string(), std::string(*entry)},
        std::nullopt, kTarTimeoutSeconds);
    if (extraction.signaled || extraction.status != 0)
        refuse("tar не смог извлечь «orvek» из архива подключения {}: {}",
               {archive.string(), extraction.standardError});
    // The engine refuses a link or a folder under the helper's name; so does the release.
    const auto helper = staging / "orvek";
    struct stat attributes {};
    if (::lstat(helper.c_str(), &attributes) != 0 || !S_ISREG(attributes.st_mode))
        refuse("«orvek» в архиве подключения {} не является обычным файлом.", {archive.string()});
    return base::hashFile(helper);
}

JsonValue payload(const std::string& url, const MeasuredFile& file) {
    // Every value a string: the engine counts an entry with any other value as missing.
    return {{"url", url}, {"sha256", file.sha256}, {"size", std::to_string(file.size)}};
}

std::map<std::string, std::string> entryOf(const JsonValue& manifest, std::string_view key) {
    const auto entry = InstallerCore::stringEntry(manifest, key);
    if (!entry)
        refuse(
            "В манифесте нет записи «{}» из одних строк: приложение сочтёт компонент отсутствующим.",
            {key});
    return *entry;
}

std::string valueOf(const std::map<std::string, std::string>& entry, std::string_view key,
                    std::string_view name) {
    const auto value = entry.find(std::string(name));
    if (value == entry.end())
        refuse("В записи «{}» манифеста нет «{}».", {key, name});
    return value->second;
}

// Shaped as the engine downloads by; a "size" the engine could not read is refused too, since
// the release means it to be shown.
void checkPayload(const std::map<std::string, std::string>& entry, std::string_view key) {
    if (!isDownloadUrl(valueOf(entry, key, "url")))
        refuse("Адрес в записи «{}» манифеста должен начинаться с https://.", {key});
    if (!base::isSha256Text(valueOf(entry, key, "sha256")))
        refuse(
            "«sha256» в записи «{}» манифеста должен состоять из 64 строчных шестнадцатеричных цифр.",
            {key});
    if (entry.contains("size") && !InstallerCore::payloadSize(entry))
        refuse(
            "«size» в записи «{}» манифеста должен быть положительным числом в десятичных цифрах.",
            {key});
}

} // namespace

namespace ReleaseManifest {

JsonValue make(const ReleaseArtefacts& artefacts, const std::string& pinnedArchiveHash) {
    if (!isDownloadUrl(artefacts.imageUrl))
        refuse("Адрес образа OpenCode должен начинаться с https://: {}", {artefacts.imageUrl});
    if (!isDownloadUrl(artefacts.archiveUrl))
        refuse("Адрес архива подключения должен начинаться с https://: {}", {artefacts.archiveUrl});
    if (!isTeamIdentifier(artefacts.team))
        refuse(
            "Идентификатор команды OpenCode должен состоять ровно из 10 символов A–Z и 0–9: «{}».",
            {artefacts.team});

    const auto image = measure(artefacts.image, "образ OpenCode");
    const auto archive = measure(artefacts.archive, "архив подключения");
    if (archive.sha256 != pinnedArchiveHash)
        refuse(
            "SHA-256 архива подключения {} равен {}, а приложение принимает только {}: с таким выпуском каждая установка закончится ошибкой. Соберите приложение с хешем этого архива или возьмите архив, закреплённый в приложении.",
            {artefacts.archive.string(), archive.sha256, pinnedArchiveHash});

    auto helper = payload(artefacts.archiveUrl, archive);
    helper["binarySha256"] = helperHash(artefacts.archive);
    return {{"desktopTeamID", artefacts.team},
            {std::string(kImageKey), payload(artefacts.imageUrl, image)},
            {std::string(kHelperKey), helper}};
}

void check(const fs::path& resources, const std::string& pinnedArchiveHash) {
    auto deployment = installer::Deployment::production();
    deployment.helperArchiveHash = pinnedArchiveHash;
    const InstallerCore core(resources, resources, std::nullopt, deployment);

    JsonValue manifest;
    try {
        manifest = core.payloadManifest();
    } catch (const std::exception& error) {
        refuse("Приложение не прочтёт манифест: {}", {error.what()});
    }

    const auto team = manifest.find("desktopTeamID");
    if (team == manifest.end() || !team->is_string() || !isTeamIdentifier(team->get<std::string>()))
        refuse("«desktopTeamID» манифеста должен быть строкой ровно из 10 символов A–Z и 0–9.", {});

    checkPayload(entryOf(manifest, kImageKey), kImageKey);
    const auto helper = entryOf(manifest, kHelperKey);
    checkPayload(helper, kHelperKey);
    if (helper.at("sha256") != deployment.helperArchiveHash)
        refuse(
            "«sha256» архива подключения в манифесте ({}) не тот, что закреплён в приложении ({}): приложение откажется его устанавливать.",
            {helper.at("sha256"), deployment.helperArchiveHash});
    try {
        (void)core.helperBinaryHash();
    } catch (const std::exception& error) {
        refuse("«binarySha256» в записи «{}» манифеста не принят приложением: {}",
               {kHelperKey, error.what()});
    }
}

void checkFile(const fs::path& file, const std::string& pinnedArchiveHash) {
    base::Bytes bytes;
    try {
        bytes = base::readWhole(file);
    } catch (const std::exception& error) {
        refuse("Не удаётся прочитать манифест {}: {}", {file.string(), error.what()});
    }
    // The engine reads the manifest by its name from a resource folder: this one is ours alone.
    const auto resources = base::TempFolder::unique("orvek-payloads-");
    base::create(resources / kManifestName, bytes);
    check(resources.path(), pinnedArchiveHash);
}

void write(const JsonValue& manifest, const fs::path& output,
           const std::string& pinnedArchiveHash) {
    writeForTesting(manifest, output, pinnedArchiveHash, {});
}

void writeForTesting(const JsonValue& manifest, const fs::path& output,
                     const std::string& pinnedArchiveHash,
                     const std::function<void()>& beforePublishing) {
    const auto target = fs::absolute(output);
    std::error_code error;
    if (fs::symlink_status(target, error).type() != fs::file_type::not_found)
        refuse("{} уже существует: удалите его или выберите другое имя.", {target.string()});
    if (!fs::is_directory(target.parent_path(), error))
        refuse("Папки {} нет.", {target.parent_path().string()});

    try {
        // Staged beside the target, so that the finished file gets its name in one rename.
        const base::TempFolder staging(target.parent_path() /
                                       (".orvek-payloads-" + base::newUuid()));
        const auto staged = staging / kManifestName;
        base::create(staged, base::json(manifest));
        check(staging.path(), pinnedArchiveHash);
        if (InstallerCore(staging.path(), staging.path()).payloadManifest() != manifest)
            refuse("Приложение прочло манифест не таким, каким он был записан.", {});
        if (beforePublishing)
            beforePublishing();
        base::publishWithoutReplacing(staged, target);
    } catch (const ReleaseRefusal&) {
        throw;
    } catch (const base::PlatformError& failure) {
        if (failure.errnoValue() == EEXIST)
            refuse("{} уже существует: удалите его или выберите другое имя.", {target.string()});
        refuse("Не удаётся записать манифест {}: {}", {target.string(), failure.what()});
    } catch (const std::exception& failure) {
        refuse("Не удаётся записать манифест {}: {}", {target.string(), failure.what()});
    }
}

} // namespace ReleaseManifest

} // namespace orvek::tools
