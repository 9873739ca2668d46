#include "installer/InstallerCore.h"

#include <sys/stat.h>

#include <string_view>
#include <vector>

#include "base/FilePrimitives.h"
#include "base/Hashing.h"
#include "base/NoReplaceRename.h"
#include "base/PathPresence.h"
#include "base/PlatformError.h"
#include "base/ProcessRunner.h"
#include "base/TempFolder.h"
#include "base/Uuid.h"
#include "config/ConfigReader.h"
#include "installer/Deployment.h"
#include "installer/PayloadRules.h"

namespace orvek::installer {

namespace {

constexpr const char* kMissingMessage = "Отсутствует компонент подключения.";
constexpr const char* kDamagedMessage = "Архив подключения повреждён.";
constexpr const char* kContentMessage = "Неподдерживаемое содержимое архива подключения.";
constexpr const char* kUnpackMessage = "Не удалось распаковать подключение.";
constexpr const char* kChecksumMessage = "Контрольная сумма подключения не совпала.";
constexpr const char* kChangedMessage = "Компонент подключения изменён. Повторите установку.";
constexpr const char* kNoBinaryHashMessage =
    "Отсутствует проверенная контрольная сумма подключения.";

constexpr std::string_view kEntryKey = "cli-arm64";
constexpr const char* kArchiveName = "orvek-0.1.10-arm64.tar.gz";
bool failed(const base::ProcessResult& result) {
    return result.signaled || result.status != 0;
}

} // namespace

void InstallerCore::installHelper() const {
    const auto target = helper();
    base::noLinks(target);
    if (base::presentOrFail(target)) {
        verifyHelper();
        return;
    }

    const auto manifest = payloadManifest();
    const auto entry = stringEntry(manifest, kEntryKey);
    if (!entry)
        throw InstallerFailure(kMissingMessage);
    const auto url = entry->find("url");
    const auto sha256 = entry->find("sha256");
    // The archive hash is fixed by the program, so a manifest cannot swap in another build.
    if (url == entry->end() || sha256 == entry->end() ||
        sha256->second != deployment().helperArchiveHash)
        throw InstallerFailure(kMissingMessage);

    const auto archive = download(url->second, sha256->second, kArchiveName, payloadSize(*entry));

    const auto listing = base::run(deployment().tar, {"-tzf", archive.string()}, std::nullopt,
                                   deployment().toolSeconds);
    if (failed(listing) || config::ConfigReader::invalidUtf8(listing.standardOutput))
        throw InstallerFailure(kDamagedMessage);
    // Only one plain file may come out of the archive; anything else could land outside the
    // staging folder or bring more than the pinned executable.
    if (!PayloadRules::helperEntry(listing.standardOutput))
        throw InstallerFailure(kContentMessage);

    // Guarded before it exists: the name is new, so whatever appears under it is ours to remove.
    const base::TempFolder staging(root() / ("helper-stage-" + base::newUuid()));
    const auto extraction =
        base::run(deployment().tar, {"-xzf", archive.string(), "-C", staging.path().string()},
                  std::nullopt, deployment().toolSeconds);
    if (failed(extraction))
        throw InstallerFailure(kUnpackMessage);

    // A listing does not show an entry's type: a link or a folder named "orvek" passes it.
    const auto staged = staging.path() / "orvek";
    base::noLinks(staging.path());
    struct stat attributes {};
    if (::lstat(staged.c_str(), &attributes) != 0)
        base::throwLastError("прочитать файл", staged);
    if (!S_ISREG(attributes.st_mode))
        throw InstallerFailure(kContentMessage);
    base::noLinks(staged);
    if (base::hashFile(staged) != helperBinaryHash())
        throw InstallerFailure(kChecksumMessage);
    if (::chmod(staged.c_str(), 0700) != 0)
        base::throwLastError("изменить права файла", staged);

    base::directory(target.parent_path());
    base::noLinks(target);
    base::publishWithoutReplacing(staged, target);
}

void InstallerCore::verifyHelper() const {
    const auto target = helper();
    base::noLinks(target);
    // The helper first: a missing helper is reported as such, whatever the manifest says.
    const auto actual = base::hashFile(target);
    if (actual != helperBinaryHash())
        throw InstallerFailure(kChangedMessage);
}

std::string InstallerCore::helperBinaryHash() const {
    const auto entry = stringEntry(payloadManifest(), kEntryKey);
    if (!entry)
        throw InstallerFailure(kNoBinaryHashMessage);
    const auto binary = entry->find("binarySha256");
    if (binary == entry->end() || !base::isSha256Text(binary->second))
        throw InstallerFailure(kNoBinaryHashMessage);
    return binary->second;
}

} // namespace orvek::installer
