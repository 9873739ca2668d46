#include "installer/ExistingConnection.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Outcome.h"
#include "SandboxServer.h"
#include "ScopedEnvironment.h"
#include "TempHome.h"
#include "TestCertificateAuthority.h"
#include "base/Json.h"
#include "base/JsonError.h"
#include "installer/InstallerCore.h"

namespace orvek::installer {
namespace {

namespace fs = std::filesystem;
using base::JsonValue;
using installer::Deployment;
using installer::InstallerCore;

constexpr const char* kUnsupported = "Настройки не поддерживаются. Исходные файлы сохранены.";
constexpr const char* kUnsupportedCode = "CONFIGURATION_UNSUPPORTED";
constexpr const char* kCheckFailed =
    "Сохранённый ключ или сервис не прошёл проверку. Настройки сохранены; повторный вход не запускался.";
constexpr const char* kCheckFailedCode = "EXISTING_CONNECTION_CHECK_FAILED";
constexpr const char* kModelsMissing =
    "В каталоге недоступен выбранный набор моделей. Настройки сохранены.";
constexpr const char* kChanged = "Настройки изменились во время проверки.";
constexpr const char* kChangedCode = "CONFIGURATION_CHANGED";
constexpr const char* kCloseOpenCode = "Закройте OpenCode и повторите действие.";

constexpr const char* kJsonc = ".config/opencode/opencode.jsonc";
constexpr const char* kKey = ".config/opencode/orvek-api-key";
constexpr const char* kOverlay = ".config/opencode/opencode.json";
constexpr const char* kMarker = ".config/opencode/opencode.json.orvek-preset-owned";

constexpr const char* kKeyText = "sk-orvek-0123456789abcdef";
constexpr const char* kFreeProvider = "{\"models\": {\"big-pickle\": {}}, \"name\": \"Free\"}\n";
// The wizard's overlay for kFreeProvider, written out by hand.
constexpr const char* kPreset =
    R"({"enabled_providers":["orvek","opencode-free"],"provider":{"opencode-free":{"models":{"big-pickle":{}},"name":"Free"}}})";

// The helper's configuration as a user might have it: indented, with members the wizard ignores.
constexpr const char* kConfiguration = R"({
  "$schema": "https://opencode.ai/config.json",
  "model": "orvek/gpt-5.6-sol",
  "provider": {
    "orvek": {
      "npm": "@ai-sdk/openai-compatible",
      "name": "Orvek",
      "options": {
        "baseURL": "https://api.orvek.test/v1",
        "apiKey": "{file:orvek-api-key}"
      },
      "models": {"claude-opus-5": {"name": "Claude Opus 5"}, "gpt-5.6-sol": {}}
    }
  },
  "share": "disabled"
}
)";
// kConfiguration after the patch: the default model and the five missing entries, sorted.
constexpr const char* kPatched = R"({
  "$schema": "https://opencode.ai/config.json",
  "model": "orvek\/claude-opus-5",
  "provider": {
    "orvek": {
      "npm": "@ai-sdk/openai-compatible",
      "name": "Orvek",
      "options": {
        "baseURL": "https://api.orvek.test/v1",
        "apiKey": "{file:orvek-api-key}"
      },
      "models": {"claude-opus-5": {"name": "Claude Opus 5"}, "gpt-5.6-sol": {},"claude-opus-5.5":{"name":"claude-opus-5.5"},"claude-sonnet-5":{"name":"claude-sonnet-5"},"claude-sonnet-5.5":{"name":"claude-sonnet-5.5"},"gpt-6-astra":{"name":"gpt-6-astra"},"gpt-6.1-sol":{"name":"gpt-6.1-sol"}}
    }
  },
  "share": "disabled"
}
)";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    if (at == std::string::npos)
        throw std::logic_error("fixture text lacks: " + from);
    return text.replace(at, from.size(), to);
}

std::string catalogue(const std::vector<std::string>& ids) {
    JsonValue data = JsonValue::array();
    for (const auto& id : ids)
        data.push_back({{"id", id}, {"object", "model"}, {"owned_by", "orvek"}});
    return JsonValue{{"object", "list"}, {"data", data}}.dump();
}

