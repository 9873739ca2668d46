#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ConfigurationOverrides.h"
#include "HostileHome.h"
#include "Outcome.h"
#include "ScopedEnvironment.h"
#include "base/ChildProcess.h"
#include "base/Hashing.h"
#include "base/HttpsClient.h"
#include "base/Json.h"
#include "base/ProcessRunner.h"
#include "installer/ExistingConnection.h"
#include "mcp/McpEndpoint.h"
#include "mcp/McpHealth.h"

namespace orvek::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Seconds = std::chrono::duration<double>;

const std::string kCheckFailed = failureText(
    "Сохранённый ключ или сервис не прошёл проверку. Настройки сохранены; повторный вход не запускался.",
    "EXISTING_CONNECTION_CHECK_FAILED");
const std::string kDownloadFailed = "Не удалось скачать компонент. Проверьте интернет и повторите.";
const std::string kMcpUnavailable(mcp::McpHealth::kUnavailable);
const std::string kMcpInvalid(mcp::McpHealth::kInvalid);
const std::string kMcpTimedOut(mcp::McpHealth::kTimedOut);

constexpr std::size_t kOverCap = 2097153;
/// The drip's pause between bytes, well under every idle limit below.
constexpr double kDripPause = 0.5;

/// A server certificate and its key.
struct ServerCertificate {
    fs::path certificate;
    fs::path key;
};

/// A throwaway authority and the server certificates of the cases, made by the real openssl:
/// one for the test API host and 127.0.0.1, one for another host, one for the address 127.0.0.1
/// alone, one that has expired and one that signed itself.
struct Certificates {
    explicit Certificates(const fs::path& folder);

    fs::path authority;
    ServerCertificate good;
    ServerCertificate wrongHost;
    ServerCertificate addressOnly;
    ServerCertificate expired;
    ServerCertificate selfSigned;
};

void openssl(const std::vector<std::string>& arguments) {
    base::require(ORVEK_OPENSSL, arguments, "openssl failed", 30);
}

Certificates::Certificates(const fs::path& folder) : authority(folder / "ca.pem") {
    const auto at = [&folder](const char* name) { return (folder / name).string(); };
    const std::vector<std::string> newKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                                             "-nodes"};
    const auto request = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin() + 1, newKey.begin(), newKey.end());
        openssl(arguments);
    };
    request({"req", "-x509", "-keyout", at("ca-key.pem"), "-out", authority.string(), "-days", "2",
             "-subj", "/CN=Hostile Test Authority"});
    request({"req", "-keyout", at("server-key.pem"), "-out", at("server.csr"), "-subj",
             "/CN=api.orvek.test"});
    request({"req", "-keyout", at("other-key.pem"), "-out", at("other.csr"), "-subj",
             "/CN=other.orvek.test"});
    std::ofstream(at("server.ext")) << "subjectAltName=DNS:api.orvek.test,IP:127.0.0.1\n";
    std::ofstream(at("other.ext")) << "subjectAltName=DNS:other.orvek.test\n";
    std::ofstream(at("address.ext")) << "subjectAltName=IP:127.0.0.1\n";
    const auto sign = [&](const char* csr, const char* extensions, const char* out,
                          const char* days, const char* serial) {
        openssl({"x509", "-req", "-in", at(csr), "-CA", authority.string(), "-CAkey",
                 at("ca-key.pem"), "-set_serial", serial, "-days", days, "-extfile", at(extensions),
                 "-out", at(out)});
    };
    sign("server.csr", "server.ext", "server.pem", "1", "1");
    sign("other.csr", "other.ext", "other.pem", "1", "2");
    sign("other.csr", "address.ext", "address.pem", "1", "4");
    // A validity that ended before it began: expired whatever the clock says.
    sign("server.csr", "server.ext", "expired.pem", "-1", "3");
    openssl({"req", "-x509", "-key", at("server-key.pem"), "-out", at("self.pem"), "-days", "1",
             "-subj", "/CN=api.orvek.test", "-addext",
             "subjectAltName=DNS:api.orvek.test,IP:127.0.0.1"});
    good = {at("server.pem"), at("server-key.pem")};
    wrongHost = {at("other.pem"), at("other-key.pem")};
    addressOnly = {at("address.pem"), at("other-key.pem")};
    expired = {at("expired.pem"), at("server-key.pem")};
    selfSigned = {at("self.pem"), at("server-key.pem")};
}

