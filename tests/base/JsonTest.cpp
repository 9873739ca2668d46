#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "base/Hashing.h"
#include "base/Json.h"
#include "base/JsonError.h"

namespace orvek::base {
namespace {

struct Case {
    const char* name;
    JsonValue value;
    const char* expected;
};

// Expected bytes are written out by hand: markers and hashes stored in users' files were made
// from exactly these forms.
TEST(JsonWriter, WritesTheCanonicalForm) {
    const Case cases[] = {
        {"empty object", JsonValue::object(), "{}"},
        {"empty array", JsonValue::array(), "[]"},
        {"keys sorted at every level", JsonValue{{"b", 1}, {"a", {{"d", {1, 2}}, {"c", "x"}}}},
         R"({"a":{"c":"x","d":[1,2]},"b":1})"},
        {"keys sorted by bytes", JsonValue{{"a", 1}, {"B", 2}, {"é", 3}, {"z", 4}, {"_", 5}},
         R"({"B":2,"_":5,"a":1,"z":4,"é":3})"},
        {"slashes in values and keys", JsonValue{{"a/b", "/Users/anna/x"}},
         R"({"a\/b":"\/Users\/anna\/x"})"},
        {"escapes", JsonValue{{"s", "q\"b\\n\nt\tc\x01"}}, R"({"s":"q\"b\\n\nt\tc\u0001"})"},
        {"non-ASCII stays UTF-8", JsonValue{{"name", "Орвек"}}, "{\"name\":\"Орвек\"}"},
        {"literals", JsonValue{{"t", true}, {"f", false}, {"n", nullptr}},
         R"({"f":false,"n":null,"t":true})"},
        {"integers", JsonValue{{"i", -3}, {"u", 60000U}, {"big", 9007199254740993LL}},
         R"({"big":9007199254740993,"i":-3,"u":60000})"},
        {"integral floats lose the fraction", JsonValue{{"a", 2.0}, {"b", -1e3}, {"c", 0.0}},
         R"({"a":2,"b":-1000,"c":0})"},
        {"fractions stay", JsonValue{{"a", 0.5}, {"b", 1.25}}, R"({"a":0.5,"b":1.25})"},
        {"nested arrays of objects", JsonValue{{"x", {JsonValue{{"b", 1}, {"a", 2}}, "y"}}},
         R"({"x":[{"a":2,"b":1},"y"]})"},
        {"the local MCP entry",
         JsonValue{{"type", "local"},
                   {"timeout", 60000},
                   {"environment", {{"ORVEK_TOKEN_STORAGE", "file"}}},
                   {"enabled", true},
                   {"command",
                    {"/Users/anna/Library/Application "
                     "Support/Orvek/OpenCodeSetup/0.1.0/helper/orvek",
                     "mcp"}}},
         R"({"command":["\/Users\/anna\/Library\/Application Support\/Orvek\/OpenCodeSetup\/0.1.0\/helper\/orvek","mcp"],"enabled":true,"environment":{"ORVEK_TOKEN_STORAGE":"file"},"timeout":60000,"type":"local"})"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(json(row.value), row.expected);
    }
}

TEST(JsonWriter, RoundTripsThroughTheDecoder) {
    const JsonValue value = {{"path", "/a/b"}, {"list", {1, "two", nullptr}}, {"flag", false}};
    EXPECT_EQ(JsonValue::parse(json(value)), value);
}

TEST(JsonWriter, RefusesWhatJsonCannotHold) {
    const JsonValue invalid[] = {
        JsonValue{{"bad", "\xff\xfe"}},
        JsonValue{{"nan", std::numeric_limits<double>::quiet_NaN()}},
        JsonValue{{"inf", std::numeric_limits<double>::infinity()}},
        JsonValue::binary({1, 2, 3}),
    };
    for (const auto& value : invalid) {
        EXPECT_THROW((void)json(value), JsonError);
    }
}

TEST(JsonWriter, HashOfTheCanonicalBytes) {
    EXPECT_EQ(hash(json(JsonValue::object())),
              "44136fa355b3678a1146ad16f7e8649e94fb4fc21fe77e8310c060f61caaff8a");
}

} // namespace
} // namespace orvek::base
