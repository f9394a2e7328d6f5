#pragma once

// Small helpers of the channel tests, with the shared bounded poll and stop
// helper.
#include <chrono>
#include <cmath>
#include <cstddef>

#include "base/vector.h"
#include "eventually.h"
#include "stop_message.h"

namespace tallo::testing {

// Equal lengths and elements within 1e-12: values that went through a log
// encoding and back.
inline bool nearly_equal(const Vector& a, const Vector& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!(std::abs(a[i] - b[i]) <= 1e-12)) return false;
    }
    return true;
}

// A deadline `ms` milliseconds from now on the monotonic clock.
inline std::chrono::steady_clock::time_point in_ms(int ms) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

}  // namespace tallo::testing