/// hostile-service.py on 127.0.0.1, answering requests for one path as `mode` says and every
/// other path with `payload`; stopped with its process group when this object goes away.
class HostileService {
public:
    HostileService(const fs::path& folder, const ServerCertificate& certificate,
                   const std::string& victim, const std::string& mode, const std::string& payload)
        : m_log(folder / "requests") {
        const auto portFile = folder / "port";
        std::ofstream(folder / "payload", std::ios::binary) << payload;
        m_process = std::make_unique<base::ChildProcess>(base::ChildProcess::start(
            ORVEK_PYTHON3,
            {ORVEK_HOSTILE_SERVICE, certificate.certificate.string(), certificate.key.string(),
             portFile.string(), m_log.string(), (folder / "payload").string(), victim, mode},
            std::nullopt));
        for (int attempt = 0; attempt < 1000 && m_port == 0; ++attempt) {
            if (std::ifstream in(portFile); in >> m_port)
                break;
            std::this_thread::sleep_for(10ms);
        }
        if (m_port == 0)
            throw std::runtime_error("the hostile service did not start");
    }

    [[nodiscard]] int port() const noexcept { return m_port; }

    /// The paths asked for so far, in order.
    [[nodiscard]] std::vector<std::string> requested() const {
        std::vector<std::string> paths;
        std::ifstream in(m_log);
        for (std::string path; std::getline(in, path);)
            paths.push_back(path);
        return paths;
    }

private:
    fs::path m_log;
    std::unique_ptr<base::ChildProcess> m_process;
    int m_port = 0;
};

/// What a case does to one request.
struct Condition {
    const char* name;
    const ServerCertificate Certificates::*certificate;
    /// The service's mode for the entry point's path; "payload" when only TLS goes wrong.
    std::string mode;
    /// The entry points' own time limits, even where a test could pass shorter ones.
    bool shippedLimits = false;
};

/// What the user reads at one of the wizard's HTTPS entry points, and how long it may take.
struct Expected {
    std::string outcome;
    Seconds bound;
    /// Paths the service saw, in order.
    std::vector<std::string> requested;
    /// For a download that passed: the bytes now cached.
    std::string cached;
};

/// One of the wizard's HTTPS entry points.
struct EntryPoint {
    const char* name;
    /// The path its request asks for.
    std::string path;
    /// Runs the entry point against the service; returns what the user reads.
    std::function<std::string(const HostileHome&, const HostileService&, const Condition&,
                              const fs::path& authority)>
        run;
    /// The product's outcome for the condition; nullopt when the entry point cannot meet it.
    std::function<std::optional<Expected>(const Condition&)> expect;
};

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool isTls(const Condition& condition) {
    return condition.mode == "payload";
}

/// Short limits for the drip, which the key check takes as a parameter; the defaults otherwise.
base::HttpsLimits keyCheckLimits(const Condition& condition) {
    base::HttpsLimits limits;
    if (startsWith(condition.mode, "drip:") && !condition.shippedLimits) {
        limits.idleSeconds = 2;
        limits.totalSeconds = 4;
    }
    return limits;
}

std::string reuse(const HostileHome& home, const HostileService& service,
                  const Condition& condition, const fs::path& authority) {
    const auto core = home.engine(service.port(), authority);
    return outcomeOf([&] {
        installer::ExistingConnection::reuse(
            core, [&](const std::string& path, const std::string& key) {
                return installer::ExistingConnection::get(core.deployment(), path, key,
                                                          keyCheckLimits(condition));
            });
    });
}

