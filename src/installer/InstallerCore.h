#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "installer/Deployment.h"
#include "installer/FileManager.h"
#include "installer/InstallerFailure.h"

namespace orvek::installer {

/// Raw bytes: file contents, process output, serialised JSON.
using Bytes = std::string;

/// A decoded JSON value; the engine's dictionaries are JSON objects.
using JsonValue = nlohmann::json;

/// Environment handed to a child process as its whole environment.
using Environment = std::map<std::string, std::string>;

/// What a finished child left behind.
struct ProcessResult {
    /// The exit code, or the signal number for a child ended by a signal.
    int status = 0;
    /// True when a signal ended the child: then `status` is no exit code, even if it reads 1.
    bool signaled = false;
    Bytes standardOutput;
    Bytes standardError;
};

/// The installer engine: knows where everything lives and holds the file and process
/// primitives every step uses. One instance serves the steps of a run, from one worker at a time.
/// The steps themselves (preflight, download, install, connect) join as members of this class
/// and touch the disk only through these primitives.
class InstallerCore {
public:
    /// Never fails. `home` defaults to the current user's home folder; without `configHome`
    /// the configuration home is an absolute $XDG_CONFIG_HOME, or `home`/.config.
    explicit InstallerCore(const std::filesystem::path& resources,
                           const std::optional<std::filesystem::path>& home = std::nullopt,
                           const std::optional<std::filesystem::path>& configHome = std::nullopt,
                           Deployment deployment = Deployment::production(),
                           std::shared_ptr<const FileManager> fileManager = nullptr);

    [[nodiscard]] const std::filesystem::path& resources() const noexcept { return m_resources; }
    [[nodiscard]] const std::filesystem::path& home() const noexcept { return m_home; }
    [[nodiscard]] const std::filesystem::path& configHome() const noexcept { return m_configHome; }
    [[nodiscard]] const FileManager& fm() const noexcept { return *m_fm; }
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

    // Lists shared by the whole program; their order is shown to the user or written to files.
    static const std::array<std::string_view, 5> profileIDs;
    static const std::array<std::string_view, 7> orvekModels;
    static constexpr std::string_view defaultOrvekModel = "claude-opus-5";
    static const std::array<std::string_view, 8> freeModels;
    static constexpr std::string_view architecture = "arm64";
    static constexpr std::string_view helperArchiveHash =
        "d91b6032f654ee4c7f276d725a8dfd2d2ce823dc16a65baf5a3143c11d901f86";

    // ---- File primitives ----

    /// SHA-256 as 64 lower-case hex digits.
    [[nodiscard]] static std::string hash(std::string_view bytes);
    /// Compact JSON with sorted keys and every "/" escaped; throws JsonError for values JSON
    /// cannot hold (non-finite numbers, invalid UTF-8).
    [[nodiscard]] static Bytes json(const JsonValue& value);
    /// Throws InstallerFailure when any existing component of the path is a symbolic link,
    /// except the system's own /tmp and /var.
    static void noLinks(const std::filesystem::path& path);
    /// Reads a regular file of at most 1 MiB; throws InstallerFailure or PlatformError.
    [[nodiscard]] static Bytes read(const std::filesystem::path& path);
    /// `read`, then JSON decoding; throws JsonError for invalid JSON and InstallerFailure for a
    /// top-level value that is not an object.
    [[nodiscard]] static JsonValue readObject(const std::filesystem::path& path);
    /// Creates a new file with mode 0600; never replaces an existing one (PlatformError EEXIST).
    static void create(const std::filesystem::path& path, std::string_view bytes);
    /// Creates the folder and missing parents with mode 0700; an existing folder is accepted.
    static void directory(const std::filesystem::path& path);

    // ---- Preflight and downloads ----

    /// Refuses configuration overrides in the environment, creates `root`, needs 1.5 GB free on
    /// its volume and OpenCode not running. Throws InstallerFailure (no code) or passes
    /// platform and runner errors through.
    void preflight() const;
    /// Fails with the close-OpenCode message unless pgrep finds no process named "OpenCode".
    void ensureClosed() const;
    /// Returns the cached file `root`/downloads/`name` once its SHA-256 is `sha256`, fetching it
    /// with curl when it is not cached yet; never leaves an unverified file under that name.
    [[nodiscard]] std::filesystem::path download(const std::string& url, const std::string& sha256,
                                                 const std::string& name) const;
    /// SHA-256 of a file of any size, streamed in constant memory, as 64 lower-case hex digits.
    [[nodiscard]] static std::string hashFile(const std::filesystem::path& path);

    // ---- Payload manifest, OpenCode and the helper ----

    /// The release's "payloads.json" from `resources`, decoded strictly; throws InstallerFailure
    /// "Неподдерживаемый файл настроек." for a top value that is not an object.
    [[nodiscard]] JsonValue payloadManifest() const;
    /// The manifest entry `key` when it is an object of strings only; absent otherwise.
    [[nodiscard]] static std::optional<std::map<std::string, std::string>>
    stringEntry(const JsonValue& manifest, std::string_view key);

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
    /// The preset document: the two enabled providers and the free one defined by the resource.
    [[nodiscard]] static JsonValue presetDocument(const JsonValue& freeProvider);
    /// `json` of `presetDocument`: the exact bytes of "opencode.json" and of its marker.
    [[nodiscard]] static Bytes presetBytes(const JsonValue& freeProvider);

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
    /// true when seeded or already seeded, false for "DESKTOP_NOT_FRESH"; other failures pass.
    [[nodiscard]] static bool tryPrepareFreshDesktopDefaults(const std::filesystem::path& folder);

    // ---- External programs ----

    /// Runs a program by absolute path with a timeout and a 1 MiB cap on both outputs together.
    /// Throws InstallerFailure for a timeout, a read error or too much output (the child and
    /// every process of its group are gone by then) and PlatformError when it cannot start.
    [[nodiscard]] static ProcessResult run(const std::filesystem::path& executable,
                                           const std::vector<std::string>& arguments,
                                           const std::optional<Environment>& environment,
                                           double timeoutSeconds);
    /// Runs with the inherited environment; throws InstallerFailure(message) on a non-zero exit.
    static void require(const std::filesystem::path& executable,
                        const std::vector<std::string>& arguments, const std::string& message,
                        double timeoutSeconds = 180);

    // ---- Helper replies ----

    /// The reply object, or an empty object for anything over 256 KiB, invalid or not an object.
    [[nodiscard]] static JsonValue response(std::string_view bytes);
    /// True only for a JSON boolean true under the key.
    [[nodiscard]] static bool boolean(const JsonValue& dictionary, std::string_view key);
    [[nodiscard]] static bool setupSucceeded(int status, std::string_view standardOutput);
    [[nodiscard]] static bool statusConfigured(int status, std::string_view standardOutput);
    /// The first recognised code from standard error, then standard output; otherwise
    /// "CONFIGURATION_FAILED".
    [[nodiscard]] static std::string helperErrorCode(std::string_view standardOutput,
                                                     std::string_view standardError);
    [[nodiscard]] static InstallerFailure setupFailure(std::string_view standardOutput,
                                                       std::string_view standardError, int status);

private:
    std::filesystem::path m_resources;
    std::filesystem::path m_home;
    std::filesystem::path m_configHome;
    std::shared_ptr<const FileManager> m_fm;
    Deployment m_deployment;
    std::optional<std::filesystem::path> m_installedApp;
};

} // namespace orvek::installer
