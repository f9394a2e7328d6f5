// The module `tallo`: its import entry and the registration of its classes.
//
// The module object is made once per process, by the first import, and kept:
// later imports (also after it was removed from `sys.modules`) return the same
// object with the same classes. Only the interpreter that imported it first may
// import it; a sub-interpreter gets an ImportError. Nothing else runs during
// the import: no thread, no regular expression, no worker pool.
#include <Python.h>

#include <cstdint>
#include <utility>

#include "python/classes.h"
#include "python/error.h"
#include "python/messages.h"
#include "python/ref.h"

namespace tallo::python {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "tallo",
    "",  // the module has an empty docstring
    0,   // no per-module state, so the interpreter calls the entry on every import
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

// returns a new reference: the module with its eight classes, in order.
Ref make_module() {
    Ref module = Ref::steal(checked(PyModule_Create(&module_definition)));
    using Maker = Ref (*)();
    static constexpr std::pair<const char*, Maker> classes[] = {
        {"Tallo", make_tallo_class},
        {"ReactiveCircuit", make_reactive_circuit_class},
        {"SharedVector", make_shared_vector_class},
        {"ProbabilityWriter", make_probability_writer_class},
        {"DensityWriter", make_density_writer_class},
        {"NumberWriter", make_number_writer_class},
        {"BooleanWriter", make_boolean_writer_class},
        {"CategoricalWriter", make_categorical_writer_class},
    };
    for (const auto& [name, make] : classes) {
        Ref type = make();
        if (PyModule_AddObjectRef(module.get(), name, type.get()) < 0) throw_error();
    }
    return module;
}

// returns a new reference: the module of this process, made at the first call.
PyObject* import_module() noexcept {
    static std::int64_t first_interpreter = -1;
    static PyObject* module = nullptr;  // owned for the rest of the process

    std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter < 0) return nullptr;
    if (first_interpreter < 0) first_interpreter = interpreter;
    if (interpreter != first_interpreter) {
        set_error(PyExc_ImportError, messages::no_subinterpreters());
        return nullptr;
    }
    if (!module) {
        try {
            module = make_module().release();
        } catch (const PyError&) {
            return nullptr;
        } catch (...) {
            PyErr_NoMemory();
            return nullptr;
        }
    }
    return Ref::borrow(module).release();
}

}  // namespace
}  // namespace tallo::python

PyMODINIT_FUNC PyInit_tallo() { return tallo::python::import_module(); }
