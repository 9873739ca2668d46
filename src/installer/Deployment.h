#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace orvek::installer {

/// Everything the engine meets outside its own process. The shipped application uses
/// `production()` and offers no way to change it; tests and the sandbox build their own.
struct Deployment {
    std::filesystem::path pgrep = "/usr/bin/pgrep";
    std::filesystem::path curl = "/usr/bin/curl";
    std::filesystem::path hdiutil = "/usr/bin/hdiutil";
    std::filesystem::path ditto = "/usr/bin/ditto";
    std::filesystem::path codesign = "/usr/bin/codesign";
    std::filesystem::path tar = "/usr/bin/tar";
    /// The system-wide Applications folder, searched for an existing OpenCode.
    std::filesystem::path systemApplications = "/Applications";
    std::string apiBase = "https://api.orvek.ru";
    std::string webHost = "orvek.ru";
    /// SHA-256 of the helper archive the wizard accepts, 64 lower-case hex digits.
    std::string helperArchiveHash =
        "d91b6032f654ee4c7f276d725a8dfd2d2ce823dc16a65baf5a3143c11d901f86";
    /// A CA bundle trusted in addition to the system's; only test deployments set it. It reaches
    /// curl as CURL_CA_BUNDLE added to the inherited environment; unset, curl inherits it as is.
    std::optional<std::filesystem::path> extraTrustedCa;
    /// "HOST:PORT" where requests to the API host really go, keeping the addresses themselves
    /// as in production (libcurl's connect-to); only the sandbox sets it.
    std::optional<std::string> apiConnectTo;

    /// Time limits in seconds. A test deployment shortens them so that a peer that never
    /// answers is waited out in seconds; the shipped ones are these.
    /// The account helper's status command.
    double helperStatusSeconds = 180;
    /// The helper's sign-in, which waits for the user in the browser.
    double helperSetupSeconds = 900;
    /// Each run of pgrep, tar, hdiutil, ditto and codesign.
    double toolSeconds = 180;

    [[nodiscard]] static const Deployment& production();
};

} // namespace orvek::installer
