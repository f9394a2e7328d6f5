#pragma once

// Ref: the owning handle of one strong reference to a Python object.
//
// Guarantees:
// - A Ref owns at most one reference and drops it when destroyed or reset;
//   moving transfers it; copying takes a new one (`Py_XINCREF`).
// - `Ref::steal(p)` adopts a new reference (what most API calls return);
//   `Ref::borrow(p)` takes a new reference to a borrowed pointer.
// - `release()` hands the reference to the caller (returning it to the
//   interpreter).
// - Every operation needs the interpreter lock. A Ref may only be destroyed
//   while the lock is held.
//
// Borrowed references are plain `PyObject*` and are commented as such where
// they are taken or stored ("borrowed: valid while ... lives").
#include <Python.h>

#include <cxxabi.h>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace tallo::python {

class Ref {
public:
    Ref() noexcept = default;

    // Adopts `object`, a new reference (or null).
    static Ref steal(PyObject* object) noexcept { return Ref(object); }

    // Takes a new reference to the borrowed `object` (or null).
    static Ref borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return Ref(object);
    }

    Ref(const Ref& other) noexcept : object_(other.object_) { Py_XINCREF(object_); }
    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~Ref() { Py_XDECREF(object_); }

    // borrowed: valid while this Ref holds it
    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Returns the new reference this Ref held; the Ref is empty afterwards.
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }

    void reset() noexcept { Ref().swap(*this); }
    void swap(Ref& other) noexcept { std::swap(object_, other.object_); }

private:
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

// Runs `work` with the interpreter lock released and returns its result; the
// lock is held again when this returns or throws. Nothing in `work` may touch
// a Python object.
//
// The lock is retaken in plain code, after `work` has finished or its
// exception has been caught, never in a destructor: while the interpreter
// shuts down, retaking the lock ends the calling thread by a forced unwind
// (abi::__forced_unwind). That unwind must meet no exception already in
// flight and no noexcept frame on its way out through the method's entry
// point, so every frame from here up to the entry lets it pass (frame.h).
// No mutex is held here: `work` has released its own. So no poisoning guard
// ever meets a forced unwind (which would not poison, as it is no exception
// in flight), and a thread ended this way leaves no mutex locked.
//
// no_sanitize("null") and noinline: as in the call frame's guard, the forced
// unwind's handler binds a null reference and only rethrows it.
template <class F>
__attribute__((noinline, no_sanitize("null"))) std::invoke_result_t<F> without_gil(F&& work) {
    using R = std::invoke_result_t<F>;
    std::exception_ptr failure;
    std::optional<std::conditional_t<std::is_void_v<R>, std::monostate, R>> result;
    PyThreadState* state = PyEval_SaveThread();
    try {
        if constexpr (std::is_void_v<R>) {
            std::forward<F>(work)();
            result.emplace();
        } else {
            result.emplace(std::forward<F>(work)());
        }
    } catch (abi::__forced_unwind&) {
        throw;  // the thread is being ended; it leaves without the lock
    } catch (...) {
        failure = std::current_exception();
    }
    PyEval_RestoreThread(state);
    if (failure) std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<R>) return std::move(*result);
}

}  // namespace tallo::python
