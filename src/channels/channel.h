#pragma once

// Channel: an unbounded first-in-first-out queue inside one process, with any
// number of sending ends and exactly one receiving end.
//
// Guarantees:
// - `make_channel<T>()` creates an empty channel and returns its one sender
//   and its one receiver. A sender is duplicated explicitly (`duplicate`);
//   every duplicate counts as a live sender until it is destroyed, released or
//   moved from. The receiver is never duplicated. Both ends are move-only, and
//   a moved-from end behaves as a released one.
// - `send` never blocks (beyond one short critical section) and never copies
//   the message: it is moved into the queue. Once the receiver has been
//   released, `send` fails and hands the message back.
// - `recv` takes the oldest message. It blocks while the queue is empty and a
//   sender is live, and reports disconnection (an empty optional) once the
//   queue is empty and every sender has been released: messages queued before
//   the last sender went are all delivered first.
// - `recv_until` does the same, but reports `Timeout` once the monotonic clock
//   has passed the deadline while the queue is still empty and a sender still
//   live.
// - `recv_taken` hands out only what an earlier receive already took from the
//   queue: a consumer can drain a batch without touching the mutex.
// - Releasing the receiver discards every queued message; later sends fail.
// - Order: messages from one sender arrive in the order sent; of two sends
//   from different threads, the message of a send that began after the other
//   had returned arrives later.
// - Thread-safety: any thread may send through, duplicate or release a sender,
//   and several threads may send through one sender object at once (but not
//   while it is released or moved from). The receiver belongs to one thread at
//   a time.
// - Cost: a send takes the channel's mutex for one append and wakes the
//   receiver only when it is blocked. A receiver that finds the queue empty
//   watches it for a few microseconds before it sleeps. Every critical section
//   is a few dozen nanoseconds, so the mutex is first tried for about a
//   microsecond before a thread sleeps on it: a sleep and its wake-up cost far
//   more than the wait. A receive takes the mutex once per batch: it moves
//   everything queued into the receiver's private buffer and serves the
//   following receives from there. The two buffers keep their capacity, so a
//   channel in steady use allocates nothing.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace tallo {

template <class T>
class Sender;
template <class T>
class Receiver;
template <class T>
std::pair<Sender<T>, Receiver<T>> make_channel();

// What a receive with a deadline found.
enum class RecvStatus { Message, Timeout, Disconnected };

template <class T>
struct Received {
    RecvStatus status;
    std::optional<T> message;  // engaged exactly when status is Message
};

namespace detail {

inline void spin_pause() noexcept {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Locks `mutex`, trying for a short while before sleeping on it.
inline std::unique_lock<std::mutex> lock_briefly_spinning(std::mutex& mutex) {
    for (int attempt = 0; attempt < 64; ++attempt) {
        if (mutex.try_lock()) return std::unique_lock<std::mutex>(mutex, std::adopt_lock);
        spin_pause();
    }
    return std::unique_lock<std::mutex>(mutex);
}

// Watches `flag` for a few microseconds; true once it is set.
inline bool await_briefly(const std::atomic<bool>& flag) noexcept {
    for (int attempt = 0; attempt < 256; ++attempt) {
        if (flag.load(std::memory_order_relaxed)) return true;
        spin_pause();
    }
    return flag.load(std::memory_order_relaxed);
}

template <class T>
struct ChannelState {
    std::mutex mutex;
    std::condition_variable ready;
    // Guarded by `mutex`:
    std::vector<T> queue;          // oldest first
    std::size_t senders = 1;       // live senders
    bool receiver_alive = true;
    bool receiver_waiting = false;  // the receiver is blocked on `ready`
    // Set by a send, cleared when the receiver takes the queue; written only
    // under `mutex`, read without it by a receiver deciding whether to sleep.
    std::atomic<bool> queued{false};
};

}  // namespace detail

template <class T>
class Sender {
public:
    Sender(Sender&& other) noexcept : state_(std::move(other.state_)) {}
    Sender& operator=(Sender&& other) noexcept {
        if (this != &other) {
            release();
            state_ = std::move(other.state_);
        }
        return *this;
    }
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;
    ~Sender() { release(); }

    // A further live sender of the same channel.
    Sender duplicate() const {
        if (state_) {
            auto lock = detail::lock_briefly_spinning(state_->mutex);
            ++state_->senders;
        }
        return Sender(state_);
    }

    // Appends the message and wakes the receiver if it waits. Returns nothing
    // on success, and the message itself when nobody receives any more.
    [[nodiscard]] std::optional<T> send(T message) const {
        if (!state_) return std::optional<T>(std::move(message));
        bool wake;
        {
            auto lock = detail::lock_briefly_spinning(state_->mutex);
            if (!state_->receiver_alive) return std::optional<T>(std::move(message));
            state_->queue.push_back(std::move(message));
            state_->queued.store(true, std::memory_order_relaxed);
            wake = state_->receiver_waiting;
        }
        if (wake) state_->ready.notify_one();
        return std::nullopt;
    }

