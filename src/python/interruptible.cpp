#include "python/interruptible.h"

#include <Python.h>

#include <condition_variable>
#include <mutex>
#include <system_error>

#include "base/thread.h"

namespace tallo::python::detail {

bool run_interruptible(const std::function<void(std::stop_token)>& work, const std::function<void()>& discard) {
    std::mutex mutex;
    std::condition_variable ended_changed;
    bool ended = false;  // guarded by `mutex`

    PyThreadState* state = PyEval_SaveThread();
    // Declared after what it uses: joined before they go. Its stack is the
    // one the calling thread's limit would give, so that a model that
    // compiles on the calling thread compiles here too.
    std::optional<Thread> thread;
    try {
        thread.emplace(stack_size_for_process_limit(), [&](std::stop_token stop) {
            work(std::move(stop));
            const std::lock_guard lock(mutex);
            ended = true;
            ended_changed.notify_one();
        });
    } catch (const std::system_error&) {
        work(std::stop_token());
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
    if (raised) thread->request_stop();
    thread.reset();  // joins
    if (raised) discard();
    PyEval_RestoreThread(state);
    return !raised;
}

}  // namespace tallo::python::detail
