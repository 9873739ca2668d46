#pragma once

#include <cstddef>
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

/// True for exactly 64 lower-case hex digits, the only form a SHA-256 is accepted in.
[[nodiscard]] bool isSha256Text(std::string_view text) noexcept;

} // namespace orvek::base
