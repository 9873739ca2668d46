#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "installer/DownloadProgress.h"

namespace orvek::setup {

/// The operations the setup model runs; the model itself installs nothing.
struct SetupServices {
    using Progress = std::function<void(const std::string& text)>;

    /// Each new size of a running download, and an empty value once it ended.
    using DownloadSink = std::function<void(const std::optional<installer::DownloadProgress>&)>;

    /// The whole install-and-connect run, on a worker; calls progress with each status text.
    std::function<void(const Progress& progress)> main;
    /// Called on the worker just before `main`, with where to report downloads during that run;
    /// without it no download progress is shown.
    std::function<void(const DownloadSink& sink)> observeDownloads;
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
