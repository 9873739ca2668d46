#include "config/PreservedConfig.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#if defined(__APPLE__)
#include <copyfile.h>
#elif defined(__linux__)
#include <sys/xattr.h>
#endif

#include "base/FilePrimitives.h"
#include "base/InstallerFailure.h"
#include "base/PlatformError.h"
#include "base/UniqueFd.h"
#include "base/Uuid.h"
#include "config/ConfigReader.h"

namespace orvek::config::PreservedConfig {

namespace {

using base::InstallerFailure;
using base::PlatformError;
using base::throwLastError;
using base::UniqueFd;

std::filesystem::path sibling(const std::filesystem::path& target, const char* infix) {
    return target.parent_path() / (target.filename().string() + "." + infix + base::newUuid());
}

// A file this call created. Unless kept, it is removed when the owner goes away, but only while
// its name still leads to the same file: after the commit rename the name leads nowhere.
class CreatedFile {
public:
    /// Creates `path`'s name inside the open `folder`, so that a link put in place of a folder
    /// of the path after the check cannot lead the new file somewhere else.
    CreatedFile(std::filesystem::path path, int folder)
        : m_path(std::move(path)), m_folder(folder) {
        m_fd.reset(::openat(m_folder, m_path.filename().c_str(),
                            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!m_fd)
            base::throwLastError("создать файл", m_path);
        if (::fstat(m_fd.get(), &m_attributes) != 0) {
            const int error = errno;
            ::unlinkat(m_folder, m_path.filename().c_str(), 0);
            throw base::PlatformError(error, "создать файл", m_path);
        }
    }
    ~CreatedFile() {
        m_fd.reset();
        if (m_kept)
            return;
        // Removed through the open folder: if the user moved the folder away meanwhile, the
        // staged file goes from where the folder is now, and nothing at the old path is touched.
        struct stat now {};
        if (::fstatat(m_folder, m_path.filename().c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            now.st_dev == m_attributes.st_dev && now.st_ino == m_attributes.st_ino)
            ::unlinkat(m_folder, m_path.filename().c_str(), 0);
    }
    CreatedFile(const CreatedFile&) = delete;
    CreatedFile& operator=(const CreatedFile&) = delete;

    [[nodiscard]] int fd() const noexcept { return m_fd.get(); }
    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_path; }
    [[nodiscard]] const struct stat& attributes() const noexcept { return m_attributes; }

    /// Closes the file; throws base::PlatformError when the close reports a failed write.
    void close(const char* operation) {
        if (::close(m_fd.release()) != 0)
            base::throwLastError(operation, m_path);
    }
    void keep() noexcept { m_kept = true; }

private:
    std::filesystem::path m_path;
    int m_folder; // borrowed: the caller's open folder outlives the file
    base::UniqueFd m_fd;
    struct stat m_attributes {};
    bool m_kept = false;
};

#if !defined(__APPLE__)

void copyData(int from, const std::filesystem::path& source, const CreatedFile& to) {
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const auto count =
            base::readFull(from, buffer.data(), buffer.size(), "скопировать файл", source);
        base::writeAll(to.fd(), std::string_view(buffer.data(), count), "скопировать файл",
                       to.path());
        if (count < buffer.size())
            return;
    }
}

#if defined(__linux__)
// User attributes and POSIX ACLs (system.posix_acl_*) travel the same way on Linux.
void copyExtendedAttributes(int from, const std::filesystem::path& source, const CreatedFile& to) {
    std::vector<char> names;
    while (true) {
        const auto size = ::flistxattr(from, nullptr, 0);
        if (size < 0 && (errno == ENOTSUP || errno == EOPNOTSUPP))
            return;
        if (size < 0)
            base::throwLastError("скопировать файл", source);
        names.resize(static_cast<std::size_t>(size));
        const auto listed = ::flistxattr(from, names.data(), names.size());
        if (listed >= 0) {
            names.resize(static_cast<std::size_t>(listed));
            break;
        }
        // ERANGE: an attribute was added between the two calls.
        if (errno != ERANGE)
            base::throwLastError("скопировать файл", source);
    }

    std::vector<char> value;
    for (std::size_t at = 0; at < names.size();) {
        const std::string name(names.data() + at);
        at += name.size() + 1;
        ssize_t length = -1;
        while (length < 0) {
            const auto size = ::fgetxattr(from, name.c_str(), nullptr, 0);
            if (size >= 0) {
                value.resize(static_cast<std::size_t>(size));
                length = ::fgetxattr(from, name.c_str(), value.data(), value.size());
            }
            // ERANGE: the value grew between the two calls.
            if (length < 0 && errno != ERANGE)
                break;
        }
        // ENODATA: removed since it was listed, so there is nothing to carry.
        if (length < 0 && errno == ENODATA)
            continue;
        if (length < 0)
            base::throwLastError("скопировать файл", source);
        if (::fsetxattr(to.fd(), name.c_str(), value.data(), static_cast<std::size_t>(length), 0) !=
            0)
            base::throwLastError("скопировать файл", to.path());
    }
}
#endif

#endif

// Copies contents, owner, group, extended attributes and access lists, permissions and times,
// as the platform's file copy does, into a file this call has just created.
void copyInto(int from, const struct stat& original, const std::filesystem::path& source,
              const CreatedFile& to) {
#if defined(__APPLE__)
    (void)original;
    (void)source;
    if (::fcopyfile(from, to.fd(), nullptr, COPYFILE_ALL) != 0)
        base::throwLastError("скопировать файл", to.path());
#else
    copyData(from, source, to);
    if (::fchown(to.fd(), original.st_uid, original.st_gid) != 0) {
        // Without privileges only the group can fail to carry; that loses nothing of the
        // owner's rights, while a copy owned by someone else's account would.
        if (errno != EPERM || to.attributes().st_uid != original.st_uid)
            base::throwLastError("скопировать файл", to.path());
    }
#if defined(__linux__)
    copyExtendedAttributes(from, source, to);
#endif
    // After the owner change, which may clear set-ID bits, and after the access list, whose
    // mask the group bits must match.
    if (::fchmod(to.fd(), original.st_mode & 07777) != 0)
        base::throwLastError("скопировать файл", to.path());
    const std::array<struct timespec, 2> times{original.st_atim, original.st_mtim};
    if (::futimens(to.fd(), times.data()) != 0)
        base::throwLastError("скопировать файл", to.path());
#endif
}

// The platform copy of a regular file into a new sibling, which goes away again if the copy
// fails half way.
void copyFile(const std::filesystem::path& source, CreatedFile& to) {
    struct stat original {};
    const auto from = base::openForReading(source, original, "скопировать файл");
    // Swapped for something else since it was checked.
    if (!S_ISREG(original.st_mode))
        throw ConfigReader::failure();
    copyInto(from.get(), original, source, to);
}

constexpr std::size_t kReadLimit = 1'048'576;

void call(const StepHook& hook, Step step) {
    if (hook)
        hook(step);
}

void replace(const std::filesystem::path& target, std::string_view expected,
             std::string_view updated, const StepHook& hook) {
    base::noLinks(target);
    if (base::read(target) != expected)
        throw ConfigReader::failure();
    if (expected == updated)
        return;
    // A file the wizard could not read back must not replace one it could.
    if (updated.size() > kReadLimit)
        throw ConfigReader::failure();

    struct stat attributes {};
    if (::lstat(target.c_str(), &attributes) != 0)
        base::throwLastError("прочитать свойства файла", target);
    if (!S_ISREG(attributes.st_mode) || attributes.st_uid != ::getuid() ||
        (attributes.st_mode & S_IWUSR) == 0)
        throw ConfigReader::failure();
    // The staged copy would carry the flag and could be neither renamed nor removed.
    if (base::lockedAgainstChange(target))
        throw ConfigReader::failure();
    call(hook, Step::checked);

    const auto stagedPath = sibling(target, "orvek-stage-");
    const auto backupPath = sibling(target, "orvek-backup-");
    base::noLinks(stagedPath);
    base::noLinks(backupPath);
    const UniqueFd folder(
        ::open(target.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder)
        throwLastError("открыть папку", target.parent_path());

    CreatedFile staged(stagedPath, folder.get());
    copyFile(target, staged);
    call(hook, Step::staged);

    if (::ftruncate(staged.fd(), 0) != 0 || ::lseek(staged.fd(), 0, SEEK_SET) != 0)
        base::throwLastError("записать файл", stagedPath);
    base::writeAll(staged.fd(), updated, "записать файл", stagedPath);
    if (::fsync(staged.fd()) != 0)
        base::throwLastError("сохранить файл на диск", stagedPath);
    staged.close("записать файл");
    call(hook, Step::written);

    base::noLinks(target);
    if (base::read(target) != expected)
        throw changed();
    call(hook, Step::rechecked);

    {
        // Once complete, the backup stays for good: it is the user's way back.
        CreatedFile backup(backupPath, folder.get());
        copyFile(target, backup);
        if (::fsync(backup.fd()) != 0)
            base::throwLastError("сохранить файл на диск", backupPath);
        backup.close("скопировать файл");
        backup.keep();
        base::syncFolder(target.parent_path());
    }
    call(hook, Step::backedUp);

    if (base::read(backupPath) != expected || base::read(target) != expected)
        throw ConfigReader::failure();
    call(hook, Step::verified);

    // The one replacement: atomic within the folder, so the target is never half written.
    if (::rename(stagedPath.c_str(), target.c_str()) != 0)
        throw ConfigReader::failure();
    base::syncFolder(target.parent_path());
    call(hook, Step::renamed);

    if (base::read(target) != updated)
        throw ConfigReader::failure();
}

} // namespace

const char* stepName(Step step) {
    switch (step) {
    case Step::checked:
        return "checked";
    case Step::staged:
        return "staged";
    case Step::written:
        return "written";
    case Step::rechecked:
        return "rechecked";
    case Step::backedUp:
        return "backedUp";
    case Step::verified:
        return "verified";
    case Step::renamed:
        return "renamed";
    }
    return "?";
}

InstallerFailure changed() {
    return InstallerFailure("Настройки изменились во время проверки.", "CONFIGURATION_CHANGED");
}

void write(const std::filesystem::path& target, std::string_view expected,
           std::string_view updated) {
    replace(target, expected, updated, nullptr);
}

void writeForTesting(const std::filesystem::path& target, std::string_view expected,
                     std::string_view updated, const StepHook& hook) {
    replace(target, expected, updated, hook);
}

} // namespace orvek::config::PreservedConfig
