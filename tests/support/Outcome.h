#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "base/InstallerFailure.h"
#include "base/JsonError.h"
#include "base/PlatformError.h"
#include "base/PlistError.h"

namespace orvek::test {

/// The outcome of a step that did not fail.
inline constexpr const char* kPassed = "passed";

/// What the user would be shown, as one comparable text: `kPassed`, a failure's message (after
/// "code CODE: " when it carries one), or which platform error ended the step and where.
template <typename Step> std::string outcomeOf(Step&& step) {
    try {
        step();
        return kPassed;
    } catch (const base::InstallerFailure& failure) {
        return failure.code() ? "code " + *failure.code() + ": " + failure.message()
                              : failure.message();
    } catch (const base::PlatformError& error) {
        return "errno " + std::to_string(error.errnoValue()) + " at " + error.path().string();
    } catch (const base::PlistError& error) {
        return "plist " + error.path().string();
    } catch (const base::JsonError&) {
        return "json";
    }
}

/// What `outcomeOf` gives for an InstallerFailure with this message and code.
inline std::string failureText(std::string_view message,
                               const std::optional<std::string>& code = std::nullopt) {
    return code ? "code " + *code + ": " + std::string(message) : std::string(message);
}

} // namespace orvek::test
