#pragma once

// Work that a signal can cut short: Ctrl-C during a long compile.
//
// `interruptible(work)` runs work(std::stop_token) with the interpreter lock
// released, on a thread of its own, while the calling thread waits for it and,
// every `signal_check_period`, takes the lock briefly to run the interpreter's
// pending signal handlers (PyErr_CheckSignals). When a handler raises (Ctrl-C's
// KeyboardInterrupt, or whatever the host's handler raises), a stop is
// requested through the token, the work's thread is joined, whatever the work
// produced (its result or its own exception) is dropped with the lock still
// released, and PyError is thrown with the handler's exception pending.
// Otherwise the work's result is returned, or its exception rethrown, as if it
// had run on the calling thread.
//
// - Called with the interpreter lock held; returns or throws with it held.
// - `work` touches no Python object, and gives up soon after a stop was
//   requested (by throwing, typically `Cancelled`). How soon is its own
//   affair: the call returns only once the work has ended.
// - Signal handlers run only on the interpreter's main thread: called from
//   another thread, the checks find nothing and the work runs to its end.
// - The work's thread has the stack that the process's stack limit gives
//   (base/thread.h, `stack_size_for_process_limit`), not the smaller default
//   of a new thread, so work that fits the calling thread fits it too.
// - When no thread can be started, the work runs on the calling thread,
//   released from the lock, and cannot be interrupted.
#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>

#include "python/error.h"

namespace tallo::python {

inline constexpr std::chrono::milliseconds signal_check_period{20};

namespace detail {

// Runs `work` as described above; `discard` is called (lock released) when a
// handler raised, after the work ended. True when no handler raised.
bool run_interruptible(const std::function<void(std::stop_token)>& work, const std::function<void()>& discard);

}  // namespace detail

template <class F>
auto interruptible(F&& work) -> std::invoke_result_t<F&, std::stop_token> {
    using R = std::invoke_result_t<F&, std::stop_token>;
    std::optional<R> result;
    std::exception_ptr error;
    const bool finished = detail::run_interruptible(
        [&](std::stop_token stop) noexcept {
            try {
                result.emplace(work(std::move(stop)));
            } catch (...) {
                error = std::current_exception();
            }
        },
        [&]() noexcept {
            result.reset();
            error = nullptr;
        });
    if (!finished) throw PyError{};
    if (error) std::rethrow_exception(error);
    return std::move(*result);
}

}  // namespace tallo::python
