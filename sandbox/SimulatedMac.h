#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "SandboxServer.h"
#include "TestCertificateAuthority.h"
#include "installer/Deployment.h"

namespace orvek::sandbox {

/// A Mac as the wizard meets it, built under one scratch folder: the user's home, a Mac-wide
/// Applications folder, the wizard's resources with a manifest pointing at a loopback HTTPS
/// service that serves the official OpenCode image, the helper archive and the service's API.
/// The stand-ins for the macOS tools and the helper come from the build. Never shipped.
class SimulatedMac {
public:
    /// Where the sandbox's programs live: the stand-in scripts and the built helper stand-in.
    struct Programs {
        std::filesystem::path standIns;
        std::filesystem::path helper;
        std::filesystem::path resources;
        /// The release's manifest tool; when given, it makes the manifest from the served
        /// image and archive instead of the sandbox writing it.
        std::optional<std::filesystem::path> payloadsTool = std::nullopt;
    };

    /// The signing team of the official build and the service's API host.
    static constexpr const char* kTeam = "ORVEKSBX01";
    static constexpr const char* kApiHost = "api.orvek.test";
    static constexpr const char* kKey = "sk-orvek-sandbox-7Hq2vXw9";

    /// Builds the user's `home` and everything else under `machine`, and starts the service.
    /// Throws std::runtime_error when a step fails.
    SimulatedMac(const std::filesystem::path& home, const std::filesystem::path& machine,
                 const Programs& programs);
    /// Closes an OpenCode still running from the scenario.
    ~SimulatedMac();
    SimulatedMac(const SimulatedMac&) = delete;
    SimulatedMac& operator=(const SimulatedMac&) = delete;

    [[nodiscard]] const std::filesystem::path& home() const noexcept { return m_home; }
    [[nodiscard]] std::filesystem::path resources() const { return m_machine / "Resources"; }
    [[nodiscard]] std::filesystem::path systemApplications() const {
        return m_machine / "Applications";
    }
    [[nodiscard]] std::filesystem::path openCodeConfig() const {
        return m_home / ".config/opencode";
    }
    /// Every tool path pointing at a stand-in, the API reached on the loopback service.
    [[nodiscard]] installer::Deployment deployment() const;
    [[nodiscard]] SandboxServer& server() noexcept { return *m_server; }

    // ---- Situations a scenario can set up ----

    /// A signed OpenCode with this version in `applications` (the user's or the Mac's).
    void installOpenCode(const std::filesystem::path& applications,
                         const std::string& version = "2.1.4") const;
    /// Both downloads already verified in the wizard's cache.
    void cacheDownloads() const;
    /// Both payloads served at a pace that makes each take about `seconds`, so a progress bar
    /// can be watched.
    void serveSlowly(double seconds) const;
    /// The cached OpenCode image no longer matches its hash.
    void damageCachedImage() const;
    /// The helper installed and signed in earlier, with OpenCode's settings it left behind:
    /// an older default model and two models of today's set missing, plus the user's own keys.
    void saveConnection() const;
    /// Settings for the helper stand-in (see its source): "setup", "status",
    /// "openOpenCodeDuringSignIn", "signInSeconds".
    void configureHelper(const nlohmann::json& behaviour) const;
    /// The service's answer to the key check and the model catalogue.
    void answerKey(int status, const std::string& body);
    void answerModels(const std::vector<std::string>& ids);
    /// The account key the service issues at sign-in and accepts afterwards; `kKey` unless set.
    [[nodiscard]] const std::string& key() const noexcept { return m_key; }
    /// Issues and accepts `key` from now on (printable ASCII, as the service's keys are).
    void useKey(const std::string& key);
    /// From now on every program the wizard starts, the helper included, leaves its argument
    /// list in `argumentsLog()` as it starts: the tools through recording wrappers, the helper
    /// stand-in itself.
    void recordArguments();
    [[nodiscard]] std::filesystem::path argumentsLog() const { return m_machine / "arguments.log"; }
    /// Ends an OpenCode the helper stand-in started and waits until it is gone; true when
    /// there was one.
    bool closeOpenCode() const;

private:
    std::filesystem::path imagePath() const { return m_machine / "served/OpenCode.dmg"; }
    std::filesystem::path archivePath() const { return m_machine / "served/orvek.tar.gz"; }
    std::filesystem::path cacheFolder() const;
    void writeManifest() const;

    Programs m_programs;
    std::filesystem::path m_home;
    std::filesystem::path m_machine;
    TestCertificateAuthority m_authority;
    std::unique_ptr<SandboxServer> m_server;
    std::string m_imageHash;
    std::string m_archiveHash;
    std::string m_helperHash;
    std::string m_key = kKey;
    bool m_recording = false;
};

} // namespace orvek::sandbox
