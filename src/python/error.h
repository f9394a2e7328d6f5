#pragma once

// How failures travel through the binding layer.
//
// - `PyError` is thrown when an interpreter call failed; the interpreter's
//   exception is set and stays set until the method returns it to the caller.
//   It carries nothing, so that no C++ code mistakes it for a stop.
// - A stop (`tallo::Panic`) reaches the host as `PanicException`, a subclass of
//   `BaseException` named "pyo3_runtime.PanicException", created on first use.
// - Everything here needs the interpreter lock.
#include <Python.h>

#include <string>
#include <string_view>
#include <utility>

namespace tallo::python {

struct PyError {};

// Throws `PyError` for the interpreter's pending exception; when none is set,
// sets a SystemError saying so first.
[[noreturn]] void throw_error();

// Sets an exception of `type` (borrowed) with `message` as the pending one.
// When the message cannot be made, the interpreter's error is pending instead.
void set_error(PyObject* type, std::string_view message) noexcept;

// Sets an exception of `type` (borrowed) with `message` and throws `PyError`.
[[noreturn]] void raise(PyObject* type, std::string_view message);

// The interpreter's pending exception, taken out of the way when made
// (PyErr_Fetch), so that none is pending then. `restore` makes it the
// pending one again; else its references are released with it.
class PendingError {
public:
    PendingError() noexcept { PyErr_Fetch(&type_, &value_, &traceback_); }
    PendingError(const PendingError&) = delete;
    PendingError& operator=(const PendingError&) = delete;
    ~PendingError() {
        Py_XDECREF(type_);
        Py_XDECREF(value_);
        Py_XDECREF(traceback_);
    }

    // borrowed: valid while this holds it (null when nothing was pending)
    PyObject* type() const noexcept { return type_; }
    PyObject* value() const noexcept { return value_; }

    // Makes the value an instance of the type (PyErr_NormalizeException).
    void normalize() noexcept { PyErr_NormalizeException(&type_, &value_, &traceback_); }

    // returns a new reference: the value, which this no longer holds
    PyObject* take_value() noexcept { return std::exchange(value_, nullptr); }

    void restore() noexcept {
        PyErr_Restore(std::exchange(type_, nullptr), std::exchange(value_, nullptr),
                      std::exchange(traceback_, nullptr));
    }

private:
    PyObject* type_ = nullptr;
    PyObject* value_ = nullptr;
    PyObject* traceback_ = nullptr;
};

// borrowed: the PanicException class, created on first use; it lives until the
// process ends. Null (with the interpreter's exception set) if it cannot be made.
PyObject* panic_exception();

// Sets PanicException(message) as the pending exception. When even that fails,
// the interpreter's own exception (such as MemoryError) is left pending.
void set_panic(std::string_view message) noexcept;

// The `__name__` of a type, and of an object's type, as messages name them.
std::string type_name(PyTypeObject* type);
inline std::string type_name(PyObject* object) { return type_name(Py_TYPE(object)); }

// Ensures `result` (a new reference from the interpreter) is not null.
inline PyObject* checked(PyObject* result) {
    if (!result) throw_error();
    return result;
}

}  // namespace tallo::python
