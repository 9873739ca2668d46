#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "TempHome.h"
#include "base/InstallerFailure.h"
#include "base/Json.h"
#include "base/JsonError.h"
#include "base/ProcessRunner.h"
#include "config/ConfigReader.h"
#include "installer/InstallerCore.h"

namespace orvek::config {
namespace {

namespace fs = std::filesystem;
using base::InstallerFailure;
using base::JsonError;
using base::JsonValue;
using installer::InstallerCore;

constexpr const char* kUnsupported = "Настройки не поддерживаются. Исходные файлы сохранены.";
constexpr std::size_t kLimit = 1'048'576;

enum class Outcome { accepted, unsupported, decoderError };

std::string_view name(Outcome outcome) {
    switch (outcome) {
    case Outcome::accepted:
        return "accepted";
    case Outcome::unsupported:
        return "unsupported";
    case Outcome::decoderError:
        return "decoder error";
    }
    return "?";
}

struct Verdict {
    Outcome outcome = Outcome::accepted;
    // For refusals of the reader: why and where, as the reader recorded them.
    std::string reason;
    std::int64_t at = 0;
    // For decoder errors.
    std::optional<std::size_t> offset;
    std::string description;
};

// `parse`, and for a refusal the same steps again on a reader of our own, which records why.
Verdict judge(std::string_view bytes) {
    Verdict verdict;
    try {
        (void)ConfigReader::parse(bytes);
        return verdict;
    } catch (const base::JsonError& error) {
        verdict.outcome = Outcome::decoderError;
        verdict.offset = error.byteOffset();
        verdict.description = error.what();
        return verdict;
    } catch (const InstallerFailure& failure) {
        verdict.outcome = Outcome::unsupported;
        EXPECT_EQ(failure.message(), kUnsupported);
        EXPECT_EQ(failure.code(), "CONFIGURATION_UNSUPPORTED");
    }
    try {
        ConfigReader reader(bytes);
        try {
            (void)reader.root();
        } catch (const InstallerFailure&) {
            verdict.reason = reader.refusal();
            verdict.at = reader.at();
        }
    } catch (const InstallerFailure&) {
        verdict.reason = "refused on construction";
    }
    return verdict;
}

// Wraps a value as the only member of an object, so the value starts at byte 8.
std::string member(std::string_view value) {
    return "{\"key\": " + std::string(value) + "}";
}
constexpr std::size_t kMemberStart = 8;
// The same, named twice: a value the decoder refuses must be refused when it is read, before
// the duplicate is met.
std::string memberTwice(std::string_view value) {
    return "{\"key\": " + std::string(value) + ", \"key\": 0}";
}

// `levels` nested objects, the innermost holding `innermost` under "a" (or empty).
std::string nestedObjects(int levels, std::string_view innermost = {}) {
    std::string text;
    for (int i = 1; i < levels; ++i)
        text += "{\"a\":";
    text += innermost.empty() ? "{}" : "{\"a\":" + std::string(innermost) + "}";
    text.append(static_cast<std::size_t>(levels - 1), '}');
    return text;
}

// A top object whose member holds arrays nested down to `levels` levels in all.
std::string nestedArrays(int levels) {
    const auto arrays = static_cast<std::size_t>(levels - 1);
    return "{\"a\":" + std::string(arrays, '[') + std::string(arrays, ']') + "}";
}

TEST(ConfigReader, FailureIsTheSharedUnsupportedRecord) {
    const auto failure = ConfigReader::failure();
    EXPECT_EQ(failure.message(), kUnsupported);
    EXPECT_EQ(failure.errorDescription(), kUnsupported);
    EXPECT_EQ(failure.code(), "CONFIGURATION_UNSUPPORTED");
    EXPECT_TRUE(InstallerFailure::hasCode(failure, "CONFIGURATION_UNSUPPORTED"));
}

TEST(ConfigReader, EmptyObjectHasAPresentEmptyMap) {
    const auto parsed = ConfigReader::parse("{}");
    EXPECT_EQ(parsed.node.range, (ByteRange{0, 2}));
    ASSERT_TRUE(parsed.node.fields.has_value());
    EXPECT_TRUE(parsed.node.fields->empty());
    EXPECT_EQ(parsed.dictionary, JsonValue::object());

    const auto spaced = ConfigReader::parse(" \t\r\n{ }\n");
    EXPECT_EQ(spaced.node.range, (ByteRange{4, 7}));
}

TEST(ConfigReader, MemberRangeSpansTheQuotes) {
    const std::string document = "{ \"model\" : \"x\" }";
    ASSERT_EQ(document.size(), 17U);
    const auto parsed = ConfigReader::parse(document);
    EXPECT_EQ(parsed.node.range, (ByteRange{0, 17}));
    ASSERT_TRUE(parsed.node.fields.has_value());
    ASSERT_EQ(parsed.node.fields->size(), 1U);
    const auto& model = parsed.node.fields->at("model");
    EXPECT_EQ(model.range, (ByteRange{12, 15}));
    EXPECT_FALSE(model.fields.has_value());
    EXPECT_EQ(parsed.dictionary, JsonValue({{"model", "x"}}));
}

TEST(ConfigReader, KeepsObjectMembersButNotArrayElements) {
    const std::string document =
        R"({"list": [{"inner": 1}, [2]], "object": {"n": -1.5e3, "t": true, "s": "a\"b"}})";
    const auto parsed = ConfigReader::parse(document);
    const auto& fields = *parsed.node.fields;
    ASSERT_EQ(fields.size(), 2U);
    EXPECT_FALSE(fields.at("list").fields.has_value());
    const auto& object = fields.at("object");
    ASSERT_TRUE(object.fields.has_value());
    for (const auto* key : {"n", "t", "s"}) {
        SCOPED_TRACE(key);
        const auto& node = object.fields->at(key);
        EXPECT_FALSE(node.fields.has_value());
        const auto bytes = document.substr(
            static_cast<std::size_t>(node.range.lowerBound),
            static_cast<std::size_t>(node.range.upperBound - node.range.lowerBound));
        EXPECT_EQ(JsonValue::parse(bytes), parsed.dictionary["object"][key]);
    }
    EXPECT_EQ(document.substr(static_cast<std::size_t>(fields.at("list").range.lowerBound), 1),
              "[");
}

