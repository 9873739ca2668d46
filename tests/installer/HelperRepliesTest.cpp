#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/Json.h"
#include "installer/HelperReplies.h"

namespace orvek::installer {
namespace {

using base::JsonValue;

constexpr const char* kConfigured =
    R"({"ok":true,"command":"status","configured":true,"state":"active","configuration":{"agents":["claude","opencode"]}})";

TEST(HelperReplies, ResponseNeverFails) {
    EXPECT_EQ(installer::response(R"({"ok":true})"), JsonValue({{"ok", true}}));
    for (const std::string& text :
         std::vector<std::string>{"", "not json", "[1]", "true", "{\"ok\":", "{} {}", "{\"a\":1,}",
                                  std::string("{\"ok\":true}\0{\"ok\":false}", 24)}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(installer::response(text), JsonValue::object());
    }
}

TEST(HelperReplies, ResponseSizeLimit) {
    const auto padded = [](std::size_t size) {
        std::string reply = R"({"ok":true,"pad":")";
        reply += std::string(size - reply.size() - 2, 'x');
        reply += "\"}";
        return reply;
    };
    EXPECT_EQ(installer::response(padded(262'144)).value("ok", false), true);
    EXPECT_EQ(installer::response(padded(262'145)), JsonValue::object());
}

TEST(HelperReplies, BooleanIsStrict) {
    const auto reply = JsonValue::parse(
        R"({"yes":true,"no":false,"one":1,"zero":0,"text":"true","null":null,"list":[true]})");
    EXPECT_TRUE(installer::boolean(reply, "yes"));
    for (const char* key : {"no", "one", "zero", "text", "null", "list", "missing"}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(installer::boolean(reply, key));
    }
    EXPECT_FALSE(installer::boolean(JsonValue::array(), "yes"));
}

TEST(HelperReplies, SetupSucceeded) {
    struct Row {
        const char* name;
        int status;
        const char* output;
        bool expected;
    };
    const Row rows[] = {
        {"success", 0, R"({"ok":true,"command":"setup"})", true},
        {"extra keys are ignored", 0, R"({"ok":true,"command":"setup","extra":{}})", true},
        {"non-zero exit", 1, R"({"ok":true,"command":"setup"})", false},
        {"ok as a number", 0, R"({"ok":1,"command":"setup"})", false},
        {"ok as text", 0, R"({"ok":"true","command":"setup"})", false},
        {"ok false", 0, R"({"ok":false,"command":"setup"})", false},
        {"other command", 0, R"({"ok":true,"command":"status"})", false},
        {"no command", 0, R"({"ok":true})", false},
        {"not JSON", 0, "done", false},
        {"text before the reply", 0, R"(Signed in {"ok":true,"command":"setup"})", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(installer::setupSucceeded(row.status, row.output), row.expected);
    }
}

TEST(HelperReplies, StatusConfigured) {
    struct Row {
        const char* name;
        int status;
        std::string output;
        bool expected;
    };
    const Row rows[] = {
        {"configured", 0, kConfigured, true},
        {"no state", 0,
         R"({"ok":true,"command":"status","configured":true,"configuration":{"agents":["opencode"]}})",
         true},
        {"non-zero exit", 2, kConfigured, false},
        {"revoked", 0,
         R"({"ok":true,"command":"status","configured":true,"state":"revoked","configuration":{"agents":["opencode"]}})",
         false},
        {"configured false", 0,
         R"({"ok":true,"command":"status","configured":false,"configuration":{"agents":["opencode"]}})",
         false},
        {"configured as a number", 0,
         R"({"ok":true,"command":"status","configured":1,"configuration":{"agents":["opencode"]}})",
         false},
        {"ok missing", 0,
         R"({"command":"status","configured":true,"configuration":{"agents":["opencode"]}})",
         false},
        {"setup command", 0,
         R"({"ok":true,"command":"setup","configured":true,"configuration":{"agents":["opencode"]}})",
         false},
        {"no configuration", 0, R"({"ok":true,"command":"status","configured":true})", false},
        {"configuration not an object", 0,
         R"({"ok":true,"command":"status","configured":true,"configuration":["opencode"]})", false},
        {"no agents", 0, R"({"ok":true,"command":"status","configured":true,"configuration":{}})",
         false},
        {"agents as text", 0,
         R"({"ok":true,"command":"status","configured":true,"configuration":{"agents":"opencode"}})",
         false},
        {"agents not all text", 0,
         R"({"ok":true,"command":"status","configured":true,"configuration":{"agents":["opencode",1]}})",
         false},
        {"opencode not among agents", 0,
         R"({"ok":true,"command":"status","configured":true,"configuration":{"agents":["claude"]}})",
         false},
        {"agent names compare exactly", 0,
         R"({"ok":true,"command":"status","configured":true,"configuration":{"agents":["OpenCode"]}})",
         false},
        {"not JSON", 0, "configured", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(installer::statusConfigured(row.status, row.output), row.expected);
    }
}

TEST(HelperReplies, HelperErrorCode) {
    struct Row {
        const char* name;
        const char* out;
        const char* err;
        const char* expected;
    };
    const Row rows[] = {
        {"code on stderr", "", R"({"error":{"code":"OAUTH_TIMEOUT"}})", "OAUTH_TIMEOUT"},
        {"code on stdout", R"({"ok":false,"error":{"code":"NETWORK_ERROR"}})", "", "NETWORK_ERROR"},
        {"stderr wins", R"({"error":{"code":"NETWORK_ERROR"}})",
         R"({"error":{"code":"OPERATION_LOCKED"}})", "OPERATION_LOCKED"},
        {"unrecognised stderr falls back to stdout", R"({"error":{"code":"MANIFEST_INVALID"}})",
         R"({"error":{"code":"SOMETHING_NEW"}})", "MANIFEST_INVALID"},
        {"future code", "", R"({"error":{"code":"QUOTA_EXCEEDED"}})", "CONFIGURATION_FAILED"},
        {"status-only code is not passed on", "", R"({"error":{"code":"NOT_CONFIGURED"}})",
         "CONFIGURATION_FAILED"},
        {"lower case", "", R"({"error":{"code":"oauth_timeout"}})", "CONFIGURATION_FAILED"},
        {"code not text", "", R"({"error":{"code":7}})", "CONFIGURATION_FAILED"},
        {"error not an object", "", R"({"error":"OAUTH_TIMEOUT"})", "CONFIGURATION_FAILED"},
        {"nothing", "", "", "CONFIGURATION_FAILED"},
        {"garbage", "panic: nil", "Segmentation fault", "CONFIGURATION_FAILED"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(installer::helperErrorCode(row.out, row.err), row.expected);
    }
    for (const char* code :
         {"MANIFEST_FETCH_FAILED", "MODEL_CATALOG_FETCH_FAILED", "STATUS_REFRESH_FAILED",
          "STATE_DIRECTORY_UNSAFE", "CONFIGURATION_CONFLICT", "CONFIGURATION_INVALID",
          "OAUTH_AUTHORIZATION_FAILED", "OAUTH_TIMEOUT", "SETUP_REAUTH_REQUIRED", "NETWORK_ERROR",
          "MANIFEST_INVALID", "OPERATION_LOCKED", "CREDENTIAL_STORE_FAILED"}) {
        SCOPED_TRACE(code);
        const std::string reply = std::string(R"({"error":{"code":")") + code + "\"}}";
        EXPECT_EQ(installer::helperErrorCode("", reply), code);
    }
}

TEST(HelperReplies, SetupFailureWithoutAReply) {
    const auto failure = installer::setupFailure("", "", 3);
    EXPECT_EQ(
        failure.message(),
        "Подключение не завершено. Настройки сохранены. Передайте поддержке код ниже.\nКод: CONFIGURATION_FAILED\nЭтап: helper-setup:exit=3");
    EXPECT_EQ(failure.code(), "CONFIGURATION_FAILED");
}

TEST(HelperReplies, SetupFailureCarriesTheHelpersCode) {
    const auto locked =
        installer::setupFailure("", R"({"ok":false,"error":{"code":"OPERATION_LOCKED"}})", 75);
    EXPECT_EQ(locked.code(), "OPERATION_LOCKED");
    EXPECT_EQ(
        locked.message(),
        "Подключение не завершено. Настройки сохранены. Передайте поддержке код ниже.\nКод: OPERATION_LOCKED\nЭтап: helper-setup:exit=75");

    const auto manifest =
        installer::setupFailure(R"({"error":{"code":"MANIFEST_FETCH_FAILED"}})", "", 1);
    EXPECT_EQ(manifest.code(), "MANIFEST_FETCH_FAILED");
    EXPECT_EQ(
        manifest.message(),
        "Не удалось получить данные подключения Орвека. Возможен временный сбой сети или сервиса (например, HTTP 503). OpenCode уже установлен. Подождите немного и повторите подключение; переустановка не нужна.\nКод: MANIFEST_FETCH_FAILED\nЭтап: helper-setup:exit=1");

    EXPECT_EQ(installer::setupFailure("", "", -1)
                  .message()
                  .substr(installer::setupFailure("", "", -1).message().rfind('\n') + 1),
              "Этап: helper-setup:exit=-1");
}

} // namespace
} // namespace orvek::installer
