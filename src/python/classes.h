#pragma once

// The classes of the module: how a binding type becomes a Python class.
//
// A binding type T is a plain C++ type with `static constexpr std::string_view
// name` (the class name) and the field its objects hold. Its objects are
// `Instance<T>`: the object header followed by one T, constructed when the
// object is made from C++ and destroyed when the interpreter frees it.
//
// An object notes the fork generation it was made in (base/fork.h).
// In a child process forked after that, its field holds locks and threads of
// the parent, which the child does not have: every method refuses it with a
// RuntimeError that says to create models after forking (`live_value_of`),
// and freeing it leaves its field undestroyed, since that would wait for
// those threads and locks.
//
// Type objects are heap types made from a spec with slots, qualified as
// "builtins.{name}". Each is made once per process, at the first import, and
// lives until the process ends (`Class<T>::type` keeps one reference).
#include <Python.h>

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/fork.h"
#include "python/error.h"
#include "python/messages.h"
#include "python/ref.h"

namespace tallo::python {

template <class T>
struct Instance {
    PyObject_HEAD
    std::uint64_t fork_generation;  // the process's when the object was made
    T value;
};

template <class T>
struct Class {
    // borrowed: held for the rest of the process once `make_class<T>` ran
    static inline PyTypeObject* type = nullptr;
};

// The field of `self`, an instance of T's class.
template <class T>
T& value_of(PyObject* self) noexcept {
    return reinterpret_cast<Instance<T>*>(self)->value;
}

// The field of `self`, an instance of T's class made in this process; raises
// the made-before-fork RuntimeError in a process forked after it was made.
template <class T>
T& live_value_of(PyObject* self) {
    auto* instance = reinterpret_cast<Instance<T>*>(self);
    if (instance->fork_generation != fork_generation()) raise(PyExc_RuntimeError, messages::made_before_fork(T::name));
    return instance->value;
}

// returns a new reference: a new object of T's class that holds `value`. When
// the interpreter cannot make it, `value` is released and its error raised.
template <class T>
Ref new_instance(T value) {
    PyTypeObject* type = Class<T>::type;
    Ref object = Ref::steal(checked(type->tp_alloc(type, 0)));
    auto* instance = reinterpret_cast<Instance<T>*>(object.get());
    instance->fork_generation = fork_generation();
    new (&instance->value) T(std::move(value));
    return object;
}

// tp_dealloc: the object is detached from its field before the field is
// dropped, so whatever the field's teardown runs finds no half-freed object.
template <class T>
void dealloc(PyObject* self) noexcept {
    std::optional<T> held;  // dropped last, when this returns
    if (reinterpret_cast<Instance<T>*>(self)->fork_generation == fork_generation()) {
        held.emplace(std::move(value_of<T>(self)));
        value_of<T>(self).~T();
    }
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// tp_new of a class without a constructor.
PyObject* refuse_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept;

namespace detail {
// returns a new reference: the type made from `slots` under `qualified_name`,
// which must live as long as the type does.
Ref make_type(const std::string& qualified_name, int basic_size, PyType_Slot* slots);
std::string qualified_name(std::string_view class_name);
}  // namespace detail

// returns a new reference: T's class, with its docstring, its tp_new
// (`refuse_new` for a class without a constructor) and its method table (both
// static), recorded as `Class<T>::type`. Made once per process.
template <class T>
Ref make_class(const char* doc, newfunc construct, PyMethodDef* methods) {
    static const std::string name = detail::qualified_name(T::name);
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(doc)},
        {Py_tp_new, reinterpret_cast<void*>(construct)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<T>)},
        {Py_tp_methods, methods},
        {0, nullptr},
    };
    Ref type = detail::make_type(name, static_cast<int>(sizeof(Instance<T>)), slots);
    Class<T>::type = reinterpret_cast<PyTypeObject*>(Ref(type).release());
    return type;
}

// The eight classes of the module, in registration order; each returns a new
// reference to its class.
Ref make_tallo_class();
Ref make_reactive_circuit_class();
Ref make_shared_vector_class();
Ref make_probability_writer_class();
Ref make_density_writer_class();
Ref make_number_writer_class();
Ref make_boolean_writer_class();
Ref make_categorical_writer_class();

}  // namespace tallo::python
