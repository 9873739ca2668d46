// orvek-config-check: tells whether the wizard would accept a settings file and, if not, why
// and where. Support runs it on a file a user sent in.

#include <algorithm>
#include <cstdint>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "base/FilePrimitives.h"
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

// BSD sysexits: the command line was wrong.
constexpr int kUsageError = 64;
constexpr int kAccepted = 0;
constexpr int kRefusedByReader = 1;
constexpr int kRefusedByDecoder = 2;
constexpr int kUnreadable = 3;
// BSD sysexits: something inside the tool broke, such as memory running out.
constexpr int kInternalError = 70;

constexpr std::string_view kUsage = "usage: orvek-config-check FILE";
constexpr std::string_view kHelp =
    "Reads FILE as the setup wizard reads a settings file and reports the outcome.\n"
    "\n"
    "  accepted              then one line per member of the top object, in file order:\n"
    "                        its name as a JSON string and the byte range of its value\n"
    "                        (first byte, one past the last byte); exit status 0\n"
    "  refused: REASON at line L, column C (byte B)\n"
    "                        exit status 1 when the wizard's own reader refuses the file,\n"
    "                        2 when the JSON decoder does (REASON is then its message)\n"
    "  unreadable: MESSAGE   exit status 3: missing, not a regular file, over 1 MiB,\n"
    "                        behind a symbolic link or otherwise unreadable\n"
    "\n"
    "Lines and columns start at 1; columns count bytes, not characters. Byte offsets\n"
    "start at 0. A usage error exits with status 64.\n";

std::string position(std::string_view bytes, std::int64_t at) {
    const auto offset = static_cast<std::size_t>(
        std::clamp<std::int64_t>(at, 0, static_cast<std::int64_t>(bytes.size())));
    const auto before = bytes.substr(0, offset);
    const auto line = std::count(before.begin(), before.end(), '\n') + 1;
    const auto lineStart = before.rfind('\n');
    const auto column = lineStart == std::string_view::npos ? offset + 1 : offset - lineStart;
    return "at line " + std::to_string(line) + ", column " + std::to_string(column) + " (byte " +
           std::to_string(offset) + ")";
}

// Runs the reader's steps one by one to learn why `parse` refused the bytes.
std::pair<std::string, std::int64_t> explain(std::string_view bytes) {
    std::optional<ConfigReader> reader;
    try {
        reader.emplace(bytes);
    } catch (const InstallerFailure&) {
        if (const auto bad = ConfigReader::invalidUtf8(bytes))
            return {"invalid UTF-8", static_cast<std::int64_t>(*bad)};
        return {"larger than 1 MiB", 0};
    }
    try {
        (void)reader->root();
    } catch (const InstallerFailure&) {
        return {reader->refusal(), reader->at()};
    }
    return {"top value is not an object", 0};
}

int check(const std::string& path) {
    std::string bytes;
    try {
        bytes = orvek::base::read(path);
    } catch (const InstallerFailure& failure) {
        std::cout << "unreadable: " << failure.message() << '\n';
        return kUnreadable;
    } catch (const std::system_error& error) {
        std::cout << "unreadable: " << error.what() << '\n';
        return kUnreadable;
    }

    try {
        const auto parsed = ConfigReader::parse(bytes);
        std::vector<std::pair<const std::string*, const ConfigNode*>> members;
        for (const auto& [name, node] : *parsed.node.fields)
            members.emplace_back(&name, &node);
        std::sort(members.begin(), members.end(), [](const auto& a, const auto& b) {
            return a.second->range.lowerBound < b.second->range.lowerBound;
        });
        std::cout << "accepted\n";
        for (const auto& [name, node] : members)
            std::cout << JsonValue(*name).dump() << ' ' << node->range.lowerBound << ' '
                      << node->range.upperBound << '\n';
        return kAccepted;
    } catch (const JsonError& error) {
        std::cout << "refused: " << error.what();
        if (error.byteOffset())
            std::cout << ' ' << position(bytes, static_cast<std::int64_t>(*error.byteOffset()));
        std::cout << '\n';
        return kRefusedByDecoder;
    } catch (const InstallerFailure&) {
        const auto [reason, at] = explain(bytes);
        std::cout << "refused: " << reason << ' ' << position(bytes, at) << '\n';
        return kRefusedByReader;
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> arguments(argv + 1, argv + argc);
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h")) {
        std::cout << kUsage << "\n\n" << kHelp;
        return 0;
    }
    if (arguments.size() != 1 || arguments[0].empty()) {
        std::cerr << kUsage << '\n';
        return kUsageError;
    }
    try {
        return check(std::string(arguments[0]));
    } catch (const std::exception& error) {
        std::cerr << "orvek-config-check: " << error.what() << '\n';
        return kInternalError;
    }
}
