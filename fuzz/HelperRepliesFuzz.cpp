// Reads any bytes as the helper's output streams: nothing throws, and each verdict agrees with a
// plain decode of the same bytes, so no reply is trusted further than the rules allow.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "base/Json.h"
#include "installer/HelperReplies.h"

namespace {

using orvek::base::JsonValue;
namespace replies = orvek::installer;

constexpr std::size_t kReplyLimit = 262'144;

constexpr std::array<std::string_view, 14> kCodes = {
    "MANIFEST_FETCH_FAILED",      "MODEL_CATALOG_FETCH_FAILED",
    "STATUS_REFRESH_FAILED",      "STATE_DIRECTORY_UNSAFE",
    "CONFIGURATION_CONFLICT",     "CONFIGURATION_INVALID",
    "OAUTH_AUTHORIZATION_FAILED", "OAUTH_TIMEOUT",
    "SETUP_REAUTH_REQUIRED",      "NETWORK_ERROR",
    "MANIFEST_INVALID",           "OPERATION_LOCKED",
    "CREDENTIAL_STORE_FAILED",    "CONFIGURATION_FAILED"};

void check(bool condition, const char* what, std::string_view input) {
    if (condition)
        return;
    std::cerr << "helper replies fuzz: " << what << " (" << input.size() << " bytes)\n";
    std::abort();
}

// The reply as a plain decode sees it: an object, or nothing.
JsonValue plainReply(std::string_view bytes) {
    if (bytes.size() > kReplyLimit || bytes.find('\0') != std::string_view::npos)
        return JsonValue::object();
    try {
        auto value = JsonValue::parse(bytes.begin(), bytes.end());
        return value.is_object() ? value : JsonValue::object();
    } catch (const JsonValue::exception&) {
        return JsonValue::object();
    }
}

bool isTrue(const JsonValue& reply, const char* key) {
    return reply.contains(key) && reply[key] == JsonValue(true);
}

} // namespace

// The first byte is the exit status; the rest is standard output, then standard error after the
// first 0xFF byte (which no UTF-8 text holds).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const int status = static_cast<int>(data[0] % 4);
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto split = rest.find('\xFF');
    const auto output = rest.substr(0, split);
    const auto error =
        split == std::string_view::npos ? std::string_view{} : rest.substr(split + 1);

    const auto reply = replies::response(output);
    check(reply.is_object(), "a reply that is not an object", rest);
    check(reply == plainReply(output), "a reply other than the plain decode", rest);

    const bool setup = replies::setupSucceeded(status, output);
    const bool configured = replies::statusConfigured(status, output);
    check(!setup || (status == 0 && isTrue(reply, "ok") && reply.value("command", "") == "setup"),
          "setup taken as done without a true ok from setup", rest);
    check(!configured ||
              (status == 0 && isTrue(reply, "ok") && isTrue(reply, "configured") &&
               reply.value("command", "") == "status" && reply.value("state", "") != "revoked"),
          "status taken as configured without its fields", rest);
    check(!(setup && configured), "one reply read as both commands", rest);

    const auto code = replies::helperErrorCode(output, error);
    check(std::find(kCodes.begin(), kCodes.end(), code) != kCodes.end(),
          "a code the wizard does not know", rest);
    const auto failure = replies::setupFailure(output, error, status);
    check(failure.code() == code, "the failure carries another code", rest);
    const auto stage = "\nЭтап: helper-setup:exit=" + std::to_string(status);
    check(failure.message().ends_with(stage), "the failure does not end with its stage", rest);
    return 0;
}
