#pragma once

#include <cstdint>
#include <optional>

namespace orvek::installer {

/// How far a running download has come: the bytes on disk so far and, when the release gave
/// it, the payload's whole size.
struct DownloadProgress {
    std::uint64_t received = 0;
    std::optional<std::uint64_t> expected;

    friend bool operator==(const DownloadProgress&, const DownloadProgress&) = default;
};

} // namespace orvek::installer