/// The saved connection's check: "key" is asked first, "models" only once the key passed. No
/// redirect is followed, whatever its code or target.
std::optional<Expected> expectKeyCheck(const Condition& condition, const std::string& path) {
    if (isTls(condition))
        return Expected{kCheckFailed, 10s, {}, {}};
    const auto bound = condition.shippedLimits ? 40s : 10s;
    std::vector<std::string> requested = {path};
    if (path == "/v1/models")
        requested.insert(requested.begin(), "/v1/key");
    return Expected{kCheckFailed, bound, requested, {}};
}

/// The remote MCP probe: a redirect or a certificate that does not name the service (the
/// connection goes to 127.0.0.1, the name checked is the API host's) leaves it without an answer, a
/// body over 2 MiB fails validation and a drip runs into its deadline.
std::optional<Expected> expectMcpProbe(const Condition& condition) {
    if (isTls(condition))
        return Expected{kMcpUnavailable, 10s, {}, {}};
    if (startsWith(condition.mode, "redirect"))
        return Expected{kMcpUnavailable, 10s, {"/mcp"}, {}};
    if (startsWith(condition.mode, "drip:"))
        return Expected{kMcpTimedOut, condition.shippedLimits ? 28s : 8s, {"/mcp"}, {}};
    return Expected{kMcpInvalid, 10s, {"/mcp"}, {}};
}

constexpr auto kMcpDripDeadline = std::chrono::milliseconds(3000);

std::string probeMcp(const HostileHome&, const HostileService& service, const Condition& condition,
                     const fs::path& authority) {
    mcp::McpEndpoint endpoint{std::string(HostileHome::kApiBase) + "/mcp", authority,
                              "127.0.0.1:" + std::to_string(service.port())};
    // The probe's deadline is a parameter; the drip gets 3 seconds instead of 20.
    if (startsWith(condition.mode, "drip:") && !condition.shippedLimits)
        return mcp::McpHealth::probeForTesting(endpoint, kMcpDripDeadline);
    return mcp::McpHealth::probe(endpoint);
}

std::string bigBody() {
    return std::string(kOverCap, 'x');
}

/// The verified download: redirects over HTTPS are followed and any size is taken, since only
/// the hash decides; a bad certificate or a step down to plain HTTP fails the download.
std::optional<Expected> expectDownload(const Condition& condition) {
    // The download's address is 127.0.0.1 itself, which that certificate names.
    if (condition.certificate == &Certificates::addressOnly)
        return Expected{kPassed, 20s, {"/file"}, fullCatalogue()};
    if (isTls(condition))
        return Expected{kDownloadFailed, 20s, {}, {}};
    // curl has no pause limit and its total limit (1,800 seconds) is fixed.
    if (startsWith(condition.mode, "drip:"))
        return std::nullopt;
    if (startsWith(condition.mode, "redirect-http:"))
        return Expected{kDownloadFailed, 20s, {"/file"}, {}};
    if (startsWith(condition.mode, "redirect:"))
        return Expected{kPassed, 20s, {"/file", "/payload"}, fullCatalogue()};
    return Expected{kPassed, 20s, {"/file"}, bigBody()};
}

std::string download(const HostileHome& home, const HostileService& service,
                     const Condition& condition, const fs::path& authority) {
    const bool big =
        startsWith(condition.mode, "length:") || startsWith(condition.mode, "chunked:");
    const auto core = home.engine(service.port(), authority);
    return outcomeOf([&] {
        (void)core.download("https://127.0.0.1:" + std::to_string(service.port()) + "/file",
                            base::hash(big ? bigBody() : fullCatalogue()), "payload.bin");
    });
}

