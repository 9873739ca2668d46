#include "base/NoReplaceRename.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

// glibc before 2.28 has no wrapper for renameat2; the system call itself is older.
#if defined(__linux__) &&                                                                          \
    !(defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28)))
#define ORVEK_RENAMEAT2_SYSCALL 1
#include <linux/fs.h>
#include <sys/syscall.h>
#endif

#include "base/FilePrimitives.h"
#include "base/PlatformError.h"
#include "base/UniqueFd.h"

namespace orvek::base {

// A file that took the name meanwhile is someone else's, so the move must fail, not replace it.
void moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
#if defined(__APPLE__)
    const int result = ::renamex_np(from.c_str(), to.c_str(), RENAME_EXCL);
#elif defined(ORVEK_RENAMEAT2_SYSCALL)
    const int result = static_cast<int>(
        ::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE));
#elif defined(__linux__)
    const int result = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
#else
#error "No atomic rename without replacement on this platform"
#endif
    if (result != 0)
        throwLastError("переместить файл", to);
}

void publishWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    struct stat attributes {};
    const auto item = openForReading(from, attributes, "сохранить файл на диск");
    if (::fsync(item.get()) != 0)
        throwLastError("сохранить файл на диск", from);
    moveWithoutReplacing(from, to);
    syncFolder(to.parent_path());
}

} // namespace orvek::base