TEST(ConfigReader, KeysAreUnescapedAsWritten) {
    // Precomposed and decomposed spellings are kept apart when only one of them is present.
    const struct {
        const char* name;
        std::string document;
        std::string key;
    } rows[] = {
        {"escaped letter", R"({"\u006dodel": 1})", "model"},
        {"escaped precomposed", R"({"\u00e9": 1})", "\xC3\xA9"},
        {"raw decomposed", "{\"e\xCC\x81\": 1}", "e\xCC\x81"},
        {"escaped quote and slash", R"({"a\"b\/c": 1})", "a\"b/c"},
        {"escaped pair", R"({"\ud83d\ude80": 1})", "\xF0\x9F\x9A\x80"},
        {"escaped nul", R"({"a\u0000b": 1})", std::string("a\0b", 3)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto parsed = ConfigReader::parse(row.document);
        ASSERT_EQ(parsed.node.fields->size(), 1U);
        EXPECT_EQ(parsed.node.fields->begin()->first, row.key);
        EXPECT_TRUE(parsed.dictionary.contains(row.key));
    }
}

TEST(ConfigReader, RefusesDuplicateMembersAtEveryDepth) {
    const struct {
        const char* name;
        std::string document;
        std::int64_t at; // where the second spelling starts
    } rows[] = {
        {"plain", R"({"model": 1, "model": 2})", 13},
        {"same value", R"({"a": 1, "a": 1})", 9},
        {"escaped letter", R"({"model": 1, "\u006dodel": 2})", 13},
        {"escaped precomposed against raw", "{\"\xC3\xA9\": 1, \"\\u00e9\": 2}", 10},
        {"precomposed against decomposed", "{\"\xC3\xA9\": 1, \"e\xCC\x81\": 2}", 10},
        {"decomposed escapes against precomposed", R"({"caf\u0065\u0301": 1, "caf\u00e9": 2})", 23},
        {"kelvin sign against K", "{\"K\": 1, \"\xE2\x84\xAA\": 2}", 9},
        {"inside an array element", R"({"list": [1, {"x": 1, "x": 2}]})", 22},
        {"inside nested arrays", R"({"a": [[{"k": 1}], [{"k": 1, "k": 1}]]})", 29},
        {"at depth", R"({"a": {"b": {"c": {"d": 1, "d": 2}}}})", 27},
        {"after many members",
         R"({"m0":0,"m1":1,"m2":2,"m3":3,"m4":4,"m5":5,"m6":6,"m7":7,"m8":8,"m9":9,"m10":10,)"
         R"("m11":11,"m12":12,"m13":13,"m14":14,"m15":15,"m16":16,"m17":17,"m18":18,"m3":3})",
         152},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto verdict = judge(row.document);
        EXPECT_EQ(name(verdict.outcome), name(Outcome::unsupported));
        EXPECT_TRUE(verdict.reason.starts_with("duplicate member ")) << verdict.reason;
        EXPECT_EQ(verdict.at, row.at);
    }
    const auto verdict = judge(R"({"model": 1, "model": 2})");
    EXPECT_EQ(verdict.reason, R"(duplicate member "model")");
}

