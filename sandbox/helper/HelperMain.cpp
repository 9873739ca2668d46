// Stand-in for the service's account helper "orvek": answers "status", "setup" and "mcp" the way
// the wizard relies on, and leaves the two files a real sign-in leaves in OpenCode's global
// configuration folder. Its behaviour comes from the scenario's file "helper.json" in its state
// folder $HOME/.orvek-sandbox; whether it is signed in is the file "configured" there.

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/HttpsClient.h"
#include "installer/HelperCommand.h"
#include "installer/InstallerCore.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using orvek::installer::InstallerCore;
namespace HelperCommand = orvek::installer::HelperCommand;

constexpr int kUsage = 64;
constexpr int kTemporaryFailure = 75;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

fs::path stateFolder() {
    return fs::path(environment("HOME")) / ".orvek-sandbox";
}

fs::path openCodeConfig() {
    const auto xdg = environment("XDG_CONFIG_HOME");
    const fs::path base = !xdg.empty() && xdg.front() == '/'
                              ? fs::path(xdg)
                              : fs::path(environment("HOME")) / ".config";
    return base / "opencode";
}

json behaviour() {
    std::ifstream in(stateFolder() / "helper.json");
    if (!in)
        return json::object();
    try {
        auto value = json::parse(in);
        return value.is_object() ? value : json::object();
    } catch (const json::exception&) {
        return json::object();
    }
}

std::string text(const json& object, const char* key, const std::string& fallback) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : fallback;
}

int fail(const std::string& command, const std::string& code, int status) {
    std::cerr << json{{"ok", false}, {"command", command}, {"error", {{"code", code}}}}.dump()
              << std::endl;
    return status;
}

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
}

int status(const json& settings) {
    if (text(settings, "status", "normal") == "revoked") {
        std::cerr << json{{"ok", false},
                          {"command", "status"},
                          {"configured", true},
                          {"state", "revoked"},
                          {"error", {{"code", "SETUP_REAUTH_REQUIRED"}}}}
                         .dump()
                  << std::endl;
        return 1;
    }
    if (!fs::exists(stateFolder() / "configured"))
        return fail("status", std::string(HelperCommand::kNotConfigured), 1);
    std::cout << json{{"ok", true},
                      {"command", "status"},
                      {"configured", true},
                      {"state", "active"},
                      {"configuration", {{"agents", {"opencode"}}, {"environment", "current"}}}}
                     .dump()
              << std::endl;
    return 0;
}

// The user opens OpenCode while the browser sign-in is still going on: a detached process
// named "OpenCode" in the simulated home, recorded so the scenario can close it again.
void startOpenCode() {
    const auto folder = stateFolder() / "OpenCode.app-process";
    fs::create_directories(folder);
    const auto program = folder / "OpenCode";
    if (!fs::exists(program))
        fs::copy_file("/bin/sleep", program);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    std::string path = program.string();
    std::string seconds = "600";
    char* argv[] = {path.data(), seconds.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ) == 0)
        writeFile(stateFolder() / "opencode.pid", std::to_string(pid));
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
}

// The browser sign-in as the service ends it: the key comes from the service, never from disk.
std::string signedIn(const json& signIn) {
    orvek::base::HttpsRequest request;
    request.url = text(signIn, "url", "");
    request.trustedCa = text(signIn, "trustedCa", "");
    request.connectTo = text(signIn, "connectTo", "");
    const auto response = orvek::base::httpsGet(request);
    const auto reply = json::parse(response.body);
    if (response.status != 200 || !reply.contains("key") || !reply["key"].is_string())
        throw std::runtime_error("no key");
    return reply["key"].get<std::string>();
}

