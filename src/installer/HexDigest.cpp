#include "installer/HexDigest.h"

namespace orvek::installer {

std::string hexDigest(const unsigned char* digest, std::size_t length) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0F];
    }
    return hex;
}

} // namespace orvek::installer
