#include "installer/HelperReplies.h"

#include <algorithm>
#include <array>

#include "base/Json.h"
#include "installer/HelperCommand.h"

namespace orvek::installer {

using base::InstallerFailure;
using base::JsonValue;

namespace {

constexpr std::size_t kReplyLimit = 262'144;

// The codes a failed setup may pass on to the user and to support, in the helper's own order.
constexpr std::array<std::string_view, 13> kRecognisedCodes = {
    "MANIFEST_FETCH_FAILED",      "MODEL_CATALOG_FETCH_FAILED",
    "STATUS_REFRESH_FAILED",      "STATE_DIRECTORY_UNSAFE",
    "CONFIGURATION_CONFLICT",     "CONFIGURATION_INVALID",
    "OAUTH_AUTHORIZATION_FAILED", "OAUTH_TIMEOUT",
    "SETUP_REAUTH_REQUIRED",      "NETWORK_ERROR",
    "MANIFEST_INVALID",           "OPERATION_LOCKED",
    "CREDENTIAL_STORE_FAILED"};

bool isString(const JsonValue& reply, std::string_view key, std::string_view expected) {
    const auto it = reply.find(key);
    return it != reply.end() && it->is_string() && it->get_ref<const std::string&>() == expected;
}

// The recognised code of the reply's "error" object, or empty.
std::string_view recognisedCode(std::string_view bytes) {
    const auto reply = response(bytes);
    const auto error = reply.find("error");
    if (error == reply.end() || !error->is_object())
        return {};
    const auto code = error->find("code");
    if (code == error->end() || !code->is_string())
        return {};
    const auto& text = code->get_ref<const std::string&>();
    const auto match = std::find(kRecognisedCodes.begin(), kRecognisedCodes.end(), text);
    return match == kRecognisedCodes.end() ? std::string_view{} : *match;
}

} // namespace

JsonValue response(std::string_view bytes) {
    // The decoder would stop at a NUL byte and ignore what follows; a reply never holds one.
    if (bytes.size() > kReplyLimit || bytes.find('\0') != std::string_view::npos)
        return JsonValue::object();
    auto reply = JsonValue::parse(bytes, nullptr, false);
    if (!reply.is_object())
        return JsonValue::object();
    return reply;
}

bool boolean(const JsonValue& dictionary, std::string_view key) {
    if (!dictionary.is_object())
        return false;
    const auto it = dictionary.find(key);
    return it != dictionary.end() && it->is_boolean() && it->get<bool>();
}

bool setupSucceeded(int status, std::string_view standardOutput) {
    const auto reply = response(standardOutput);
    return status == 0 && boolean(reply, "ok") && isString(reply, "command", "setup");
}

bool statusConfigured(int status, std::string_view standardOutput) {
    const auto reply = response(standardOutput);
    if (status != 0)
        return false;
    if (!boolean(reply, "ok") || !boolean(reply, "configured") ||
        !isString(reply, "command", "status"))
        return false;
    if (isString(reply, "state", "revoked"))
        return false;
    const auto configuration = reply.find("configuration");
    if (configuration == reply.end() || !configuration->is_object())
        return false;
    const auto agents = configuration->find("agents");
    if (agents == configuration->end() || !agents->is_array())
        return false;
    if (!std::all_of(agents->begin(), agents->end(),
                     [](const JsonValue& agent) { return agent.is_string(); }))
        return false;
    return std::find(agents->begin(), agents->end(), JsonValue("opencode")) != agents->end();
}

std::string helperErrorCode(std::string_view standardOutput, std::string_view standardError) {
    for (const auto stream : {standardError, standardOutput}) {
        if (const auto code = recognisedCode(stream); !code.empty())
            return std::string(code);
    }
    return std::string(HelperCommand::kConfigurationFailed);
}

InstallerFailure setupFailure(std::string_view standardOutput, std::string_view standardError,
                              int status) {
    auto code = helperErrorCode(standardOutput, standardError);
    std::string message =
        code == "MANIFEST_FETCH_FAILED"
            ? "Не удалось получить данные подключения Орвека. Возможен временный сбой сети или сервиса (например, HTTP 503). OpenCode уже установлен. Подождите немного и повторите подключение; переустановка не нужна."
            : "Подключение не завершено. Настройки сохранены. Передайте поддержке код ниже.";
    message += "\nКод: " + code + "\nЭтап: helper-setup:exit=" + std::to_string(status);
    return InstallerFailure(std::move(message), std::move(code));
}

} // namespace orvek::installer
