#include "base/JsonError.h"

namespace orvek::base {

JsonError::JsonError(const std::string& description, std::optional<std::size_t> byteOffset)
    : std::runtime_error(description), m_byteOffset(byteOffset) {}

} // namespace orvek::base
