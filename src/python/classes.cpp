#include "python/classes.h"

#include <fmt/format.h>

#include "python/messages.h"

namespace tallo::python {

PyObject* refuse_new(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    try {
        set_error(PyExc_TypeError, messages::no_constructor(messages::class_module, type_name(type)));
    } catch (const PyError&) {
        // the interpreter's error is pending
    } catch (...) {
        PyErr_NoMemory();
    }
    return nullptr;
}

namespace detail {

std::string qualified_name(std::string_view class_name) { return fmt::format("{}.{}", messages::class_module, class_name); }

Ref make_type(const std::string& qualified_name, int basic_size, PyType_Slot* slots) {
    PyType_Spec spec{qualified_name.c_str(), basic_size, 0, Py_TPFLAGS_DEFAULT, slots};
    return Ref::steal(checked(PyType_FromSpec(&spec)));
}

}  // namespace detail

}  // namespace tallo::python
