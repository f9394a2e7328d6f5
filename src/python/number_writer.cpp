// The class `NumberWriter`: compares raw values with every threshold of the source.
#include <Python.h>

#include "channels/writers.h"
#include "python/classes.h"
#include "python/convert.h"
#include "python/frame.h"
#include "python/method.h"
#include "python/writer_classes.h"

namespace tallo::python {
namespace {

constexpr std::string_view class_name = PyNumberWriter::name;

constexpr auto write_signature =
    documented<arg::FloatList, arg::OptionalFloat>({class_name, "write"}, "write($self, value, timestamp)\n--\n\n");

constexpr FastMethod write = held<PyNumberWriter, write_signature>(
    [](PyNumberWriter& object, const Vector& value, std::optional<double> timestamp) {
        write_numbers(object.targets, value, timestamp);
    });

constexpr const char* class_doc =
    "Fan-out number writer.  Compares a value vector against every registered\n"
    "threshold element-wise: 1.0 where the comparison holds, else 0.0.";

PyMethodDef methods[] = {
    {"write", fastcall(write), METH_FASTCALL | METH_KEYWORDS, write_signature.doc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

Ref make_number_writer_class() { return make_class<PyNumberWriter>(class_doc, refuse_new, methods); }

}  // namespace tallo::python
