#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "TempHome.h"
#include "base/JsonValue.h"
#include "base/ProcessRunner.h"

namespace orvek::test {

/// Any well-formed hash, for manifests whose hashes are not checked against a file.
inline constexpr const char* kHash =
    "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

/// A manifest the engine accepts, pinned to the production helper archive.
[[nodiscard]] base::JsonValue validManifest();

/// A release's artefacts made the way a release makes them: an image file, a helper executable
/// packed alone by the real tar, the addresses and the team. The pin is the archive's own hash.
class TestRelease {
public:
    static constexpr const char* kImageUrl =
        "https://downloads.orvek.test/OpenCode-2.1.4-arm64.dmg";
    static constexpr const char* kArchiveUrl =
        "https://downloads.orvek.test/orvek-0.1.10-arm64.tar.gz";
    static constexpr const char* kTeam = "ORVEKSBX01";

    TestRelease();

    [[nodiscard]] const TempHome& folder() const noexcept { return m_folder; }
    [[nodiscard]] std::filesystem::path image() const { return m_folder / "OpenCode.dmg"; }
    [[nodiscard]] std::filesystem::path helper() const { return m_folder / "helper/orvek"; }
    [[nodiscard]] std::filesystem::path archive() const { return m_folder / "orvek.tar.gz"; }
    [[nodiscard]] std::string pin() const;

    /// Packs `entries` (relative to the helper's folder, created as small files when missing)
    /// into `archive` with the real tar.
    void pack(const std::filesystem::path& archive, const std::vector<std::string>& entries) const;

    /// The tool's command line for these artefacts, writing `output`, pinned to the archive.
    [[nodiscard]] std::vector<std::string> arguments(const std::filesystem::path& output) const;

private:
    TempHome m_folder;
};

/// Runs orvek-payloads with `arguments`.
[[nodiscard]] base::ProcessResult payloads(const std::vector<std::string>& arguments);

} // namespace orvek::test
