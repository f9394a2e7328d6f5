#pragma once

// Small helpers of the channel tests: catching a stop's message and bounded
// polls instead of sleeps.
#include <chrono>
#include <string>
#include <thread>

#include "base/panic.h"

namespace tallo::testing {

template <class F>
std::string stop_message(F&& operation) {
    try {
        operation();
    } catch (const Panic& panic) {
        return panic.message();
    }
    return "<no stop>";
}

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

// A deadline `ms` milliseconds from now on the monotonic clock.
inline std::chrono::steady_clock::time_point in_ms(int ms) {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

}  // namespace tallo::testing
