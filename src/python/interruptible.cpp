#include "python/interruptible.h"

#include <Python.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <system_error>
#include <thread>

#include "base/fork.h"
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
        raise(PyExc_RuntimeError, messages::process_exiting());
    }
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

// What the caller and the work's thread share. Members go in reverse order:
// the job (and what it built) before the Work that keeps the teardown
// waiting for it.
struct Running {
    explicit Running(std::shared_ptr<Job> job) : job(std::move(job)) {}

    std::stop_source stop;
    teardown::Work stay{stop};  // teardown stops the work and waits for it, within its limit
    std::shared_ptr<Job> job;
    std::mutex mutex;
    std::condition_variable ended_changed;
    bool ended = false;  // guarded by `mutex`
};

// In a child forked by a signal handler while the caller waited, the work's
// thread is the parent's: the child leaves the wait. What the caller and that
// thread share stays untouched for good, as that thread may have held its
// mutex at the fork, and what the work built (threads, locks) is the parent's.
// A handler's own exception stays pending; else the refusal is raised.
bool leave_in_forked_child(std::shared_ptr<Running> running, std::shared_ptr<Job>& job, bool raised) {
    [[maybe_unused]] auto* kept = new std::shared_ptr<Running>(std::move(running));  // never destroyed
    job.reset();  // `running` holds it too
    if (!raised) set_error(PyExc_RuntimeError, messages::compile_thread_in_parent());
    return false;
}

}  // namespace

bool run_interruptible(std::shared_ptr<Job>& job) {
    const std::uint64_t generation = fork_generation();
    PyThreadState* state = PyEval_SaveThread();
    auto running = std::make_shared<Running>(job);
    if (!running->stay.started()) {
        running.reset();
        job.reset();
        leave_for_teardown(state);
    }
    // Its stack is the one the calling thread's limit would give, so that a
    // model that compiles on the calling thread compiles here too.
    try {
        start_detached(stack_size_for_process_limit(), [running]() {
            running->job->run(running->stop.get_token());
            const std::lock_guard lock(running->mutex);
            running->ended = true;
            running->ended_changed.notify_one();
        });
    } catch (const std::system_error&) {
        job->run(running->stop.get_token());
        running.reset();
        if (teardown::begun()) leave_for_teardown(state);
        PyEval_RestoreThread(state);
        return true;
    }

    bool raised = false;
    std::unique_lock lock(running->mutex);
    while (!running->ended_changed.wait_for(lock, signal_check_period, [&running] { return running->ended; })) {
        lock.unlock();
        if (teardown::begun()) {
            // The teardown asked the work to stop; its thread drops it.
            running.reset();
            job.reset();
            leave_for_teardown(state);
        }
        PyEval_RestoreThread(state);
        raised = PyErr_CheckSignals() != 0;  // the handler's exception stays pending
        if (fork_generation() != generation) return leave_in_forked_child(std::move(running), job, raised);
        state = PyEval_SaveThread();
        if (raised) break;
        lock.lock();
    }
    if (lock.owns_lock()) lock.unlock();
    if (raised) {
        // Abandoned: the work's thread drops it, or we do here if it ended.
        running->stop.request_stop();
        running.reset();
        job.reset();
    } else {
        running.reset();
        if (teardown::begun()) leave_for_teardown(state);
    }
    PyEval_RestoreThread(state);
    return !raised;
}

}  // namespace tallo::python::detail
