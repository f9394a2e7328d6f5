// The class `NumberWriter`.
#include <Python.h>

#include <string_view>

#include "python/classes.h"

namespace tallo::python {

struct PyNumberWriter {
    static constexpr std::string_view name = "NumberWriter";
};

namespace {

constexpr const char* class_doc =
    "Fan-out number writer.  Compares a value vector against every registered\n"
    "threshold element-wise: 1.0 where the comparison holds, else 0.0.";

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(class_doc)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PyNumberWriter>)},
    {0, nullptr},
};

}  // namespace

Ref make_number_writer_class() { return make_class<PyNumberWriter>(slots); }

}  // namespace tallo::python
