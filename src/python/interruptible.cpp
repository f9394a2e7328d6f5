#include "python/interruptible.h"

#include <Python.h>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/panic.h"
#include "base/teardown.h"
#include "base/thread.h"
#include "python/messages.h"

namespace tallo::python::detail {
namespace {

// A thread whose work the process's teardown stopped, or that came too late
// to start one, must not go back into the interpreter, which is going away:
// it waits, without the interpreter lock, for the process to end. The thread
// that runs the teardown takes the lock back (`state`) and is refused instead.
void leave_for_teardown(PyThreadState* state) {
    if (teardown::begun_on_this_thread()) {
        PyEval_RestoreThread(state);
        stop(messages::process_exiting());
    }
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace

bool run_interruptible(const std::function<void(std::stop_token)>& work, const std::function<void()>& discard) {
    std::mutex mutex;
    std::condition_variable ended_changed;
    bool ended = false;  // guarded by `mutex`

    PyThreadState* state = PyEval_SaveThread();
    std::stop_source stop;
    std::optional<teardown::Work> stay(std::in_place, stop);  // teardown stops the work and waits for it
    if (!stay->started()) leave_for_teardown(state);
    // Declared after what it uses: joined before they go. Its stack is the
    // one the calling thread's limit would give, so that a model that
    // compiles on the calling thread compiles here too.
    std::optional<Thread> thread;
    try {
        thread.emplace(stack_size_for_process_limit(), [&](std::stop_token) {
            work(stop.get_token());
            const std::lock_guard lock(mutex);
            ended = true;
            ended_changed.notify_one();
        });
    } catch (const std::system_error&) {
        work(stop.get_token());
        stay.reset();
        if (teardown::begun()) leave_for_teardown(state);
        PyEval_RestoreThread(state);
        return true;
    }

    bool raised = false;
    std::unique_lock lock(mutex);
    while (!ended_changed.wait_for(lock, signal_check_period, [&ended] { return ended; })) {
        lock.unlock();
        PyEval_RestoreThread(state);
        raised = PyErr_CheckSignals() != 0;  // the handler's exception stays pending
        state = PyEval_SaveThread();
        if (raised) break;
        lock.lock();
    }
    if (lock.owns_lock()) lock.unlock();
    if (raised) stop.request_stop();
    thread.reset();  // joins
    stay.reset();
    if (teardown::begun()) leave_for_teardown(state);
    if (raised) discard();
    PyEval_RestoreThread(state);
    return !raised;
}

}  // namespace tallo::python::detail