TEST(ConfigReader, AcceptsNamesThatOnlyLookAlike) {
    for (const auto* document :
         {R"({"a": 1, "A": 2})", "{\"e\": 1, \"\xC3\xA9\": 2}", R"({"a": {"x": 1}, "b": {"x": 1}})",
          R"({"a": [{"x": 1}, {"x": 2}]})", R"({"a b": 1, "a  b": 2, "ab": 3})",
          "{\"\xEF\xAC\x81\": 1, \"fi\": 2}"}) {
        SCOPED_TRACE(document);
        EXPECT_EQ(name(judge(document).outcome), name(Outcome::accepted));
    }
}

TEST(ConfigReader, RefusesAnythingButPlainJson) {
    const struct {
        const char* name;
        std::string document;
        std::string reason; // empty: any reason
    } rows[] = {
        {"empty input", "", "unexpected end of input"},
        {"only whitespace", " \n\t", "unexpected end of input"},
        {"empty array", "[]", "top value is not an object"},
        {"lone string", R"("x")", "top value is not an object"},
        {"lone number", "1", "top value is not an object"},
        {"lone null", "null", "top value is not an object"},
        {"array of objects", R"([{"a": 1}])", "top value is not an object"},
        {"byte-order mark", "\xEF\xBB\xBF{}", "byte-order mark"},
        {"line comment before", "// settings\n{}", "comment"},
        {"block comment before", "/* settings */{}", "comment"},
        {"line comment between members", "{\"a\": 1, // note\n\"b\": 2}", ""},
        {"line comment after a value", "{\"a\": 1 // note\n}", "comment"},
        {"block comment where a value belongs", "{\"a\": /* x */ 1}", "comment"},
        {"comment after the object", "{}\n// end\n", "comment after the top object"},
        {"trailing comma in array", R"({"a": [1, 2,]})", "trailing comma"},
        {"trailing comma in object", R"({"a": 1,})", "trailing comma"},
        {"trailing comma in empty-looking array", R"({"a": [,]})", ""},
        {"text after the object", "{} x", "text after the top object"},
        {"second object", "{}{}", "text after the top object"},
        {"nul after the object", std::string("{}\0", 3), "text after the top object"},
        {"form feed after the object", "{}\f", "text after the top object"},
        {"form feed before a key", "{\f\"a\": 1}", ""},
        {"form feed before a value", "{\"a\":\f1}", ""},
        {"form feed after a number", "{\"a\": 1\f}", ""},
        {"form feed after a string", "{\"a\": \"x\"\f}", ""},
        {"form feed before the object", "\f{}", ""},
        {"vertical tab between members", "{\"a\": 1,\v\"b\": 2}", ""},
        {"no-break space before a value",
         "{\"a\":\xC2\xA0"
         "1}",
         ""},
        {"no-break space after a value", "{\"a\": true\xC2\xA0}", ""},
        {"no-break space before a key", "{\xC2\xA0\"a\": 1}", ""},
        {"ideographic space after a colon", "{\"a\":\xE3\x80\x80\"x\"}", ""},
        {"single-quoted key", "{'a': 1}", ""},
        {"bare key", "{a: 1}", ""},
        {"missing colon", R"({"a" 1})", ""},
        {"missing comma", R"({"a": 1 "b": 2})", ""},
        {"missing value", R"({"a": })", ""},
        {"comma for a value", R"({"a": ,1})", ""},
        {"leading comma in array", R"({"a": [,1]})", ""},
        {"unclosed object", R"({"a": 1)", ""},
        {"unclosed array", R"({"a": [1)", ""},
        {"unclosed key", R"({"a)", "unterminated string"},
        {"unterminated string", R"({"a": "x})", "unterminated string"},
        {"backslash at the end", R"({"a": "x\)", "unterminated string"},
        {"stray closing bracket", R"({"a": 1]})", ""},
        {"value glued to a quote", R"({"a": 1"b"})", ""},
        {"value glued to a brace", R"({"a": 1{}})", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto verdict = judge(row.document);
        EXPECT_EQ(name(verdict.outcome), name(Outcome::unsupported)) << verdict.description;
        if (!row.reason.empty()) {
            EXPECT_EQ(verdict.reason, row.reason);
        }
        EXPECT_GE(verdict.at, 0);
        EXPECT_LE(verdict.at, static_cast<std::int64_t>(row.document.size()));
    }
}

