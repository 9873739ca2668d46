#pragma once

#include <optional>
#include <stdexcept>
#include <string>

namespace orvek::base {

/// The system's own error: a finished Russian sentence for the user and, where a caller or
/// support needs one, an upper-case code. Its description (`what`) is the message itself.
class InstallerFailure : public std::exception {
public:
    explicit InstallerFailure(std::string message, std::optional<std::string> code = std::nullopt);

    [[nodiscard]] const std::string& message() const noexcept { return m_message; }
    [[nodiscard]] const std::optional<std::string>& code() const noexcept { return m_code; }

    /// The localized description shown to the user: always the message.
    [[nodiscard]] const std::string& errorDescription() const noexcept { return m_message; }
    [[nodiscard]] const char* what() const noexcept override { return m_message.c_str(); }

    /// True only for an InstallerFailure whose code is exactly `code` (case-sensitive); any
    /// other error counts as having no code.
    [[nodiscard]] static bool hasCode(const std::exception& error, std::string_view code) noexcept;

private:
    std::string m_message;
    std::optional<std::string> m_code;
};

} // namespace orvek::base
