#include "base/fork_generation.h"

#include <pthread.h>

#include <atomic>

namespace tallo {
namespace {

std::atomic<std::uint64_t> generation{0};

void count_fork_in_child() noexcept { generation.fetch_add(1, std::memory_order_relaxed); }

// Registered when the library is loaded, before any object can be made.
[[maybe_unused]] const int registered = pthread_atfork(nullptr, nullptr, count_fork_in_child);

}  // namespace

std::uint64_t fork_generation() noexcept { return generation.load(std::memory_order_relaxed); }

}  // namespace tallo
