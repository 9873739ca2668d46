#include "CallLog.h"

#include <sstream>

#include "TempHome.h"

namespace orvek::test {

std::string callLogLines(const std::filesystem::path& log) {
    const auto quoted = [](const std::filesystem::path& path) { return "'" + path.string() + "'"; };
    return "mkdir -p " + quoted(log.parent_path()) + "\nprintf '%s\\037' \"$@\" >> " + quoted(log) +
           "\necho >> " + quoted(log) + "\n";
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
