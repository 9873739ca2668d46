#pragma once

#include "base/Bytes.h"
#include "base/JsonValue.h"

namespace orvek::config {

/// The preset document: the two enabled providers and the free one defined by the resource.
[[nodiscard]] base::JsonValue presetDocument(const base::JsonValue& freeProvider);

/// `json` of `presetDocument`: the exact bytes of "opencode.json" and of its marker.
[[nodiscard]] base::Bytes presetBytes(const base::JsonValue& freeProvider);

} // namespace orvek::config
