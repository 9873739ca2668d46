#pragma once

// The fastest and the slowest repetition, as extra aggregates beside Google Benchmark's mean,
// median and deviation: a side-by-side run reports its range, not only its centre.

#include <algorithm>
#include <cmath>
#include <vector>

namespace orvek::bench {

inline double smallest(const std::vector<double>& values) {
    return values.empty() ? NAN : *std::min_element(values.begin(), values.end());
}

inline double largest(const std::vector<double>& values) {
    return values.empty() ? NAN : *std::max_element(values.begin(), values.end());
}

} // namespace orvek::bench
