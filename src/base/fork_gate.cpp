#include "base/fork_gate.h"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>

namespace tallo {
namespace {

// A section counts itself in `open` and then looks at `forks`; the fork's
// prepare handler counts itself in `forks` and then looks at `open`. Both
// sequentially consistent, so one of them always sees the other: no section
// opens unseen while a fork waits, and new ones stay shut until every fork
// under way is done. The mutex and condition variable carry only the
// waiting.
struct ForkGate {
    std::atomic<int> open{0};
    std::atomic<int> forks{0};  // forks between their prepare and parent handlers
    std::mutex mutex;
    std::condition_variable changed;
    // This process, or one it was forked from, was forked with a section
    // open: what it guarded may be held here for good.
    bool inherited_section = false;
};

// Made when the library is loaded, before any thread can open a section (a
// function-local static would need a guard of its own), and never destroyed:
// threads may open sections while statics go.
ForkGate* const gate = new ForkGate();

// Set by the prepare handler when its wait ran out with a section open; read
// by the child handler, which runs on the same thread in the child.
thread_local bool section_open_at_fork = false;

void close_section() noexcept {
    if (gate->open.fetch_sub(1) == 1 && gate->forks.load() > 0) {
        const std::lock_guard lock(gate->mutex);
        gate->changed.notify_all();
    }
}

void open_section() noexcept {
    for (;;) {
        gate->open.fetch_add(1);
        if (gate->forks.load() == 0) return;
        close_section();  // a fork waits for no section that has not begun
        std::unique_lock lock(gate->mutex);
        gate->changed.wait(lock, [] { return gate->forks.load() == 0; });
    }
}

void wait_for_sections_before_fork() noexcept {
    std::unique_lock lock(gate->mutex);
    gate->forks.fetch_add(1);
    section_open_at_fork = !gate->changed.wait_for(lock, fork_wait_limit, [] { return gate->open.load() == 0; });
}

void open_gate_after_fork() noexcept {
    {
        const std::lock_guard lock(gate->mutex);
        gate->forks.fetch_sub(1);
    }
    gate->changed.notify_all();
}

// The child's gate is made anew in place, as the threads its copy counted
// and any holder of its mutex are not the child's; only the mark survives.
void fresh_gate_in_child() noexcept {
    const bool inherited = gate->inherited_section || section_open_at_fork;
    new (gate) ForkGate();
    gate->inherited_section = inherited;
}

// Registered when the library is loaded, before any section can open.
[[maybe_unused]] const int gate_registered =
    pthread_atfork(wait_for_sections_before_fork, open_gate_after_fork, fresh_gate_in_child);

}  // namespace

ForkWaits::ForkWaits() noexcept { open_section(); }

ForkWaits::~ForkWaits() { close_section(); }

bool forked_inside_a_section() noexcept { return gate->inherited_section; }

}  // namespace tallo
