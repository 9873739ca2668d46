#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "base/Bytes.h"
#include "base/JsonValue.h"
#include "config/ServiceEndpoints.h"

/// The checks and the in-place patch of the connection the helper saved: "opencode.jsonc" with
/// the service's provider entry and the key file beside it. Pure; reads and writes nothing.
namespace orvek::config::SavedConnection {

/// The trimmed API key, once the key file's bytes and the provider entry of `configuration`
/// (in `folder`) have exactly the shape the helper writes; throws CONFIGURATION_UNSUPPORTED.
[[nodiscard]] std::string checkedKey(const base::JsonValue& configuration,
                                     std::string_view keyBytes, const ServiceEndpoints& endpoints,
                                     const std::filesystem::path& folder);

/// True when the service's catalogue lists every model of the wizard's set.
[[nodiscard]] bool offersEveryModel(const base::JsonValue& catalogue);

/// "opencode.jsonc" with the default model set and the missing model entries inserted;
/// every other byte is kept. Throws CONFIGURATION_UNSUPPORTED or the reader's errors.
[[nodiscard]] base::Bytes patch(std::string_view bytes);

} // namespace orvek::config::SavedConnection
