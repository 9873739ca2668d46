#include "CallLog.h"

#include <sstream>

#include "TempHome.h"

namespace orvek::test {

std::string callLogLines(const std::filesystem::path& log) {
    // Appended piece by piece: at -O3 GCC 12 reports a false -Wrestrict overlap for
    // "literal" + std::string&&.
    const auto quoted = [](const std::filesystem::path& path) {
        std::string text = "'";
        text += path.string();
        text += "'";
        return text;
    };
    std::string lines = "mkdir -p ";
    lines += quoted(log.parent_path());
    lines += "\nprintf '%s\\037' \"$@\" >> ";
    lines += quoted(log);
    lines += "\necho >> ";
    lines += quoted(log);
    lines += "\n";
    return lines;
}

std::vector<std::vector<std::string>> readCallLog(const std::filesystem::path& log) {
    std::vector<std::vector<std::string>> calls;
    std::error_code error;
    if (!std::filesystem::exists(log, error))
        return calls;
    std::istringstream lines(slurp(log));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> arguments;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, '\x1f');)
            arguments.push_back(field);
        calls.push_back(arguments);
    }
    return calls;
}

} // namespace orvek::test
