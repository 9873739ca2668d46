#pragma once

#include <cstddef>
#include <string>

namespace orvek::installer {

/// A digest as lower-case hexadecimal, two digits a byte: the form every hash is compared in.
[[nodiscard]] std::string hexDigest(const unsigned char* digest, std::size_t length);

} // namespace orvek::installer
