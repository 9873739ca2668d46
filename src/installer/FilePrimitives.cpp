#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include "installer/HexDigest.h"
#include "installer/InstallerCore.h"
#include "installer/JsonError.h"
#include "installer/PlatformError.h"
#include "installer/UniqueFd.h"

namespace orvek::installer {

namespace {

constexpr std::size_t kReadLimit = 1'048'576;
constexpr const char* kLinkMessage =
    "Путь содержит символическую ссылку. Выберите обычную локальную папку.";
constexpr const char* kTooLargeMessage = "Файл настроек слишком большой.";

// The path as a string with repeated and trailing separators removed. Dot components stay:
// resolving ".." by text could step over a link that the walk must see.
std::string tidy(const std::filesystem::path& path) {
    std::string result;
    for (const char c : path.string()) {
        if (c == '/' && !result.empty() && result.back() == '/')
            continue;
        result += c;
    }
    while (result.size() > 1 && result.back() == '/')
        result.pop_back();
    return result;
}

// macOS keeps /tmp and /var as links into /private; those two are part of the system.
bool isSystemLink(const std::string& path) {
    if (path != "/tmp" && path != "/var")
        return false;
    std::array<char, 64> target{};
    const auto length = ::readlink(path.c_str(), target.data(), target.size() - 1);
    if (length < 0)
        return false;
    const std::string destination(target.data(), static_cast<std::size_t>(length));
    return destination == "private" + path || destination == "/private" + path;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

std::string InstallerCore::hash(std::string_view bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
    return hexDigest(digest.data(), length);
}

void InstallerCore::noLinks(const std::filesystem::path& path) {
    std::string current = tidy(path);
    while (!current.empty() && current != "/") {
        struct stat attributes {};
        // Components that do not exist yet, or cannot be examined, are not links.
        if (::lstat(current.c_str(), &attributes) == 0 && S_ISLNK(attributes.st_mode) &&
            !isSystemLink(current))
            throw InstallerFailure(kLinkMessage);
        const auto slash = current.rfind('/');
        if (slash == std::string::npos)
            return;
        current.resize(slash == 0 ? 1 : slash);
    }
}

Bytes InstallerCore::read(const std::filesystem::path& path) {
    noLinks(path);
    struct stat attributes {};
    if (::lstat(path.c_str(), &attributes) != 0)
        throwLastError("прочитать файл", path);
    if (S_ISDIR(attributes.st_mode))
        throw PlatformError(EISDIR, "прочитать файл", path);
    // Pipes, sockets and devices have no size that bounds what a read returns.
    if (!S_ISREG(attributes.st_mode) || attributes.st_size < 0 ||
        static_cast<std::size_t>(attributes.st_size) > kReadLimit)
        throw InstallerFailure(kTooLargeMessage);

    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!file)
        throwLastError("прочитать файл", path);
    struct stat opened {};
    if (::fstat(file.get(), &opened) != 0)
        throwLastError("прочитать файл", path);
    if (!sameFile(opened, attributes) || !S_ISREG(opened.st_mode) ||
        static_cast<std::size_t>(opened.st_size) > kReadLimit)
        throw InstallerFailure(kTooLargeMessage);

    // One byte past the limit tells a file that grew while it was read.
    Bytes bytes(kReadLimit + 1, '\0');
    std::size_t total = 0;
    while (total < bytes.size()) {
        const auto count = ::read(file.get(), bytes.data() + total, bytes.size() - total);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throwLastError("прочитать файл", path);
        }
        if (count == 0)
            break;
        total += static_cast<std::size_t>(count);
    }
    if (total > kReadLimit)
        throw InstallerFailure(kTooLargeMessage);
    bytes.resize(total);
    return bytes;
}

JsonValue InstallerCore::readObject(const std::filesystem::path& path) {
    const auto bytes = read(path);
    const auto refuse = [&path](std::size_t offset) {
        return JsonError("Файл «" + path.string() + "» содержит некорректный JSON (байт " +
                             std::to_string(offset) + ").",
                         offset);
    };
    // The decoder stops at a NUL byte as if the text ended there; JSON never holds one raw.
    if (const auto nul = bytes.find('\0'); nul != Bytes::npos)
        throw refuse(nul);
    JsonValue value;
    try {
        value = JsonValue::parse(bytes);
    } catch (const JsonValue::parse_error& error) {
        throw refuse(error.byte > 0 ? error.byte - 1 : 0);
    }
    if (!value.is_object())
        throw InstallerFailure("Неподдерживаемый файл настроек.");
    return value;
}

void InstallerCore::create(const std::filesystem::path& path, std::string_view bytes) {
    noLinks(path);
    UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file)
        throwLastError("создать файл", path);

    // A half-written file would block every later attempt to create it; it is ours alone
    // (O_EXCL), so it goes when the write fails, unless something else took its name meanwhile.
    const auto fail = [&](const char* operation) {
        const int error = errno;
        struct stat ours {};
        struct stat named {};
        if (::fstat(file.get(), &ours) == 0 && ::lstat(path.c_str(), &named) == 0 &&
            sameFile(ours, named))
            ::unlink(path.c_str());
        throw PlatformError(error, operation, path);
    };

    std::size_t written = 0;
    while (written < bytes.size()) {
        const auto count = ::write(file.get(), bytes.data() + written, bytes.size() - written);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            fail("записать файл");
        }
        written += static_cast<std::size_t>(count);
    }
    if (::fchmod(file.get(), 0600) != 0)
        fail("изменить права файла");
    if (::close(file.release()) != 0)
        throwLastError("записать файл", path);
}

void InstallerCore::directory(const std::filesystem::path& path) {
    noLinks(path);
    std::filesystem::path current;
    for (const auto& component : path) {
        current /= component;
        if (current == current.root_path())
            continue;
        if (::mkdir(current.c_str(), 0700) == 0) {
            // The process umask may have taken bits away; the folder is the owner's only.
            if (::chmod(current.c_str(), 0700) != 0)
                throwLastError("изменить права папки", current);
            continue;
        }
        const int error = errno;
        struct stat attributes {};
        if (::lstat(current.c_str(), &attributes) != 0)
            throw PlatformError(error, "создать папку", current);
        if (S_ISLNK(attributes.st_mode)) {
            // Only the system's own links are walked through; noLinks refuses any other.
            noLinks(current);
            continue;
        }
        if (!S_ISDIR(attributes.st_mode))
            throw PlatformError(ENOTDIR, "создать папку", current);
    }
    noLinks(path);
}

} // namespace orvek::installer
