#pragma once

// The body of an instance method, written once: a method is one declaration,
// its work and, where the default does not fit, its result step.
//
// After the call frame (frame.h) has matched and converted the arguments, an
// instance method does what every one of them does:
//  - `released<&T::handle, signature, raises>(work)`: takes a new holder of
//    the object's shared handle, releases the interpreter lock, runs
//    work(const handle&, values...), retakes the lock and builds the result.
//    For every method that takes a mutex or runs long work.
//  - `held<T, signature, raises>(work)`: runs work(T& object, values...) with
//    the interpreter lock kept, then builds the result. For the methods that
//    take no mutex (a writer's `write`, ...) or only briefly, with the lock
//    held.
// Both return the entry point for the method table: a `FastMethod` for a
// signature with parameters, a METH_NOARGS `PyCFunction` for an empty one
// (`documented<>`, whose docstring is "name($self)\n--\n\n...").
//
//   constexpr FastMethod read = released<&PyTallo::model, read_signature, Raises::nothing>(
//       [](const SharedModel& model, std::uint32_t leaf, const std::string& channel, bool invert) {
//           model.read(leaf, channel, invert);
//       });
//
// Guarantees:
// - A released work touches no Python object: it gets the copied handle and
//   the converted values, and returns a plain C++ value. The extra holder of
//   the handle lives until the work is done; the object's own keeps the
//   shared object alive until the result is built.
// - `raises`, declared beside the signature, is the one exception the method
//   raises for the error its work returns, and it must be the exception of
//   that error's kind (base/result.h), which the work's return type carries:
//     Error      (std::optional<Error>, Result<T>)                  -> Raises::RuntimeError
//     ValueError (std::optional<ValueError>, Result<T, ValueError>) -> Raises::ValueError
//     IoError    (std::optional<IoError>, Result<T, IoError>)       -> Raises::OSError
//   A work that returns no error declares `Raises::nothing`. Any other
//   declaration does not compile, so a method's table entry states what it
//   raises and cannot state it wrongly. The exception carries the error's
//   message.
// - The result is built with the interpreter lock held and no mutex held,
//   from what the work returned, by the result step: `ResultOf` unless the
//   declaration names another (a second argument, which gets that value):
//     nothing, or an optional error that holds none -> None
//     a Result that holds a value                   -> its value, as below
//     a binding type                                -> a new instance of its class
//     anything else                                 -> `to_py` (results.h)
// - Work and result step are captureless lambdas: the entry point is a plain
//   function that the method table holds, so it makes them from their types.
// - Failures of the interpreter and stops travel as error.h says; they are
//   not host errors and do not follow `raises`.
//
// The methods of another shape use the call frame directly: `compile` (its
// work is interruptible), the constructor and the static methods (no object).
#include <Python.h>

#include <concepts>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "base/result.h"
#include "python/classes.h"
#include "python/error.h"
#include "python/frame.h"
#include "python/ref.h"
#include "python/results.h"

namespace tallo::python {

// The exception a method raises for the error its work returns (see above);
// each names the Python class it stands for.
enum class Raises { nothing, RuntimeError, ValueError, OSError };

namespace detail {

// The exception of each kind of error, the one place that pairs them.
constexpr Raises raises_for(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::runtime:
            return Raises::RuntimeError;
        case ErrorKind::value:
            return Raises::ValueError;
        case ErrorKind::io:
            return Raises::OSError;
    }
    return Raises::nothing;  // not reached: the switch names every kind
}

// What a work returning R raises for the error it returns: Raises::nothing
// when R carries no error.
template <class R>
inline constexpr Raises raises_of = Raises::nothing;
template <class T, ErrorKind K>
inline constexpr Raises raises_of<Result<T, ErrorOf<K>>> = raises_for(K);
template <ErrorKind K>
inline constexpr Raises raises_of<std::optional<ErrorOf<K>>> = raises_for(K);

template <class R>
inline constexpr bool is_result = false;
template <class T, class E>
inline constexpr bool is_result<Result<T, E>> = true;

template <class R>
inline constexpr bool is_optional_error = false;
template <ErrorKind K>
inline constexpr bool is_optional_error<std::optional<ErrorOf<K>>> = true;

// Whether a work returning R can return an error.
template <class R>
inline constexpr bool can_fail = raises_of<R> != Raises::nothing;

// borrowed: the class of `raises`, one of the interpreter's own
template <Raises raises>
PyObject* exception_class() noexcept {
    static_assert(raises != Raises::nothing);
    if constexpr (raises == Raises::RuntimeError) {
        return PyExc_RuntimeError;
    } else if constexpr (raises == Raises::ValueError) {
        return PyExc_ValueError;
    } else {
        return PyExc_OSError;
    }
}

// A binding type (classes.h): its objects are instances of its class.
template <class T>
concept Binding = std::same_as<decltype(T::name), const std::string_view>;

}  // namespace detail

