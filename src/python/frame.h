#pragma once

// The call frame: the one way every method of the module is entered.
//
// A method's entry point hands its arguments, its signature and its body to
// one of the `call_*` functions below. They run, in this order:
//  1. a guard around everything else: nothing unwinds into the interpreter;
//     a stop becomes PanicException (with a report on standard error), an
//     interpreter error is returned as it stands. The one unwind that passes
//     is the forced one that ends a thread during the interpreter's shutdown,
//     so these functions and every method's entry point are not noexcept;
//  2. argument matching, positional first, then keywords, with the fixed
//     TypeError texts under the label "{class}.{method}()";
//  3. for instance methods, the check that `self` is an instance of the class;
//  4. conversion in signature order; a TypeError (exactly that type) is
//     re-raised as "argument '{name}': {message}" with the first error's
//     cause, any other failure unchanged; what was converted is released;
//  5. the body, with the converted values (and, for instance methods, the
//     object's field, refused when the object was made before a fork:
//     classes.h, `live_value_of`). The body takes what must outlive
//     the call, releases the interpreter lock around its work
//     (`without_gil`), and builds its result after the lock is back.
//     For an instance method, method.h writes that body once: the method
//     declares only its work and, where it differs, its result step.
//
// Parameter lists are fixed at compile time: `Signature<C...>` pairs each
// converter (convert.h) with its parameter name. Trailing parameters whose
// converter has `absent()` may be left out. A method's parameter names are
// written once, in the text signature that opens its docstring
// ("name($self, a, b=1)\n--\n\n", which the interpreter shows as the
// method's signature): `documented` reads them from there.
#include <Python.h>
#include <cxxabi.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "python/classes.h"
#include "python/error.h"
#include "python/ref.h"

namespace tallo::python {

// The entry of a method with parameters (METH_FASTCALL | METH_KEYWORDS).
using FastMethod = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// The entry as a method table holds it; the interpreter calls it back with
// the signature its flags name.
inline PyCFunction fastcall(FastMethod method) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method));
}

struct MethodName {
    std::string_view class_name;
    std::string_view method;  // "__new__" for the constructor
};

template <class... C>
struct Signature {
    MethodName name;
    std::array<std::string_view, sizeof...(C)> parameters;
    const char* doc = nullptr;  // the docstring the names were read from, if any
};

namespace detail {

// The `count` parameter names of the text signature that opens `doc`, without
// `$self` and defaults. A docstring that does not begin with the method's
// name (the class's for "__new__") and "(", or that names another number of
// parameters, is not a constant: the build fails.
template <std::size_t count>
consteval std::array<std::string_view, count> parameters_of(const MethodName& name, std::string_view doc) {
    const std::string_view shown = name.method == "__new__" ? name.class_name : name.method;
    if (!doc.starts_with(shown) || doc.substr(shown.size(), 1) != "(") throw "the docstring names another method";
    const std::size_t end = doc.find(')');
    if (end == std::string_view::npos) throw "the docstring has no text signature";
    std::array<std::string_view, count> names{};
    std::size_t found = 0;
    for (std::size_t at = shown.size() + 1; at < end;) {
        while (doc[at] == ' ') ++at;
        const std::size_t next = std::min(doc.find(',', at), end);
        const std::string_view item = doc.substr(at, next - at);
        const std::string_view parameter = item.substr(0, item.find('='));
        if (parameter != "$self") {
            if (found == count) throw "the text signature has more parameters than converters";
            names[found++] = parameter;
        }
        at = next + 1;
    }
    if (found != count) throw "the text signature has fewer parameters than converters";
    return names;
}

}  // namespace detail

// The signature of the method `name` whose docstring `doc` begins with its
// text signature: one converter per parameter named there, in order.
template <class... C>
consteval Signature<C...> documented(MethodName name, const char* doc) {
    return Signature<C...>{name, detail::parameters_of<sizeof...(C)>(name, doc), doc};
}

