// The class `SharedVector`.
#include <Python.h>

#include <string_view>

#include "python/classes.h"

namespace tallo::python {

struct PySharedVector {
    static constexpr std::string_view name = "SharedVector";
};

namespace {

constexpr const char* class_doc =
    "A wrapper around a shared, mutable `Vector` for timed writers.";

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(class_doc)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PySharedVector>)},
    {0, nullptr},
};

}  // namespace

Ref make_shared_vector_class() { return make_class<PySharedVector>(slots); }

}  // namespace tallo::python
