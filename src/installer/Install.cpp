#include "installer/InstallerCore.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <plist/plist.h>

#include "base/FilePrimitives.h"
#include "base/Json.h"
#include "base/PathPresence.h"
#include "base/PlatformError.h"
#include "base/PlistError.h"
#include "base/ProcessRunner.h"
#include "base/TempPath.h"
#include "base/Uuid.h"
#include "installer/PayloadRules.h"

namespace orvek::installer {

namespace {

constexpr const char* kChecking = "Проверяем компьютер…";
constexpr const char* kDownloading = "Скачиваем официальный OpenCode…";
constexpr const char* kPreparing = "Подготавливаем подключение…";
constexpr const char* kSeveral =
    "Найдено несколько установок OpenCode. Оставьте одну совместимую версию.";
constexpr const char* kNoComponent = "Отсутствует компонент для этого Mac.";
constexpr const char* kOpenImage = "Не удалось открыть образ OpenCode.";
constexpr const char* kCopy = "Не удалось скопировать OpenCode.";
constexpr const char* kAppeared = "OpenCode уже появился в папке. Повторите проверку.";
constexpr const char* kIncompatible = "Найдена несовместимая версия OpenCode. Нужна версия 2.1.4.";
constexpr const char* kNoPublisher = "Отсутствует проверенный издатель OpenCode.";
constexpr const char* kSignature = "Подпись OpenCode не прошла проверку.";

constexpr const char* kImageName = "OpenCode-2.1.4-arm64.dmg";
constexpr std::string_view kVersion = "2.1.4";
constexpr std::string_view kBundleIdentifier = "ai.opencode.desktop";
// The leading "=" makes codesign take the argument as the requirement itself, not a file name.
constexpr const char* kRequirementPrefix =
    "=anchor apple generic and certificate leaf[subject.OU] = \"";
struct PlistFree {
    void operator()(plist_t node) const noexcept { plist_free(node); }
};
using PlistHandle = std::unique_ptr<void, PlistFree>;

// plist_from_xml and plist_from_bin keep their argument lists across libplist releases, unlike
// plist_from_memory; a node left null is the only failure report both generations share.
PlistHandle parsePlist(const Bytes& bytes, const std::filesystem::path& path) {
    // `read` stops at 1 MiB, so the length fits the parser's 32 bits.
    const auto length = static_cast<std::uint32_t>(bytes.size());
    plist_t node = nullptr;
    if (plist_is_binary(bytes.data(), length))
        plist_from_bin(bytes.data(), length, &node);
    else
        plist_from_xml(bytes.data(), length, &node);
    if (node == nullptr)
        throw base::PlistError(path);
    return PlistHandle(node);
}

bool hasString(plist_t dictionary, const char* key, std::string_view expected) {
    const plist_t item = plist_dict_get_item(dictionary, key);
    if (item == nullptr || plist_get_node_type(item) != PLIST_STRING)
        return false;
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(item, &length);
    return text != nullptr && std::string_view(text, length) == expected;
}

// The folder the image is attached at. Removed with rmdir only: if the detach failed, the image
// is still mounted there and its content must not be walked, let alone deleted.
class MountPoint {
public:
    explicit MountPoint(std::filesystem::path path) : m_path(std::move(path)) {
        // Made but not set up (its mode): no destructor will run, so it goes here.
        try {
            base::directory(m_path);
        } catch (...) {
            ::rmdir(m_path.c_str());
            throw;
        }
    }
    ~MountPoint() { ::rmdir(m_path.c_str()); }
    MountPoint(const MountPoint&) = delete;
    MountPoint& operator=(const MountPoint&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_path; }

private:
    std::filesystem::path m_path;
};

// Detaches on every way out once the attach was tried: a half-finished attach may still have
// mounted something. Nothing about the detach can change the outcome of the install.
class Attachment {
public:
    Attachment(std::filesystem::path hdiutil, std::filesystem::path mountPoint, double seconds)
        : m_hdiutil(std::move(hdiutil)), m_mountPoint(std::move(mountPoint)), m_seconds(seconds) {}
    ~Attachment() {
        try {
            (void)base::run(m_hdiutil, {"detach", m_mountPoint.string()}, std::nullopt, m_seconds);
        } catch (...) {
        }
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

private:
    std::filesystem::path m_hdiutil;
    std::filesystem::path m_mountPoint;
    double m_seconds;
};

// Downloads the official image, checks the application on it and in its copy, and moves the copy
// to `target` without ever replacing what the user put there meanwhile.
void installOfficial(const InstallerCore& core, const std::filesystem::path& target) {
    const auto manifest = core.payloadManifest();
    const auto entry = InstallerCore::stringEntry(manifest, config::architecture);
    if (!entry || !entry->contains("url") || !entry->contains("sha256"))
        throw InstallerFailure(kNoComponent);
    const auto image = core.download(entry->at("url"), entry->at("sha256"), kImageName,
                                     InstallerCore::payloadSize(*entry));

    const auto& deployment = core.deployment();
    const MountPoint mountPoint(core.root() / ("mount-" + base::newUuid()));
    const Attachment attachment(deployment.hdiutil, mountPoint.path(), deployment.toolSeconds);
    base::require(deployment.hdiutil,
                  {"attach", "-nobrowse", "-readonly", "-mountpoint", mountPoint.path().string(),
                   image.string()},
                  kOpenImage, deployment.toolSeconds);
    const auto mounted = mountPoint.path() / "OpenCode.app";
    core.verifyApp(mounted);
    core.ensureClosed();

    const auto folder = target.parent_path();
    base::directory(folder);
    base::TempPath copy(folder / (".orvek-install-" + base::newUuid() + ".app"));
    base::require(deployment.ditto, {mounted.string(), copy.path().string()}, kCopy,
                  deployment.toolSeconds);
    core.verifyApp(copy.path());

    base::noLinks(target);
    if (base::presentOrFail(target))
        throw InstallerFailure(kAppeared);
    try {
        copy.keepAs(target);
    } catch (const base::PlatformError& error) {
        // Lost the race after the check above: the same situation, and the user's item stays.
        if (error.errnoValue() == EEXIST)
            throw InstallerFailure(kAppeared);
        throw;
    }
}

} // namespace

void InstallerCore::install(const std::function<void(const std::string&)>& progress) {
    const auto report = [&progress](const char* text) {
        if (progress)
            progress(text);
    };

    report(kChecking);
    preflight();

    // Each run decides afresh; an application remembered from an earlier run may be gone.
    m_installedApp.reset();
    const auto target = m_home / "Applications/OpenCode.app";
    std::vector<std::filesystem::path> found;
    for (const auto& candidate : {target, m_deployment.systemApplications / "OpenCode.app"}) {
        std::error_code ignored;
        if (std::filesystem::exists(candidate, ignored))
            found.push_back(candidate);
    }
    if (found.size() > 1)
        throw InstallerFailure(kSeveral);
    // A found but unacceptable application is reported, never installed over.
    if (found.size() == 1) {
        verifyApp(found.front());
        m_installedApp = found.front();
    }

    (void)tryPrepareFreshDesktopDefaults(desktopData());

    if (!m_installedApp) {
        report(kDownloading);
        installOfficial(*this, target);
        m_installedApp = target;
    }

    report(kPreparing);
    installHelper();
}

void InstallerCore::verifyApp(const std::filesystem::path& app) const {
    base::noLinks(app);
    const auto infoPath = app / "Contents/Info.plist";
    const auto info = parsePlist(base::read(infoPath), infoPath);
    if (plist_get_node_type(info.get()) != PLIST_DICT ||
        !hasString(info.get(), "CFBundleShortVersionString", kVersion) ||
        !hasString(info.get(), "CFBundleIdentifier", kBundleIdentifier))
        throw InstallerFailure(kIncompatible);

    const auto manifest = payloadManifest();
    const auto team = manifest.find("desktopTeamID");
    if (team == manifest.end() || !team->is_string() ||
        !PayloadRules::isTeamIdentifier(team->get_ref<const std::string&>()))
        throw InstallerFailure(kNoPublisher);

    const std::string requirement = kRequirementPrefix + team->get<std::string>() + "\"";
    base::require(m_deployment.codesign,
                  {"--verify", "--deep", "--strict", "-R", requirement, app.string()}, kSignature,
                  m_deployment.toolSeconds);
}

} // namespace orvek::installer
