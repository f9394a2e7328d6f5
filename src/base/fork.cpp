#include "base/fork.h"

#include <pthread.h>

#include <atomic>

#include "base/fork_steps.h"

namespace tallo {
namespace {

std::atomic<std::uint64_t> forks_behind{0};

void prepare_fork() noexcept { fork_steps::gate_prepare(); }

void after_fork_in_parent() noexcept { fork_steps::gate_parent(); }

// The generation first: the other steps may look at it, as may the destructors
// of what the child inherited (a teardown Work made before the fork).
void after_fork_in_child() noexcept {
    forks_behind.fetch_add(1, std::memory_order_relaxed);
    fork_steps::gate_child();
    fork_steps::teardown_child();
}

// The process's one registration, made when the library is loaded, before
// any section can open or any work start.
[[maybe_unused]] const int fork_handlers_registered =
    pthread_atfork(prepare_fork, after_fork_in_parent, after_fork_in_child);

}  // namespace

std::uint64_t fork_generation() noexcept { return forks_behind.load(std::memory_order_relaxed); }

}  // namespace tallo
