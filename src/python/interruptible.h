#pragma once

// Work that a signal can cut short: Ctrl-C during a long compile.
//
// `interruptible(work)` runs work(std::stop_token) with the interpreter lock
// released, on a thread of its own, while the calling thread waits for it and,
// every `signal_check_period`, takes the lock briefly to run the interpreter's
// pending signal handlers (PyErr_CheckSignals). When a handler raises (Ctrl-C's
// KeyboardInterrupt, or whatever the host's handler raises), a stop is
// requested through the token and the call throws PyError at once, with the
// handler's exception pending: it does not wait for the work, which may sit in
// a library call that cannot be stopped (a long grounding). The work then
// runs on, abandoned, until it ends or gives up, and whatever it produced (its
// result or its own exception) is dropped on its thread. Otherwise the work's
// result is returned, or its exception rethrown, as if it had run on the
// calling thread.
//
// - Called with the interpreter lock held; returns or throws with it held.
// - `work` is moved into a state that the work's thread shares: it must own
//   everything it uses (capture by value), since it may outlive the call.
//   It touches no Python object, and gives up soon after a stop was requested
//   where it can (by throwing, typically `Cancelled`).
// - Signal handlers run only on the interpreter's main thread: called from
//   another thread, the checks find nothing and the work runs to its end.
// - Once the process's teardown began (base/teardown.h), a caller still
//   waiting stops waiting and never returns into the interpreter; its work is
//   abandoned as above. The thread that runs the teardown is refused instead,
//   with RuntimeError (`messages::process_exiting()`).
// - In a child forked while the caller waited (by a signal handler that
//   forks), the work's thread is not there: the call throws PyError with the
//   handler's exception, or with RuntimeError
//   (`messages::compile_thread_in_parent()`) when the handler raised none,
//   and leaves what the work shares and built untouched (it belongs to the
//   parent's thread), never waiting for it.
// - The work's thread has the stack that the process's stack limit gives
//   (base/thread.h, `stack_size_for_process_limit`), not the smaller default
//   of a new thread, so work that fits the calling thread fits it too.
// - When no thread can be started, the work runs on the calling thread,
//   released from the lock, and cannot be interrupted.
#include <chrono>
#include <exception>
#include <memory>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>

#include "python/error.h"

namespace tallo::python {

inline constexpr std::chrono::milliseconds signal_check_period{20};

namespace detail {

// The work and what it produced, shared by the caller and the work's thread:
// whichever lets go of it last destroys it.
class Job {
public:
    Job() = default;
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
    virtual ~Job() = default;
    virtual void run(std::stop_token stop) noexcept = 0;
};

// Runs `job` as described above. True when the work ended and no handler
// raised; false when a handler raised, `job` then released (lock released).
bool run_interruptible(std::shared_ptr<Job>& job);

template <class F>
class TypedJob final : public Job {
public:
    using Result = std::invoke_result_t<F&, std::stop_token>;

    explicit TypedJob(F work) : work_(std::move(work)) {}

    void run(std::stop_token stop) noexcept override {
        try {
            result_.emplace(work_(std::move(stop)));
        } catch (...) {
            error_ = std::current_exception();
        }
    }

    // The work's result, or its exception rethrown; once, after it ended.
    Result take() {
        if (error_) std::rethrow_exception(error_);
        return std::move(*result_);
    }

private:
    F work_;
    std::optional<Result> result_;
    std::exception_ptr error_;
};

}  // namespace detail

template <class F>
auto interruptible(F work) -> std::invoke_result_t<F&, std::stop_token> {
    auto typed = std::make_shared<detail::TypedJob<F>>(std::move(work));
    detail::TypedJob<F>& outcome = *typed;
    std::shared_ptr<detail::Job> job = std::move(typed);
    if (!detail::run_interruptible(job)) throw PyError{};
    return outcome.take();  // `job` still holds it
}

}  // namespace tallo::python
