#pragma once

// The process's teardown, and the work of ours that must not outlive its start.
//
// While a process exits, its exit handlers run and the static state of the
// libraries it loaded (the solver's, the worker pool's) is destroyed. A thread
// of ours still inside such a library then reads freed memory. Work that
// enters a library therefore runs inside a `teardown::Work`, and the host's
// exit hook calls `teardown::begin()` before any exit handler of a library
// can run (the binding registers it with the interpreter's own exit hooks).
//
// Guarantees:
// - `begin()` marks the teardown begun, requests a stop through the stop
//   source of every running Work, and returns once every Work has ended, or
//   after `wait_limit` when some has not: work that looks at its stop token
//   ends soon, but a call into a library that cannot be stopped (a long
//   grounding in the solver) runs to its end. Work still running at the end
//   of the wait is not waited for: the process's exit then ends the process
//   at once, with the exit's status and the C streams flushed, before any
//   exit handler registered before the wait ran out (the static state of
//   the libraries loaded until then) is destroyed under that work; an exit
//   that finds every Work ended goes on as usual. Later calls return at once.
// - A Work made once the teardown began does not start (`started()` is
//   false) and must not enter a library; one made before counts until it is
//   destroyed.
// - `begun_on_this_thread()` tells the thread that runs the teardown apart
//   from the others, which may be parked for good once it began.
// - A child made by fork() starts with no running Work and no teardown
//   begun: what it inherited belongs to threads it does not have. A Work the
//   child inherited (one on the forking thread's stack) may be destroyed
//   there: it leaves the child's registry as it is.
// - Thread-safe: any thread may make or destroy a Work at any time. Making
//   one takes a process-wide mutex once, destroying it once more.
#include <chrono>
#include <cstdint>
#include <list>
#include <optional>
#include <stop_token>

namespace tallo::teardown {

inline constexpr std::chrono::seconds wait_limit{1};

void begin() noexcept;
bool begun() noexcept;
bool begun_on_this_thread() noexcept;

class Work {
public:
    // A Work that teardown stops through `stop` (nothing when absent).
    explicit Work(std::optional<std::stop_source> stop = std::nullopt);
    Work(const Work&) = delete;
    Work& operator=(const Work&) = delete;
    ~Work();

    bool started() const noexcept { return started_; }

private:
    std::list<std::optional<std::stop_source>>::iterator entry_;
    std::uint64_t generation_;  // the process's fork generation when made
    bool started_ = false;
};

}  // namespace tallo::teardown
