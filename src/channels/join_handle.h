#pragma once

// JoinHandle: a thread of our own that never lets an exception escape.
//
// Guarantees:
// - `JoinHandle::spawn(role, body)` runs `body` on a new thread. If the
//   operating system refuses the thread, the caller stops with "failed to
//   spawn thread" and `body` has been destroyed unrun.
// - A stop (`Panic`) or any other exception leaving `body` ends the thread
//   quietly for the host: its message is reported on standard error
//   (`report_stop` with `role`) and the handle remembers that the thread
//   stopped. Nothing reaches std::terminate.
// - Everything `body` holds is destroyed on the thread before it ends, so a
//   joined thread has released all of it.
// - `join()` waits for the thread and tells whether `body` returned normally.
//   Destroying a handle that was not joined detaches the thread, as does
//   `detach()`.
// - Move-only; a moved-from handle holds no thread.
#include <atomic>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "base/panic.h"
#include "channels/messages.h"

namespace tallo {

class JoinHandle {
public:
    JoinHandle() = default;
    JoinHandle(JoinHandle&&) noexcept = default;
    JoinHandle& operator=(JoinHandle&& other) noexcept {
        if (this != &other) {
            detach();
            thread_ = std::move(other.thread_);
            stopped_ = std::move(other.stopped_);
        }
        return *this;
    }
    ~JoinHandle() { detach(); }

    template <class F>
    static JoinHandle spawn(std::string role, F body) {
        auto stopped = std::make_shared<std::atomic<bool>>(false);
        JoinHandle handle;
        try {
            handle.thread_ = std::thread([role = std::move(role), body = std::move(body), stopped]() mutable noexcept {
                run_guarded(role, std::move(body), *stopped);
            });
        } catch (const std::system_error&) {
            stop(messages::failed_to_spawn_thread());
        }
        handle.stopped_ = std::move(stopped);
        return handle;
    }

    // Waits for the thread; true when its body returned, false when it
    // stopped (or when there is no thread to wait for).
    bool join() {
        if (!thread_.joinable()) return false;
        thread_.join();
        return !stopped_->load(std::memory_order_acquire);
    }

    // Lets the thread run on its own: the system takes back all it holds as
    // soon as it ends. The handle holds no thread afterwards.
    void detach() noexcept {
        if (thread_.joinable()) thread_.detach();
    }

private:
    template <class F>
    static void run_guarded(const std::string& role, F body, std::atomic<bool>& stopped) noexcept {
        try {
            // The body (and all it owns) dies inside the try, so a throwing
            // destructor is caught too.
            F local = std::move(body);
            local();
        } catch (const Panic& panic) {
            stopped.store(true, std::memory_order_release);
            report_stop(role, panic.message());
        } catch (const std::exception& error) {
            stopped.store(true, std::memory_order_release);
            report_stop(role, error.what());
        } catch (...) {
            stopped.store(true, std::memory_order_release);
            report_stop(role, messages::unknown_exception());
        }
    }

    std::thread thread_;
    std::shared_ptr<std::atomic<bool>> stopped_;  // shared with the thread
};

}  // namespace tallo