// The value of `made`, or raises its error's message as the exception of the
// error's kind; for the methods that use the call frame directly.
template <class T, class E>
T unwrapped(Result<T, E>&& made) {
    if (!made) raise(detail::exception_class<detail::raises_of<Result<T, E>>>(), made.error().message);
    return std::move(made).value();
}

// The default result step (see above), for a value without an error.
// returns a new reference
struct ResultOf {
    template <class R>
    Ref operator()(R&& value) const {
        using V = std::remove_cvref_t<R>;
        static_assert(!detail::can_fail<V>, "the body raises a returned error before the result step");
        if constexpr (detail::Binding<V>) {
            return new_instance(V(std::forward<R>(value)));
        } else {
            return to_py(value);
        }
    }
};

namespace detail {

template <class F>
concept Stateless = std::is_empty_v<F> && std::is_default_constructible_v<F>;

template <class Member>
struct MemberOf;
template <class T, class Handle>
struct MemberOf<Handle T::*> {
    using Object = T;
};

// The work of a released method: run on a new holder of the object's handle,
// with the interpreter lock released.
template <auto field, class Work>
struct Released {
    template <class T, class... V>
    decltype(auto) operator()(T& object, V&&... values) const {
        const auto handle = object.*field;  // the extra holder, for the length of the work
        return without_gil([&]() -> decltype(auto) { return Work{}(handle, std::forward<V>(values)...); });
    }
};

// The body of every method declared here, after the call frame has checked
// `object` and converted the values: the work, the declared exception for the
// error it returned, then the result step (with the interpreter lock held).
// A check that every method of an object makes before its work belongs here.
template <Raises raises, class Work, class Build>
struct Body {
    template <class T, class... V>
    Ref operator()(T& object, V&&... values) const {
        using R = std::remove_cvref_t<decltype(Work{}(object, std::forward<V>(values)...))>;
        static_assert(raises == raises_of<R>,
                      "a method declares the exception of the kind of error its work returns "
                      "(Error: RuntimeError, ValueError: ValueError, IoError: OSError), "
                      "and Raises::nothing when its work returns none");
        if constexpr (std::is_void_v<R>) {
            static_assert(std::is_same_v<Build, ResultOf>, "a work that returns nothing has None as its result");
            Work{}(object, std::forward<V>(values)...);
            return none();
        } else if constexpr (is_optional_error<R>) {
            static_assert(std::is_same_v<Build, ResultOf>, "a work that returns only an error has None as its result");
            if (const auto error = Work{}(object, std::forward<V>(values)...)) {
                raise(exception_class<raises>(), error->message);
            }
            return none();
        } else if constexpr (is_result<R>) {
            auto made = Work{}(object, std::forward<V>(values)...);
            if (!made) raise(exception_class<raises>(), made.error().message);
            return Build{}(std::move(made).value());
        } else {
            return Build{}(Work{}(object, std::forward<V>(values)...));
        }
    }
};

template <class T, const auto& signature, class Run>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<T>(signature, self, args, nargs, kwnames, Run{});
}

template <class T, const auto& signature, class Run>
PyObject* no_args_entry(PyObject* self, PyObject*) {
    return call_no_args<T>(signature.name, self, Run{});
}

template <class T, const auto& signature, Raises raises, class Work, class Build>
constexpr auto entry_of() {
    static_assert(Stateless<Work> && Stateless<Build>, "the work and the result step are captureless lambdas");
    if constexpr (signature.parameters.empty()) {
        return PyCFunction{&no_args_entry<T, signature, Body<raises, Work, Build>>};
    } else {
        return FastMethod{&method_entry<T, signature, Body<raises, Work, Build>>};
    }
}

}  // namespace detail

// The entry point of a method of the class holding `field` (a shared handle)
// whose work runs with the interpreter lock released.
template <auto field, const auto& signature, Raises raises, class Work, class Build = ResultOf>
constexpr auto released(Work, Build = {}) {
    using T = typename detail::MemberOf<decltype(field)>::Object;
    static_assert(detail::Stateless<Work>, "the work is a captureless lambda");
    return detail::entry_of<T, signature, raises, detail::Released<field, Work>, Build>();
}

// The entry point of a method of binding type T whose work keeps the
// interpreter lock.
template <class T, const auto& signature, Raises raises, class Work, class Build = ResultOf>
constexpr auto held(Work, Build = {}) {
    return detail::entry_of<T, signature, raises, Work, Build>();
}

}  // namespace tallo::python
