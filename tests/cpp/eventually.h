#pragma once

// Shared by the unit tests of every folder: a bounded poll instead of a sleep.

#include <chrono>
#include <thread>

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

}  // namespace tallo::testing
