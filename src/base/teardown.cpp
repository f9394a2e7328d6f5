#include "base/teardown.h"

#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

#include "base/fork.h"
#include "base/fork_steps.h"

namespace tallo::teardown {
namespace {

// Never destroyed: threads may make and end a Work while statics go.
struct Registry {
    std::mutex mutex;
    std::condition_variable ended;
    std::list<std::optional<std::stop_source>> running;  // guarded by `mutex`
    bool begun = false;                                   // guarded by `mutex`
    std::thread::id teardown_thread;                      // guarded by `mutex`
};

Registry& registry() noexcept {
    static Registry* const instance = new Registry();
    return *instance;
}

// An exit handler of the C library, registered once the teardown's wait ran
// out: it runs before the handlers registered earlier, which destroy the
// static state of the libraries loaded until then. Work still running then
// would use that state after it is gone, so the process ends at once, with
// the status it was exiting with, after writing out what the C streams hold.
// When the work ended meanwhile, the exit goes on as usual.
void end_at_once_if_work_runs(int status, void*) noexcept {
    Registry& r = registry();
    {
        const std::lock_guard lock(r.mutex);
        if (r.running.empty()) return;
    }
    std::fflush(nullptr);
    _exit(status);
}

}  // namespace

void begin() noexcept {
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    if (r.begun) return;
    r.begun = true;
    r.teardown_thread = std::this_thread::get_id();
    for (std::optional<std::stop_source>& stop : r.running) {
        if (stop) stop->request_stop();
    }
    if (r.ended.wait_for(lock, wait_limit, [&r] { return r.running.empty(); })) return;
    on_exit(end_at_once_if_work_runs, nullptr);
}

bool begun() noexcept {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    return r.begun;
}

bool begun_on_this_thread() noexcept {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    return r.begun && r.teardown_thread == std::this_thread::get_id();
}

Work::Work(std::optional<std::stop_source> stop) : generation_(fork_generation()) {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    if (r.begun) return;
    entry_ = r.running.insert(r.running.end(), std::move(stop));
    started_ = true;
}

Work::~Work() {
    // In a child, the entry is in the registry the child forgot.
    if (!started_ || generation_ != fork_generation()) return;
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    r.running.erase(entry_);
    if (r.running.empty()) r.ended.notify_all();
}

}  // namespace tallo::teardown

namespace tallo::fork_steps {

// A forked child starts with an empty registry: the one it inherited lists
// the work of threads that the child does not have, and its mutex may be held
// by one of them for good. It is made anew in place, without destroying what
// it held (nothing of it is the child's) and without allocating.
void teardown_child() noexcept { new (&teardown::registry()) teardown::Registry(); }

}  // namespace tallo::fork_steps
