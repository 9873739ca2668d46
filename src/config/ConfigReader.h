#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "config/ConfigNode.h"
#include "installer/InstallerCore.h"
#include "installer/InstallerFailure.h"

namespace orvek::config {

/// Strict reader of users' JSON settings files: accepts only plain RFC 8259 JSON whose top
/// value is an object, with no duplicate member names at any depth, and records the byte range
/// of every value so that callers can patch a file in place. Structural refusals throw
/// `failure()`; errors of the JSON decoder pass through as installer::JsonError.
class ConfigReader {
public:
    struct Parsed {
        ConfigNode node;
        installer::JsonValue dictionary;
    };

    /// The one refusal of the reader, shared by every caller that meets a settings file of an
    /// unexpected shape.
    [[nodiscard]] static installer::InstallerFailure failure();

    /// Checks size (at most 1 MiB) and UTF-8; throws `failure()`.
    explicit ConfigReader(std::string_view bytes);

    /// The top object's node and the decoded document.
    [[nodiscard]] static Parsed parse(std::string_view bytes);

    // The steps of `parse`, public for diagnostics.
    void space();
    void need(char byte);
    [[nodiscard]] std::string string();
    [[nodiscard]] ConfigNode value(std::int64_t depth);
    [[nodiscard]] ConfigNode root();

    [[nodiscard]] const std::string& bytes() const noexcept { return m_bytes; }
    /// The cursor: offset of the next byte to examine.
    [[nodiscard]] std::int64_t at() const noexcept { return m_at; }
    /// Why the last `failure()` was thrown, in English for support tools; empty before that.
    [[nodiscard]] const std::string& refusal() const noexcept { return m_refusal; }

private:
    [[noreturn]] void refuse(std::string reason);

    std::string m_bytes;
    std::int64_t m_at = 0;
    std::string m_refusal;
};

} // namespace orvek::config
