// The class `ProbabilityWriter`.
#include <Python.h>

#include <string_view>

#include "python/classes.h"

namespace tallo::python {

struct PyProbabilityWriter {
    static constexpr std::string_view name = "ProbabilityWriter";
};

namespace {

constexpr const char* class_doc =
    "Passes a probability vector straight through to the circuit.";

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(class_doc)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PyProbabilityWriter>)},
    {0, nullptr},
};

}  // namespace

Ref make_probability_writer_class() { return make_class<PyProbabilityWriter>(slots); }

}  // namespace tallo::python
