#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include <sys/stat.h>

#include "base/Bytes.h"
#include "base/JsonError.h"
#include "base/JsonValue.h"
#include "base/UniqueFd.h"

namespace orvek::base {

/// Throws InstallerFailure when any existing component of the path is a symbolic link,
/// except the system's own /tmp and /var.
void noLinks(const std::filesystem::path& path);

/// Opens an existing item for reading without following a final link, and without blocking
/// when a pipe was put in its place, and fills `attributes` with what was opened. Throws
/// PlatformError naming `operation`.
[[nodiscard]] UniqueFd openForReading(const std::filesystem::path& path, struct stat& attributes,
                                      const char* operation = "прочитать файл");

/// Reads a regular file of at most 1 MiB; throws InstallerFailure or PlatformError.
[[nodiscard]] Bytes read(const std::filesystem::path& path);

/// `read`, or absent when nothing stands under the name; any other trouble throws.
[[nodiscard]] std::optional<Bytes> readIfPresent(const std::filesystem::path& path);

/// Reads a whole regular file whatever its size, for the wizard's own package files; a final
/// link is not followed. Throws PlatformError.
[[nodiscard]] Bytes readWhole(const std::filesystem::path& path);

/// Decodes the bytes of the file at `path` as a JSON object; throws JsonError for invalid JSON
/// and InstallerFailure for a top-level value that is not an object.
[[nodiscard]] JsonValue decodeObject(std::string_view bytes, const std::filesystem::path& path);

/// `read`, then JSON decoding; throws JsonError for invalid JSON and InstallerFailure for a
/// top-level value that is not an object.
[[nodiscard]] JsonValue readObject(const std::filesystem::path& path);

/// Creates a new file with mode 0600, whole and flushed to disk before it appears under its name;
/// never replaces an existing one (PlatformError EEXIST). Nothing is left behind on failure.
void create(const std::filesystem::path& path, std::string_view bytes);

/// Which file a name leads to: the same pair means the same file, whatever its name now.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

/// The identity of what stands under `path` (a final link is not followed); absent when nothing
/// can be examined there.
[[nodiscard]] std::optional<FileIdentity> identityOf(const std::filesystem::path& path) noexcept;

/// Removes `path` only while it still leads to `identity`: a file someone put there since is
/// theirs and stays. Errors are ignored.
void removeIfStill(const std::filesystem::path& path, const FileIdentity& identity) noexcept;

/// Creates the folder and missing parents with mode 0700; an existing folder is accepted.
void directory(const std::filesystem::path& path);

/// True when the file is marked immutable or append-only (chflags on macOS, chattr on Linux), so
/// that neither it nor a copy carrying its flags could be replaced or removed. A file system
/// without such flags says false; other errors throw PlatformError.
[[nodiscard]] bool lockedAgainstChange(const std::filesystem::path& path);

/// Flushes the entries of `folder` (a rename or a new name in it) to disk; throws PlatformError.
void syncFolder(const std::filesystem::path& folder);

/// Writes all of `bytes` to `fd`, resuming after interruptions; throws PlatformError naming
/// `operation` and `path`.
void writeAll(int fd, std::string_view bytes, const char* operation,
              const std::filesystem::path& path);

/// Reads into `buffer` until it is full or the stream ends, resuming after interruptions;
/// returns the bytes read. Throws PlatformError naming `operation` and `path`.
[[nodiscard]] std::size_t readFull(int fd, char* buffer, std::size_t size, const char* operation,
                                   const std::filesystem::path& path);

} // namespace orvek::base
