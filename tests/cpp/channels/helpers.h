#pragma once

// Small helpers of the channel tests: bounded polls instead of sleeps, and
// the shared stop helper.
#include <chrono>
#include <cmath>
#include <cstddef>
#include <thread>

#include "base/vector.h"
#include "stop_message.h"

namespace tallo::testing {

// Polls `condition` until it holds or `limit` has passed; true if it held.
template <class F>
bool eventually(F&& condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

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
