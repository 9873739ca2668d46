#include "LinkWorld.h"

#include <sys/stat.h>

#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

#include "Campaign.h"
#include "Fixtures.h"
#include "SimulatedApp.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "base/ProcessRunner.h"

namespace orvek::test {

namespace fs = std::filesystem;

namespace {

constexpr const char* kStandIns = ORVEK_SANDBOX_STAND_INS;
constexpr const char* kTeam = "ABCDE12345";
constexpr std::string_view kHelperBytes = "#!/bin/sh\nexit 0\n";
constexpr const char* kImageUrl = "https://downloads.example.com/OpenCode-2.1.4-arm64.dmg";
constexpr const char* kArchiveUrl = "https://downloads.example.com/orvek-0.1.10-arm64.tar.gz";
constexpr const char* kFreeProvider = "{\"models\": {\"big-pickle\": {}}, \"name\": \"Free\"}\n";

const std::map<std::string, std::string>& toolkit() {
    static const std::map<std::string, std::string> files = {
        {"common/AGENTS.md", "# Рабочая папка\n"},
        {"profiles/developer/notes.md", "Заметки разработчика.\n"},
        {"profiles/developer/.opencode/skills/orvek-demo/SKILL.md", "---\nname: orvek-demo\n---\n"},
        {"profiles/analyst/notes.md", "Заметки аналитика.\n"},
        {"profiles/video/notes.md", "Заметки видео.\n"},
    };
    return files;
}

} // namespace

const char* kindName(LinkKind kind) {
    switch (kind) {
    case LinkKind::file:
        return "a link to a file";
    case LinkKind::folder:
        return "a link to a folder";
    case LinkKind::dangling:
        return "a dangling link";
    }
    return "?";
}

LinkWorld::LinkWorld() {
    fs::create_directories(home());
    fs::create_directories(systemApplications());
    fs::create_directories(elsewhere());
    write("resources/free-provider.json", kFreeProvider);
    write("resources/promo.json", promo::test::issuedRecord());
    for (const auto& [relative, bytes] : toolkit())
        write(fs::path("resources/toolkit") / relative, bytes);
    (void)m_temp.script("bin/pgrep", "exit 1");
    // The curl stand-in serves the image or the archive by the address it is given last.
    (void)m_temp.script("bin/curl", "out=''\nprev=''\nurl=''\nfor a in \"$@\"; do\n"
                                    "  if [ \"$prev\" = --output ]; then out=$a; fi\n"
                                    "  prev=$a\n  url=$a\ndone\n"
                                    "case \"$url\" in\n"
                                    "  *.dmg) cat '" +
                                        (m_temp / "fixture/OpenCode.dmg").string() +
                                        "' > \"$out\" ;;\n"
                                        "  *) cat '" +
                                        (m_temp / "fixture/orvek.tar.gz").string() +
                                        "' > \"$out\" ;;\nesac");
    const auto helper = core().helper();
    fs::create_directories(helper.parent_path());
    m_temp.write(helper.lexically_relative(m_temp.path()), kHelperBytes, fs::perms::owner_all);
    writeManifest();
}

fs::path LinkWorld::anchor(Anchor anchor) const {
    switch (anchor) {
    case Anchor::home:
        return home();
    case Anchor::resources:
        return resources();
    case Anchor::systemApplications:
        return systemApplications();
    }
    throw std::logic_error("unknown anchor");
}

installer::InstallerCore LinkWorld::core() const {
    installer::Deployment deployment;
    deployment.pgrep = m_temp / "bin/pgrep";
    deployment.curl = m_temp / "bin/curl";
    deployment.hdiutil = fs::path(kStandIns) / "hdiutil";
    deployment.ditto = fs::path(kStandIns) / "ditto";
    deployment.codesign = fs::path(kStandIns) / "codesign";
    deployment.tar = "/usr/bin/tar";
    deployment.systemApplications = systemApplications();
    deployment.apiBase = "https://api.orvek.test";
    if (!m_pinnedArchiveHash.empty())
        deployment.helperArchiveHash = m_pinnedArchiveHash;
    return installer::InstallerCore(resources(), home(), home() / ".config", deployment,
                                    std::make_shared<const AmpleSpace>());
}

skills::PackageMap LinkWorld::package() {
    skills::PackageMap map;
    for (const auto& [relative, bytes] : toolkit()) {
        for (const char* root : {"common/", "profiles/developer/"})
            if (relative.starts_with(root))
                map.emplace(relative.substr(std::string_view(root).size()), bytes);
    }
    return map;
}

void LinkWorld::write(const fs::path& path, std::string_view bytes) const {
    m_temp.write(path, bytes);
}

void LinkWorld::writeManifest() const {
    base::JsonValue manifest = {
        {"desktopTeamID", kTeam},
        {"cli-arm64",
         {{"url", kArchiveUrl},
          {"sha256", m_pinnedArchiveHash.empty() ? installer::Deployment().helperArchiveHash
                                                 : m_pinnedArchiveHash},
          {"binarySha256", base::hash(kHelperBytes)}}}};
    if (!m_imageHash.empty())
        manifest["arm64"] = {{"url", kImageUrl}, {"sha256", m_imageHash}};
    write("resources/payloads.json", manifest.dump());
}

void LinkWorld::installOpenCode(const fs::path& applications) const {
    const auto app = applications / "OpenCode.app";
    sandbox::writeApp(app, sandbox::infoPlist(sandbox::openCodeInfo(), sandbox::PlistFormat::xml));
    sandbox::signApp(kStandIns, app, kTeam);
}

void LinkWorld::offerImage() {
    installOpenCode(m_temp / "fixture/official");
    sandbox::packImage(m_temp / "fixture/official/OpenCode.app", m_temp / "fixture/OpenCode.dmg");
    m_imageHash = base::hashFile(m_temp / "fixture/OpenCode.dmg");
    writeManifest();
}

void LinkWorld::offerHelperArchive() {
    fs::remove(core().helper());
    m_temp.write("fixture/helper/orvek", kHelperBytes, fs::perms::owner_all);
    const auto packed = base::run("/usr/bin/tar",
                                  {"-C", (m_temp / "fixture/helper").string(), "-czf",
                                   (m_temp / "fixture/orvek.tar.gz").string(), "orvek"},
                                  std::nullopt, 60);
    ASSERT_EQ(packed.status, 0) << packed.standardError;
    m_pinnedArchiveHash = base::hashFile(m_temp / "fixture/orvek.tar.gz");
    writeManifest();
}

fs::path LinkWorld::plant(const fs::path& component, LinkKind kind) const {
    const auto status = fs::symlink_status(component);
    const auto original = elsewhere() / "original";
    fs::path target;
    switch (kind) {
    case LinkKind::folder:
        target = fs::is_directory(status) ? original : elsewhere() / "folder";
        break;
    case LinkKind::file:
        target = fs::is_regular_file(status) ? original : elsewhere() / "file";
        break;
    case LinkKind::dangling:
        target = elsewhere() / "missing";
        break;
    }
    if (target != original)
        (void)lookalike(component, kind);
    swapIn(component, target);
    return target;
}

fs::path LinkWorld::lookalike(const fs::path& component, LinkKind kind) const {
    const auto status = fs::symlink_status(component);
    switch (kind) {
    case LinkKind::folder: {
        const auto target = elsewhere() / "folder";
        if (fs::is_directory(status))
            fs::copy(component, target, fs::copy_options::recursive);
        else
            fs::create_directory(target);
        return target;
    }
    case LinkKind::file: {
        const auto target = elsewhere() / "file";
        if (fs::is_regular_file(status))
            fs::copy_file(component, target);
        else
            write(target.lexically_relative(m_temp.path()), "не папка\n");
        return target;
    }
    case LinkKind::dangling:
        return elsewhere() / "missing";
    }
    throw std::logic_error("unknown link kind");
}

void LinkWorld::swapIn(const fs::path& component, const fs::path& target) const {
    if (fs::exists(fs::symlink_status(component)))
        fs::rename(component, elsewhere() / "original");
    else
        fs::create_directories(component.parent_path());
    fs::create_symlink(target, component);
}

LinkSide linkSide(const fs::path& component, const fs::path& target) {
    std::error_code error;
    LinkSide side{{}, fs::read_symlink(component, error).string()};
    const auto status = fs::symlink_status(target);
    if (fs::is_directory(status))
        side.target = snapshot(target);
    else if (fs::exists(status))
        side.target["."] = {SnapshotEntry::Kind::file, slurp(target), modeOf(target), {}};
    return side;
}

std::vector<std::string> changedEntries(const std::map<std::string, SnapshotEntry>& before,
                                        const std::map<std::string, SnapshotEntry>& after) {
    std::set<std::string> names;
    for (const auto& [name, entry] : before)
        names.insert(name);
    for (const auto& [name, entry] : after)
        names.insert(name);
    std::vector<std::string> changed;
    for (const auto& name : names) {
        const auto was = before.find(name);
        const auto is = after.find(name);
        if (was == before.end() || is == after.end() || !(was->second == is->second))
            changed.push_back(name);
    }
    return changed;
}

} // namespace orvek::test