int setup(const json& settings, const std::vector<std::string>& arguments) {
    if (arguments != HelperCommand::setupArguments())
        return fail("setup", "USAGE", kUsage);
    std::this_thread::sleep_for(
        std::chrono::duration<double>(settings.value("signInSeconds", 1.0)));
    if (settings.value("openOpenCodeDuringSignIn", false))
        startOpenCode();
    const auto outcome = text(settings, "setup", "succeed");
    if (outcome != "succeed")
        return fail("setup", outcome, kTemporaryFailure);

    const auto apiBase = text(settings, "apiBase", "https://api.orvek.ru");
    json models = json::object();
    for (const auto model : InstallerCore::orvekModels)
        models[std::string(model)] = {{"name", std::string(model)}};
    const json configuration = {
        {"$schema", "https://opencode.ai/config.json"},
        {"model", "orvek/" + std::string(InstallerCore::defaultOrvekModel)},
        {"provider",
         {{"orvek",
           {{"npm", "@ai-sdk/openai-compatible"},
            {"name", "Orvek"},
            {"options", {{"baseURL", apiBase + "/v1"}, {"apiKey", "{file:orvek-api-key}"}}},
            {"models", models}}}}}};
    std::string key = text(settings, "key", "sk-orvek-sandbox-0001");
    if (const auto signIn = settings.find("signIn"); signIn != settings.end()) {
        if (!signIn->is_object())
            return fail("setup", "OAUTH_AUTHORIZATION_FAILED", kTemporaryFailure);
        try {
            key = signedIn(*signIn);
        } catch (const std::exception&) {
            return fail("setup", "OAUTH_AUTHORIZATION_FAILED", kTemporaryFailure);
        }
    }
    writeFile(openCodeConfig() / "orvek-api-key", key + "\n");
    writeFile(openCodeConfig() / "opencode.jsonc", configuration.dump(2) + "\n");
    writeFile(stateFolder() / "configured", "");
    std::cout << json{{"ok", true}, {"command", "setup"}, {"agent", "opencode"}}.dump()
              << std::endl;
    return 0;
}

json answer(const json& request) {
    const auto method = text(request, "method", "");
    json reply = {{"jsonrpc", "2.0"}, {"id", request["id"]}};
    if (method == "initialize") {
        const auto params = request.value("params", json::object());
        reply["result"] = {{"protocolVersion", params.is_object()
                                                   ? text(params, "protocolVersion", "2025-06-18")
                                                   : "2025-06-18"},
                           {"capabilities", {{"tools", json::object()}}},
                           {"serverInfo", {{"name", "orvek"}, {"version", "0.1.10"}}}};
    } else if (method == "tools/list") {
        json tools = json::array();
        for (const char* name : {"orvek_models", "orvek_balance"})
            tools.push_back({{"name", name},
                             {"description", std::string("Sandbox tool ") + name},
                             {"inputSchema", {{"type", "object"}}}});
        reply["result"] = {{"tools", tools}};
    } else if (method == "ping") {
        reply["result"] = json::object();
    } else {
        reply["error"] = {{"code", -32601}, {"message", "Method not found"}};
    }
    return reply;
}

void say(const json& message) {
    std::cout << message.dump() << std::endl;
}

// Left in the state folder for tests: the server's pid, and a mark once it waits for the user.
void mark(const char* name, const std::string& text) {
    writeFile(stateFolder() / name, text);
}

// A child left behind in the server's process group: ending the check must end it too.
void startStraggler() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::string path = "/bin/sleep";
    std::string seconds = "600";
    char* argv[] = {path.data(), seconds.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ) == 0)
        mark("mcp-straggler.pid", std::to_string(pid));
    posix_spawn_file_actions_destroy(&actions);
}

