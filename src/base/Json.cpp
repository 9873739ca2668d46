#include "base/Json.h"

#include <cmath>
#include <limits>

namespace orvek::base {

namespace {

// Markers and recorded hashes are compared on these bytes, so the form never changes: compact,
// keys in byte order at every level, "/" escaped, integral numbers without a fraction.
void write(const JsonValue& value, Bytes& out) {
    switch (value.type()) {
    case JsonValue::value_t::object: {
        out += '{';
        bool first = true;
        // nlohmann keeps object members in a std::map, whose std::string keys compare bytewise.
        for (const auto& [key, member] : value.items()) {
            if (!first)
                out += ',';
            first = false;
            write(JsonValue(key), out);
            out += ':';
            write(member, out);
        }
        out += '}';
        return;
    }
    case JsonValue::value_t::array: {
        out += '[';
        bool first = true;
        for (const auto& element : value) {
            if (!first)
                out += ',';
            first = false;
            write(element, out);
        }
        out += ']';
        return;
    }
    case JsonValue::value_t::string: {
        std::string quoted;
        try {
            quoted = value.dump(-1, ' ', false, JsonValue::error_handler_t::strict);
        } catch (const nlohmann::json::type_error&) {
            throw JsonError("Не удалось записать JSON: текст не в кодировке UTF-8.", std::nullopt);
        }
        // Escape sequences never contain "/", so every slash here is a character of the text.
        for (const char c : quoted) {
            if (c == '/')
                out += "\\/";
            else
                out += c;
        }
        return;
    }
    case JsonValue::value_t::number_float: {
        const double number = value.get<double>();
        if (!std::isfinite(number))
            throw JsonError("Не удалось записать JSON: число не конечно.", std::nullopt);
        constexpr double kIntegralLimit = 9007199254740992.0; // 2^53: every integer is exact
        if (std::trunc(number) == number && std::fabs(number) <= kIntegralLimit) {
            out += std::to_string(static_cast<long long>(number));
            return;
        }
        out += value.dump();
        return;
    }
    case JsonValue::value_t::number_integer:
    case JsonValue::value_t::number_unsigned:
    case JsonValue::value_t::boolean:
    case JsonValue::value_t::null:
        out += value.dump();
        return;
    case JsonValue::value_t::binary:
    case JsonValue::value_t::discarded:
        break;
    }
    throw JsonError("Не удалось записать JSON: значение не поддерживается.", std::nullopt);
}

} // namespace

Bytes json(const JsonValue& value) {
    Bytes out;
    write(value, out);
    return out;
}

JsonValue decodeJson(std::string_view bytes,
                     const std::function<JsonError(std::size_t offset)>& refuse) {
    // The decoder stops at a NUL byte as if the text ended there; JSON never holds one raw.
    if (const auto nul = bytes.find('\0'); nul != std::string_view::npos)
        throw refuse(nul);
    try {
        return JsonValue::parse(bytes);
    } catch (const JsonValue::parse_error& error) {
        throw refuse(error.byte > 0 ? error.byte - 1 : 0);
    } catch (const JsonValue::exception&) {
        throw refuse(0);
    }
}

std::optional<std::map<std::string, std::string>> stringMap(const JsonValue& value) {
    if (!value.is_object())
        return std::nullopt;
    std::map<std::string, std::string> strings;
    for (const auto& [name, member] : value.items()) {
        if (!member.is_string())
            return std::nullopt;
        strings.emplace(name, member.get<std::string>());
    }
    return strings;
}

} // namespace orvek::base
