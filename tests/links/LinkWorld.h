#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Snapshot.h"
#include "TempHome.h"
#include "installer/InstallerCore.h"
#include "skills/PackageMap.h"

namespace orvek::test {

/// Where a path the wizard touches begins: the user's home, the application's resources or the
/// Mac-wide Applications folder.
enum class Anchor { home, resources, systemApplications };

/// What a planted symbolic link leads to.
enum class LinkKind { file, folder, dangling };

[[nodiscard]] const char* kindName(LinkKind kind);

/// One Mac for one case: a home, the resources beside it (manifest, free provider, a small
/// toolkit package, the promo record), a Mac-wide Applications folder, stand-ins for the macOS
/// tools, the helper installed, and a folder "elsewhere" that no path of the wizard leads to,
/// where planted links point.
class LinkWorld {
public:
    LinkWorld();

    [[nodiscard]] std::filesystem::path home() const { return m_temp / "home"; }
    [[nodiscard]] std::filesystem::path resources() const { return m_temp / "resources"; }
    [[nodiscard]] std::filesystem::path systemApplications() const {
        return m_temp / "Applications";
    }
    [[nodiscard]] std::filesystem::path elsewhere() const { return m_temp / "elsewhere"; }
    [[nodiscard]] std::filesystem::path anchor(Anchor anchor) const;
    [[nodiscard]] std::filesystem::path global() const { return home() / ".config/opencode"; }

    /// The engine on this Mac, with plenty of free space.
    [[nodiscard]] installer::InstallerCore core() const;
    /// The role files of the small toolkit package, as the engine loads them.
    [[nodiscard]] static skills::PackageMap package();

    /// Writes a file below the scratch folder, replacing what was there.
    void write(const std::filesystem::path& path, std::string_view bytes) const;

    /// The official OpenCode image behind the curl stand-in, in the manifest.
    void offerImage();
    /// No helper yet: the pinned archive behind the curl stand-in, in the manifest.
    void offerHelperArchive();
    /// A signed OpenCode 2.1.4 in `applications`.
    void installOpenCode(const std::filesystem::path& applications) const;

    /// Replaces what stands at `component` (or its absence) with a link of `kind` into
    /// `elsewhere`; what stood there moves into `elsewhere` first, so a link to a folder leads
    /// to the very folder the wizard expects.
    /// Returns the link's target.
    std::filesystem::path plant(const std::filesystem::path& component, LinkKind kind) const;

    /// A place in `elsewhere` for a link of `kind` that replaces `component` later, while a
    /// step runs: a copy of what stands there now (or an empty folder, a small file, nothing).
    [[nodiscard]] std::filesystem::path lookalike(const std::filesystem::path& component,
                                                  LinkKind kind) const;
    /// Moves what stands at `component` aside within `elsewhere` and puts a link to `target`
    /// in its place.
    void swapIn(const std::filesystem::path& component, const std::filesystem::path& target) const;

private:
    void writeManifest() const;

    TempHome m_temp;
    std::string m_imageHash;
    std::string m_archiveHash;
    std::string m_pinnedArchiveHash;
};

/// Everything a link leads to and the link itself, to show that nothing was written through it.
struct LinkSide {
    std::map<std::string, SnapshotEntry> target;
    std::string link;
};

/// The link at `component` and what stands at its `target`: a folder's entries, a file as
/// ".", nothing for a target that does not exist.
[[nodiscard]] LinkSide linkSide(const std::filesystem::path& component,
                                const std::filesystem::path& target);

/// Names whose entries differ between the two snapshots, added and removed ones included.
[[nodiscard]] std::vector<std::string>
changedEntries(const std::map<std::string, SnapshotEntry>& before,
               const std::map<std::string, SnapshotEntry>& after);

} // namespace orvek::test