std::vector<std::string> everyModel() {
    return {InstallerCore::orvekModels.begin(), InstallerCore::orvekModels.end()};
}

std::vector<std::string> folderNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A home with the helper's saved connection and a loopback HTTPS service under the
// production-shaped API host that accepts the key and offers every model.
class ExistingConnectionTest : public ::testing::Test {
protected:
    ExistingConnectionTest() : m_files(writeCertificates()), server(m_files) {
        home.write("resources/free-provider.json", kFreeProvider);
        pgrepAnswers(1);
        home.write(kJsonc, kConfiguration);
        home.write(kKey, std::string(kKeyText) + "\n");
        server.respond("/v1/key", 200, R"({"key":{"name":"test"}})");
        server.respond("/v1/models", 200, catalogue(everyModel()));
    }

    // A pgrep that notes each call and answers 1 (no OpenCode) or 0 (running).
    void pgrepAnswers(int status) const {
        (void)home.script("bin/pgrep", "echo \"$@\" >> '" + (home / "pgrep.log").string() +
                                           "'\nexit " + std::to_string(status));
    }

    [[nodiscard]] Deployment deployment(bool trustTestAuthority = true) const {
        Deployment deployment;
        deployment.pgrep = home / "bin/pgrep";
        deployment.apiBase = "https://api.orvek.test";
        deployment.apiConnectTo = "127.0.0.1:" + std::to_string(server.port());
        if (trustTestAuthority)
            deployment.extraTrustedCa = m_files.caCertificate;
        return deployment;
    }
    [[nodiscard]] InstallerCore core() const {
        return InstallerCore(home / "resources", home.path(), home / ".config", deployment());
    }
    [[nodiscard]] fs::path folder() const { return home / ".config/opencode"; }

    void reuse() const { ExistingConnection::reuse(core()); }
    void reuse(const ExistingConnection::Fetch& fetch) const {
        ExistingConnection::reuse(core(), fetch);
    }
    // `get` on this deployment that first runs `during` for one request path.
    [[nodiscard]] ExistingConnection::Fetch fetchChanging(const std::string& when,
                                                          std::function<void()> during) const {
        return [this, when, during](const std::string& path, const std::string& key) {
            if (path == when)
                during();
            return ExistingConnection::get(deployment(), path, key);
        };
    }

    [[nodiscard]] int requests() const {
        return server.requestCount("/v1/key") + server.requestCount("/v1/models");
    }

    test::TempHome home;

private:
    [[nodiscard]] sandbox::CertificateFiles writeCertificates() const {
        fs::create_directories(home / "tls");
        return sandbox::TestCertificateAuthority().writeTo(home / "tls");
    }

    sandbox::CertificateFiles m_files;

protected:
    // Declared after the files it serves from and stopped before the home goes away.
    sandbox::SandboxServer server;
};

// ---- patch ----

