#include "base/FilePrimitives.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/fs.h>
#endif

#include <array>
#include <cerrno>

#include "base/InstallerFailure.h"
#include "base/Json.h"
#include "base/JsonError.h"
#include "base/PathPresence.h"
#include "base/PlatformError.h"
#include "base/TempPath.h"
#include "base/UniqueFd.h"
#include "base/Uuid.h"

namespace orvek::base {

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

void noLinks(const std::filesystem::path& path) {
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

UniqueFd openForReading(const std::filesystem::path& path, struct stat& attributes,
                        const char* operation) {
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!file)
        throwLastError(operation, path);
    if (::fstat(file.get(), &attributes) != 0)
        throwLastError(operation, path);
    return file;
}

Bytes read(const std::filesystem::path& path) {
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

    struct stat opened {};
    const auto file = openForReading(path, opened);
    if (!sameFile(opened, attributes) || !S_ISREG(opened.st_mode) ||
        static_cast<std::size_t>(opened.st_size) > kReadLimit)
        throw InstallerFailure(kTooLargeMessage);

    // One byte past the limit tells a file that grew while it was read.
    Bytes bytes(kReadLimit + 1, '\0');
    const auto total = readFull(file.get(), bytes.data(), bytes.size(), "прочитать файл", path);
    if (total > kReadLimit)
        throw InstallerFailure(kTooLargeMessage);
    bytes.resize(total);
    return bytes;
}

std::optional<Bytes> readIfPresent(const std::filesystem::path& path) {
    if (!presentOrFail(path))
        return std::nullopt;
    return read(path);
}

Bytes readWhole(const std::filesystem::path& path) {
    struct stat attributes {};
    const auto file = openForReading(path, attributes);
    if (S_ISDIR(attributes.st_mode))
        throw PlatformError(EISDIR, "прочитать файл", path);
    if (!S_ISREG(attributes.st_mode))
        throw PlatformError(EINVAL, "прочитать файл", path);
    Bytes bytes;
    // Sized by what is there, but read to the end: a file that grows meanwhile is read whole.
    std::array<char, 64 * 1024> buffer{};
    bytes.reserve(static_cast<std::size_t>(attributes.st_size));
    for (;;) {
        const auto count =
            readFull(file.get(), buffer.data(), buffer.size(), "прочитать файл", path);
        bytes.append(buffer.data(), count);
        if (count < buffer.size())
            return bytes;
    }
}

JsonValue readObject(const std::filesystem::path& path) {
    return decodeObject(read(path), path);
}

JsonValue decodeObject(std::string_view bytes, const std::filesystem::path& path) {
    const auto refuse = [&path](std::size_t offset) {
        return JsonError("Файл «" + path.string() + "» содержит некорректный JSON (байт " +
                             std::to_string(offset) + ").",
                         offset);
    };
    const auto value = decodeJson(bytes, refuse);
    if (!value.is_object())
        throw InstallerFailure("Неподдерживаемый файл настроек.");
    return value;
}

void create(const std::filesystem::path& path, std::string_view bytes) {
    noLinks(path);
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0)
        throw PlatformError(EEXIST, "создать файл", path);

    // Written whole under a name of our own and then moved in without replacing: a kill between
    // the open and the write must never leave an empty file under the real name, where it would
    // read as someone's and block every later attempt.
    TempPath temporary(path.parent_path() / (".orvek-" + newUuid() + ".creating"));
    UniqueFd file(::open(temporary.path().c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file)
        throwLastError("создать файл", path);
    writeAll(file.get(), bytes, "записать файл", path);
    if (::fchmod(file.get(), 0600) != 0)
        throwLastError("изменить права файла", path);
    if (::close(file.release()) != 0)
        throwLastError("записать файл", path);
    try {
        temporary.keepAs(path);
    } catch (const PlatformError& error) {
        // Someone took the name since the check: the same failure as finding it there.
        if (error.errnoValue() == EEXIST)
            throw PlatformError(EEXIST, "создать файл", path);
        throw;
    }
}

std::optional<FileIdentity> identityOf(const std::filesystem::path& path) noexcept {
    struct stat attributes {};
    if (::lstat(path.c_str(), &attributes) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(attributes.st_dev),
                        static_cast<std::uint64_t>(attributes.st_ino)};
}

void removeIfStill(const std::filesystem::path& path, const FileIdentity& identity) noexcept {
    if (identityOf(path) == identity)
        ::unlink(path.c_str());
}

void directory(const std::filesystem::path& path) {
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

bool lockedAgainstChange(const std::filesystem::path& path) {
#if defined(__APPLE__)
    struct stat attributes {};
    if (::lstat(path.c_str(), &attributes) != 0)
        throwLastError("прочитать свойства файла", path);
    return (attributes.st_flags & (UF_IMMUTABLE | SF_IMMUTABLE | UF_APPEND | SF_APPEND)) != 0;
#elif defined(__linux__)
    struct stat attributes {};
    const auto file = openForReading(path, attributes, "прочитать свойства файла");
    int flags = 0;
    if (::ioctl(file.get(), FS_IOC_GETFLAGS, &flags) != 0) {
        if (errno == ENOTTY || errno == ENOTSUP || errno == EOPNOTSUPP || errno == EINVAL)
            return false;
        throwLastError("прочитать свойства файла", path);
    }
    return (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
#else
    (void)path;
    return false;
#endif
}

void syncFolder(const std::filesystem::path& folder) {
    UniqueFd opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!opened)
        throwLastError("сохранить папку на диск", folder);
    if (::fsync(opened.get()) != 0)
        throwLastError("сохранить папку на диск", folder);
}

void writeAll(int fd, std::string_view bytes, const char* operation,
              const std::filesystem::path& path) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const auto count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throwLastError(operation, path);
        }
        written += static_cast<std::size_t>(count);
    }
}

std::size_t readFull(int fd, char* buffer, std::size_t size, const char* operation,
                     const std::filesystem::path& path) {
    std::size_t total = 0;
    while (total < size) {
        const auto count = ::read(fd, buffer + total, size - total);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throwLastError(operation, path);
        }
        if (count == 0)
            break;
        total += static_cast<std::size_t>(count);
    }
    return total;
}

} // namespace orvek::base
