#include "installer/InstallerCore.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <string_view>
#include <vector>

#include "base/FilePrimitives.h"
#include "base/Hashing.h"
#include "base/PathPresence.h"
#include "base/PlatformError.h"
#include "base/ProcessEnvironment.h"
#include "base/ProcessRunner.h"
#include "base/TempPath.h"
#include "base/Uuid.h"
#include "installer/PayloadRules.h"

namespace orvek::installer {

namespace {

constexpr const char* kInvalidMessage = "Неверные сведения о загрузке.";
constexpr const char* kDamagedMessage =
    "Сохранённая загрузка повреждена. Удалите её из кэша мастера и повторите.";
constexpr const char* kDownloadMessage =
    "Не удалось скачать компонент. Проверьте интернет и повторите.";
constexpr const char* kChecksumMessage = "Контрольная сумма загрузки не совпала.";

// How often a running download's size is looked at and, when it changed, published.
constexpr std::chrono::milliseconds kProgressInterval{250};

// Above curl's own --max-time, so a stalled transfer normally ends as curl's failed exit.
constexpr double kCurlTimeoutSeconds = 1900;
// The name must stay one entry of the cache folder: no separators, no way up or in place.
bool validName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

// Absent in production, so curl inherits the environment untouched; a test deployment's extra
// authority reaches curl as CURL_CA_BUNDLE on top of everything inherited.
std::optional<base::Environment> curlEnvironment(const Deployment& deployment) {
    if (!deployment.extraTrustedCa)
        return std::nullopt;
    auto environment = base::currentEnvironment();
    environment.insert_or_assign("CURL_CA_BUNDLE", deployment.extraTrustedCa->string());
    return environment;
}

// Publishes the growth of curl's unfinished file to the observer: nothing at first, then each
// new size, and the end (an empty value) on every way out, so a progress bar never outlives the
// download it shows.
class DownloadWatch {
public:
    DownloadWatch(const InstallerCore::DownloadObserver& observer, std::filesystem::path file,
                  std::optional<std::uint64_t> expected)
        : m_observer(observer), m_file(std::move(file)), m_expected(expected) {
        publish(0);
    }
    ~DownloadWatch() { finish(); }
    DownloadWatch(const DownloadWatch&) = delete;
    DownloadWatch& operator=(const DownloadWatch&) = delete;

    // A file not there yet, or not readable, shows what was published last; the download itself
    // reports its own failures.
    void look() {
        struct stat attributes {};
        if (::lstat(m_file.c_str(), &attributes) != 0 || !S_ISREG(attributes.st_mode))
            return;
        publish(static_cast<std::uint64_t>(attributes.st_size));
    }

    void finish() noexcept {
        if (!m_observer || m_finished)
            return;
        m_finished = true;
        try {
            m_observer(std::nullopt);
        } catch (...) {
        }
    }

private:
    void publish(std::uint64_t received) {
        if (!m_observer || m_finished || received == m_last)
            return;
        m_last = received;
        m_observer(DownloadProgress{received, m_expected});
    }

    const InstallerCore::DownloadObserver& m_observer;
    std::filesystem::path m_file;
    std::optional<std::uint64_t> m_expected;
    std::optional<std::uint64_t> m_last;
    bool m_finished = false;
};

} // namespace

std::filesystem::path InstallerCore::download(const std::string& url, const std::string& sha256,
                                              const std::string& name,
                                              std::optional<std::uint64_t> expectedSize) const {
    if (!PayloadRules::isDownloadUrl(url) || !base::isSha256Text(sha256) || !validName(name))
        throw InstallerFailure(kInvalidMessage);

    const auto folder = root() / "downloads";
    base::directory(folder);
    const auto target = folder / name;
    base::noLinks(target);

    // A cached file was verified when it was stored; a different hash now means it changed on
    // disk, and the user decides what to do with it.
    if (base::presentOrFail(target)) {
        if (base::hashFile(target) != sha256)
            throw InstallerFailure(kDamagedMessage);
        return target;
    }

    base::TempPath temporary(folder / (base::newUuid() + ".download"));
    const std::vector<std::string> arguments = {"--fail",
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
                                                temporary.path().string(),
                                                url};
    DownloadWatch watch(m_downloadObserver, temporary.path(), expectedSize);
    const base::Heartbeat heartbeat{kProgressInterval, [&watch] { watch.look(); }};
    if (base::run(deployment().curl, arguments, curlEnvironment(deployment()), kCurlTimeoutSeconds,
                  heartbeat)
            .status != 0)
        throw InstallerFailure(kDownloadMessage);
    watch.finish();

    // curl may leave nothing (an empty reply) or something other than a file; neither is the
    // payload. hashFile opens without following links, so a swap after this check is refused too.
    base::noLinks(temporary.path());
    struct stat attributes {};
    if (::lstat(temporary.path().c_str(), &attributes) != 0) {
        if (errno != ENOENT)
            base::throwLastError("прочитать файл", temporary.path());
        throw InstallerFailure(kChecksumMessage);
    }
    if (!S_ISREG(attributes.st_mode) || base::hashFile(temporary.path()) != sha256)
        throw InstallerFailure(kChecksumMessage);

    base::noLinks(target);
    temporary.keepAs(target);
    return target;
}

} // namespace orvek::installer
