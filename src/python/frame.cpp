#include "python/frame.h"

#include <exception>
#include <new>
#include <vector>

#include "base/panic.h"
#include "channels/messages.h"
#include "python/messages.h"

namespace tallo::python::detail {

namespace {

std::string label_of(const MethodName& name) { return messages::function_label(name.class_name, name.method); }

// Throws the unexpected-keyword TypeError for a keyword `name` (borrowed str)
// without a UTF-8 form, with the UnicodeEncodeError pending. Such a name (a
// lone surrogate) matches no parameter; the message shows it escaped as
// "\ud800", since the text cannot carry the code point itself.
[[noreturn]] void unencodable_keyword(const MethodName& method, PyObject* name) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw_error();
    PyErr_Clear();
    Ref escaped = Ref::steal(checked(PyUnicode_AsEncodedString(name, "utf-8", "backslashreplace")));
    std::string_view keyword(PyBytes_AS_STRING(escaped.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(escaped.get())));
    raise(PyExc_TypeError, messages::unexpected_keyword(label_of(method), keyword));
}

// Puts the keyword `name` (borrowed str) with `value` into its slot.
void place_keyword(const MethodName& method, std::span<const std::string_view> parameters, PyObject* name,
                   PyObject* value, std::span<PyObject*> slots) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
    if (!utf8) unencodable_keyword(method, name);
    std::string_view keyword(utf8, static_cast<std::size_t>(size));
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        if (parameters[i] != keyword) continue;
        if (slots[i]) raise(PyExc_TypeError, messages::multiple_values(label_of(method), keyword));
        slots[i] = value;
        return;
    }
    raise(PyExc_TypeError, messages::unexpected_keyword(label_of(method), keyword));
}

}  // namespace

void match(const MethodName& name, std::span<const std::string_view> parameters, std::size_t required,
           const Arguments& arguments, std::span<PyObject*> slots) {
    if (arguments.count > parameters.size()) {
        raise(PyExc_TypeError,
              messages::too_many_positional(label_of(name), required, parameters.size(), arguments.count));
    }
    for (std::size_t i = 0; i < arguments.count; ++i) slots[i] = arguments.positional[i];

    if (arguments.kwnames) {
        for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(arguments.kwnames); ++k) {
            place_keyword(name, parameters, PyTuple_GET_ITEM(arguments.kwnames, k),
                          arguments.positional[arguments.count + static_cast<std::size_t>(k)], slots);
        }
    }
    if (arguments.kwargs) {
        PyObject* key = nullptr;    // borrowed: valid while kwargs lives
        PyObject* value = nullptr;  // borrowed: valid while kwargs lives
        Py_ssize_t position = 0;
        while (PyDict_Next(arguments.kwargs, &position, &key, &value)) place_keyword(name, parameters, key, value, slots);
    }

    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < required; ++i) {
        if (!slots[i]) missing.push_back(parameters[i]);
    }
    if (!missing.empty()) raise(PyExc_TypeError, messages::missing_positional(label_of(name), missing));
}

void name_type_error(std::string_view parameter) noexcept {
    Ref first;
    {
        PendingError pending;
        if (pending.type() != PyExc_TypeError) {
            pending.restore();
            return;
        }
        pending.normalize();
        first = Ref::steal(pending.take_value());
    }
    Ref message = Ref::steal(first ? PyObject_Str(first.get()) : nullptr);
    const char* text = message ? PyUnicode_AsUTF8(message.get()) : nullptr;
    if (!text) return;  // the interpreter's error from the steps above stays pending
    try {
        set_error(PyExc_TypeError, messages::argument_error(parameter, text));
    } catch (...) {
        PyErr_NoMemory();
        return;
    }
    if (PyObject* cause = PyException_GetCause(first.get())) {  // returns a new reference
        PendingError pending;
        pending.normalize();
        PyException_SetCause(pending.value(), cause);  // steals `cause`
        pending.restore();
    }
}

void not_an_instance(PyObject* self, std::string_view class_name) {
    raise(PyExc_TypeError, messages::cannot_cast(type_name(self), class_name));
}

PyObject* fail(const MethodName& name) noexcept {
    auto panic = [&](std::string_view message) noexcept {
        try {
            report_stop(label_of(name), message);
        } catch (...) {
            // The report is lost; the exception below still reaches the host.
        }
        set_panic(message);
    };
    try {
        throw;
    } catch (const PyError&) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, messages::no_exception_set().data());
    } catch (const Panic& stop) {
        panic(stop.message());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        panic(error.what());
    } catch (...) {
        panic(messages::unknown_exception());
    }
    return nullptr;
}

}  // namespace tallo::python::detail
