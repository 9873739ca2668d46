// Checks the strict settings reader against a plain decode of the same bytes: whatever the
// reader accepts, the decoder reads the same way, and the reader's shortcuts for strings and
// bare tokens agree with the decoder they stand in for.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "base/InstallerFailure.h"
#include "base/Json.h"
#include "base/JsonError.h"
#include "config/ConfigReader.h"

namespace {

using orvek::base::InstallerFailure;
using orvek::base::JsonError;
using orvek::base::JsonValue;
using orvek::config::ConfigNode;
using orvek::config::ConfigReader;

[[noreturn]] void fail(const char* what, std::string_view input) {
    std::cerr << "config reader fuzz: " << what << " (" << input.size() << " bytes)\n";
    std::abort();
}

void check(bool condition, const char* what, std::string_view input) {
    if (!condition)
        fail(what, input);
}

bool isSpace(char byte) {
    return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r';
}

std::size_t skipSpace(std::string_view input, std::size_t at) {
    while (at < input.size() && isSpace(input[at]))
        ++at;
    return at;
}

std::optional<JsonValue> plainDecode(std::string_view bytes) {
    try {
        return JsonValue::parse(bytes.begin(), bytes.end());
    } catch (const JsonValue::exception&) {
        return std::nullopt;
    }
}

void checkFailure(const InstallerFailure& failure, std::string_view input) {
    const auto expected = ConfigReader::failure();
    check(failure.message() == expected.message() && failure.code() == expected.code(),
          "a refusal other than the reader's failure record", input);
}

// Every kept node holds, in its range, exactly the value the dictionary has at its place.
void checkNode(std::string_view input, const ConfigNode& node, const JsonValue& value) {
    const auto lower = node.range.lowerBound;
    const auto upper = node.range.upperBound;
    check(0 <= lower && lower < upper && upper <= static_cast<std::int64_t>(input.size()),
          "range outside the input", input);
    const auto text =
        input.substr(static_cast<std::size_t>(lower), static_cast<std::size_t>(upper - lower));
    const char first = text.front();
    const char last = text.back();
    if (value.is_object())
        check(first == '{' && last == '}', "object range without its braces", input);
    else if (value.is_array())
        check(first == '[' && last == ']', "array range without its brackets", input);
    else if (value.is_string())
        check(first == '"' && last == '"', "string range without its quotes", input);
    else
        check(!isSpace(first) && !isSpace(last), "token range with whitespace", input);
    const auto decoded = plainDecode(text);
    check(decoded.has_value() && *decoded == value, "range holds another value", input);
    check(node.fields.has_value() == value.is_object(), "fields present for a non-object", input);
    if (!node.fields)
        return;
    check(node.fields->size() == value.size(), "member count differs", input);
    for (const auto& [key, child] : *node.fields) {
        const auto it = value.find(key);
        check(it != value.end(), "member missing from the dictionary", input);
        checkNode(input, child, *it);
    }
}

void checkParse(std::string_view input) {
    try {
        const auto parsed = ConfigReader::parse(input);
        const auto plain = plainDecode(input);
        check(plain.has_value(), "accepted what the decoder refuses", input);
        check(parsed.dictionary.is_object(), "accepted a non-object", input);
        check(*plain == parsed.dictionary, "dictionary differs from a plain decode", input);
        const auto start = skipSpace(input, 0);
        check(parsed.node.range.lowerBound == static_cast<std::int64_t>(start),
              "top range does not start at the brace", input);
        check(skipSpace(input, static_cast<std::size_t>(parsed.node.range.upperBound)) ==
                  input.size(),
              "top range does not end at the brace", input);
        checkNode(input, parsed.node, parsed.dictionary);
    } catch (const JsonError& error) {
        check(!plainDecode(input).has_value(), "decoder error for what the decoder accepts", input);
        check(error.byteOffset().has_value() && *error.byteOffset() <= input.size(),
              "decoder error outside the input", input);
    } catch (const InstallerFailure& failure) {
        checkFailure(failure, input);
    }
}

// `string` against a decode of the quoted bytes, found here by a scan of our own.
void checkString(std::string_view input) {
    const auto start = skipSpace(input, 0);
    std::optional<std::size_t> end;
    if (start < input.size() && input[start] == '"') {
        for (auto i = start + 1; i < input.size(); ++i) {
            if (input[i] == '\\') {
                ++i;
            } else if (input[i] == '"') {
                end = i + 1;
                break;
            }
        }
    }
    std::optional<ConfigReader> reader;
    try {
        reader.emplace(input);
    } catch (const InstallerFailure& failure) {
        checkFailure(failure, input);
        return;
    }
    try {
        const auto text = reader->string();
        check(end.has_value() && reader->at() == static_cast<std::int64_t>(*end),
              "string ends elsewhere", input);
        const auto plain = plainDecode(input.substr(start, *end - start));
        check(plain && plain->is_string() && plain->get<std::string>() == text,
              "string differs from a plain decode", input);
    } catch (const JsonError& error) {
        check(end.has_value() && !plainDecode(input.substr(start, *end - start)).has_value(),
              "decoder error for a string the decoder accepts", input);
        check(error.byteOffset() && *error.byteOffset() >= start && *error.byteOffset() <= *end,
              "string error outside the string", input);
    } catch (const InstallerFailure& failure) {
        checkFailure(failure, input);
        check(!end.has_value(), "refused a terminated string", input);
    }
}

// A bare token read by `value` against a decode of the same bytes.
void checkToken(std::string_view input) {
    const auto start = skipSpace(input, 0);
    if (start >= input.size() || input[start] == '"' || input[start] == '[' || input[start] == '{')
        return;
    auto end = start;
    while (end < input.size() && !isSpace(input[end]) && input[end] != ',' && input[end] != ']' &&
           input[end] != '}')
        ++end;
    const auto token = input.substr(start, end - start);
    const bool decodes = !token.empty() && plainDecode(token).has_value();
    std::optional<ConfigReader> reader;
    try {
        reader.emplace(input);
    } catch (const InstallerFailure& failure) {
        checkFailure(failure, input);
        return;
    }
    try {
        const auto node = reader->value(0);
        check(decodes, "accepted a token the decoder refuses", input);
        check(node.range.lowerBound == static_cast<std::int64_t>(start) &&
                  node.range.upperBound == static_cast<std::int64_t>(end),
              "token range differs", input);
    } catch (const JsonError& error) {
        check(!decodes, "decoder error for a token the decoder accepts", input);
        check(error.byteOffset() && *error.byteOffset() >= start && *error.byteOffset() <= end,
              "token error outside the token", input);
    } catch (const InstallerFailure& failure) {
        checkFailure(failure, input);
        // The decoder skips a byte-order mark in front of a lone value and takes a NUL byte
        // for the end of its input; the reader does neither.
        check(!decodes || token.starts_with("\xEF\xBB\xBF") ||
                  token.find('\0') != std::string_view::npos,
              "refused a token the decoder accepts", input);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    checkParse(input);
    checkString(input);
    checkToken(input);
    return 0;
}
