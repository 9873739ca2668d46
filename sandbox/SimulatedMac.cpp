#include "SimulatedMac.h"

#include <signal.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <random>
#include <stdexcept>
#include <thread>

#include "SimulatedApp.h"
#include "base/Hashing.h"
#include "base/Json.h"
#include "base/ProcessRunner.h"
#include "installer/InstallerCore.h"

namespace orvek::sandbox {

namespace fs = std::filesystem;
using installer::InstallerCore;
using nlohmann::json;

namespace {

constexpr const char* kImageRoute = "/downloads/OpenCode-2.1.4-arm64.dmg";
constexpr const char* kArchiveRoute = "/downloads/orvek-0.1.10-arm64.tar.gz";

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

void runOrThrow(const fs::path& program, const std::vector<std::string>& arguments) {
    const auto result = base::run(program, arguments, std::nullopt, 120);
    if (result.signaled || result.status != 0)
        throw std::runtime_error(program.string() + " failed: " + result.standardError);
}

// The same bytes on every run, with nothing for gzip to find.
std::string opaqueBytes(std::size_t count) {
    std::mt19937_64 generator(20261211);
    std::string bytes(count, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(generator() & 0xff);
    return bytes;
}

} // namespace

SimulatedMac::SimulatedMac(const fs::path& home, const fs::path& machine, const Programs& programs)
    : m_programs(programs), m_home(home), m_machine(machine) {
    fs::create_directories(m_home);
    fs::create_directories(systemApplications());
    fs::create_directories(m_machine / "certificates");
    m_server = std::make_unique<SandboxServer>(m_authority.writeTo(m_machine / "certificates"));

    // The official image as the publisher ships it.
    const auto staging = m_machine / "build/OpenCode.app";
    writeApp(staging, infoPlist(openCodeInfo(), PlistFormat::xml));
    // Resources that do not compress, so the image has a size a slow download can be watched at.
    writeFile(staging / "Contents/Resources/app.asar", opaqueBytes(2 * 1024 * 1024));
    signApp(m_programs.standIns, staging, kTeam);
    packImage(staging, imagePath());
    m_imageHash = base::hashFile(imagePath());

    // The helper archive holds one executable, the stand-in.
    const auto helperFolder = m_machine / "build/helper";
    fs::create_directories(helperFolder);
    fs::copy_file(m_programs.helper, helperFolder / "orvek", fs::copy_options::overwrite_existing);
    fs::permissions(helperFolder / "orvek", fs::perms::owner_all | fs::perms::group_read |
                                                fs::perms::group_exec | fs::perms::others_read |
                                                fs::perms::others_exec);
    runOrThrow("/usr/bin/tar",
               {"-C", helperFolder.string(), "-czf", archivePath().string(), "orvek"});
    m_archiveHash = base::hashFile(archivePath());
    m_helperHash = base::hashFile(helperFolder / "orvek");

    m_server->serveFile(kImageRoute, imagePath());
    m_server->serveFile(kArchiveRoute, archivePath());
    m_server->serveMcp("/mcp", McpService{});
    answerKey(200, R"({"object":"key","label":"OpenCode","limit":null})");
    useKey(kKey);
    std::vector<std::string> ids;
    for (const auto id : InstallerCore::orvekModels)
        ids.emplace_back(id);
    answerModels(ids);

    fs::create_directories(resources());
    fs::copy_file(m_programs.resources / "free-provider.json", resources() / "free-provider.json");
    fs::copy(m_programs.resources / "toolkit", resources() / "toolkit",
             fs::copy_options::recursive);
    writeManifest();
    configureHelper(json::object());
}

installer::Deployment SimulatedMac::deployment() const {
    installer::Deployment deployment = installer::Deployment::production();
    deployment.pgrep = m_programs.standIns / "pgrep";
    deployment.curl = "/usr/bin/curl";
    deployment.tar = "/usr/bin/tar";
    deployment.hdiutil = m_programs.standIns / "hdiutil";
    deployment.ditto = m_programs.standIns / "ditto";
    deployment.codesign = m_programs.standIns / "codesign";
    deployment.systemApplications = systemApplications();
    deployment.apiBase = std::string("https://") + kApiHost;
    deployment.helperArchiveHash = m_archiveHash;
    deployment.extraTrustedCa = m_machine / "certificates/ca.pem";
    deployment.apiConnectTo = "127.0.0.1:" + std::to_string(m_server->port());
    if (m_recording)
        for (auto* tool : {&deployment.pgrep, &deployment.curl, &deployment.tar,
                           &deployment.hdiutil, &deployment.ditto, &deployment.codesign})
            *tool = m_machine / "recording" / tool->filename();
    return deployment;
}

void SimulatedMac::useKey(const std::string& key) {
    m_key = key;
    // The browser sign-in hands the helper its key; the key check and the catalogue want it back.
    m_server->respond("/sign-in", 200, json{{"key", m_key}}.dump());
    for (const char* path : {"/v1/key", "/v1/models"})
        m_server->requireHeader(path, "Authorization", "Bearer " + m_key);
}

void SimulatedMac::recordArguments() {
    const auto tools = deployment();
    m_recording = true;
    const auto folder = m_machine / "recording";
    fs::create_directories(folder);
    // Each wrapper appends its own name and arguments, one program a line, then becomes the tool.
    for (const auto& tool :
         {tools.pgrep, tools.curl, tools.tar, tools.hdiutil, tools.ditto, tools.codesign}) {
        const auto wrapper = folder / tool.filename();
        writeFile(wrapper, "#!/bin/sh\n{ printf '%s' '" + tool.string() +
                               "'; for argument; do printf ' %s' \"$argument\"; done; echo; } >>'" +
                               argumentsLog().string() + "'\nexec '" + tool.string() +
                               "' \"$@\"\n");
        fs::permissions(wrapper, fs::perms::owner_all);
    }
    configureHelper(json::object());
}

void SimulatedMac::writeManifest() const {
    if (m_programs.payloadsTool) {
        // The release's own tool, pinned to the archive this Mac serves as the app pins its own.
        runOrThrow(*m_programs.payloadsTool,
                   {"--image", imagePath().string(), "--image-url",
                    m_server->baseUrl() + kImageRoute, "--team", kTeam, "--archive",
                    archivePath().string(), "--archive-url", m_server->baseUrl() + kArchiveRoute,
                    "--output", (resources() / "payloads.json").string(),
                    "--archive-pin-for-testing", m_archiveHash});
        return;
    }
    const json manifest = {{"desktopTeamID", kTeam},
                           {"arm64",
                            {{"url", m_server->baseUrl() + kImageRoute},
                             {"sha256", m_imageHash},
                             {"size", std::to_string(fs::file_size(imagePath()))}}},
                           {"cli-arm64",
                            {{"url", m_server->baseUrl() + kArchiveRoute},
                             {"sha256", m_archiveHash},
                             {"binarySha256", m_helperHash},
                             {"size", std::to_string(fs::file_size(archivePath()))}}}};
    writeFile(resources() / "payloads.json", manifest.dump(2) + "\n");
}

void SimulatedMac::installOpenCode(const fs::path& applications, const std::string& version) const {
    auto info = openCodeInfo();
    info["CFBundleShortVersionString"] = version;
    info["CFBundleVersion"] = version;
    const auto app = applications / "OpenCode.app";
    writeApp(app, infoPlist(info, PlistFormat::binary));
    signApp(m_programs.standIns, app, kTeam);
}

fs::path SimulatedMac::cacheFolder() const {
    return m_home / "Library/Application Support/Orvek/OpenCodeSetup/0.1.0/downloads";
}

void SimulatedMac::cacheDownloads() const {
    fs::create_directories(cacheFolder());
    fs::copy_file(imagePath(), cacheFolder() / "OpenCode-2.1.4-arm64.dmg",
                  fs::copy_options::skip_existing);
    fs::copy_file(archivePath(), cacheFolder() / "orvek-0.1.10-arm64.tar.gz",
                  fs::copy_options::skip_existing);
}

void SimulatedMac::serveSlowly(double seconds) const {
    for (const auto& [route, path] :
         {std::pair{kImageRoute, imagePath()}, std::pair{kArchiveRoute, archivePath()}}) {
        const auto pace = static_cast<double>(fs::file_size(path)) / std::max(seconds, 0.1);
        m_server->serveFile(route, path, std::max<std::size_t>(static_cast<std::size_t>(pace), 1));
    }
}

void SimulatedMac::damageCachedImage() const {
    cacheDownloads();
    std::ofstream(cacheFolder() / "OpenCode-2.1.4-arm64.dmg", std::ios::binary | std::ios::app)
        << "interrupted";
}

void SimulatedMac::saveConnection() const {
    writeFile(m_home / ".orvek-sandbox/configured", "");
    json models = json::object();
    for (std::size_t i = 0; i + 2 < InstallerCore::orvekModels.size(); ++i)
        models[std::string(InstallerCore::orvekModels[i])] = {
            {"name", std::string(InstallerCore::orvekModels[i])}};
    const json configuration = {
        {"$schema", "https://opencode.ai/config.json"},
        {"model", "orvek/claude-sonnet-4"},
        {"theme", "tokyonight"},
        {"provider",
         {{"orvek",
           {{"npm", "@ai-sdk/openai-compatible"},
            {"name", "Orvek"},
            {"options",
             {{"baseURL", std::string("https://") + kApiHost + "/v1"},
              {"apiKey", "{file:orvek-api-key}"}}},
            {"models", models}}}}},
        {"agent", {{"review", {{"description", "Reviews my pull requests"}}}}}};
    writeFile(openCodeConfig() / "opencode.jsonc", configuration.dump(2) + "\n");
    writeFile(openCodeConfig() / "orvek-api-key", m_key + "\n");
}

void SimulatedMac::configureHelper(const json& behaviour) const {
    // The helper signs in at the loopback service, so the key is nowhere on disk before.
    json settings = {{"apiBase", std::string("https://") + kApiHost},
                     {"signIn",
                      {{"url", std::string("https://") + kApiHost + "/sign-in"},
                       {"trustedCa", (m_machine / "certificates/ca.pem").string()},
                       {"connectTo", "127.0.0.1:" + std::to_string(m_server->port())}}},
                     {"signInSeconds", 0.3}};
    if (m_recording)
        settings["argumentsLog"] = argumentsLog().string();
    for (const auto& [name, value] : behaviour.items())
        settings[name] = value;
    writeFile(m_home / ".orvek-sandbox/helper.json", settings.dump(2) + "\n");
}

void SimulatedMac::answerKey(int status, const std::string& body) {
    m_server->respond("/v1/key", status, body);
}

void SimulatedMac::answerModels(const std::vector<std::string>& ids) {
    json data = json::array();
    for (const auto& id : ids)
        data.push_back({{"id", id}, {"object", "model"}, {"owned_by", "orvek"}});
    m_server->respond("/v1/models", 200, json{{"object", "list"}, {"data", data}}.dump());
}

SimulatedMac::~SimulatedMac() {
    (void)closeOpenCode();
}

bool SimulatedMac::closeOpenCode() const {
    const auto record = m_home / ".orvek-sandbox/opencode.pid";
    pid_t pid = -1;
    {
        std::ifstream in(record);
        if (!(in >> pid) || pid <= 0)
            return false;
    }
    std::error_code ignored;
    fs::remove(record, ignored);
    if (::kill(pid, SIGTERM) != 0)
        return false;
    // An ended process may linger unreaped, but it no longer has an executable to be seen by.
    const auto executable = "/proc/" + std::to_string(pid) + "/exe";
    const auto running = [&executable] {
        std::error_code error;
        return !fs::read_symlink(executable, error).empty() && !error;
    };
    for (int attempt = 0; attempt < 100 && running(); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return true;
}

} // namespace orvek::sandbox
