#pragma once

// Thread: a joining, stoppable thread whose stack size we choose.
//
// std::jthread's contract, over POSIX threads, whose attributes can set the
// stack size that std::jthread cannot:
// - The constructor starts work(stop_token) on a new thread whose stack holds
//   at least `stack_bytes` (rounded up to whole pages and to the system's
//   least thread stack). When no thread can be started it throws
//   std::system_error and the work never runs.
// - `request_stop` asks the work to stop through its token; the work decides
//   when it looks. It may be called from any thread, any number of times.
// - The destructor requests a stop and joins: once it returns, the work has
//   ended and its thread is gone. Not copyable, not movable, so the thread
//   always has one owner, where it was made.
// - The work must not let an exception escape: like std::thread, an escaping
//   exception ends the process (std::terminate).
//
// `start_detached` starts work on a thread that nothing joins, with the stack
// that `Thread` would give it: for work that its caller may stop waiting for.
// The work must own what it uses and, when it ends, leave nothing behind that
// needs it; the thread ends with it. Throws std::system_error, the work not
// run, when no thread can be started.
//
// `stack_size_for_limit` is the policy for threads that do what the calling
// thread could have done itself (a compile moved off the interpreter's
// thread): glibc gives a new thread the process's stack limit as its stack,
// or only 2 MiB when the limit is unlimited, so a thread of the default size
// can fail where the main thread would not.
#include <pthread.h>
#include <sys/resource.h>

#include <cstddef>
#include <functional>
#include <stop_token>

namespace tallo {

class Thread {
public:
    Thread(std::size_t stack_bytes, std::function<void(std::stop_token)> work);
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    ~Thread();

    void request_stop() noexcept { stop_.request_stop(); }

private:
    std::stop_source stop_;
    pthread_t handle_;
};

void start_detached(std::size_t stack_bytes, std::function<void()> work);

// Least and greatest stacks of `stack_size_for_limit`.
inline constexpr std::size_t least_stack_bytes = std::size_t{8} << 20;
inline constexpr std::size_t greatest_stack_bytes = std::size_t{64} << 20;

// The stack for a thread that must manage whatever the calling thread could,
// given the soft stack limit `limit` (RLIMIT_STACK; RLIM_INFINITY when
// unlimited): the limit itself, but at least `least_stack_bytes` (the usual
// default, so a small limit never makes our thread the weak one) and at most
// `greatest_stack_bytes` (where the limit is unlimited or huge).
std::size_t stack_size_for_limit(rlim_t limit) noexcept;

// `stack_size_for_limit` of this process's soft stack limit, read now.
std::size_t stack_size_for_process_limit() noexcept;

}  // namespace tallo
