// The module `tallo`: its import entry and the registration of its classes.
//
// The module object is made once per process, by the main interpreter's first
// import, and kept: later imports (also after it was removed from
// `sys.modules`) return the same object with the same classes. Only the main
// interpreter may import it: a sub-interpreter gets an ImportError whenever it
// asks, before the main interpreter's import or after, and its refusal keeps
// nothing from the main interpreter. Nothing else runs during
// the import: no thread, no regular expression, no worker pool. The import
// registers the process's teardown (base/teardown.h) as an exit function of
// the interpreter: those run before the interpreter ends the threads that
// still run and long before the C library's exit handlers destroy the
// solver's and the worker pool's static state, so a compile still running on
// a daemon thread is stopped and waited for while everything it uses exists;
// one that cannot stop in time (a long grounding) ends the process at the
// C library's exit, before that state goes (base/teardown.h).
#include <Python.h>

#include <utility>

#include "base/teardown.h"
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

// The interpreter's exit function: begins the teardown without the lock, so
// that the threads whose work it waits for can take it meanwhile.
PyObject* begin_teardown(PyObject*, PyObject*) noexcept {
    PyThreadState* state = PyEval_SaveThread();
    teardown::begin();
    PyEval_RestoreThread(state);
    Py_RETURN_NONE;
}

PyMethodDef begin_teardown_method = {"_teardown", begin_teardown, METH_NOARGS, nullptr};

void register_teardown() {
    Ref atexit = Ref::steal(checked(PyImport_ImportModule("atexit")));
    Ref function = Ref::steal(checked(PyCFunction_New(&begin_teardown_method, nullptr)));
    Ref registered = Ref::steal(checked(PyObject_CallMethod(atexit.get(), "register", "O", function.get())));
}

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

// returns a new reference: the module of this process, made at the main
// interpreter's first call.
PyObject* import_module() noexcept {
    static PyObject* module = nullptr;  // owned for the rest of the process

    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        set_error(PyExc_ImportError, messages::no_subinterpreters());
        return nullptr;
    }
    if (!module) {
        try {
            Ref made = make_module();
            register_teardown();
            module = made.release();
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
