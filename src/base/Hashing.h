#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace orvek::base {

/// A digest as lower-case hexadecimal, two digits a byte: the form every hash is compared in.
[[nodiscard]] std::string hexDigest(const unsigned char* digest, std::size_t length);

/// SHA-256 as 64 lower-case hex digits.
[[nodiscard]] std::string hash(std::string_view bytes);

/// SHA-256 of a regular file of any size, streamed in constant memory, as 64 lower-case hex
/// digits. Opens without following links; throws PlatformError.
[[nodiscard]] std::string hashFile(const std::filesystem::path& path);

/// What `hashOpenFile` read: its SHA-256 as 64 lower-case hex digits and how many bytes it was.
struct FileDigest {
    std::string sha256;
    std::uint64_t size = 0;
};

/// SHA-256 of the rest of an open file, read to its end; `path` only names it in an error.
/// Hashing the descriptor a caller has already checked leaves no moment to swap the file.
[[nodiscard]] FileDigest hashOpenFile(int descriptor, const std::filesystem::path& path);

/// True for exactly 64 lower-case hex digits, the only form a SHA-256 is accepted in.
[[nodiscard]] bool isSha256Text(std::string_view text) noexcept;

} // namespace orvek::base
