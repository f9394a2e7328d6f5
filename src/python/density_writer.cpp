// The class `DensityWriter`.
#include <Python.h>

#include <string_view>

#include "python/classes.h"

namespace tallo::python {

struct PyDensityWriter {
    static constexpr std::string_view name = "DensityWriter";
};

namespace {

constexpr const char* class_doc =
    "Fan-out density writer.  A single call dispatches to every comparison\n"
    "threshold registered for the source, computing CDF or SF element-wise\n"
    "across all value-space slots (e.g. particle-filter particles).\n"
    "\n"
    "Supported distributions and their `params` layout (each inner list is a\n"
    "Vector with one value per particle / value-space slot):\n"
    "- `\"normal\"`      → `[means, stds]`\n"
    "- `\"lognormal\"`   → `[log_means, log_stds]`  (natural-log space)\n"
    "- `\"exponential\"` → `[rates]`\n"
    "- `\"uniform\"`     → `[lows, highs]`";

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>(class_doc)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PyDensityWriter>)},
    {0, nullptr},
};

}  // namespace

Ref make_density_writer_class() { return make_class<PyDensityWriter>(slots); }

}  // namespace tallo::python
