#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Bytes.h"
#include "base/FileManager.h"
#include "base/InstallerFailure.h"
#include "base/JsonValue.h"
#include "config/ProductLists.h"
#include "installer/Deployment.h"
#include "installer/DownloadProgress.h"

namespace orvek::installer {

// The base library's vocabulary, spoken by every step of the engine.
using base::Bytes;
using base::InstallerFailure;
using base::JsonValue;

/// The installer engine: the run's context (where everything lives, the deployment, the
/// application found or installed) and its steps. One instance serves the steps of a run, from
/// one worker at a time. The steps touch the disk only through the base library's primitives.
class InstallerCore {
public:
    /// Never fails. `home` defaults to the current user's home folder; without `configHome`
    /// the configuration home is an absolute $XDG_CONFIG_HOME, or `home`/.config.
    explicit InstallerCore(const std::filesystem::path& resources,
                           const std::optional<std::filesystem::path>& home = std::nullopt,
                           const std::optional<std::filesystem::path>& configHome = std::nullopt,
                           Deployment deployment = Deployment::production(),
                           std::shared_ptr<const base::FileManager> fileManager = nullptr);

    [[nodiscard]] const std::filesystem::path& resources() const noexcept { return m_resources; }
    [[nodiscard]] const std::filesystem::path& home() const noexcept { return m_home; }
    [[nodiscard]] const std::filesystem::path& configHome() const noexcept { return m_configHome; }
    [[nodiscard]] const base::FileManager& fm() const noexcept { return *m_fm; }
    [[nodiscard]] const Deployment& deployment() const noexcept { return m_deployment; }

    /// Where OpenCode was found or installed and verified; absent until then.
    [[nodiscard]] const std::optional<std::filesystem::path>& installedApp() const noexcept {
        return m_installedApp;
    }
    void setInstalledApp(std::optional<std::filesystem::path> app) {
        m_installedApp = std::move(app);
    }

    // Derived folders, computed on each access.
    [[nodiscard]] std::filesystem::path globalConfig() const;
    [[nodiscard]] std::filesystem::path root() const;
    [[nodiscard]] std::filesystem::path helper() const;
    [[nodiscard]] std::filesystem::path desktopData() const;

    // The product lists, for steps and callers that know the engine.
    static constexpr const auto& profileIDs = config::profileIDs;
    static constexpr const auto& orvekModels = config::orvekModels;
    static constexpr const auto& defaultOrvekModel = config::defaultOrvekModel;
    static constexpr const auto& freeModels = config::freeModels;
    static constexpr const auto& architecture = config::architecture;

    // ---- Preflight and downloads ----

    /// Refuses configuration overrides in the environment, creates `root`, needs 1.5 GB free on
    /// its volume and OpenCode not running. Throws InstallerFailure (no code) or passes
    /// platform and runner errors through.
    void preflight() const;
    /// Fails with the close-OpenCode message unless pgrep finds no process named "OpenCode".
    void ensureClosed() const;
    /// Returns the cached file `root`/downloads/`name` once its SHA-256 is `sha256`, fetching it
    /// with curl when it is not cached yet; never leaves an unverified file under that name.
    /// While curl runs, the download observer hears how far it got, from the size of the
    /// unfinished file, at most every 250 ms; `expectedSize` is the payload's size, when known.
    [[nodiscard]] std::filesystem::path
    download(const std::string& url, const std::string& sha256, const std::string& name,
             std::optional<std::uint64_t> expectedSize = std::nullopt) const;

    /// Told, on the downloading thread, each new size of a running download, and nothing
    /// (an empty value) once it ended either way.
    using DownloadObserver = std::function<void(const std::optional<DownloadProgress>&)>;
    /// Replaces the observer; set it on the thread that runs the steps, between runs.
    void setDownloadObserver(DownloadObserver observer) {
        m_downloadObserver = std::move(observer);
    }

    // ---- Payload manifest, OpenCode and the helper ----

