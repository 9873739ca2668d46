#pragma once

#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

#include "base/JsonValue.h"

namespace orvek::tools {

/// What a release is made of: the OpenCode disk image and the helper archive as files, the
/// addresses they are served from, and the team whose signature OpenCode must carry.
struct ReleaseArtefacts {
    std::filesystem::path image;
    std::string imageUrl;
    std::string team;
    std::filesystem::path archive;
    std::string archiveUrl;
};

/// Why the release cannot have this manifest; `what` is a finished Russian sentence for the
/// release engineer.
class ReleaseRefusal : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The payload manifest of a release, made from the artefacts themselves and checked by the
/// engine's own reader against `pinnedArchiveHash`, the helper archive hash the application
/// accepts.
namespace ReleaseManifest {

/// Hashes and measures the artefacts and lists the archive; throws ReleaseRefusal.
[[nodiscard]] base::JsonValue make(const ReleaseArtefacts& artefacts,
                                   const std::string& pinnedArchiveHash);
/// Throws ReleaseRefusal unless the engine, given `resources` as its resource folder, reads
/// "payloads.json" there and would accept every entry it downloads by.
void check(const std::filesystem::path& resources, const std::string& pinnedArchiveHash);
/// `check` for a manifest file of any name.
void checkFile(const std::filesystem::path& file, const std::string& pinnedArchiveHash);
/// Writes `manifest` in canonical form to the new file `output`, only once the engine has read
/// it back unchanged; never replaces a file. Throws ReleaseRefusal.
void write(const base::JsonValue& manifest, const std::filesystem::path& output,
           const std::string& pinnedArchiveHash);
/// `write` with a hook called right before the finished file gets its name; only tests use it.
void writeForTesting(const base::JsonValue& manifest, const std::filesystem::path& output,
                     const std::string& pinnedArchiveHash,
                     const std::function<void()>& beforePublishing);

} // namespace ReleaseManifest

} // namespace orvek::tools