TEST(ExistingConnectionPatch, RewritesTheModelAndInsertsMissingEntriesInPlace) {
    struct Row {
        const char* name;
        std::string input;
        std::string expected;
    };
    const std::string full =
        R"("claude-opus-5": {}, "claude-opus-5.5": {}, "claude-sonnet-5": {}, "claude-sonnet-5.5": {}, "gpt-5.6-sol": {}, "gpt-6-astra": {}, "gpt-6.1-sol": {})";
    const Row rows[] = {
        {"members a and b, two ids missing",
         "{\"model\" :\t\"anthropic/claude\",\n \"provider\": {\"orvek\": {\"models\": {\n"
         "   \"a\": {}, \"claude-opus-5.5\": {}, \"claude-sonnet-5\": {}, \"claude-sonnet-5.5\": {},"
         " \"gpt-5.6-sol\": {}, \"gpt-6.1-sol\": {},\n   \"b\": {\"name\": \"B\"}\n }}}}\n",
         "{\"model\" :\t\"orvek\\/claude-opus-5\",\n \"provider\": {\"orvek\": {\"models\": {\n"
         "   \"a\": {}, \"claude-opus-5.5\": {}, \"claude-sonnet-5\": {}, \"claude-sonnet-5.5\": {},"
         " \"gpt-5.6-sol\": {}, \"gpt-6.1-sol\": {},\n   \"b\": {\"name\": \"B\"}\n "
         ",\"claude-opus-5\":{\"name\":\"claude-opus-5\"},\"gpt-6-astra\":{\"name\":\"gpt-6-astra\"}"
         "}}}}\n"},
        {"empty models, no comma", R"({"model": "x", "provider": {"orvek": {"models": { }}}})",
         R"({"model": "orvek\/claude-opus-5", "provider": {"orvek": {"models": { "claude-opus-5":{"name":"claude-opus-5"},"claude-opus-5.5":{"name":"claude-opus-5.5"},"claude-sonnet-5":{"name":"claude-sonnet-5"},"claude-sonnet-5.5":{"name":"claude-sonnet-5.5"},"gpt-5.6-sol":{"name":"gpt-5.6-sol"},"gpt-6-astra":{"name":"gpt-6-astra"},"gpt-6.1-sol":{"name":"gpt-6.1-sol"}}}}})"},
        {"model after the models",
         R"({"provider":{"orvek":{"models":{)" + replaced(full, R"("gpt-6-astra": {}, )", "") +
             R"(}}},"model":"orvek/claude-opus-5"})",
         R"({"provider":{"orvek":{"models":{)" + replaced(full, R"("gpt-6-astra": {}, )", "") +
             R"(,"gpt-6-astra":{"name":"gpt-6-astra"}}}},"model":"orvek\/claude-opus-5"})"},
        {"complete set, model already in the serialiser's form",
         R"({"model":"orvek\/claude-opus-5","provider":{"orvek":{"models":{)" + full + "}}}}",
         R"({"model":"orvek\/claude-opus-5","provider":{"orvek":{"models":{)" + full + "}}}}"},
        {"an escaped member name counts as the id it spells",
         R"({"model":"m","provider":{"orvek":{"models":{)" +
             replaced(full, R"("gpt-6-astra")", R"("gpt\u002d6-astra")") + "}}}}",
         R"({"model":"orvek\/claude-opus-5","provider":{"orvek":{"models":{)" +
             replaced(full, R"("gpt-6-astra")", R"("gpt\u002d6-astra")") + "}}}}"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ExistingConnection::patch(row.input), row.expected);
        EXPECT_EQ(ExistingConnection::patch(row.expected), row.expected) << "converges";
    }
}

