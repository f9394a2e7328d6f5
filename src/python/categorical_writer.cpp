// The class `CategoricalWriter`.
#include <Python.h>

#include <string_view>

#include "python/classes.h"

namespace tallo::python {

struct PyCategoricalWriter {
    static constexpr std::string_view name = "CategoricalWriter";
};

namespace {

constexpr const char* class_doc =
    "Sends a flat probability matrix `[col₀, col₁, …]` where each column has\n"
    "`value_size` entries, one per batch slot.  Accepts a flat list of length\n"
    "`n_categories * value_size`.";

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(class_doc)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PyCategoricalWriter>)},
    {0, nullptr},
};

}  // namespace

Ref make_categorical_writer_class() { return make_class<PyCategoricalWriter>(slots); }

}  // namespace tallo::python
