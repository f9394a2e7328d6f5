// The class `SharedVector`: the host's handle on the vector a timed writer samples.
#include <Python.h>

#include "python/classes.h"
#include "python/convert.h"
#include "python/frame.h"
#include "python/method.h"
#include "python/ref.h"
#include "python/writer_objects.h"

namespace tallo::python {
namespace {

constexpr std::string_view class_name = PySharedVector::name;

constexpr auto set_signature = documented<arg::FloatList>({class_name, "set"}, "set($self, value)\n--\n\n");

constexpr FastMethod set = released<&PySharedVector::vector, set_signature, Raises::nothing>(
    [](const Shared<Vector>& vector, Vector value) { *vector.lock() = std::move(value); });

constexpr auto get_signature = documented<>({class_name, "get"}, "get($self)\n--\n\n");

constexpr PyCFunction get = released<&PySharedVector::vector, get_signature, Raises::nothing>(
    [](const Shared<Vector>& vector) { return Vector(*vector.lock()); });

constexpr const char* class_doc = "A wrapper around a shared, mutable `Vector` for timed writers.";

PyMethodDef methods[] = {
    {"set", fastcall(set), METH_FASTCALL | METH_KEYWORDS, set_signature.doc},
    {"get", get, METH_NOARGS, get_signature.doc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

Ref make_shared_vector_class() { return make_class<PySharedVector>(class_doc, refuse_new, methods); }

}  // namespace tallo::python
