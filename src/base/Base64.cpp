#include "base/Base64.h"

#include <array>
#include <cstdint>

namespace orvek::base {

namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int, 256> decodingTable() {
    std::array<int, 256> table{};
    for (auto& entry : table)
        entry = -1;
    for (std::size_t i = 0; i < kAlphabet.size(); ++i)
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int>(i);
    return table;
}

constexpr auto kDecoding = decodingTable();

} // namespace

std::string base64Encode(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16 |
                                    static_cast<unsigned char>(bytes[i + 1]) << 8 |
                                    static_cast<unsigned char>(bytes[i + 2]);
        text += kAlphabet[group >> 18 & 63];
        text += kAlphabet[group >> 12 & 63];
        text += kAlphabet[group >> 6 & 63];
        text += kAlphabet[group & 63];
    }
    const auto rest = bytes.size() - i;
    if (rest == 1) {
        const std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        text += kAlphabet[group >> 18 & 63];
        text += kAlphabet[group >> 12 & 63];
        text += "==";
    } else if (rest == 2) {
        const std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16 |
                                    static_cast<unsigned char>(bytes[i + 1]) << 8;
        text += kAlphabet[group >> 18 & 63];
        text += kAlphabet[group >> 12 & 63];
        text += kAlphabet[group >> 6 & 63];
        text += '=';
    }
    return text;
}

std::optional<Bytes> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    Bytes bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        // Padding only at the very end: "xx==" or "xxx=".
        const std::size_t padding = !last ? 0 : text[i + 3] != '=' ? 0 : text[i + 2] == '=' ? 2 : 1;
        std::uint32_t group = 0;
        for (std::size_t j = 0; j < 4 - padding; ++j) {
            const int value = kDecoding[static_cast<unsigned char>(text[i + j])];
            if (value < 0)
                return std::nullopt;
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        group <<= 6 * padding;
        bytes += static_cast<char>(group >> 16 & 0xFF);
        if (padding == 2) {
            if ((group & 0xFFFF) != 0)
                return std::nullopt;
            break;
        }
        bytes += static_cast<char>(group >> 8 & 0xFF);
        if (padding == 1) {
            if ((group & 0xFF) != 0)
                return std::nullopt;
            break;
        }
        bytes += static_cast<char>(group & 0xFF);
    }
    return bytes;
}

} // namespace orvek::base
