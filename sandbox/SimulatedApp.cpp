#include "SimulatedApp.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <vector>

#include <plist/plist.h>

#include "base/ProcessRunner.h"
#include "installer/InstallerCore.h"

namespace orvek::sandbox {

namespace {

void writeFile(const std::filesystem::path& path, std::string_view bytes,
               std::filesystem::perms mode) {
    std::filesystem::create_directories(path.parent_path());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (!out)
            throw std::runtime_error("cannot write " + path.string());
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::filesystem::permissions(path, mode);
}

void runOrThrow(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
    const auto result = base::run(program, arguments, std::nullopt, 60);
    if (result.signaled || result.status != 0)
        throw std::runtime_error(program.string() + " failed: " + result.standardError);
}

} // namespace

std::map<std::string, std::string> openCodeInfo() {
    return {{"CFBundleExecutable", "OpenCode"},
            {"CFBundleIdentifier", "ai.opencode.desktop"},
            {"CFBundleName", "OpenCode"},
            {"CFBundlePackageType", "APPL"},
            {"CFBundleShortVersionString", "2.1.4"},
            {"CFBundleVersion", "2.1.4"},
            {"LSMinimumSystemVersion", "12.0"}};
}

std::string infoPlist(const std::map<std::string, std::string>& entries, PlistFormat format) {
    const std::unique_ptr<void, void (*)(plist_t)> dictionary(plist_new_dict(), plist_free);
    for (const auto& [key, value] : entries)
        plist_dict_set_item(dictionary.get(), key.c_str(), plist_new_string(value.c_str()));
    char* bytes = nullptr;
    std::uint32_t length = 0;
    if (format == PlistFormat::xml)
        plist_to_xml(dictionary.get(), &bytes, &length);
    else
        plist_to_bin(dictionary.get(), &bytes, &length);
    if (bytes == nullptr)
        throw std::runtime_error("libplist wrote nothing");
    std::string result(bytes, length);
    // The release-specific free functions differ; the buffers come from malloc in every one.
    std::free(bytes);
    return result;
}

void writeApp(const std::filesystem::path& app, std::string_view infoPlistBytes) {
    using std::filesystem::perms;
    const auto file =
        perms::owner_read | perms::owner_write | perms::group_read | perms::others_read;
    writeFile(app / "Contents/Info.plist", infoPlistBytes, file);
    writeFile(app / "Contents/MacOS/OpenCode", "#!/bin/sh\nexit 0\n",
              file | perms::owner_exec | perms::group_exec | perms::others_exec);
    writeFile(app / "Contents/Resources/app.asar", "OpenCode desktop resources\n", file);
}

void signApp(const std::filesystem::path& standIns, const std::filesystem::path& app,
             const std::string& team) {
    runOrThrow(standIns / "sign-app", {app.string(), team});
}

void packImage(const std::filesystem::path& app, const std::filesystem::path& image) {
    if (app.filename() != "OpenCode.app")
        throw std::invalid_argument("the image holds OpenCode.app: " + app.string());
    std::filesystem::create_directories(image.parent_path());
    runOrThrow("/usr/bin/tar",
               {"-czf", image.string(), "-C", app.parent_path().string(), "OpenCode.app"});
}

} // namespace orvek::sandbox
