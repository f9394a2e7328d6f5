// The class `BooleanWriter`.
#include <Python.h>

#include <string_view>

#include "python/classes.h"

namespace tallo::python {

struct PyBooleanWriter {
    static constexpr std::string_view name = "BooleanWriter";
};

namespace {

constexpr const char* class_doc =
    "Maps a Python bool to a probability: `True` → 1.0, `False` → 0.0.";

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(class_doc)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PyBooleanWriter>)},
    {0, nullptr},
};

}  // namespace

Ref make_boolean_writer_class() { return make_class<PyBooleanWriter>(slots); }

}  // namespace tallo::python