// A stdio MCP server with the saved access: one JSON-RPC message per line in, one response
// per line out. The scenario's "mcp" setting makes it misbehave in one of the ways the wizard
// must survive: "log-line" and "json-log-line" (a log line first), "notification" (a
// notification first, as servers built on the official SDK do), "other-id", "error",
// "no-result", "no-tools", "nameless-tools", "twelve-tools", "initialize-only" (never answers
// tools/list), "close-output", "flood" (2 MiB without a line feed), "notification-flood"
// (over 2 MiB of complete notifications, then silence), "wait-for-user" (holds tools/list
// until the check is cancelled) and "straggler" (leaves a child in its group).
int mcp(const json& settings) {
    if (environment(std::string(HelperCommand::kTokenStorageVariable).c_str()) !=
            HelperCommand::kTokenStorage ||
        !fs::exists(stateFolder() / "configured"))
        return fail("mcp", "SETUP_REAUTH_REQUIRED", 1);
    const auto mode = text(settings, "mcp", "normal");
    mark("mcp.pid", std::to_string(::getpid()));
    if (mode == "straggler")
        startStraggler();
    if (mode == "log-line")
        std::cout << "orvek mcp: starting with saved access" << std::endl;
    if (mode == "json-log-line")
        say({{"level", "info"}, {"message", "starting with saved access"}});
    if (mode == "notification")
        say({{"jsonrpc", "2.0"}, {"method", "notifications/tools/list_changed"}});
    if (mode == "close-output") {
        ::close(STDOUT_FILENO);
        std::this_thread::sleep_for(std::chrono::seconds(600));
        return 0;
    }
    if (mode == "flood") {
        const std::string chunk(65536, 'x');
        for (int i = 0; i < 33 && std::cout; ++i)
            std::cout << chunk;
        std::cout.flush();
        std::this_thread::sleep_for(std::chrono::seconds(600));
        return 0;
    }
    if (mode == "notification-flood") {
        const json notification = {{"jsonrpc", "2.0"},
                                   {"method", "notifications/message"},
                                   {"params", {{"data", std::string(1024, 'x')}}}};
        for (int i = 0; i < 2200 && std::cout; ++i)
            std::cout << notification.dump() << '\n';
        std::cout.flush();
        std::this_thread::sleep_for(std::chrono::seconds(600));
        return 0;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        json request;
        try {
            request = json::parse(line);
        } catch (const json::exception&) {
            say({{"jsonrpc", "2.0"},
                 {"id", nullptr},
                 {"error", {{"code", -32700}, {"message", "Parse error"}}}});
            continue;
        }
        if (!request.is_object() || !request.contains("id"))
            continue;
        auto reply = answer(request);
        const auto method = text(request, "method", "");
        if (method == "tools/list") {
            if (mode == "initialize-only")
                continue;
            if (mode == "wait-for-user") {
                mark("mcp-waiting", "");
                std::this_thread::sleep_for(std::chrono::seconds(600));
            }
            if (mode == "no-tools")
                reply["result"]["tools"] = json::array();
            if (mode == "nameless-tools")
                reply["result"]["tools"] = {{{"description", "no name"}}};
            if (mode == "twelve-tools")
                for (int i = 3; i <= 12; ++i)
                    reply["result"]["tools"].push_back(
                        {{"name", "orvek_tool_" + std::to_string(i)}});
        }
        if (method == "initialize" || method == "tools/list") {
            if (mode == "other-id")
                reply["id"] = 99;
            if (mode == "error")
                reply["error"] = {{"code", -32603}, {"message", "Internal error"}};
            if (mode == "no-result")
                reply.erase("result");
        }
        say(reply);
    }
    return 0;
}

// Each command on its own line in "calls", so tests can tell which commands ran.
void note(const std::vector<std::string>& arguments) {
    fs::create_directories(stateFolder());
    std::ofstream(stateFolder() / "calls", std::ios::app)
        << (arguments.empty() ? std::string() : arguments.front()) << "\n";
}

// Its argument list as the system holds it, appended to the log a recording scenario names.
void recordArguments(const json& settings) {
    const auto log = text(settings, "argumentsLog", "");
    if (log.empty())
        return;
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    while (line.ends_with('\0'))
        line.pop_back();
    std::replace(line.begin(), line.end(), '\0', ' ');
    std::ofstream(log, std::ios::app) << line << "\n";
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    note(arguments);
    const auto settings = behaviour();
    recordArguments(settings);
    if (arguments == HelperCommand::statusArguments())
        return status(settings);
    if (!arguments.empty() && arguments[0] == "setup")
        return setup(settings, arguments);
    if (arguments == HelperCommand::mcpArguments())
        return mcp(settings);
    return fail(arguments.empty() ? "" : arguments[0], "USAGE", kUsage);
}
