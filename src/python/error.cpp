#include "python/error.h"

#include "python/messages.h"
#include "python/ref.h"

namespace tallo::python {

void throw_error() {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, messages::no_exception_set().data());
    throw PyError{};
}

void set_error(PyObject* type, std::string_view message) noexcept {
    Ref text = Ref::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(type, text.get());
}

void raise(PyObject* type, std::string_view message) {
    set_error(type, message);
    throw_error();
}

PyObject* panic_exception() {
    // borrowed by every caller: this one reference is never released
    static PyObject* type = nullptr;
    if (!type) {
        // A stop may come while the interpreter's own error is pending (a
        // result object it could not make). The class is made with that error
        // set aside, so that this stop too reaches the host as PanicException.
        PendingError pending;
        type = PyErr_NewException(messages::panic_exception_name, PyExc_BaseException, nullptr);
        if (type) pending.restore();  // else the class's own failure is the one to report
    }
    return type;
}

void set_panic(std::string_view message) noexcept {
    if (PyObject* type = panic_exception()) set_error(type, message);
}

std::string type_name(PyTypeObject* type) {
    Ref name = Ref::steal(checked(PyType_GetName(type)));
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), &size);
    if (!utf8) throw_error();
    return std::string(utf8, static_cast<std::size_t>(size));
}

}  // namespace tallo::python