TEST(ExistingConnectionPatch, RefusesFilesWithoutTheParts) {
    struct Row {
        const char* name;
        const char* input;
    };
    const Row rows[] = {
        {"no model", R"({"provider":{"orvek":{"models":{}}}})"},
        {"model not text", R"({"model":null,"provider":{"orvek":{"models":{}}}})"},
        {"no provider", R"({"model":"m"})"},
        {"models of another provider", R"({"model":"m","provider":{"other":{"models":{}}}})"},
        {"models an array", R"({"model":"m","provider":{"orvek":{"models":[]}}})"},
        {"orvek not an object", R"({"model":"m","provider":{"orvek":"yes"}})"},
        {"trailing comma", R"({"model":"m","provider":{"orvek":{"models":{},}}})"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(test::outcomeOf([&] { (void)ExistingConnection::patch(row.input); }),
                  test::failureText(kUnsupported, kUnsupportedCode));
    }
    EXPECT_THROW((void)ExistingConnection::patch(R"({"model":tru})"), base::JsonError);
}

// ---- reuse: refusals before anything is sent ----

TEST_F(ExistingConnectionTest, ReusesTheSavedConnectionAndConvergesOnTheSecondRun) {
    reuse();
    EXPECT_EQ(test::slurp(home / kJsonc), kPatched);
    EXPECT_EQ(test::slurp(home / kKey), std::string(kKeyText) + "\n");
    EXPECT_EQ(server.requestCount("/v1/key"), 1);
    EXPECT_EQ(server.requestCount("/v1/models"), 1);
    EXPECT_EQ(server.lastHeader("/v1/models", "Authorization"), std::string("Bearer ") + kKeyText);
    const auto afterFirst = folderNames(folder());
    const auto written = fs::last_write_time(home / kJsonc);

    reuse();
    EXPECT_EQ(test::slurp(home / kJsonc), kPatched);
    EXPECT_EQ(fs::last_write_time(home / kJsonc), written) << "nothing to change, nothing written";
    EXPECT_EQ(folderNames(folder()), afterFirst) << "no second backup";
    EXPECT_EQ(server.requestCount("/v1/models"), 2);
}

TEST_F(ExistingConnectionTest, OverrideVariablesRefuseBeforeAnythingIsChecked) {
    for (const char* name : {"OPENCODE_CONFIG_DIR", "OPENCODE_CONFIG", "OPENCODE_CONFIG_CONTENT",
                             "ORVEK_CLI_STATE_DIR", "ORVEK_API_URL"}) {
        SCOPED_TRACE(name);
        test::ScopedEnvironment environment;
        environment.set(name, "/somewhere/else");
        EXPECT_EQ(test::outcomeOf([&] { reuse(); }),
                  test::failureText(kUnsupported, kUnsupportedCode));
        EXPECT_FALSE(fs::exists(home / "pgrep.log")) << "refused before looking for OpenCode";
        EXPECT_EQ(requests(), 0);
        EXPECT_EQ(test::slurp(home / kJsonc), kConfiguration);
    }

    test::ScopedEnvironment environment;
    for (const char* name : {"OPENCODE_CONFIG_DIR", "OPENCODE_CONFIG", "OPENCODE_CONFIG_CONTENT",
                             "ORVEK_CLI_STATE_DIR", "ORVEK_API_URL"})
        environment.set(name, "");
    reuse();
    EXPECT_EQ(test::slurp(home / kJsonc), kPatched) << "empty variables are no overrides";
}

TEST_F(ExistingConnectionTest, RunningOpenCodeStopsReuseBeforeAnyRequest) {
    pgrepAnswers(0);
    EXPECT_EQ(test::outcomeOf([&] { reuse(); }), test::failureText(kCloseOpenCode, std::nullopt));
    EXPECT_EQ(requests(), 0);
    EXPECT_EQ(test::slurp(home / kJsonc), kConfiguration);
}

TEST_F(ExistingConnectionTest, KeyFileRules) {
    struct Row {
        const char* name;
        std::string bytes;
        std::optional<std::string> key; // the key sent, or absent when refused
    };
    const std::string padded = std::string(100, 'k') + std::string(8193 - 100, ' ');
    const Row rows[] = {
        {"8 printable bytes and a line break", "abcdefgh\n", "abcdefgh"},
        {"Unicode spaces and line breaks around", " \t\r\n\xC2\xA0k3y-ABC~!\xE2\x80\xA8\n",
         "k3y-ABC~!"},
        {"4,096 bytes in a file of 8,192", std::string(4096, 'x') + std::string(4096, '\n'),
         std::string(4096, 'x')},
        {"file of 8,193 bytes, short key", padded, std::nullopt},
        {"file of 8,193 bytes", std::string(8193, 'k'), std::nullopt},
        {"4,097 bytes", std::string(4097, 'x'), std::nullopt},
        {"7 bytes", "abcdefg\n", std::nullopt},
        {"inner space", "abcd efgh", std::nullopt},
        {"inner no-break space",
         "abcd\xC2\xA0"
         "efgh",
         std::nullopt},
        {"non-ASCII letter", "abcdefgh\xC3\xA9", std::nullopt},
        {"invalid UTF-8", "abcdefgh\xFF", std::nullopt},
        {"control byte", std::string("abcd\0efgh", 9), std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        home.write(kJsonc, kConfiguration);
        home.write(kKey, row.bytes);
        const int before = server.requestCount("/v1/key");
        if (row.key) {
            reuse();
            EXPECT_EQ(server.lastHeader("/v1/key", "Authorization"), "Bearer " + *row.key);
            EXPECT_EQ(test::slurp(home / kJsonc), kPatched);
        } else {
            EXPECT_EQ(test::outcomeOf([&] { reuse(); }),
                      test::failureText(kUnsupported, kUnsupportedCode));
            EXPECT_EQ(server.requestCount("/v1/key"), before);
            EXPECT_EQ(test::slurp(home / kJsonc), kConfiguration);
        }
    }
}

TEST_F(ExistingConnectionTest, ConfigurationShapeRules) {
    home.write(".config/opencode/other-key", std::string(kKeyText) + "\n");
    const std::string keyReference = R"("apiKey": "{file:orvek-api-key}")";
    const std::string share = R"("share": "disabled")";
    const std::string models =
        R"("models": {"claude-opus-5": {"name": "Claude Opus 5"}, "gpt-5.6-sol": {}})";
    struct Row {
        const char* name;
        std::string configuration;
        bool accepted;
    };
    const Row rows[] = {
        {"absolute key path",
         replaced(kConfiguration, keyReference,
                  R"("apiKey": "{file:)" + (folder() / "orvek-api-key").string() + R"(}")"),
         true},
        {"key path through dot segments",
         replaced(kConfiguration, keyReference, R"("apiKey": "{file:./sub/../orvek-api-key}")"),
         true},
        {"orvek enabled among others",
         replaced(kConfiguration, share,
                  share +
                      R"(, "enabled_providers": ["openai", "orvek"], "disabled_providers": ["x"])"),
         true},
        {"another key file",
         replaced(kConfiguration, keyReference, R"("apiKey": "{file:other-key}")"), false},
        {"the key itself",
         replaced(kConfiguration, keyReference, R"("apiKey": "sk-orvek-1234567")"), false},
        {"environment reference",
         replaced(kConfiguration, keyReference, R"("apiKey": "{env:ORVEK_KEY}")"), false},
        {"key file as a folder path",
         replaced(kConfiguration, keyReference, R"("apiKey": "{file:orvek-api-key/}")"), false},
        {"other package", replaced(kConfiguration, "@ai-sdk/openai-compatible", "@ai-sdk/openai"),
         false},
        {"base with a trailing slash",
         replaced(kConfiguration, "https://api.orvek.test/v1", "https://api.orvek.test/v1/"),
         false},
        {"another host's base",
         replaced(kConfiguration, "https://api.orvek.test/v1", "https://api.orvek.ru/v1"), false},
        {"plain http base",
         replaced(kConfiguration, "https://api.orvek.test/v1", "http://api.orvek.test/v1"), false},
        {"empty enabled list",
         replaced(kConfiguration, share, share + R"(, "enabled_providers": [])"), false},
        {"orvek not enabled",
         replaced(kConfiguration, share, share + R"(, "enabled_providers": ["openai"])"), false},
        {"enabled list with a number",
         replaced(kConfiguration, share, share + R"(, "enabled_providers": ["orvek", 1])"), false},
        {"enabled as text",
         replaced(kConfiguration, share, share + R"(, "enabled_providers": "orvek")"), false},
        {"orvek disabled",
         replaced(kConfiguration, share, share + R"(, "disabled_providers": ["orvek"])"), false},
        {"no model", replaced(kConfiguration, R"("model": "orvek/gpt-5.6-sol",)", ""), false},
        {"model a number",
         replaced(kConfiguration, R"("model": "orvek/gpt-5.6-sol")", R"("model": 5)"), false},
        {"models an array", replaced(kConfiguration, models, R"("models": [])"), false},
        {"no models", replaced(kConfiguration, ",\n      " + models, ""), false},
        {"a comment", replaced(kConfiguration, share, share + " // set by hand"), false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        home.write(kJsonc, row.configuration);
        const int before = requests();
        if (row.accepted) {
            reuse();
            EXPECT_EQ(test::slurp(home / kJsonc), ExistingConnection::patch(row.configuration));
        } else {
            EXPECT_EQ(test::outcomeOf([&] { reuse(); }),
                      test::failureText(kUnsupported, kUnsupportedCode));
            EXPECT_EQ(requests(), before) << "nothing sent";
            EXPECT_EQ(test::slurp(home / kJsonc), row.configuration);
        }
    }
}

// ---- reuse: the service's answers ----

TEST_F(ExistingConnectionTest, CatalogueMustOfferEveryModel) {
    auto withoutOne = everyModel();
    withoutOne.erase(withoutOne.begin() + 3);
    struct Row {
        const char* name;
        std::string body;
        bool accepted;
    };
    const Row rows[] = {
        {"one id lacking", catalogue(withoutOne), false},
        {"data not an array", R"({"data":{"id":"claude-opus-5"}})", false},
        {"no data", R"({"object":"list"})", false},
        {"an entry that is no object",
         replaced(catalogue(everyModel()), R"("data":[)", R"("data":["claude-opus-5",)"), false},
        {"entries without a text id are ignored",
         replaced(catalogue(everyModel()), R"("data":[)", R"("data":[{"id":5},{"name":"x"},)"),
         true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        home.write(kJsonc, kConfiguration);
        server.respond("/v1/models", 200, row.body);
        if (row.accepted) {
            reuse();
            EXPECT_EQ(test::slurp(home / kJsonc), kPatched);
        } else {
            EXPECT_EQ(test::outcomeOf([&] { reuse(); }),
                      test::failureText(kModelsMissing, std::nullopt));
            EXPECT_EQ(test::slurp(home / kJsonc), kConfiguration);
        }
    }
}

TEST_F(ExistingConnectionTest, ARefusedKeyStopsBeforeTheCatalogue) {
    server.respond("/v1/key", 401, R"({"error":{"message":"invalid api key"}})");
    EXPECT_EQ(test::outcomeOf([&] { reuse(); }), test::failureText(kCheckFailed, kCheckFailedCode));
    EXPECT_EQ(server.requestCount("/v1/models"), 0);
    EXPECT_EQ(test::slurp(home / kJsonc), kConfiguration);
}

// With nothing left to patch the guarded write is skipped; an edit made while the service was
// asked is still reported as a change and kept.
TEST_F(ExistingConnectionTest, EditOfAnUpToDateConfigurationIsAChange) {
    home.write(kJsonc, kPatched);
    const std::string edited = replaced(kPatched, "disabled", "manual");
    ASSERT_NE(edited, kPatched);
    const auto fetch = fetchChanging("models", [&] { home.write(kJsonc, edited); });
    EXPECT_EQ(test::outcomeOf([&] { reuse(fetch); }), test::failureText(kChanged, kChangedCode));
    EXPECT_EQ(test::slurp(home / kJsonc), edited);
}

TEST_F(ExistingConnectionTest, ChangesDuringTheRequestsStopTheWrite) {
    struct Row {
        const char* name;
        const char* when;
        std::function<void()> change;
        const char* message;
        const char* code;
        std::optional<std::string> configurationAfter; // absent: kConfiguration
    };
    const std::string edited = replaced(kConfiguration, "disabled", "manual");
    const Row rows[] = {
        {"overlay appears during the catalogue request", "models",
         [&] { home.write(kOverlay, R"({"model":"mine"})"); }, kUnsupported, kUnsupportedCode,
         std::nullopt},
        {"marker appears during the key request", "key", [&] { home.write(kMarker, kPreset); },
         kUnsupported, kUnsupportedCode, std::nullopt},
        {"key file changed", "models", [&] { home.write(kKey, "sk-orvek-another-key\n"); },
         kUnsupported, kUnsupportedCode, std::nullopt},
        {"key file reformatted", "key", [&] { home.write(kKey, kKeyText); }, kUnsupported,
         kUnsupportedCode, std::nullopt},
        // Found before anything is staged: the user's edit is a change, not an unsupported file.
        {"configuration edited", "models", [&] { home.write(kJsonc, edited); }, kChanged,
         kChangedCode, edited},
        {"OpenCode started", "models", [&] { pgrepAnswers(0); }, kCloseOpenCode, nullptr,
         std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (const char* path : {kOverlay, kMarker})
            fs::remove(home / path);
        pgrepAnswers(1);
        home.write(kJsonc, kConfiguration);
        home.write(kKey, std::string(kKeyText) + "\n");
        const auto fetch = fetchChanging(row.when, row.change);
        EXPECT_EQ(test::outcomeOf([&] { reuse(fetch); }),
                  test::failureText(row.message, row.code ? std::optional<std::string>(row.code)
                                                          : std::nullopt));
        EXPECT_EQ(test::slurp(home / kJsonc), row.configurationAfter.value_or(kConfiguration));
        for (const auto& name : folderNames(folder()))
            EXPECT_TRUE(name.find("orvek-backup") == std::string::npos &&
                        name.find("orvek-stage") == std::string::npos)
                << name;
    }
}

// ---- get ----

TEST_F(ExistingConnectionTest, GetSendsOnlyTheKeyToTheApiHost) {
    const auto answer = ExistingConnection::get(deployment(), "key", kKeyText);
    EXPECT_EQ(answer, JsonValue::parse(R"({"key":{"name":"test"}})"));
    EXPECT_EQ(server.lastHeader("/v1/key", "authorization"), std::string("Bearer ") + kKeyText);
    EXPECT_EQ(server.lastHeader("/v1/key", "Host"), "api.orvek.test");
    // No cookies, user agent, compression or anything else beyond what HTTP needs.
    EXPECT_EQ(server.lastHeaderNames("/v1/key"),
              (std::vector<std::string>{"accept", "authorization", "host"}));
}

TEST_F(ExistingConnectionTest, GetFailsTheCheckForEveryUnexpectedAnswer) {
    // Eight bytes of JSON around the padding.
    const std::string limit(2'097'152 - 8, 'x');
    enum class Outcome { accepted, checkFailed, jsonError };
    struct Row {
        const char* name;
        std::function<void()> route;
        Outcome outcome;
    };
    const Row rows[] = {
        {"JSON object as plain text", [&] { server.respond("/v1/key", 200, "{}", "text/plain"); },
         Outcome::accepted},
        {"body of exactly 2 MiB",
         [&] { server.respond("/v1/key", 200, R"({"p":")" + limit + R"("})"); }, Outcome::accepted},
        {"body of 2 MiB and one byte",
         [&] { server.respond("/v1/key", 200, R"({"p":")" + limit + R"(x"})"); },
         Outcome::checkFailed},
        {"redirect to the catalogue",
         [&] { server.redirect("/v1/key", "https://api.orvek.test/v1/models"); },
         Outcome::checkFailed},
        {"status 201", [&] { server.respond("/v1/key", 201, "{}"); }, Outcome::checkFailed},
        {"status 404", [&] { server.fail("/v1/key", 404); }, Outcome::checkFailed},
        {"error member",
         [&] { server.respond("/v1/key", 200, R"({"error":{"message":"invalid key"}})"); },
         Outcome::checkFailed},
        {"error member set to null", [&] { server.respond("/v1/key", 200, R"({"error":null})"); },
         Outcome::checkFailed},
        {"array", [&] { server.respond("/v1/key", 200, "[]"); }, Outcome::checkFailed},
        {"empty body", [&] { server.respond("/v1/key", 200, ""); }, Outcome::checkFailed},
        {"not JSON", [&] { server.respond("/v1/key", 200, "<html>ok</html>"); },
         Outcome::jsonError},
        {"NUL after the object", [&] { server.respond("/v1/key", 200, std::string("{}\0x", 4)); },
         Outcome::jsonError},
        {"text after the object", [&] { server.respond("/v1/key", 200, "{} {}"); },
         Outcome::jsonError},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.route();
        switch (row.outcome) {
        case Outcome::accepted:
            EXPECT_TRUE(ExistingConnection::get(deployment(), "key", kKeyText).is_object());
            break;
        case Outcome::checkFailed:
            EXPECT_EQ(test::outcomeOf(
                          [&] { (void)ExistingConnection::get(deployment(), "key", kKeyText); }),
                      test::failureText(kCheckFailed, kCheckFailedCode));
            break;
        case Outcome::jsonError:
            EXPECT_THROW((void)ExistingConnection::get(deployment(), "key", kKeyText),
                         base::JsonError);
            break;
        }
    }
    EXPECT_EQ(server.requestCount("/v1/models"), 0) << "the redirect was not followed";
}

TEST_F(ExistingConnectionTest, GetRefusesAServerItCannotTrust) {
    EXPECT_EQ(
        test::outcomeOf([&] { (void)ExistingConnection::get(deployment(false), "key", kKeyText); }),
        test::failureText(kCheckFailed, kCheckFailedCode));
    EXPECT_EQ(server.requestCount("/v1/key"), 0) << "no request before the handshake succeeds";
}

TEST_F(ExistingConnectionTest, GetGivesUpOnAStalledService) {
    server.stall("/v1/models");
    const base::HttpsLimits limits{1, 2, 2'097'152};
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(test::outcomeOf(
                  [&] { (void)ExistingConnection::get(deployment(), "models", kKeyText, limits); }),
              test::failureText(kCheckFailed, kCheckFailedCode));
    // The server answers a stall itself after its limit; ending well before it shows the client's
    // two seconds did, with room for a loaded sanitizer run.
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              sandbox::SandboxServer::kStallLimit - std::chrono::seconds(2));
    EXPECT_EQ(server.requestCount("/v1/models"), 1);
}

// ---- overlay ----

TEST_F(ExistingConnectionTest, ValidateOverlayAcceptsOnlyTheWizardsOwn) {
    auto helper = core().helper().string();
    for (std::size_t at = helper.find('/'); at != std::string::npos; at = helper.find('/', at + 2))
        helper.replace(at, 1, "\\/");
    const std::string withMcp =
        R"({"enabled_providers":["orvek","opencode-free"],"mcp":{"orvek":{"command":[")" + helper +
        R"(","mcp"],"enabled":true,"environment":{"ORVEK_TOKEN_STORAGE":"file"},"timeout":60000,"type":"local"}},"provider":{"opencode-free":{"models":{"big-pickle":{}},"name":"Free"}}})";
    const std::string share = R"("share": "disabled")";
    struct Row {
        const char* name;
        std::optional<std::string> overlay;
        std::optional<std::string> marker;
        std::string configuration;
        bool accepted;
    };
    const Row rows[] = {
        {"no overlay", std::nullopt, std::nullopt, kConfiguration, true},
        {"marker left alone", std::nullopt, kPreset, kConfiguration, true},
        {"the preset", kPreset, kPreset, kConfiguration, true},
        {"preset with MCP, none in the configuration", withMcp, withMcp, kConfiguration, true},
        {"preset with MCP, other servers configured", withMcp, withMcp,
         replaced(kConfiguration, share, share + R"(, "mcp": {"files": {"type": "local"}})"), true},
        {"preset with MCP, configuration defines it too", withMcp, withMcp,
         replaced(kConfiguration, share, share + R"(, "mcp": {"orvek": {"type": "remote"}})"),
         false},
        {"preset with MCP, configuration's mcp no object", withMcp, withMcp,
         replaced(kConfiguration, share, share + R"(, "mcp": "off")"), false},
        {"marker missing", kPreset, std::nullopt, kConfiguration, false},
        {"marker different", kPreset, std::string(kPreset) + "\n", kConfiguration, false},
        {"the user's file", R"({"model":"mine"})", R"({"model":"mine"})", kConfiguration, false},
        {"preset edited by hand", std::string(kPreset) + " ", std::string(kPreset) + " ",
         kConfiguration, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        for (const auto& [path, bytes] : {std::pair{kOverlay, row.overlay}, {kMarker, row.marker}})
            if (bytes)
                home.write(path, *bytes);
            else
                fs::remove(home / path);
        home.write(kJsonc, row.configuration);

        std::map<std::string, std::string> expected;
        if (row.overlay)
            expected["opencode.json"] = *row.overlay;
        if (row.marker)
            expected["opencode.json.orvek-preset-owned"] = *row.marker;
        EXPECT_EQ(ExistingConnection::overlaySnapshot(core()), expected);

        if (row.accepted)
            EXPECT_NO_THROW(ExistingConnection::validateOverlay(core()));
        else
            EXPECT_EQ(test::outcomeOf([&] { ExistingConnection::validateOverlay(core()); }),
                      test::failureText(kUnsupported, kUnsupportedCode));
    }
}

TEST_F(ExistingConnectionTest, ReuseLeavesTheWizardsOverlayAsItIs) {
    home.write(kOverlay, kPreset);
    home.write(kMarker, kPreset);
    reuse();
    EXPECT_EQ(test::slurp(home / kJsonc), kPatched);
    EXPECT_EQ(test::slurp(home / kOverlay), kPreset);
    EXPECT_EQ(test::slurp(home / kMarker), kPreset);
}

TEST_F(ExistingConnectionTest, ReuseRefusesAForeignOverlayBeforeAnyRequest) {
    home.write(kOverlay, R"({"model":"mine"})");
    EXPECT_EQ(test::outcomeOf([&] { reuse(); }), test::failureText(kUnsupported, kUnsupportedCode));
    EXPECT_EQ(requests(), 0);
    EXPECT_EQ(test::slurp(home / kJsonc), kConfiguration);
}

} // namespace
} // namespace orvek::installer
