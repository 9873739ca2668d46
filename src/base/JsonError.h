#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

namespace orvek::base {

/// A JSON decoding or encoding error. The JSON library's own errors are English, and the user
/// reads this one in a status line, so the description is a finished Russian sentence.
class JsonError : public std::runtime_error {
public:
    JsonError(const std::string& description, std::optional<std::size_t> byteOffset);

    /// Where decoding stopped, counted in bytes from the start; absent for encoding errors.
    [[nodiscard]] std::optional<std::size_t> byteOffset() const noexcept { return m_byteOffset; }

private:
    std::optional<std::size_t> m_byteOffset;
};

} // namespace orvek::base
