#pragma once

#include "ScopedEnvironment.h"
#include "config/ProductLists.h"

namespace orvek::test {

/// Clears XDG_CONFIG_HOME and every variable that would send OpenCode or the helper to other
/// settings than the home's, as a Mac user's plain session has them. Kept out of
/// ScopedEnvironment so that the support library needs no product floor above base.
inline void clearConfigurationOverrides(ScopedEnvironment& environment) {
    environment.unset("XDG_CONFIG_HOME");
    for (const char* name : config::overrideVariables)
        environment.unset(name);
}

} // namespace orvek::test