std::vector<Condition> conditions() {
    std::vector<Condition> all;
    for (const char* code : {"300", "301", "302", "303", "304", "305", "307", "308"}) {
        all.push_back({"redirect", &Certificates::good, std::string("redirect:") + code});
        all.push_back(
            {"redirect to HTTP", &Certificates::good, std::string("redirect-http:") + code});
    }
    all.push_back(
        {"2 MiB + 1 announced", &Certificates::good, "length:" + std::to_string(kOverCap)});
    all.push_back(
        {"2 MiB + 1 chunked", &Certificates::good, "chunked:" + std::to_string(kOverCap)});
    all.push_back({"drip", &Certificates::good, "drip:" + std::to_string(kDripPause)});
    all.push_back({"another host's certificate", &Certificates::wrongHost, "payload"});
    all.push_back({"a certificate for the address alone", &Certificates::addressOnly, "payload"});
    all.push_back({"an expired certificate", &Certificates::expired, "payload"});
    all.push_back({"a self-signed certificate", &Certificates::selfSigned, "payload"});
    return all;
}

std::vector<EntryPoint> entryPoints() {
    return {
        {"key check", "/v1/key", reuse,
         [](const Condition& condition) { return expectKeyCheck(condition, "/v1/key"); }},
        {"model catalogue", "/v1/models", reuse,
         [](const Condition& condition) { return expectKeyCheck(condition, "/v1/models"); }},
        {"remote MCP probe", "/mcp", probeMcp, expectMcpProbe},
        {"verified download", "/file", download, expectDownload},
    };
}

class HostileServices : public ::testing::Test {
protected:
    HostileServices() { test::clearConfigurationOverrides(environment); }

    /// Meets the condition at the entry point in a fresh home with a fresh service in `folder`:
    /// the outcome is the entry point's own message within its limit, no process is left and
    /// nothing but a verified download is written.
    void meet(const EntryPoint& entry, const Condition& condition, const Expected& expected,
              const fs::path& folder) const {
        SCOPED_TRACE(std::string(entry.name) + ": " + condition.name + " (" + condition.mode + ")");
        fs::create_directories(folder);
        const HostileService service(folder, certificates.*condition.certificate, entry.path,
                                     condition.mode, fullCatalogue());
        const HostileHome home;
        home.saveConnection();
        const auto before = home.snapshot();
        const auto start = std::chrono::steady_clock::now();
        const auto outcome = entry.run(home, service, condition, certificates.authority);
        const Seconds took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(outcome, expected.outcome);
        EXPECT_LT(took, expected.bound);
        EXPECT_EQ(service.requested(), expected.requested);
        EXPECT_EQ(processesMarked(home.marker()), std::vector<std::string>{});
        auto after = home.snapshot();
        if (!expected.cached.empty()) {
            const auto cached =
                fs::relative(home.engine().root() / "downloads/payload.bin", home.temp().path())
                    .string();
            ASSERT_TRUE(after.contains(cached));
            EXPECT_EQ(after[cached].content, expected.cached);
            after.erase(cached);
        }
        EXPECT_EQ(after, before);
    }

    ScopedEnvironment environment;
    TempHome server;
    Certificates certificates{server.path()};
};

// Every condition against every HTTPS entry point that can meet it.
TEST_F(HostileServices, EveryEntryPointEndsWithItsOwnMessage) {
    int caseNumber = 0;
    for (const auto& entry : entryPoints())
        for (const auto& condition : conditions())
            if (const auto expected = entry.expect(condition))
                meet(entry, condition, *expected,
                     server / ("case-" + std::to_string(++caseNumber)));
}

// The drip once more under the limits the wizard really uses (30 seconds for the key check,
// 20 for the MCP probe), both at the same time.
TEST_F(HostileServices, TheShippedLimitsEndADrip) {
    const Condition drip{"drip", &Certificates::good, "drip:" + std::to_string(kDripPause), true};
    const auto entries = entryPoints();
    std::vector<std::future<void>> runs;
    for (const auto& entry : entries) {
        auto expected = entry.expect(drip);
        if (!expected)
            continue;
        runs.push_back(std::async(std::launch::async, [this, &entry, &drip, expected] {
            meet(entry, drip, *expected, server / entry.name);
        }));
    }
    for (auto& run : runs)
        run.get();
}

} // namespace
} // namespace orvek::test
