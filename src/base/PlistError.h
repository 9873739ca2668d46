#pragma once

#include <filesystem>
#include <stdexcept>

namespace orvek::base {

/// A property list that could not be decoded. The parser says nothing a user could read, so the
/// description is a finished Russian sentence naming the file.
class PlistError : public std::runtime_error {
public:
    explicit PlistError(const std::filesystem::path& path);

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_path; }

private:
    std::filesystem::path m_path;
};

} // namespace orvek::base
