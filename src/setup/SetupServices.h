#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace orvek::setup {

/// The operations the setup model runs; the model itself installs nothing.
struct SetupServices {
    using Progress = std::function<void(const std::string& text)>;

    /// The whole install-and-connect run, on a worker; calls progress with each status text.
    std::function<void(const Progress& progress)> main;
    /// Prepares the workspace of one role and returns its folder.
    std::function<std::filesystem::path(const std::string& role)> profile;
    /// Opens the installed OpenCode application.
    std::function<void()> open;
    /// Prepares a role's workspace under a parent folder the user chose; empty when not offered.
    std::function<std::filesystem::path(const std::string& role,
                                        const std::filesystem::path& parent)>
        alternateProfile;
};

} // namespace orvek::setup
