#include "base/ProcessEnvironment.h"

#include <string_view>

#ifdef __APPLE__
#include <crt_externs.h>
#else
extern char** environ;
#endif

namespace orvek::base {

char** environmentBlock() noexcept {
#ifdef __APPLE__
    // `environ` is not reliably visible to code linked into a shared object on macOS.
    return *_NSGetEnviron();
#else
    return environ;
#endif
}

Environment currentEnvironment() {
    Environment environment;
    for (char** entry = environmentBlock(); entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const auto separator = text.find('=');
        if (separator != std::string_view::npos)
            environment.emplace(text.substr(0, separator), text.substr(separator + 1));
    }
    return environment;
}

} // namespace orvek::base
