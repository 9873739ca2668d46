#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/InstallerFailure.h"
#include "base/Json.h"
#include "base/JsonError.h"
#include "config/ConfigNode.h"

namespace orvek::config {

/// Strict reader of users' JSON settings files: accepts only plain RFC 8259 JSON whose top
/// value is an object, with no duplicate member names at any depth, and records the byte range
/// of every value so that callers can patch a file in place. Structural refusals throw
/// `failure()`; errors of the JSON decoder pass through as base::JsonError.
class ConfigReader {
public:
    struct Parsed {
        ConfigNode node;
        base::JsonValue dictionary;
    };

    /// The one refusal of the reader, shared by every caller that meets a settings file of an
    /// unexpected shape.
    [[nodiscard]] static base::InstallerFailure failure();

    /// Checks size (at most 1 MiB) and UTF-8; throws `failure()`.
    explicit ConfigReader(std::string_view bytes);

    /// The top object's node and the decoded document; throws `failure()` or base::JsonError.
    [[nodiscard]] static Parsed parse(std::string_view bytes);

    /// Offset of the first byte that is not part of a well-formed UTF-8 sequence; absent when
    /// the whole input is UTF-8. Never throws.
    [[nodiscard]] static std::optional<std::size_t> invalidUtf8(std::string_view bytes) noexcept;

    // The steps of `parse`, public for diagnostics. Each throws `failure()` or base::JsonError.
    void space();
    void need(char byte);
    [[nodiscard]] std::string string();
    [[nodiscard]] ConfigNode value(std::int64_t depth);
    [[nodiscard]] ConfigNode root();

    [[nodiscard]] const std::string& bytes() const noexcept { return m_bytes; }
    /// The cursor: offset of the next byte to examine; after a refusal, where it was found.
    [[nodiscard]] std::int64_t at() const noexcept { return m_at; }
    /// Why the last `failure()` was thrown, in English for support tools; empty before that.
    [[nodiscard]] const std::string& refusal() const noexcept { return m_refusal; }

private:
    [[noreturn]] void refuse(std::string reason);
    // Refuses the byte at the cursor (or the end of input) where `expected` should be.
    [[noreturn]] void unexpected(std::string_view expected);

    // `value` that builds member maps only when `keep` is set: array elements are checked in
    // full but their nodes are thrown away.
    [[nodiscard]] ConfigNode scan(std::int64_t depth, bool keep);
    [[nodiscard]] ConfigNode array(std::int64_t depth);
    [[nodiscard]] ConfigNode object(std::int64_t depth, bool keep);
    void token();
    // One quoted string at the cursor: a view of the bytes between the quotes when they are
    // already the text, otherwise the decoded text, stored in `decoded`.
    [[nodiscard]] std::string_view quoted(std::string& decoded);

    std::string m_bytes;
    std::int64_t m_at = 0;
    std::string m_refusal;
};

} // namespace orvek::config
