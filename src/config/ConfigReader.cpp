#include "config/ConfigReader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <forward_list>
#include <memory>
#include <unordered_set>
#include <utility>
#include <vector>

#include <utf8proc.h>

#include "base/Json.h"
#include "base/JsonError.h"

namespace orvek::config {

namespace {

using base::JsonValue;

constexpr std::size_t kSizeLimit = 1'048'576;
// The root sits at depth 0, so this allows 48 levels.
constexpr std::int64_t kDeepest = 47;
// Any decimal below 10^308 is below the largest double, so the decoder cannot call it an
// overflow.
constexpr std::int64_t kFiniteDigits = 308;
// The decoder's error id for a number too large for a double.
constexpr int kNumberOverflow = 406;

bool isSpace(unsigned char byte) {
    return byte == 0x09 || byte == 0x0A || byte == 0x0D || byte == 0x20;
}

bool endsToken(unsigned char byte) {
    return isSpace(byte) || byte == ',' || byte == ']' || byte == '}';
}

bool isDigit(unsigned char byte) {
    return byte >= '0' && byte <= '9';
}

// Bytes that a number or a literal, even a misspelt one, is made of. Anything else in a bare
// token is a stray byte (a comment, a byte-order mark, an odd space) rather than a bad value.
bool isTokenByte(unsigned char byte) {
    return isDigit(byte) || (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
           byte == '-' || byte == '+' || byte == '.';
}

// True for an RFC 8259 number small enough that the decoder accepts it: a decimal with n
// integer digits and exponent e is below 10^(n+e). Anything else goes to the decoder.
bool plainNumber(std::string_view token) {
    std::size_t i = 0;
    const auto size = token.size();
    const auto digits = [&] {
        const auto first = i;
        while (i < size && isDigit(static_cast<unsigned char>(token[i])))
            ++i;
        return i - first;
    };
    if (i < size && token[i] == '-')
        ++i;
    if (i >= size || !isDigit(static_cast<unsigned char>(token[i])))
        return false;
    std::int64_t integerDigits = 0;
    if (token[i] == '0') {
        ++i;
        integerDigits = 1;
    } else {
        integerDigits = static_cast<std::int64_t>(digits());
    }
    if (i < size && token[i] == '.') {
        ++i;
        if (digits() == 0)
            return false;
    }
    std::int64_t exponent = 0;
    if (i < size && (token[i] == 'e' || token[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < size && (token[i] == '+' || token[i] == '-'))
            negative = token[i++] == '-';
        const auto first = i;
        if (digits() == 0)
            return false;
        for (auto j = first; j < i; ++j)
            exponent = std::min<std::int64_t>(exponent * 10 + (token[j] - '0'), 1'000'000);
        if (negative)
            exponent = -exponent;
    }
    return i == size && integerDigits + exponent <= kFiniteDigits;
}

base::JsonError decoderError(const JsonValue::exception& error, std::size_t base,
                             std::size_t size) {
    std::size_t offset = base;
    if (const auto* parse = dynamic_cast<const JsonValue::parse_error*>(&error);
        parse != nullptr && parse->byte > 0)
        offset = std::min(base + parse->byte - 1, size);
    const std::string what =
        error.id == kNumberOverflow ? "слишком большое число" : "некорректный JSON";
    return base::JsonError(
        "Файл настроек содержит " + what + " (байт " + std::to_string(offset) + ").", offset);
}

// Decodes bytes[first, last) as a complete JSON document; decoder errors carry offsets into
// the whole input.
JsonValue decode(const std::string& bytes, std::size_t first, std::size_t last) {
    try {
        return JsonValue::parse(bytes.data() + first, bytes.data() + last);
    } catch (const JsonValue::exception& error) {
        throw decoderError(error, first, bytes.size());
    }
}

// How a refusal names the bytes at `at`.
std::string describe(std::string_view bytes, std::size_t at) {
    if (at >= bytes.size())
        return "unexpected end of input";
    const auto rest = bytes.substr(at);
    if (rest.starts_with("\xEF\xBB\xBF"))
        return "byte-order mark";
    if (rest.starts_with("//") || rest.starts_with("/*"))
        return "comment";
    const auto byte = static_cast<unsigned char>(rest.front());
    if (byte > 0x20 && byte < 0x7F)
        return std::string("unexpected '") + rest.front() + "'";
    constexpr std::string_view kHex = "0123456789ABCDEF";
    return std::string("unexpected byte 0x") + kHex[byte >> 4] + kHex[byte & 0x0F];
}

// The member names met so far in one object, in normalisation form C, so that names which
// are the same Unicode text collide however they were spelt.
class Names {
public:
    // False when an equal name was met before. A name that does not live in the reader's
    // bytes is copied, since the caller's buffer is reused for the next name.
    bool insert(std::string_view name, bool lasting) {
        auto normal = normalise(name);
        if (normal.data() == name.data() && !lasting)
            normal = m_storage.emplace_front(name);
        if (m_lookup) {
            return m_lookup->insert(normal).second;
        }
        if (std::find(m_names.begin(), m_names.end(), normal) != m_names.end())
            return false;
        m_names.push_back(normal);
        // Large objects switch from a linear search to hashing.
        if (m_names.size() > 16)
            m_lookup = std::make_unique<std::unordered_set<std::string_view>>(m_names.begin(),
                                                                              m_names.end());
        return true;
    }

private:
    std::string_view normalise(std::string_view name) {
        if (std::all_of(name.begin(), name.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
            return name;
        utf8proc_uint8_t* mapped = nullptr;
        const auto length =
            utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(name.data()),
                         static_cast<utf8proc_ssize_t>(name.size()), &mapped,
                         static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
        // Decoded names are valid Unicode; should utf8proc disagree, compare them as written.
        if (length < 0)
            return m_storage.emplace_front(name);
        const std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(mapped, &std::free);
        return m_storage.emplace_front(reinterpret_cast<const char*>(mapped),
                                       static_cast<std::size_t>(length));
    }

    // Views point into the reader's bytes or into this list, whose elements never move.
    std::forward_list<std::string> m_storage;
    std::vector<std::string_view> m_names;
    std::unique_ptr<std::unordered_set<std::string_view>> m_lookup;
};

} // namespace

base::InstallerFailure ConfigReader::failure() {
    return base::InstallerFailure("Настройки не поддерживаются. Исходные файлы сохранены.",
                                  "CONFIGURATION_UNSUPPORTED");
}

std::optional<std::size_t> ConfigReader::invalidUtf8(std::string_view bytes) noexcept {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    while (i < size) {
        // Settings files are mostly ASCII: eight bytes at a time while no high bit is set.
        if (i + 8 <= size) {
            std::uint64_t chunk = 0;
            std::memcpy(&chunk, data + i, sizeof chunk);
            if ((chunk & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // Well-formed sequences as RFC 3629 lists them: no overlong forms, no surrogates,
        // nothing above U+10FFFF.
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0;
            if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90;
            if (lead == 0xF4)
                high = 0x8F;
        } else {
            return i;
        }
        if (i + 1 >= size || data[i + 1] < low || data[i + 1] > high)
            return i;
        for (std::size_t k = 2; k < length; ++k) {
            if (i + k >= size || data[i + k] < 0x80 || data[i + k] > 0xBF)
                return i;
        }
        i += length;
    }
    return std::nullopt;
}

ConfigReader::ConfigReader(std::string_view bytes) {
    if (bytes.size() > kSizeLimit)
        refuse("larger than 1 MiB");
    if (const auto bad = invalidUtf8(bytes)) {
        m_at = static_cast<std::int64_t>(*bad);
        refuse("invalid UTF-8");
    }
    m_bytes = bytes;
}

ConfigReader::Parsed ConfigReader::parse(std::string_view bytes) {
    ConfigReader reader(bytes);
    auto node = reader.root();
    auto dictionary = decode(reader.m_bytes, 0, reader.m_bytes.size());
    if (!dictionary.is_object())
        reader.refuse("top value is not an object");
    return Parsed{std::move(node), std::move(dictionary)};
}

void ConfigReader::refuse(std::string reason) {
    m_refusal = std::move(reason);
    throw failure();
}

void ConfigReader::unexpected(std::string_view expected) {
    auto reason = describe(m_bytes, static_cast<std::size_t>(m_at));
    if (reason.starts_with("unexpected") && !expected.empty())
        reason += ", expected " + std::string(expected);
    refuse(std::move(reason));
}

void ConfigReader::space() {
    const auto size = static_cast<std::int64_t>(m_bytes.size());
    while (m_at < size && isSpace(static_cast<unsigned char>(m_bytes[m_at])))
        ++m_at;
}

void ConfigReader::need(char byte) {
    space();
    if (m_at < static_cast<std::int64_t>(m_bytes.size()) && m_bytes[m_at] == byte) {
        ++m_at;
        return;
    }
    unexpected(std::string("'") + byte + "'");
}

std::string_view ConfigReader::quoted(std::string& decoded) {
    space();
    const auto start = static_cast<std::size_t>(m_at);
    need('"');
    const auto* data = reinterpret_cast<const unsigned char*>(m_bytes.data());
    const std::size_t size = m_bytes.size();
    auto i = static_cast<std::size_t>(m_at);
    // Without escapes and control characters the quoted bytes are already the text: the
    // whole input is known to be UTF-8.
    bool plain = true;
    for (;;) {
        if (i >= size) {
            m_at = static_cast<std::int64_t>(size);
            refuse("unterminated string");
        }
        const unsigned char byte = data[i];
        if (byte == '"')
            break;
        if (byte == '\\') {
            plain = false;
            i += 2;
            continue;
        }
        if (byte < 0x20)
            plain = false;
        ++i;
    }
    m_at = static_cast<std::int64_t>(i + 1);
    if (plain)
        return std::string_view(m_bytes).substr(start + 1, i - start - 1);
    auto text = decode(m_bytes, start, i + 1);
    if (!text.is_string()) {
        m_at = static_cast<std::int64_t>(start);
        refuse("string that decodes to something else");
    }
    decoded = std::move(text.get_ref<std::string&>());
    return decoded;
}

std::string ConfigReader::string() {
    std::string decoded;
    const auto text = quoted(decoded);
    if (text.data() == decoded.data())
        return decoded;
    return std::string(text);
}

ConfigNode ConfigReader::value(std::int64_t depth) {
    return scan(depth, true);
}

ConfigNode ConfigReader::scan(std::int64_t depth, bool keep) {
    if (depth > kDeepest) {
        space();
        refuse("nesting deeper than 48 levels");
    }
    space();
    if (m_at >= static_cast<std::int64_t>(m_bytes.size()))
        refuse("unexpected end of input");
    switch (m_bytes[m_at]) {
    case '"': {
        const auto start = m_at;
        std::string decoded;
        (void)quoted(decoded);
        return ConfigNode{{start, m_at}, std::nullopt};
    }
    case '[':
        return array(depth);
    case '{':
        return object(depth, keep);
    default: {
        const auto start = m_at;
        token();
        return ConfigNode{{start, m_at}, std::nullopt};
    }
    }
}

ConfigNode ConfigReader::array(std::int64_t depth) {
    const auto start = m_at++;
    const auto size = static_cast<std::int64_t>(m_bytes.size());
    space();
    if (m_at < size && m_bytes[m_at] == ']')
        return ConfigNode{{start, ++m_at}, std::nullopt};
    for (;;) {
        (void)scan(depth + 1, false);
        space();
        if (m_at >= size)
            refuse("unexpected end of input");
        if (m_bytes[m_at] == ']')
            return ConfigNode{{start, ++m_at}, std::nullopt};
        need(',');
        space();
        if (m_at < size && m_bytes[m_at] == ']')
            refuse("trailing comma");
    }
}

ConfigNode ConfigReader::object(std::int64_t depth, bool keep) {
    ConfigNode node{{m_at++, 0}, std::nullopt};
    if (keep)
        node.fields.emplace();
    const auto size = static_cast<std::int64_t>(m_bytes.size());
    space();
    if (m_at < size && m_bytes[m_at] == '}') {
        node.range.upperBound = ++m_at;
        return node;
    }
    Names names;
    for (;;) {
        space();
        const auto keyStart = m_at;
        std::string decoded;
        const auto key = quoted(decoded);
        if (!names.insert(key, key.data() != decoded.data())) {
            m_at = keyStart;
            refuse("duplicate member " + JsonValue(key).dump());
        }
        need(':');
        auto child = scan(depth + 1, keep);
        if (keep)
            node.fields->emplace(key, std::move(child));
        space();
        if (m_at < size && m_bytes[m_at] == '}') {
            node.range.upperBound = ++m_at;
            return node;
        }
        need(',');
        space();
        if (m_at < size && m_bytes[m_at] == '}')
            refuse("trailing comma");
    }
}

void ConfigReader::token() {
    const auto start = static_cast<std::size_t>(m_at);
    const std::size_t size = m_bytes.size();
    std::size_t end = start;
    while (end < size && !endsToken(static_cast<unsigned char>(m_bytes[end])))
        ++end;
    if (end == start)
        unexpected("a value");
    for (auto i = start; i < end; ++i) {
        if (!isTokenByte(static_cast<unsigned char>(m_bytes[i]))) {
            m_at = static_cast<std::int64_t>(i);
            unexpected("");
        }
    }
    const auto text = std::string_view(m_bytes).substr(start, end - start);
    if (text != "true" && text != "false" && text != "null" && !plainNumber(text))
        (void)decode(m_bytes, start, end);
    m_at = static_cast<std::int64_t>(end);
}

ConfigNode ConfigReader::root() {
    auto top = value(0);
    space();
    if (!top.fields) {
        m_at = top.range.lowerBound;
        refuse("top value is not an object");
    }
    if (m_at != static_cast<std::int64_t>(m_bytes.size()))
        refuse(describe(m_bytes, static_cast<std::size_t>(m_at)) == "comment"
                   ? "comment after the top object"
                   : "text after the top object");
    return top;
}

} // namespace orvek::config