    /// The release's "payloads.json" from `resources`, decoded strictly; throws InstallerFailure
    /// "Неподдерживаемый файл настроек." for a top value that is not an object.
    [[nodiscard]] JsonValue payloadManifest() const;
    /// The manifest entry `key` when it is an object of strings only; absent otherwise.
    [[nodiscard]] static std::optional<std::map<std::string, std::string>>
    stringEntry(const JsonValue& manifest, std::string_view key);
    /// The entry's optional "size": a positive byte count in decimal digits. Anything else is
    /// no size at all; the download only shows less.
    [[nodiscard]] static std::optional<std::uint64_t>
    payloadSize(const std::map<std::string, std::string>& entry);

    /// Finds OpenCode 2.1.4 or installs the official build into the user's Applications folder,
    /// prepares fresh desktop defaults, then installs the helper. Sets `installedApp`.
    void install(const std::function<void(const std::string&)>& progress);
    /// Refuses anything but OpenCode 2.1.4 of "ai.opencode.desktop" signed by the manifest's team.
    void verifyApp(const std::filesystem::path& app) const;

    /// Installs the pinned helper at `helper`, or verifies the one already there.
    void installHelper() const;
    /// Refuses a helper whose SHA-256 is not the manifest's executable hash.
    void verifyHelper() const;
    /// The manifest's SHA-256 of the helper executable.
    [[nodiscard]] std::string helperBinaryHash() const;

    // ---- Model preset ----

    /// The local MCP server entry OpenCode's configuration should hold under "mcp"."orvek".
    [[nodiscard]] JsonValue mcpConfiguration() const;
    /// Publishes the wizard's model preset "opencode.json" beside the helper's "opencode.jsonc"
    /// in `folder` once, with an ownership marker; later runs only re-verify it.
    void applyPreset(const std::filesystem::path& folder) const;
    /// Points of `applyPreset` where tests change the disk, in the order they are reached.
    enum class PresetStep {
        marked, // the marker holds the preset; the helper's file is read again next
        staged, // the preset waits under a temporary name, about to be moved into place
    };
    /// `applyPreset` with a hook called at each step; only tests use it.
    void applyPresetForTesting(const std::filesystem::path& folder,
                               const std::function<void(PresetStep)>& hook) const;

    // ---- Connection ----

    /// Connects the user's account through the helper: reuses a confirmed saved connection
    /// without a new sign-in, or runs the helper's browser sign-in on a machine without
    /// OpenCode settings and then writes the model preset. Anything unclear stops with
    /// everything kept.
    void connect(const std::function<void(const std::string&)>& progress);

    // ---- Desktop defaults ----

    /// Seeds a fresh OpenCode desktop data folder with the service's models shown and the free
    /// ones hidden, or accepts one seeded before; throws InstallerFailure "DESKTOP_NOT_FRESH"
    /// for any other state, which it leaves untouched.
    static void prepareDesktopDefaults(const std::filesystem::path& folder);
    /// `prepareDesktopDefaults` calling `stateWritten` between the state and its marker; only
    /// tests use it.
    static void prepareDesktopDefaultsForTesting(const std::filesystem::path& folder,
                                                 const std::function<void()>& stateWritten);
    /// true when seeded or already seeded, false for "DESKTOP_NOT_FRESH"; other failures pass.
    [[nodiscard]] static bool tryPrepareFreshDesktopDefaults(const std::filesystem::path& folder);

private:
    void publishPreset(const std::filesystem::path& folder,
                       const std::function<void(PresetStep)>& hook) const;

    std::filesystem::path m_resources;
    std::filesystem::path m_home;
    std::filesystem::path m_configHome;
    std::shared_ptr<const base::FileManager> m_fm;
    Deployment m_deployment;
    std::optional<std::filesystem::path> m_installedApp;
    DownloadObserver m_downloadObserver;
};

} // namespace orvek::installer
