#include "installer/InstallerCore.h"
#include "installer/PathPresence.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <memory>
#include <new>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include <openssl/evp.h>

#include "installer/HexDigest.h"
#include "installer/NoReplaceRename.h"
#include "installer/PlatformError.h"
#include "installer/ProcessEnvironment.h"
#include "installer/ScopedRemoval.h"
#include "installer/UniqueFd.h"
#include "installer/Uuid.h"

namespace orvek::installer {

namespace {

constexpr const char* kInvalidMessage = "Неверные сведения о загрузке.";
constexpr const char* kDamagedMessage =
    "Сохранённая загрузка повреждена. Удалите её из кэша мастера и повторите.";
constexpr const char* kDownloadMessage =
    "Не удалось скачать компонент. Проверьте интернет и повторите.";
constexpr const char* kChecksumMessage = "Контрольная сумма загрузки не совпала.";

// Above curl's own --max-time, so a stalled transfer normally ends as curl's failed exit.
constexpr double kCurlTimeoutSeconds = 1900;
// Large reads keep the digest, not the system calls, the cost of hashing a disk image.
constexpr std::size_t kHashChunk = 1'048'576;

bool validHash(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// The name must stay one entry of the cache folder: no separators, no way up or in place.
bool validName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string::npos;
}

// Absent in production, so curl inherits the environment untouched; a test deployment's extra
// authority reaches curl as CURL_CA_BUNDLE on top of everything inherited.
std::optional<Environment> curlEnvironment(const Deployment& deployment) {
    if (!deployment.extraTrustedCa)
        return std::nullopt;
    auto environment = currentEnvironment();
    environment.insert_or_assign("CURL_CA_BUNDLE", deployment.extraTrustedCa->string());
    return environment;
}

} // namespace

std::filesystem::path InstallerCore::download(const std::string& url, const std::string& sha256,
                                              const std::string& name) const {
    if (!url.starts_with("https://") || !validHash(sha256) || !validName(name))
        throw InstallerFailure(kInvalidMessage);

    const auto folder = root() / "downloads";
    directory(folder);
    const auto target = folder / name;
    noLinks(target);

    // A cached file was verified when it was stored; a different hash now means it changed on
    // disk, and the user decides what to do with it.
    if (presentOrFail(target)) {
        if (hashFile(target) != sha256)
            throw InstallerFailure(kDamagedMessage);
        return target;
    }

    const ScopedRemoval temporary(folder / (newUuid() + ".download"));
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
    if (run(deployment().curl, arguments, curlEnvironment(deployment()), kCurlTimeoutSeconds)
            .status != 0)
        throw InstallerFailure(kDownloadMessage);

    // curl may leave nothing (an empty reply) or something other than a file; neither is the
    // payload. hashFile opens without following links, so a swap after this check is refused too.
    noLinks(temporary.path());
    struct stat attributes {};
    if (::lstat(temporary.path().c_str(), &attributes) != 0) {
        if (errno != ENOENT)
            throwLastError("прочитать файл", temporary.path());
        throw InstallerFailure(kChecksumMessage);
    }
    if (!S_ISREG(attributes.st_mode) || hashFile(temporary.path()) != sha256)
        throw InstallerFailure(kChecksumMessage);

    noLinks(target);
    moveWithoutReplacing(temporary.path(), target);
    return target;
}

std::string InstallerCore::hashFile(const std::filesystem::path& path) {
    // Non-blocking so that a pipe put in the file's place cannot stall the open.
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!file)
        throwLastError("прочитать файл", path);
    struct stat attributes {};
    if (::fstat(file.get(), &attributes) != 0)
        throwLastError("прочитать файл", path);
    if (S_ISDIR(attributes.st_mode))
        throw PlatformError(EISDIR, "прочитать файл", path);
    // Devices and pipes have no end a hash could wait for.
    if (!S_ISREG(attributes.st_mode))
        throw PlatformError(EINVAL, "прочитать файл", path);
#if defined(POSIX_FADV_SEQUENTIAL)
    // Only a hint for a larger read-ahead; the hash is the same without it.
    (void)::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif

    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
    std::vector<unsigned char> buffer(kHashChunk);
    for (;;) {
        const auto count = ::read(file.get(), buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throwLastError("прочитать файл", path);
        }
        if (count == 0)
            break;
        if (EVP_DigestUpdate(context.get(), buffer.data(), static_cast<std::size_t>(count)) != 1)
            throw std::bad_alloc();
    }
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1)
        throw std::bad_alloc();

    return hexDigest(digest.data(), length);
}

} // namespace orvek::installer
