#include "Fixtures.h"

#include <random>

namespace orvek::test {

std::string pseudoRandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(generator() & 0xFF);
    return bytes;
}

std::optional<std::uint64_t> AmpleSpace::availableCapacity(const std::filesystem::path&) const {
    return 1'000'000'000'000;
}

} // namespace orvek::test
