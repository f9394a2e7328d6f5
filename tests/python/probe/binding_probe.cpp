// binding_probe: a test-only module whose class `Probe` runs every argument
// converter and the stop path through the call frame, so the tests can check
// conversions and argument texts independently of the methods that use them.
// Each converter method returns what it converted, as a Python object.
// `Probe.holder(value)` makes an object whose instance methods run through the
// method body (method.h), to show where the interpreter lock is held and how
// each kind of returned value becomes the result.
// `fail_next_allocation` lets a test see how a method meets exhausted memory.
#include <Python.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/panic.h"
#include "python/classes.h"
#include "python/convert.h"
#include "python/frame.h"
#include "python/method.h"
#include "python/results.h"

namespace tallo::python {

struct Probe {
    static constexpr std::string_view name = "Probe";
    std::uint32_t handle = 0;  // what a released work gets a copy of
};

namespace {

Ref to_py(bool value) { return Ref::borrow(value ? Py_True : Py_False); }

template <class T>
Ref to_py(const std::optional<T>& value) {
    return value ? python::to_py(*value) : none();
}

Ref to_py(const std::vector<std::vector<std::uint32_t>>& rows) { return python::to_py(rows); }
using python::to_py;

// One static method `name(value)` that converts with C and returns the result.
template <class C, const std::string_view& method>
PyObject* echo(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature<C> signature{{Probe::name, method}, {"value"}};
    return call_static(signature, args, nargs, kwnames, [](typename C::type value) { return to_py(value); });
}

constexpr std::string_view text_name = "text", uint32_name = "uint32", flag_name = "flag", float_name = "float",
                           optional_float_name = "optional_float", optional_text_name = "optional_text",
                           text_float_map_name = "text_float_map", float_list_name = "float_list",
                           float_rows_name = "float_rows", index_rows_name = "index_rows",
                           optional_texts_name = "optional_texts";

constexpr Signature<arg::Text, arg::Text, arg::Text> three_signature{{Probe::name, "three"},
                                                                     {"first", "second", "third"}};

PyObject* three(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_static(three_signature, args, nargs, kwnames,
                       [](std::string first, std::string second, std::string third) {
                           return to_py(std::vector<std::string>{first, second, third});
                       });
}

constexpr Signature<arg::UInt32, arg::Default<arg::UInt32, 7u>, arg::Default<arg::Flag, false>,
                    arg::NoneByDefault<arg::OptionalText>>
    defaults_signature{{Probe::name, "defaults"}, {"first", "second", "third", "fourth"}};

PyObject* defaults(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_static(defaults_signature, args, nargs, kwnames,
                       [](std::uint32_t first, std::uint32_t second, bool third, std::optional<std::string> fourth) {
                           Ref a = to_py(first), b = to_py(second), c = to_py(third), d = to_py(fourth);
                           return Ref::steal(checked(PyTuple_Pack(4, a.get(), b.get(), c.get(), d.get())));
                       });
}

constexpr Signature<arg::Text> stop_signature{{Probe::name, "stop"}, {"message"}};

PyObject* stop_with(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_static(stop_signature, args, nargs, kwnames, [](std::string message) -> Ref { stop(message); });
}

constexpr Signature<arg::UInt32> holder_signature{{Probe::name, "holder"}, {"value"}};

PyObject* holder(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_static(holder_signature, args, nargs, kwnames,
                       [](std::uint32_t value) { return new_instance(Probe{value}); });
}

// 1 when the calling thread holds the interpreter lock, else 0: whether it has
// a current thread state, which releasing the lock takes away. Not
// PyGILState_Check, which answers 1 for good once the process has made a
// sub-interpreter (the module's tests do).
std::uint32_t lock_held() {
#if PY_VERSION_HEX >= 0x030D0000
    return PyThreadState_GetUnchecked() != nullptr ? 1 : 0;
#else
    return _PyThreadState_UncheckedGet() != nullptr ? 1 : 0;
#endif
}

constexpr auto released_lock_signature = documented<>({Probe::name, "released_lock"}, "released_lock($self)");
constexpr PyCFunction released_lock =
    released<&Probe::handle, released_lock_signature, Raises::nothing>([](std::uint32_t) { return lock_held(); });

constexpr auto held_lock_signature = documented<>({Probe::name, "held_lock"}, "held_lock($self)");
constexpr PyCFunction held_lock = held<Probe, held_lock_signature, Raises::nothing>([](Probe&) { return lock_held(); });

constexpr auto nothing_signature = documented<>({Probe::name, "nothing"}, "nothing($self)");
constexpr PyCFunction nothing = released<&Probe::handle, nothing_signature, Raises::nothing>([](std::uint32_t) {});

// `refusal` empty: no error; else the error with that message.
constexpr auto refused_signature = documented<arg::Text>({Probe::name, "refused"}, "refused($self, refusal)");
constexpr FastMethod refused =
    released<&Probe::handle, refused_signature, Raises::RuntimeError>([](std::uint32_t, const std::string& refusal) {
        return refusal.empty() ? std::nullopt : std::optional<Error>(Error{refusal});
    });

// `refusal` empty: the handle; else the error with that message.
constexpr auto outcome_signature = documented<arg::Text>({Probe::name, "outcome"}, "outcome($self, refusal)");
constexpr FastMethod outcome = released<&Probe::handle, outcome_signature, Raises::RuntimeError>(
    [](std::uint32_t handle, const std::string& refusal) {
        return refusal.empty() ? Result<std::uint32_t>(handle) : Result<std::uint32_t>(Error{refusal});
    });

// As `refused` and `outcome`, with the other kinds of error.
constexpr auto refused_value_signature =
    documented<arg::Text>({Probe::name, "refused_value"}, "refused_value($self, refusal)");
constexpr FastMethod refused_value = released<&Probe::handle, refused_value_signature, Raises::ValueError>(
    [](std::uint32_t, const std::string& refusal) {
        return refusal.empty() ? std::nullopt : std::optional<ValueError>(ValueError{refusal});
    });

constexpr auto io_outcome_signature = documented<arg::Text>({Probe::name, "io_outcome"}, "io_outcome($self, refusal)");
constexpr FastMethod io_outcome = held<Probe, io_outcome_signature, Raises::OSError>(
    [](Probe& object, const std::string& refusal) {
        using Outcome = Result<std::uint32_t, IoError>;
        return refusal.empty() ? Outcome(object.handle) : Outcome(IoError{refusal});
    });

// A new object over the same handle, made by the result step.
constexpr auto copy_signature = documented<>({Probe::name, "copy"}, "copy($self)");
constexpr PyCFunction copy =
    released<&Probe::handle, copy_signature, Raises::nothing>([](std::uint32_t handle) { return Probe{handle}; });

constexpr auto handle_signature = documented<>({Probe::name, "handle"}, "handle($self)");
constexpr PyCFunction handle =
    released<&Probe::handle, handle_signature, Raises::nothing>([](std::uint32_t handle) { return handle; });

// `fail_next_allocation(call)`: calls `call()` with the interpreter's
// allocators wrapped so that the first allocation from its raw-free domains
// (object and memory) fails, as with exhausted memory; every later one
// succeeds. Returns what the call returns.
struct Allocators {
    PyMemAllocatorEx memory{}, object{};
};
Allocators original;
bool armed = false;

template <PyMemAllocatorEx Allocators::*domain>
void* failing_malloc(void*, std::size_t size) {
    if (std::exchange(armed, false)) return nullptr;
    const PyMemAllocatorEx& next = original.*domain;
    return next.malloc(next.ctx, size);
}

template <PyMemAllocatorEx Allocators::*domain>
void* failing_calloc(void*, std::size_t count, std::size_t size) {
    if (std::exchange(armed, false)) return nullptr;
    const PyMemAllocatorEx& next = original.*domain;
    return next.calloc(next.ctx, count, size);
}

template <PyMemAllocatorEx Allocators::*domain>
void* failing_realloc(void*, void* pointer, std::size_t size) {
    if (std::exchange(armed, false)) return nullptr;
    const PyMemAllocatorEx& next = original.*domain;
    return next.realloc(next.ctx, pointer, size);
}

template <PyMemAllocatorEx Allocators::*domain>
void passing_free(void*, void* pointer) {
    const PyMemAllocatorEx& next = original.*domain;
    next.free(next.ctx, pointer);
}

template <PyMemAllocatorEx Allocators::*domain>
PyMemAllocatorEx failing() {
    return {nullptr, failing_malloc<domain>, failing_calloc<domain>, failing_realloc<domain>, passing_free<domain>};
}

PyObject* fail_next_allocation(PyObject*, PyObject* call) {
    PyMem_GetAllocator(PYMEM_DOMAIN_MEM, &original.memory);
    PyMem_GetAllocator(PYMEM_DOMAIN_OBJ, &original.object);
    PyMemAllocatorEx memory = failing<&Allocators::memory>(), object = failing<&Allocators::object>();
    PyMem_SetAllocator(PYMEM_DOMAIN_MEM, &memory);
    PyMem_SetAllocator(PYMEM_DOMAIN_OBJ, &object);
    armed = true;
    PyObject* result = PyObject_CallNoArgs(call);  // returns a new reference, or null
    armed = false;
    PyMem_SetAllocator(PYMEM_DOMAIN_MEM, &original.memory);
    PyMem_SetAllocator(PYMEM_DOMAIN_OBJ, &original.object);
    return result;
}

constexpr int static_method = METH_FASTCALL | METH_KEYWORDS | METH_STATIC;

#define TALLO_PROBE_METHOD(name, function) {name, fastcall(function), static_method, nullptr}

PyMethodDef methods[] = {
    TALLO_PROBE_METHOD("text", (echo<arg::Text, text_name>)),
    TALLO_PROBE_METHOD("uint32", (echo<arg::UInt32, uint32_name>)),
    TALLO_PROBE_METHOD("flag", (echo<arg::Flag, flag_name>)),
    TALLO_PROBE_METHOD("float", (echo<arg::Float, float_name>)),
    TALLO_PROBE_METHOD("optional_float", (echo<arg::OptionalFloat, optional_float_name>)),
    TALLO_PROBE_METHOD("optional_text", (echo<arg::OptionalText, optional_text_name>)),
    TALLO_PROBE_METHOD("text_float_map", (echo<arg::TextFloatMap, text_float_map_name>)),
    TALLO_PROBE_METHOD("float_list", (echo<arg::FloatList, float_list_name>)),
    TALLO_PROBE_METHOD("float_rows", (echo<arg::FloatRows, float_rows_name>)),
    TALLO_PROBE_METHOD("index_rows", (echo<arg::IndexRows, index_rows_name>)),
    TALLO_PROBE_METHOD("optional_texts", (echo<arg::OptionalTexts, optional_texts_name>)),
    TALLO_PROBE_METHOD("three", three),
    TALLO_PROBE_METHOD("defaults", defaults),
    TALLO_PROBE_METHOD("stop", stop_with),
    {"fail_next_allocation", fail_next_allocation, METH_O | METH_STATIC, nullptr},
    TALLO_PROBE_METHOD("holder", holder),
    {"released_lock", released_lock, METH_NOARGS, nullptr},
    {"held_lock", held_lock, METH_NOARGS, nullptr},
    {"nothing", nothing, METH_NOARGS, nullptr},
    {"refused", fastcall(refused), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"outcome", fastcall(outcome), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"refused_value", fastcall(refused_value), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"io_outcome", fastcall(io_outcome), METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"copy", copy, METH_NOARGS, nullptr},
    {"handle", handle, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef probe_module = {PyModuleDef_HEAD_INIT, "binding_probe", "", -1, nullptr, nullptr, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace tallo::python

PyMODINIT_FUNC PyInit_binding_probe() {
    using namespace tallo::python;
    try {
        Ref module = Ref::steal(checked(PyModule_Create(&probe_module)));
        Ref probe = make_class<Probe>("", refuse_new, methods);
        if (PyModule_AddObjectRef(module.get(), "Probe", probe.get()) < 0) throw_error();
        return module.release();
    } catch (...) {
        if (!PyErr_Occurred()) PyErr_NoMemory();
        return nullptr;
    }
}
