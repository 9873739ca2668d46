// The calls that change files and folders but that libfiu's POSIX wrappers leave alone, wrapped
// here in the same way: each passes a failure point of its own before the real call. Defined in
// the driver itself, they stand in for the C library's for the engine's code linked into it and
// for the standard library's calls alike.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <fiu.h>

#include "FaultPlan.h"

namespace {

template <typename Function> Function* next(const char* name) {
    return reinterpret_cast<Function*>(::dlsym(RTLD_NEXT, name));
}

// True when the point fails this call, with errno set as libfiu's own wrappers set it.
bool failing(const char* point) {
    if (fiu_fail(point) == 0)
        return false;
    errno = static_cast<int>(reinterpret_cast<std::intptr_t>(fiu_failinfo()));
    return true;
}

// Marks the calls on descriptors that are no files or folders as passing through the plan.
class OnDescriptor {
public:
    explicit OnDescriptor(int fd) {
        struct stat attributes {};
        m_passing = ::fstat(fd, &attributes) == 0 && !S_ISREG(attributes.st_mode) &&
                    !S_ISDIR(attributes.st_mode);
        if (m_passing)
            orvek::test::passingThrough() = true;
    }
    ~OnDescriptor() {
        if (m_passing)
            orvek::test::passingThrough() = false;
    }
    OnDescriptor(const OnDescriptor&) = delete;
    OnDescriptor& operator=(const OnDescriptor&) = delete;

private:
    bool m_passing = false;
};

} // namespace

extern "C" {

// Reads and writes go on to libfiu's wrappers, told whether the descriptor is a file.
ssize_t read(int fd, void* buffer, size_t size) {
    static auto* const real = next<ssize_t(int, void*, size_t)>("read");
    const OnDescriptor descriptor(fd);
    return real(fd, buffer, size);
}

ssize_t write(int fd, const void* buffer, size_t size) {
    static auto* const real = next<ssize_t(int, const void*, size_t)>("write");
    const OnDescriptor descriptor(fd);
    return real(fd, buffer, size);
}

// A folder that already stands there is passed through uncounted: after any failed mkdir the
// engine looks at what stands under the name, so every failure of it is the same as EEXIST.
int mkdir(const char* path, mode_t mode) noexcept {
    static auto* const real = next<int(const char*, mode_t)>("mkdir");
    struct stat attributes {};
    const bool standing = ::lstat(path, &attributes) == 0 && S_ISDIR(attributes.st_mode);
    return !standing && failing("orvek/fs/mkdir") ? -1 : real(path, mode);
}

char* mkdtemp(char* pattern) noexcept {
    static auto* const real = next<char*(char*)>("mkdtemp");
    return failing("orvek/fs/mkdtemp") ? nullptr : real(pattern);
}

int rmdir(const char* path) noexcept {
    static auto* const real = next<int(const char*)>("rmdir");
    return failing("orvek/fs/rmdir") ? -1 : real(path);
}

// Files made and removed inside an open folder; libfiu wraps only open and unlink.
int openat(int folder, const char* path, int flags, ...) {
    static auto* const real = next<int(int, const char*, int, ...)>("openat");
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list arguments;
        va_start(arguments, flags);
        mode = static_cast<mode_t>(va_arg(arguments, unsigned int));
        va_end(arguments);
    }
    return failing("orvek/fs/openat") ? -1 : real(folder, path, flags, mode);
}

// On 64-bit Linux the large-file variant is the same call.
int openat64(int folder, const char* path, int flags, ...) __attribute__((alias("openat")));

int unlinkat(int folder, const char* path, int flags) noexcept {
    static auto* const real = next<int(int, const char*, int)>("unlinkat");
    return failing("orvek/fs/unlinkat") ? -1 : real(folder, path, flags);
}

int renameat2(int fromFolder, const char* from, int toFolder, const char* to,
              unsigned int flags) noexcept {
    static auto* const real =
        next<int(int, const char*, int, const char*, unsigned int)>("renameat2");
    return failing("orvek/fs/renameat2") ? -1 : real(fromFolder, from, toFolder, to, flags);
}

int chmod(const char* path, mode_t mode) noexcept {
    static auto* const real = next<int(const char*, mode_t)>("chmod");
    return failing("orvek/fs/chmod") ? -1 : real(path, mode);
}

int fchmod(int fd, mode_t mode) noexcept {
    static auto* const real = next<int(int, mode_t)>("fchmod");
    return failing("orvek/fs/fchmod") ? -1 : real(fd, mode);
}

int fchown(int fd, uid_t owner, gid_t group) noexcept {
    static auto* const real = next<int(int, uid_t, gid_t)>("fchown");
    return failing("orvek/fs/fchown") ? -1 : real(fd, owner, group);
}

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) noexcept {
    static auto* const real = next<int(int, const char*, const void*, size_t, int)>("fsetxattr");
    return failing("orvek/fs/fsetxattr") ? -1 : real(fd, name, value, size, flags);
}

int futimens(int fd, const struct timespec times[2]) noexcept {
    static auto* const real = next<int(int, const struct timespec*)>("futimens");
    return failing("orvek/fs/futimens") ? -1 : real(fd, times);
}

} // extern "C"
