#pragma once

#include <string>

#include "installer/InstallerFailure.h"
#include "installer/JsonError.h"
#include "installer/PlatformError.h"
#include "installer/PlistError.h"

namespace orvek::test {

/// The outcome of a step that did not fail.
inline constexpr const char* kPassed = "passed";

/// What the user would be shown, as one comparable text: `kPassed`, a failure's message (after
/// "code CODE: " when it carries one), or which platform error ended the step and where.
template <typename Step> std::string outcomeOf(Step&& step) {
    try {
        step();
        return kPassed;
    } catch (const installer::InstallerFailure& failure) {
        return failure.code() ? "code " + *failure.code() + ": " + failure.message()
                              : failure.message();
    } catch (const installer::PlatformError& error) {
        return "errno " + std::to_string(error.errnoValue()) + " at " + error.path().string();
    } catch (const installer::PlistError& error) {
        return "plist " + error.path().string();
    } catch (const installer::JsonError&) {
        return "json";
    }
}

} // namespace orvek::test
