#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "installer/InstallerCore.h"

namespace orvek::config::ExistingConnection {

/// One authenticated request to the service: a request path under "/v1/" ("key", "models")
/// and the API key; returns the decoded JSON object.
using Fetch = std::function<installer::JsonValue(const std::string& path, const std::string& key)>;

/// How long `get` waits. The defaults are the wizard's; tests shorten them.
struct HttpLimits {
    /// Longest pause without any bytes moving, connection set-up included.
    double idleSeconds = 15;
    /// Longest the whole transfer may take.
    double totalSeconds = 30;
    /// Largest body accepted, in bytes.
    std::size_t maxBody = 2097152;
};

/// Proves the saved connection in the engine's `globalConfig` sound (shape, key, the service's
/// answer to the key and its model catalogue) and only then patches "opencode.jsonc" in place.
/// Throws InstallerFailure "CONFIGURATION_UNSUPPORTED" or "EXISTING_CONNECTION_CHECK_FAILED",
/// the models-missing failure, or passes decoder and platform errors through.
void reuse(const installer::InstallerCore& core, const Fetch& fetch);
/// `reuse` with `get` on the engine's deployment as the fetch.
void reuse(const installer::InstallerCore& core);

/// One HTTPS GET of the deployment's API base + "/v1/" + `path` with "Authorization: Bearer
/// key": ephemeral (no cookies, cache or stored credentials), redirects refused, body limited.
/// Throws the check-failed InstallerFailure, or JsonError for a body that is not JSON.
[[nodiscard]] installer::JsonValue get(const installer::Deployment& deployment,
                                       const std::string& path, const std::string& key,
                                       const HttpLimits& limits = {});

/// "opencode.jsonc" with the default model set and the missing model entries inserted;
/// every other byte is kept. Pure.
[[nodiscard]] installer::Bytes patch(std::string_view bytes);

/// Accepts an absent overlay or one that is exactly the wizard's preset (with or without the
/// wizard's MCP entry); throws CONFIGURATION_UNSUPPORTED otherwise.
void validateOverlay(const installer::InstallerCore& core);

/// The bytes of those of "opencode.json" and its marker that exist, by file name.
[[nodiscard]] std::map<std::string, installer::Bytes>
overlaySnapshot(const installer::InstallerCore& core);

} // namespace orvek::config::ExistingConnection
