#include "installer/JsonError.h"

namespace orvek::installer {

JsonError::JsonError(const std::string& description, std::optional<std::size_t> byteOffset)
    : std::runtime_error(description), m_byteOffset(byteOffset) {}

} // namespace orvek::installer
