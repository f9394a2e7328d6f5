#pragma once

// Poisonable<T>: a value behind a mutex that is poisoned when an operation
// stops while holding it. Shared<T>: the reference-counted handle to one.
//
// Guarantees:
// - `lock()` blocks until the mutex is free and returns a `Guard` that gives
//   access to the value until the guard is destroyed.
// - A guard destroyed while an exception leaves its scope (a stop, or any
//   other exception) poisons the mutex. The guard sees this itself, so callers
//   need no checks of their own.
// - Every `lock()` of a poisoned mutex releases it again and stops with
//   "called `Result::unwrap()` on an `Err` value: PoisonError { .. }". That stop
//   poisons whatever mutex the caller holds in turn, so poisoning spreads
//   outward (a model's mutex around its circuit's).
// - Poisoning is permanent. Nothing is rolled back.
// - A `Shared<T>` keeps its value alive as long as any copy of it exists; copies
//   may live on any thread.
#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>

#include "base/messages.h"
#include "base/panic.h"

namespace tallo {

template <class T>
class Poisonable {
public:
    template <class... Args>
    explicit Poisonable(Args&&... args) : value_(std::forward<Args>(args)...) {}

    Poisonable(const Poisonable&) = delete;
    Poisonable& operator=(const Poisonable&) = delete;

    class Guard {
    public:
        Guard(Guard&& other) noexcept
            : owner_(std::exchange(other.owner_, nullptr)), exceptions_(other.exceptions_) {}
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        Guard& operator=(Guard&&) = delete;

        ~Guard() {
            if (!owner_) return;
            if (std::uncaught_exceptions() > exceptions_) owner_->poisoned_.store(true, std::memory_order_release);
            owner_->mutex_.unlock();
        }

        T& operator*() const noexcept { return owner_->value_; }
        T* operator->() const noexcept { return &owner_->value_; }
        T& get() const noexcept { return owner_->value_; }

    private:
        friend class Poisonable;
        // Takes over the already locked mutex of `owner`.
        explicit Guard(Poisonable* owner) noexcept : owner_(owner), exceptions_(std::uncaught_exceptions()) {}

        Poisonable* owner_;
        int exceptions_;  // exceptions in flight when the lock was taken
    };

    Guard lock() {
        mutex_.lock();
        if (poisoned_.load(std::memory_order_acquire)) {
            mutex_.unlock();
            stop(messages::poisoned_mutex());
        }
        return Guard(this);
    }

    bool is_poisoned() const noexcept { return poisoned_.load(std::memory_order_acquire); }

private:
    std::mutex mutex_;
    std::atomic<bool> poisoned_{false};
    T value_;
};

template <class T>
class Shared {
public:
    using Guard = typename Poisonable<T>::Guard;

    template <class... Args>
    static Shared make(Args&&... args) {
        return Shared(std::make_shared<Poisonable<T>>(std::forward<Args>(args)...));
    }

    Shared() = default;

    Guard lock() const { return cell_->lock(); }
    bool is_poisoned() const noexcept { return cell_->is_poisoned(); }
    explicit operator bool() const noexcept { return cell_ != nullptr; }
    long use_count() const noexcept { return cell_.use_count(); }

private:
    explicit Shared(std::shared_ptr<Poisonable<T>> cell) : cell_(std::move(cell)) {}
    std::shared_ptr<Poisonable<T>> cell_;
};

}  // namespace tallo
