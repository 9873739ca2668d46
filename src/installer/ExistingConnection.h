#pragma once

#include <functional>
#include <map>
#include <string>

#include "base/HttpsClient.h"
#include "base/JsonError.h"
#include "config/SavedConnection.h"
#include "installer/InstallerCore.h"

/// Reuse of the connection a user made with the helper before: proven sound against the
/// service, then brought up to date in place, without a new sign-in.
namespace orvek::installer::ExistingConnection {

/// One authenticated request to the service: a request path under "/v1/" ("key", "models")
/// and the API key; returns the decoded JSON object.
using Fetch = std::function<JsonValue(const std::string& path, const std::string& key)>;

/// Proves the saved connection in the engine's `globalConfig` sound (shape, key, the service's
/// answer to the key and its model catalogue) and only then patches "opencode.jsonc" in place.
/// Throws InstallerFailure "CONFIGURATION_UNSUPPORTED", "CONFIGURATION_CHANGED" or
/// "EXISTING_CONNECTION_CHECK_FAILED", the models-missing failure, or passes decoder and
/// platform errors through.
void reuse(const InstallerCore& core, const Fetch& fetch);
/// `reuse` with `get` on the engine's deployment as the fetch.
void reuse(const InstallerCore& core);

/// One HTTPS GET of the deployment's API base + "/v1/" + `path` with "Authorization: Bearer
/// key", through the base client (nothing stored, no redirect, body limited). Throws the
/// check-failed InstallerFailure, or base::JsonError for a body that is not JSON.
[[nodiscard]] JsonValue get(const Deployment& deployment, const std::string& path,
                            const std::string& key, const base::HttpsLimits& limits = {});

/// "opencode.jsonc" with the default model set and the missing model entries inserted.
using config::SavedConnection::patch;

/// Accepts an absent overlay or one that is exactly the wizard's preset (with or without the
/// wizard's MCP entry); throws CONFIGURATION_UNSUPPORTED otherwise.
void validateOverlay(const InstallerCore& core);

/// The bytes of those of "opencode.json" and its marker that exist, by file name.
[[nodiscard]] std::map<std::string, Bytes> overlaySnapshot(const InstallerCore& core);

} // namespace orvek::installer::ExistingConnection
