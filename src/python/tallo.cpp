// The class `Tallo`.
#include <Python.h>

#include <string_view>

#include "python/classes.h"

namespace tallo::python {

struct PyTallo {
    static constexpr std::string_view name = "Tallo";
};

namespace {

constexpr const char* class_doc =
    "A Python wrapper for the high-level `Tallo` language compiler and runtime.";

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(class_doc)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PyTallo>)},
    {0, nullptr},
};

}  // namespace

Ref make_tallo_class() { return make_class<PyTallo>(slots); }

}  // namespace tallo::python
