// The class `SharedVector`: the host's handle on the vector a timed writer samples.
#include <Python.h>

#include "python/classes.h"
#include "python/convert.h"
#include "python/frame.h"
#include "python/results.h"
#include "python/writer_classes.h"
#include "python/ref.h"

namespace tallo::python {
namespace {

constexpr std::string_view class_name = PySharedVector::name;

constexpr auto set_signature = documented<arg::FloatList>({class_name, "set"}, "set($self, value)\n--\n\n");

PyObject* set(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return call_method<PySharedVector>(set_signature, self, args, nargs, kwnames,
                                       [](PySharedVector& object, Vector value) {
                                           Shared<Vector> vector = object.vector;
                                           without_gil([&] { *vector.lock() = std::move(value); });
                                           return none();
                                       });
}

PyObject* get(PyObject* self, PyObject*) {
    return call_no_args<PySharedVector>({class_name, "get"}, self, [](PySharedVector& object) {
        Shared<Vector> vector = object.vector;
        Vector value = without_gil([&] { return Vector(*vector.lock()); });
        return to_py(value);
    });
}

constexpr const char* class_doc = "A wrapper around a shared, mutable `Vector` for timed writers.";

PyMethodDef methods[] = {
    {"set", fastcall(set), METH_FASTCALL | METH_KEYWORDS, set_signature.doc},
    {"get", get, METH_NOARGS, "get($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

Ref make_shared_vector_class() { return make_class<PySharedVector>(class_doc, refuse_new, methods); }

}  // namespace tallo::python
