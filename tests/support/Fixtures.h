#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "base/FileManager.h"

namespace orvek::test {

/// Reproducible bytes of every value, for payloads that must not compress or look like text.
[[nodiscard]] std::string pseudoRandomBytes(std::size_t size, unsigned seed);

/// Plenty of free room whatever the test machine's disk holds, so only tests about free space
/// depend on it.
class AmpleSpace final : public base::FileManager {
public:
    [[nodiscard]] std::optional<std::uint64_t>
    availableCapacity(const std::filesystem::path& path) const override;
};

} // namespace orvek::test