    // True while the channel's receiver has not been released.
    bool is_connected() const {
        if (!state_) return false;
        auto lock = detail::lock_briefly_spinning(state_->mutex);
        return state_->receiver_alive;
    }

    // True when both are ends of the same channel.
    bool same_channel(const Sender& other) const noexcept { return state_ && state_ == other.state_; }

    // Gives up this sender; the last one to go disconnects the receiver.
    void release() noexcept {
        if (!state_) return;
        bool wake = false;
        {
            auto lock = detail::lock_briefly_spinning(state_->mutex);
            if (--state_->senders == 0) wake = state_->receiver_waiting;
        }
        if (wake) state_->ready.notify_one();
        state_.reset();
    }

private:
    friend std::pair<Sender<T>, Receiver<T>> make_channel<T>();
    explicit Sender(std::shared_ptr<detail::ChannelState<T>> state) noexcept : state_(std::move(state)) {}

    std::shared_ptr<detail::ChannelState<T>> state_;  // null once released
};

template <class T>
class Receiver {
public:
    using Clock = std::chrono::steady_clock;

    Receiver(Receiver&& other) noexcept
        : state_(std::move(other.state_)), buffer_(std::move(other.buffer_)), next_(std::exchange(other.next_, 0)) {
        other.buffer_.clear();
    }
    Receiver& operator=(Receiver&& other) noexcept {
        if (this != &other) {
            release();
            state_ = std::move(other.state_);
            buffer_ = std::move(other.buffer_);
            other.buffer_.clear();
            next_ = std::exchange(other.next_, 0);
        }
        return *this;
    }
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() { release(); }

    // The oldest message, or nothing once the channel is drained and every
    // sender is gone. Blocks in between.
    std::optional<T> recv() { return take(nullptr).message; }

    // As recv, but gives up with Timeout when the monotonic clock passes
    // `deadline` while the queue is empty and a sender is live.
    Received<T> recv_until(Clock::time_point deadline) { return take(&deadline); }

    // The next message of the batch that an earlier receive took from the
    // queue, or nothing when that batch is used up. Never blocks and never
    // takes the channel's mutex; the order is the same as recv's.
    std::optional<T> recv_taken() {
        if (next_ < buffer_.size()) return std::move(buffer_[next_++]);
        return std::nullopt;
    }

    // Discards every queued message; later sends fail.
    void release() noexcept {
        buffer_.clear();
        next_ = 0;
        if (!state_) return;
        std::vector<T> discarded;  // destroyed outside the lock
        {
            auto lock = detail::lock_briefly_spinning(state_->mutex);
            state_->receiver_alive = false;
            discarded.swap(state_->queue);
        }
        state_.reset();
    }

private:
    friend std::pair<Sender<T>, Receiver<T>> make_channel<T>();
    explicit Receiver(std::shared_ptr<detail::ChannelState<T>> state) noexcept : state_(std::move(state)) {}

    Received<T> take(const Clock::time_point* deadline) {
        if (next_ < buffer_.size()) return {RecvStatus::Message, std::move(buffer_[next_++])};
        buffer_.clear();
        next_ = 0;
        if (!state_) return {RecvStatus::Disconnected, std::nullopt};

        auto lock = detail::lock_briefly_spinning(state_->mutex);
        bool watched = false;
        while (state_->queue.empty()) {
            if (state_->senders == 0) return {RecvStatus::Disconnected, std::nullopt};
            if (!watched) {
                // A writer in full flow sends again within microseconds; the
                // receiver watches for that before it sleeps, sparing both
                // threads a sleep and a wake-up per message.
                watched = true;
                lock.unlock();
                detail::await_briefly(state_->queued);
                lock.lock();
                continue;
            }
            state_->receiver_waiting = true;
            bool timed_out = false;
            if (deadline) {
                timed_out = state_->ready.wait_until(lock, *deadline) == std::cv_status::timeout;
            } else {
                state_->ready.wait(lock);
            }
            state_->receiver_waiting = false;
            if (timed_out && state_->queue.empty() && state_->senders != 0) return {RecvStatus::Timeout, std::nullopt};
        }
        buffer_.swap(state_->queue);
        state_->queued.store(false, std::memory_order_relaxed);
        lock.unlock();
        return {RecvStatus::Message, std::move(buffer_[next_++])};
    }

    std::shared_ptr<detail::ChannelState<T>> state_;  // null once released
    std::vector<T> buffer_;  // a batch taken from the queue; served from `next_`
    std::size_t next_ = 0;
};

template <class T>
std::pair<Sender<T>, Receiver<T>> make_channel() {
    auto state = std::make_shared<detail::ChannelState<T>>();
    Sender<T> sender(state);
    return {std::move(sender), Receiver<T>(std::move(state))};
}

}  // namespace tallo