namespace detail {

template <class C>
concept HasDefault = requires { C::absent(); };

// The arguments of one call: `count` positional values, then the values of
// the keywords named by `kwnames` (vectorcall) or the items of `kwargs`.
struct Arguments {
    PyObject* const* positional = nullptr;  // borrowed: valid for the call
    std::size_t count = 0;
    PyObject* kwnames = nullptr;  // borrowed: a tuple of str, or null
    PyObject* kwargs = nullptr;   // borrowed: a dict, or null
};

// Fills `slots` (borrowed pointers, null where nothing was passed) or throws
// PyError with the matching TypeError.
void match(const MethodName& name, std::span<const std::string_view> parameters, std::size_t required,
           const Arguments& arguments, std::span<PyObject*> slots);

// With a PyError pending: replaces a TypeError by the "argument" one.
void name_type_error(std::string_view parameter) noexcept;

// Throws the TypeError of a `self` that is not an instance of the class.
[[noreturn]] void not_an_instance(PyObject* self, std::string_view class_name);

// Turns the exception in flight into the pending Python exception; returns null.
PyObject* fail(const MethodName& name) noexcept;

template <class C>
typename C::type convert_one(std::string_view parameter, PyObject* value) {
    try {
        if constexpr (HasDefault<C>) {
            if (!value) return C::absent();
        }
        return C::convert(value);
    } catch (const PyError&) {
        name_type_error(parameter);
        throw;
    }
}

template <class... C, std::size_t... I>
std::tuple<typename C::type...> convert_all(const Signature<C...>& signature, std::span<PyObject* const> slots,
                                            std::index_sequence<I...>) {
    // A braced list is evaluated left to right: conversion in signature order.
    return std::tuple<typename C::type...>{convert_one<C>(signature.parameters[I], slots[I])...};
}

template <class... C>
std::tuple<typename C::type...> arguments_of(const Signature<C...>& signature, const Arguments& arguments,
                                             PyObject* self, PyTypeObject* instance_type) {
    constexpr std::size_t required = (std::size_t{0} + ... + (HasDefault<C> ? 0 : 1));
    std::array<PyObject*, sizeof...(C)> slots{};
    match(signature.name, signature.parameters, required, arguments, slots);
    if (instance_type && !PyObject_TypeCheck(self, instance_type)) not_an_instance(self, signature.name.class_name);
    return convert_all(signature, slots, std::index_sequence_for<C...>{});
}

// Not noexcept, nor is any frame between here and the entry point: a thread
// that retakes the interpreter lock while the interpreter shuts down is ended
// by a forced unwind, which must pass through (ref.h, `without_gil`).
//
// no_sanitize("null"): a forced unwind carries no exception object, so the
// reference its handler binds is null; the handler only rethrows it. noinline
// keeps that exemption from being lost in a caller that has the check.
template <class Body>
__attribute__((noinline, no_sanitize("null"))) PyObject* guarded(const MethodName& name, Body&& body) {
    try {
        Ref result = body();
        return result.release();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        return fail(name);
    }
}

}  // namespace detail

// A static method: body(values...) -> Ref.
template <class... C, class Body>
PyObject* call_static(const Signature<C...>& signature, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      Body&& body) {
    return detail::guarded(signature.name, [&] {
        detail::Arguments arguments{args, static_cast<std::size_t>(PyVectorcall_NARGS(nargs)), kwnames, nullptr};
        return std::apply(body, detail::arguments_of(signature, arguments, nullptr, nullptr));
    });
}

// An instance method of binding type T: body(T& object, values...) -> Ref.
template <class T, class... C, class Body>
PyObject* call_method(const Signature<C...>& signature, PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames, Body&& body) {
    return detail::guarded(signature.name, [&] {
        detail::Arguments arguments{args, static_cast<std::size_t>(PyVectorcall_NARGS(nargs)), kwnames, nullptr};
        auto values = detail::arguments_of(signature, arguments, self, Class<T>::type);
        return std::apply([&](auto&&... value) { return body(live_value_of<T>(self), std::move(value)...); },
                          std::move(values));
    });
}

// A method without parameters (the interpreter rejects any argument):
// body(T& object) -> Ref.
template <class T, class Body>
PyObject* call_no_args(const MethodName& name, PyObject* self, Body&& body) {
    return detail::guarded(name, [&] {
        if (!PyObject_TypeCheck(self, Class<T>::type)) detail::not_an_instance(self, name.class_name);
        return body(live_value_of<T>(self));
    });
}

// A constructor (tp_new): body(values...) -> Ref.
template <class... C, class Body>
PyObject* call_new(const Signature<C...>& signature, PyObject* args, PyObject* kwargs, Body&& body) {
    return detail::guarded(signature.name, [&] {
        detail::Arguments arguments{PySequence_Fast_ITEMS(args), static_cast<std::size_t>(PyTuple_GET_SIZE(args)),
                                    nullptr, kwargs};
        return std::apply(body, detail::arguments_of(signature, arguments, nullptr, nullptr));
    });
}

}  // namespace tallo::python