TEST(ConfigReader, RefusalsPointAtTheOffendingByte) {
    const struct {
        const char* name;
        std::string document;
        std::int64_t at;
    } rows[] = {
        {"unterminated string ends at the end", R"({"a": "xyz)", 10},
        {"form feed inside a token", "{\"a\": 12\f}", 8},
        {"comment after a value", "{\"a\": 1 /* x */}", 8},
        {"trailing comma", "{\"a\": [1,\n ]}", 11},
        {"text after the object", "{}\n\n  x", 6},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto verdict = judge(row.document);
        EXPECT_EQ(name(verdict.outcome), name(Outcome::unsupported));
        EXPECT_EQ(verdict.at, row.at) << verdict.reason;
    }
}

TEST(ConfigReader, OddSpacesInsideStringsAreText) {
    const struct {
        const char* name;
        std::string document;
        std::string text;
    } rows[] = {
        {"no-break space", "{\"a\": \"x\xC2\xA0y\"}", "x\xC2\xA0y"},
        {"escaped form feed", R"({"a": "x\fy"})", "x\fy"},
        {"escaped vertical tab", R"({"a": "x\u000by"})", "x\vy"},
        {"comment marks", R"({"a": "// not /* a */ comment"})", "// not /* a */ comment"},
        {"byte-order mark", "{\"a\": \"\xEF\xBB\xBFx\"}", "\xEF\xBB\xBFx"},
        {"trailing comma look-alike", R"({"a": "[1,]"})", "[1,]"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto parsed = ConfigReader::parse(row.document);
        EXPECT_EQ(parsed.dictionary["a"], row.text);
    }
}

TEST(ConfigReader, DecoderErrorsPassThroughWithTheirOffsetInTheFile) {
    const struct {
        const char* name;
        std::string value; // placed at byte 8
    } rows[] = {
        {"misspelt literal", "tru"},
        {"upper-case literal", "TRUE"},
        {"not a number", "NaN"},
        {"infinity", "Infinity"},
        {"leading zero", "01"},
        {"bare fraction point", "1."},
        {"missing integer part", ".5"},
        {"plus sign", "+1"},
        {"lone minus", "-"},
        {"empty exponent", "1e"},
        {"hexadecimal", "0x10"},
        {"unknown escape", R"("\x")"},
        {"escaped apostrophe", R"("\'")"},
        {"short unicode escape", R"("\u12")"},
        {"lone high surrogate", R"("\ud800")"},
        {"lone low surrogate", R"("\udc00x")"},
        {"high surrogate without its pair", R"("\ud83dx")"},
        {"raw control character", "\"a\x01"
                                  "b\""},
        {"raw form feed", "\"a\fb\""},
        {"raw tab", "\"a\tb\""},
        {"raw line feed", "\"a\nb\""},
        {"bad escape in a key", R"({"\q": 1})"},
        {"bad token in an array", "[1, nul]"},
    };
    for (const auto& row : rows) {
        for (const auto& document : {member(row.value), memberTwice(row.value)}) {
            SCOPED_TRACE(std::string(row.name) + " in " + document);
            const auto verdict = judge(document);
            ASSERT_EQ(name(verdict.outcome), name(Outcome::decoderError)) << verdict.reason;
            ASSERT_TRUE(verdict.offset.has_value());
            // Inside the offending value, counted from the start of the file.
            EXPECT_GE(*verdict.offset, kMemberStart);
            EXPECT_LE(*verdict.offset, kMemberStart + row.value.size());
            EXPECT_EQ(verdict.description, "Файл настроек содержит некорректный JSON (байт " +
                                               std::to_string(*verdict.offset) + ").");
        }
    }
}

TEST(ConfigReader, NumbersFollowAPlainDecoder) {
    const struct {
        std::string token;
        std::optional<bool> expected; // absent: whatever a plain decode says
    } rows[] = {
        {"0", true},
        {"-0", true},
        {"1e5", true},
        {"1E+5", true},
        {"-1.5e-3", true},
        {"0.0", true},
        {"12345678901234567890", true},
        {"-12345678901234567890123", true},
        {"1e308", true},
        {"1.7976931348623157e308", true},
        {std::string(308, '9'), true},
        {"0e999999999", true},
        {"1e-400", true},
        {"1e309", std::nullopt},
        {"1e400", std::nullopt},
        {"-1e400", std::nullopt},
        {"1" + std::string(400, '0'), std::nullopt},
        {"1" + std::string(400, '0') + ".5e-100", std::nullopt},
        {"0." + std::string(400, '0') + "1e400", std::nullopt},
        {"1.8e308", std::nullopt},
        {"01", false},
        {"-01", false},
        {"1.", false},
        {".5", false},
        {"+1", false},
        {"1e+", false},
        {"--1", false},
        {"1.5.2", false},
        {"1e5e5", false},
        {"1d", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.token.substr(0, 40));
        const auto plain = JsonValue::parse(row.token, nullptr, false);
        const bool decodes = !plain.is_discarded();
        if (row.expected) {
            EXPECT_EQ(decodes, *row.expected);
        }
        const auto document = member(row.token);
        const auto verdict = judge(document);
        EXPECT_EQ(name(verdict.outcome), name(decodes ? Outcome::accepted : Outcome::decoderError));
        if (!decodes) {
            ASSERT_TRUE(verdict.offset.has_value());
            EXPECT_GE(*verdict.offset, kMemberStart);
            EXPECT_LE(*verdict.offset, kMemberStart + row.token.size());
            EXPECT_EQ(name(judge(memberTwice(row.token)).outcome), name(Outcome::decoderError));
        } else {
            const auto parsed = ConfigReader::parse(document);
            EXPECT_EQ(parsed.dictionary["key"], plain);
            EXPECT_EQ(parsed.node.fields->at("key").range,
                      (ByteRange{8, static_cast<std::int64_t>(8 + row.token.size())}));
        }
    }
}

TEST(ConfigReader, StringsDecodeLikeAPlainDecoder) {
    const char* const rows[] = {
        R"("")",
        R"("plain text")",
        R"("\"\\\/\b\f\n\r\t")",
        R"("caf\u00e9 \u00E9")",
        R"("\ud83d\ude80 rocket")",
        R"("\u0000 nul")",
        "\"Алёна \xF0\x9F\x90\x88 \xC2\xA0\"",
        "\"\x7F del\"",
        R"("ends with backslash \\")",
        R"("\\\"")",
    };
    for (const auto* row : rows) {
        SCOPED_TRACE(row);
        const std::string document = std::string("  ") + row + " ,";
        ConfigReader reader(document);
        EXPECT_EQ(reader.string(), JsonValue::parse(row).get<std::string>());
        EXPECT_EQ(reader.at(), static_cast<std::int64_t>(document.size() - 2));
    }
}

TEST(ConfigReader, AcceptsFortyEightLevelsAndRefusesFortyNine) {
    const struct {
        const char* name;
        std::string document;
        Outcome outcome;
    } rows[] = {
        {"48 objects", nestedObjects(48), Outcome::accepted},
        {"49 objects", nestedObjects(49), Outcome::unsupported},
        {"scalar at depth 47", nestedObjects(47, "1"), Outcome::accepted},
        {"scalar at depth 48", nestedObjects(48, "1"), Outcome::unsupported},
        {"48 levels of arrays", nestedArrays(48), Outcome::accepted},
        {"49 levels of arrays", nestedArrays(49), Outcome::unsupported},
        // The depth is refused before the value is decoded.
        {"misspelt literal at depth 47", nestedObjects(47, "tru"), Outcome::decoderError},
        {"misspelt literal at depth 48", nestedObjects(48, "tru"), Outcome::unsupported},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto verdict = judge(row.document);
        EXPECT_EQ(name(verdict.outcome), name(row.outcome));
        if (row.outcome == Outcome::unsupported) {
            EXPECT_EQ(verdict.reason, "nesting deeper than 48 levels");
        }
    }

    // Every level of objects is kept in the tree.
    const auto document = nestedObjects(48);
    const auto parsed = ConfigReader::parse(document);
    const ConfigNode* node = &parsed.node;
    for (int depth = 1; depth < 48; ++depth) {
        ASSERT_TRUE(node->fields.has_value()) << depth;
        node = &node->fields->at("a");
        EXPECT_EQ(node->range, (ByteRange{std::int64_t{5} * depth,
                                          static_cast<std::int64_t>(document.size()) - depth}));
    }
    EXPECT_TRUE(node->fields.has_value() && node->fields->empty());
}

TEST(ConfigReader, AcceptsExactlyOneMebibyte) {
    const std::string padded = "{}" + std::string(kLimit - 2, ' ');
    const std::string longString = "{\"a\":\"" + std::string(kLimit - 8, 'x') + "\"}";
    const std::string longNonAscii =
        "{\"a\":\"" + std::string(kLimit - 10, 'x') + "\xC3\xA9" + "\"}";
    const struct {
        const char* name;
        std::string document;
        Outcome outcome;
    } rows[] = {
        {"padded with spaces", padded, Outcome::accepted},
        {"padded one byte over", padded + " ", Outcome::unsupported},
        {"long string", longString, Outcome::accepted},
        {"long string one byte over", "{\"a\":\"x" + longString.substr(6), Outcome::unsupported},
        {"long string with a character at the end", longNonAscii, Outcome::accepted},
        {"not even JSON, one byte over", std::string(kLimit + 1, '\xFF'), Outcome::unsupported},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.document.size(), row.outcome == Outcome::accepted ? kLimit : kLimit + 1);
        const auto verdict = judge(row.document);
        EXPECT_EQ(name(verdict.outcome), name(row.outcome));
        if (row.outcome == Outcome::unsupported) {
            EXPECT_EQ(verdict.reason, "refused on construction");
        }
    }
    EXPECT_EQ(ConfigReader::parse(padded).node.range, (ByteRange{0, 2}));
}

