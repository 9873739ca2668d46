// Checks the local MCP entry's in-place patch: whatever it accepts, it returns a file the strict
// reader still accepts, holding the local entry under "mcp"."orvek" byte for byte, with every
// byte outside the inserted or replaced text as it was, and a second patch changes nothing.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "base/InstallerFailure.h"
#include "base/Json.h"
#include "base/JsonError.h"
#include "config/ConfigReader.h"
#include "mcp/LocalMcp.h"

namespace {

using orvek::base::InstallerFailure;
using orvek::base::JsonError;
using orvek::base::JsonValue;
using orvek::config::ConfigReader;
namespace LocalMcp = orvek::mcp::LocalMcp;

constexpr const char* kHelper = "/Users/anna/Library/Application Support/Orvek/OpenCodeSetup/"
                                "0.1.0/helper/orvek";

void check(bool condition, const char* what, std::string_view input) {
    if (condition)
        return;
    std::cerr << "local patch fuzz: " << what << " (" << input.size() << " bytes)\n";
    std::abort();
}

JsonValue withoutOrvek(JsonValue document, bool dropEmptyMcp) {
    if (document.contains("mcp") && document["mcp"].is_object()) {
        document["mcp"].erase("orvek");
        if (dropEmptyMcp && document["mcp"].empty())
            document.erase("mcp");
    }
    return document;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string patched;
    try {
        patched = LocalMcp::patch(input, kHelper);
    } catch (const InstallerFailure& failure) {
        check(failure.code() == ConfigReader::failure().code(), "an unexpected refusal", input);
        return 0;
    } catch (const JsonError&) {
        return 0;
    }

    JsonValue before = ConfigReader::parse(input).dictionary;
    JsonValue after;
    try {
        after = ConfigReader::parse(patched).dictionary;
    } catch (const std::exception&) {
        check(false, "the patched file is refused by the reader", input);
    }
    const auto entry = orvek::base::json(LocalMcp::localEntry(kHelper));
    check(orvek::base::json(after.at("mcp").at("orvek")) == entry, "the entry is not the local one",
          input);
    const bool inserted = !before.contains("mcp");
    check(withoutOrvek(after, inserted) == withoutOrvek(before, inserted),
          "a value outside the entry changed", input);

    // Outside the inserted or replaced text every byte is the same.
    const auto node = ConfigReader::parse(input).node;
    std::string expected(input);
    if (inserted) {
        const auto at = static_cast<std::size_t>(node.range.upperBound - 1);
        const std::string member = R"("mcp":{"orvek":)" + entry + "}";
        expected.insert(at, node.fields->empty() ? member : "," + member);
    } else {
        const auto& range = node.fields->at("mcp").fields->at("orvek").range;
        expected.replace(static_cast<std::size_t>(range.lowerBound),
                         static_cast<std::size_t>(range.upperBound - range.lowerBound), entry);
    }
    check(patched == expected, "bytes outside the entry changed", input);

    check(LocalMcp::patch(patched, kHelper) == patched, "a second patch changes the file again",
          input);
    return 0;
}
