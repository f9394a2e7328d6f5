// The class `ReactiveCircuit`.
#include <Python.h>

#include <string_view>

#include "python/classes.h"

namespace tallo::python {

struct PyReactiveCircuit {
    static constexpr std::string_view name = "ReactiveCircuit";
};

namespace {

constexpr const char* class_doc =
    "ReactiveCircuit(value_size)\n--\n\n";

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(class_doc)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PyReactiveCircuit>)},
    {0, nullptr},
};

}  // namespace

Ref make_reactive_circuit_class() { return make_class<PyReactiveCircuit>(slots); }

}  // namespace tallo::python