TEST(ConfigReader, RefusesInvalidUtf8EvenInsideStrings) {
    const struct {
        const char* name;
        std::string bytes; // placed inside a string value, at byte 9
    } rows[] = {
        {"lone continuation byte", "\x80"},
        {"invalid lead byte", "\xFF"},
        {"overlong slash", "\xC0\xAF"},
        {"overlong two-byte", "\xC1\xBF"},
        {"overlong three-byte", "\xE0\x9F\xBF"},
        {"overlong four-byte", "\xF0\x8F\xBF\xBF"},
        {"encoded high surrogate", "\xED\xA0\x80"},
        {"encoded low surrogate", "\xED\xBF\xBF"},
        {"above U+10FFFF", "\xF4\x90\x80\x80"},
        {"five-byte form", "\xF8\x88\x80\x80\x80"},
        {"truncated three-byte", "\xE2\x82"},
        {"truncated before a quote", "\xC3"},
        {"second byte not a continuation", "\xC3\x28"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto document = "{\"a\": \"ok" + row.bytes + "\"}";
        const auto verdict = judge(document);
        EXPECT_EQ(name(verdict.outcome), name(Outcome::unsupported));
        EXPECT_EQ(ConfigReader::invalidUtf8(document), 9U);
    }
    // The same in a key, and in bytes that no value would ever reach.
    EXPECT_EQ(name(judge("{\"k\xFF\": 1}").outcome), name(Outcome::unsupported));
    EXPECT_EQ(name(judge("{\"a\": 1}\n\xC3").outcome), name(Outcome::unsupported));

    const char* const valid[] = {"\xC2\x80",         "\xDF\xBF",         "\xE0\xA0\x80",
                                 "\xED\x9F\xBF",     "\xEE\x80\x80",     "\xEF\xBF\xBF",
                                 "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\x7F"};
    for (const auto* bytes : valid) {
        SCOPED_TRACE(bytes);
        // Long enough that the character sits past the eight-byte ASCII stride.
        const auto document = "{\"a\": \"0123456789abcdef" + std::string(bytes) + "\"}";
        EXPECT_EQ(ConfigReader::invalidUtf8(document), std::nullopt);
        EXPECT_EQ(ConfigReader::parse(document).dictionary["a"],
                  "0123456789abcdef" + std::string(bytes));
    }
}

// The byte range of every member holds exactly the value the dictionary has for it.
void expectSameDocument(const std::string& bytes, const ConfigNode& node, const JsonValue& value,
                        const std::string& path) {
    SCOPED_TRACE(path);
    const auto lower = static_cast<std::size_t>(node.range.lowerBound);
    const auto upper = static_cast<std::size_t>(node.range.upperBound);
    ASSERT_LT(lower, upper);
    ASSERT_LE(upper, bytes.size());
    const auto text = bytes.substr(lower, upper - lower);
    EXPECT_EQ(JsonValue::parse(text), value);
    // A range never takes in the whitespace around its value.
    EXPECT_EQ(std::string_view(" \t\r\n").find(text.front()), std::string_view::npos);
    EXPECT_EQ(std::string_view(" \t\r\n").find(text.back()), std::string_view::npos);
    EXPECT_EQ(node.fields.has_value(), value.is_object());
    if (!node.fields)
        return;
    ASSERT_EQ(node.fields->size(), value.size());
    for (const auto& [key, child] : *node.fields) {
        ASSERT_TRUE(value.contains(key)) << key;
        expectSameDocument(bytes, child, value.at(key), path + "/" + key);
    }
}

TEST(ConfigReader, RangesMatchTheDecodedValuesInAHandEditedFile) {
    const auto bytes = test::slurp(fs::path(ORVEK_TEST_DATA) / "config/opencode-messy.json");
    const auto parsed = ConfigReader::parse(bytes);
    EXPECT_EQ(parsed.node.range.lowerBound, 0);
    EXPECT_EQ(bytes.substr(static_cast<std::size_t>(parsed.node.range.upperBound)), "\n\n");
    expectSameDocument(bytes, parsed.node, parsed.dictionary, "");
    EXPECT_EQ(parsed.dictionary, JsonValue::parse(bytes));

    const auto& fields = *parsed.node.fields;
    EXPECT_EQ(parsed.dictionary["provider"]["orvek"]["name"], "Орвек \xF0\x9F\x90\x88");
    EXPECT_EQ(parsed.dictionary["mcp"]["orvek"]["environment"]["TAB\tIN\tKEY"],
              "line\nbreak \"quoted\"");
    EXPECT_TRUE(fields.contains("\xC3\xA9"));
    EXPECT_FALSE(fields.at("instructions").fields.has_value());
}

TEST(ConfigReader, RefusesACommentedSettingsFile) {
    const auto bytes = test::slurp(fs::path(ORVEK_TEST_DATA) / "config/opencode-comments.jsonc");
    const auto verdict = judge(bytes);
    EXPECT_EQ(name(verdict.outcome), name(Outcome::unsupported));
    EXPECT_EQ(verdict.reason, "comment");
    EXPECT_EQ(verdict.at, 4);
}

// ---- orvek-config-check ----

struct Check {
    int status = 0;
    std::string output;
    std::string errors;
};

Check check(const std::vector<std::string>& arguments) {
    const auto result = base::run(ORVEK_CONFIG_CHECK, arguments, std::nullopt, 30);
    return {result.status, result.standardOutput, result.standardError};
}

TEST(ConfigCheck, ReportsTheOutcomeAndWhere) {
    test::TempHome home;
    const struct {
        const char* name;
        std::string bytes;
        int status;
        std::string output;
    } rows[] = {
        {"members in file order", R"({ "model" : "x", "agent": {"a": [1]}, "b": null })", 0,
         "accepted\n\"model\" 12 15\n\"agent\" 26 36\n\"b\" 43 47\n"},
        {"odd names stay unambiguous", "{\"a\\\"b\\n\": 1, \"\xC3\xA9 x\": 2}", 0,
         "accepted\n\"a\\\"b\\n\" 11 12\n\"\xC3\xA9 x\" 22 23\n"},
        {"empty object", "{}", 0, "accepted\n"},
        {"duplicate on a later line", "{\n  \"a\": 1,\n  \"a\": 2\n}\n", 1,
         "refused: duplicate member \"a\" at line 3, column 3 (byte 14)\n"},
        {"comment", "{\n\t\"a\": 1 // why\n}", 1,
         "refused: comment at line 2, column 9 (byte 10)\n"},
        {"columns count bytes", "{\"\xC3\xA9\": 1,}", 1,
         "refused: trailing comma at line 1, column 10 (byte 9)\n"},
        {"invalid UTF-8", "{\"a\": \"\xFF\"}", 1,
         "refused: invalid UTF-8 at line 1, column 8 (byte 7)\n"},
        {"not an object", "  [1]", 1,
         "refused: top value is not an object at line 1, column 3 (byte 2)\n"},
        {"misspelt literal", "{\"a\": tru}", 2,
         "refused: Файл настроек содержит некорректный JSON (байт 9). at line 1, column 10 (byte 9)\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        home.write("opencode.json", row.bytes);
        const auto result = check({(home / "opencode.json").string()});
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.output, row.output);
        EXPECT_EQ(result.errors, "");
    }
}

TEST(ConfigCheck, ReadsTheFileAsTheWizardDoes) {
    test::TempHome home;
    home.write("real/opencode.json", "{}");
    home.write("big.json", "{}" + std::string(kLimit - 1, ' '));
    home.write("limit.json", "{}" + std::string(kLimit - 2, ' '));
    fs::create_directory_symlink(home / "real", home / "linked");
    fs::create_directory(home / "folder.json");
    const struct {
        const char* name;
        fs::path path;
        int status;
        std::string output; // a prefix
    } rows[] = {
        {"exactly 1 MiB", home / "limit.json", 0, "accepted\n"},
        {"missing", home / "missing.json", 3, "unreadable: Не удалось прочитать файл"},
        {"over 1 MiB", home / "big.json", 3, "unreadable: Файл настроек слишком большой.\n"},
        {"behind a link", home / "linked/opencode.json", 3,
         "unreadable: Путь содержит символическую ссылку. Выберите обычную локальную папку.\n"},
        {"a folder", home / "folder.json", 3, "unreadable: "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto result = check({row.path.string()});
        EXPECT_EQ(result.status, row.status);
        EXPECT_TRUE(result.output.starts_with(row.output)) << result.output;
    }
}

TEST(ConfigCheck, RefusesAWrongCommandLine) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{{}, {""}, {"a", "b"}}) {
        SCOPED_TRACE(arguments.size());
        const auto result = check(arguments);
        EXPECT_EQ(result.status, 64);
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(result.errors, "usage: orvek-config-check FILE\n");
    }
    const auto help = check({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.output.starts_with("usage: orvek-config-check FILE\n")) << help.output;
    EXPECT_NE(help.output.find("columns count bytes"), std::string::npos);
}

} // namespace
} // namespace orvek::config
