// Runs one guarded write for the crash tests and stops itself at a chosen point, so that the
// test can kill it there with SIGKILL:
//
//   orvek-preserved-write-child TARGET EXPECTED-FILE UPDATED-FILE STOP
//
// EXPECTED-FILE and UPDATED-FILE hold the bytes handed to the write. STOP is "start" (before the
// write begins), the name of a step ("checked", "staged", "written", "rechecked", "backedUp",
// "verified", "renamed") or "none". The process raises SIGSTOP at that point and goes on if
// continued. Exit status: 0 after a successful write, 1 when the write failed (the reason on
// standard error), 2 for a wrong command line.

#include <csignal>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "config/PreservedConfig.h"

namespace {

using orvek::config::PreservedConfig::Step;

std::optional<Step> stepNamed(std::string_view name) {
    static constexpr std::pair<std::string_view, Step> kSteps[] = {
        {"checked", Step::checked},     {"staged", Step::staged},     {"written", Step::written},
        {"rechecked", Step::rechecked}, {"backedUp", Step::backedUp}, {"verified", Step::verified},
        {"renamed", Step::renamed},
    };
    for (const auto& [text, step] : kSteps)
        if (text == name)
            return step;
    return std::nullopt;
}

std::optional<std::string> contents(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fputs("usage: orvek-preserved-write-child TARGET EXPECTED UPDATED STOP\n", stderr);
        return 2;
    }
    const std::string_view stop = argv[4];
    const auto step = stepNamed(stop);
    if (!step && stop != "start" && stop != "none") {
        std::fprintf(stderr, "unknown stop point %s\n", argv[4]);
        return 2;
    }
    const auto expected = contents(argv[2]);
    const auto updated = contents(argv[3]);
    if (!expected || !updated) {
        std::fputs("cannot read the expected or updated bytes\n", stderr);
        return 2;
    }

    if (stop == "start")
        std::raise(SIGSTOP);
    try {
        orvek::config::PreservedConfig::writeForTesting(argv[1], *expected, *updated,
                                                        [&](Step reached) {
                                                            if (step && reached == *step)
                                                                std::raise(SIGSTOP);
                                                        });
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
