#include "config/ModelPreset.h"
#include "base/Json.h"

namespace orvek::config {

base::JsonValue presetDocument(const base::JsonValue& freeProvider) {
    return {{"enabled_providers", {"orvek", "opencode-free"}},
            {"provider", {{"opencode-free", freeProvider}}}};
}

base::Bytes presetBytes(const base::JsonValue& freeProvider) {
    return base::json(presetDocument(freeProvider));
}

} // namespace orvek::config
