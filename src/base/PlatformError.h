#pragma once

#include <filesystem>
#include <string>
#include <system_error>

namespace orvek::base {

/// A failed system call, passed through to the user unchanged. The errno and the path stay
/// available to code; `what` is a finished Russian sentence naming the operation and the path.
class PlatformError : public std::system_error {
public:
    /// `operation` is a Russian infinitive phrase such as "прочитать файл".
    PlatformError(int errnoValue, std::string operation, std::filesystem::path path);

    [[nodiscard]] int errnoValue() const noexcept { return code().value(); }
    [[nodiscard]] const std::string& operation() const noexcept { return m_operation; }
    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_path; }
    [[nodiscard]] const char* what() const noexcept override { return m_description.c_str(); }

    /// The Russian reason for an errno value, without a final full stop.
    [[nodiscard]] static std::string reason(int errnoValue);

private:
    std::string m_operation;
    std::filesystem::path m_path;
    std::string m_description;
};

/// Throws a PlatformError for the current errno.
[[noreturn]] void throwLastError(const std::string& operation, const std::filesystem::path& path);

} // namespace orvek::base
