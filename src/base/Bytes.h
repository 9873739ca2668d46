#pragma once

#include <string>

namespace orvek::base {

/// Raw bytes: file contents, process output, serialised JSON.
using Bytes = std::string;

} // namespace orvek::base
