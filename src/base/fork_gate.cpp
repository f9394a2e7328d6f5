#include "base/fork_gate.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>

#include "base/fork_steps.h"

namespace tallo {
namespace {

// A thread's outermost section counts itself in `open` and then looks at
// `forks`; the fork's prepare step counts itself in `forks` and then looks at
// `open`. Both sequentially consistent, so one of them always sees the other:
// no section opens unseen while a fork waits, and new ones stay shut until
// every fork under way is done. The mutex and condition variable carry only
// the waiting.
struct ForkGate {
    std::atomic<int> open{0};   // threads inside a section
    std::atomic<int> forks{0};  // forks between their prepare and parent steps
    std::mutex mutex;
    std::condition_variable changed;
    // This process, or one it was forked from, was forked with another
    // thread's section open: what it guarded may be held here for good.
    bool inherited_section = false;
};

// Made when the library is loaded, before any thread can open a section (a
// function-local static would need a guard of its own), and never destroyed:
// threads may open sections while statics go.
ForkGate* const gate = new ForkGate();

// The sections this thread has open; only the outermost is counted in `open`.
// A child's forking thread keeps its value, and the child's gate counts it.
thread_local int depth = 0;

// Set by the prepare step when its wait ran out with another thread's section
// open; read by the child step, which runs on the same thread in the child.
thread_local bool section_open_at_fork = false;

void leave_gate() noexcept {
    if (gate->open.fetch_sub(1) == 1 && gate->forks.load() > 0) {
        const std::lock_guard lock(gate->mutex);
        gate->changed.notify_all();
    }
}

void enter_gate() noexcept {
    for (;;) {
        gate->open.fetch_add(1);
        if (gate->forks.load() == 0) return;
        leave_gate();  // a fork waits for no section that has not begun
        std::unique_lock lock(gate->mutex);
        gate->changed.wait(lock, [] { return gate->forks.load() == 0; });
    }
}

}  // namespace

namespace fork_steps {

void gate_prepare() noexcept {
    const int own = depth > 0 ? 1 : 0;
    std::unique_lock lock(gate->mutex);
    gate->forks.fetch_add(1);
    section_open_at_fork =
        !gate->changed.wait_for(lock, fork_wait_limit, [own] { return gate->open.load() == own; });
}

void gate_parent() noexcept {
    {
        const std::lock_guard lock(gate->mutex);
        gate->forks.fetch_sub(1);
    }
    gate->changed.notify_all();
}

// The child's gate is made anew in place, as the threads its copy counted
// and any holder of its mutex are not the child's; the mark survives, and the
// forking thread's section, still open, counts as open.
void gate_child() noexcept {
    const bool inherited = gate->inherited_section || section_open_at_fork;
    new (gate) ForkGate();
    gate->inherited_section = inherited;
    if (depth > 0) gate->open.store(1);
}

}  // namespace fork_steps

ForkWaits::ForkWaits() noexcept {
    if (depth++ == 0) enter_gate();
}

ForkWaits::~ForkWaits() {
    if (--depth == 0) leave_gate();
}

bool forked_inside_a_section() noexcept { return gate->inherited_section; }

}  // namespace tallo
