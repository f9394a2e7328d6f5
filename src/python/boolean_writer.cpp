// The class `BooleanWriter`: sends 1.0 for True and 0.0 for False.
#include <Python.h>

#include "python/classes.h"
#include "python/convert.h"
#include "python/frame.h"
#include "python/method.h"
#include "python/writer_classes.h"

namespace tallo::python {
namespace {

constexpr std::string_view class_name = PyBooleanWriter::name;

constexpr auto write_signature =
    documented<arg::Flag, arg::OptionalFloat>({class_name, "write"}, "write($self, value, timestamp)\n--\n\n");

constexpr FastMethod write = held<PyBooleanWriter, write_signature>(
    [](PyBooleanWriter& object, bool value, std::optional<double> timestamp) {
        object.writer.write(Vector(object.width, value ? 1.0 : 0.0), timestamp);
    });

constexpr const char* class_doc = "Maps a Python bool to a probability: `True` → 1.0, `False` → 0.0.";

PyMethodDef methods[] = {
    {"write", fastcall(write), METH_FASTCALL | METH_KEYWORDS, write_signature.doc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

Ref make_boolean_writer_class() { return make_class<PyBooleanWriter>(class_doc, refuse_new, methods); }

}  // namespace tallo::python
