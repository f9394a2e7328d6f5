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

#include <utility>

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

// Releases the interpreter lock for its lifetime and retakes it when it ends,
// also when an exception leaves the scope. While it lives, nothing may touch a
// Python object.
class GilReleased {
public:
    GilReleased() noexcept : state_(PyEval_SaveThread()) {}
    ~GilReleased() { PyEval_RestoreThread(state_); }
    GilReleased(const GilReleased&) = delete;
    GilReleased& operator=(const GilReleased&) = delete;

private:
    PyThreadState* state_;
};

// Runs `work` with the interpreter lock released and returns its result; the
// lock is held again when this returns or throws.
template <class F>
decltype(auto) without_gil(F&& work) {
    GilReleased released;
    return std::forward<F>(work)();
}

}  // namespace tallo::python
