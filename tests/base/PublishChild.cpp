// Publishes one file the way the engine does, so that a test can run it under fiu-run with
// fsync failing and see that nothing is published unflushed.
//
//   orvek-publish-child create PATH   base::create of a new file
//   orvek-publish-child keep PATH     a temporary written without flushing, then keepAs(PATH)
//
// Exits 0 once published, 1 with the error on standard error otherwise.

#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string_view>

#include "base/FilePrimitives.h"
#include "base/TempPath.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: orvek-publish-child create|keep PATH\n";
        return 2;
    }
    const std::string_view mode = argv[1];
    const std::filesystem::path target = argv[2];
    constexpr std::string_view kBytes = "{\"published\":true}";
    try {
        if (mode == "create") {
            orvek::base::create(target, kBytes);
        } else if (mode == "keep") {
            orvek::base::TempPath temporary(target.parent_path() / ".publish-child.tmp");
            std::ofstream(temporary.path(), std::ios::binary) << kBytes;
            temporary.keepAs(target);
        } else {
            std::cerr << "unknown mode\n";
            return 2;
        }
    } catch (const std::exception& error) {
        std::cerr << error.what() << "\n";
        return 1;
    }
    return 0;
}
