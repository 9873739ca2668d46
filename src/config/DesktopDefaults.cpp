#include "config/DesktopDefaults.h"

#include "base/Json.h"
#include "config/ProductLists.h"

namespace orvek::config {

// The model choices are stored as JSON text inside the JSON document, as OpenCode itself
// stores them.
base::Bytes desktopDefaultsContent() {
    base::JsonValue user = base::JsonValue::array();
    for (const auto model : orvekModels)
        user.push_back({{"modelID", model}, {"providerID", "orvek"}, {"visibility", "show"}});
    for (const auto model : freeModels)
        user.push_back(
            {{"modelID", model}, {"providerID", "opencode-free"}, {"visibility", "hide"}});
    const base::JsonValue choices = {{"recent", base::JsonValue::array()},
                                     {"user", user},
                                     {"variant", base::JsonValue::object()}};
    return base::json({{"model", base::json(choices)}});
}

} // namespace orvek::config
