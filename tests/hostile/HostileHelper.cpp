// A stand-in for the account helper that misbehaves in one chosen way for one chosen command.
// The installed helper is a script that runs it as
//
//   orvek-hostile-helper STATE MODE TARGET <the helper's own arguments>
//
// STATE is a folder of the test (it names every process of this stand-in, so pgrep can find
// leftovers). For any command but TARGET the stand-in answers as a helper without a connection:
// "status" fails with NOT_CONFIGURED on standard error, "setup" succeeds. For TARGET, MODE says
// what goes wrong:
//
//   flood         writes 1 MiB + 1 bytes to standard output ("mcp": 2 MiB + 1), no line feed
//   hang          never answers and never exits
//   grandchild    starts a grandchild that keeps the output pipes open, then exits at once
//   log-first     writes a log line, then the right answer
//   json-log-first  the same with a log line that is a JSON object
//   other-id      answers for another command ("mcp": another JSON-RPC id)
//   early-close   writes half an answer and closes its output, then lingers
//   ignore-term   ignores SIGTERM, floods as above and then never exits

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>

namespace {

constexpr std::string_view kConfigured =
    R"({"ok":true,"command":"status","configured":true,"state":"active","configuration":{"agents":["opencode"]}})";
constexpr std::string_view kNotConfigured =
    R"({"ok":false,"command":"status","error":{"code":"NOT_CONFIGURED"}})";
constexpr std::string_view kSetupDone = R"({"ok":true,"command":"setup"})";
constexpr std::string_view kInitialized =
    R"({"protocolVersion":"2025-03-26","capabilities":{"tools":{}},"serverInfo":{"name":"hostile","version":"1"}})";

void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written <= 0)
            return;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

[[noreturn]] void lingerForever() {
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(600));
}

void flood(std::size_t size) {
    const std::string block(65536, 'x');
    while (size > 0) {
        const auto part = std::min(size, block.size());
        writeAll(STDOUT_FILENO, std::string_view(block).substr(0, part));
        size -= part;
    }
}

// The right answer of TARGET, for the modes that get it wrong only around it.
std::string answer(std::string_view command) {
    if (command == "status")
        return std::string(kConfigured);
    if (command == "setup")
        return std::string(kSetupDone);
    // "mcp": the response to the initialize request the wizard sends first.
    std::string request;
    std::getline(std::cin, request);
    return R"({"jsonrpc":"2.0","id":1,"result":)" + std::string(kInitialized) + "}";
}

int answerNormally(std::string_view command) {
    if (command == "status") {
        writeAll(STDERR_FILENO, kNotConfigured);
        return 1;
    }
    if (command == "setup") {
        writeAll(STDOUT_FILENO, kSetupDone);
        return 0;
    }
    return 2;
}

int misbehave(std::string_view mode, std::string_view command) {
    const bool mcp = command == "mcp";
    const std::size_t floodSize = mcp ? 2097153 : 1048577;
    if (mode == "flood") {
        flood(floodSize);
        return 0;
    }
    if (mode == "hang")
        lingerForever();
    if (mode == "grandchild") {
        if (::fork() == 0)
            lingerForever();
        return 0;
    }
    if (mode == "log-first" || mode == "json-log-first") {
        const auto response = answer(command);
        writeAll(STDOUT_FILENO, mode == "log-first" ? "orvek: starting\n"
                                                    : R"({"level":"info","message":"starting"})"
                                                      "\n");
        writeAll(STDOUT_FILENO, response + "\n");
        if (mcp)
            lingerForever();
        return 0;
    }
    if (mode == "other-id") {
        if (command == "status")
            writeAll(
                STDOUT_FILENO,
                R"({"ok":true,"command":"setup","configured":true,"state":"active","configuration":{"agents":["opencode"]}})");
        else if (command == "setup")
            writeAll(STDOUT_FILENO, R"({"ok":true,"command":"status"})");
        else {
            auto response = answer(command);
            response.replace(response.find(R"("id":1)"), 6, R"("id":7)");
            writeAll(STDOUT_FILENO, response + "\n");
            lingerForever();
        }
        return 0;
    }
    if (mode == "early-close") {
        if (mcp)
            (void)answer(command);
        else
            writeAll(STDOUT_FILENO, answer(command).substr(0, 12));
        ::close(STDOUT_FILENO);
        ::close(STDERR_FILENO);
        if (mcp)
            lingerForever();
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return 0;
    }
    if (mode == "ignore-term") {
        (void)::signal(SIGTERM, SIG_IGN);
        if (!mcp)
            flood(floodSize);
        lingerForever();
    }
    std::cerr << "hostile helper: unknown mode " << mode << "\n";
    return 120;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: orvek-hostile-helper STATE MODE TARGET [command...]\n";
        return 120;
    }
    const std::string_view mode = argv[2];
    const std::string_view target = argv[3];
    const std::string_view command = argc > 4 ? argv[4] : "";
    if (command != target)
        return answerNormally(command);
    return misbehave(mode, command);
}
