// The class `ProbabilityWriter`: sends the host's probability vectors as they are.
#include <Python.h>

#include "python/classes.h"
#include "python/convert.h"
#include "python/frame.h"
#include "python/method.h"
#include "python/writer_classes.h"

namespace tallo::python {
namespace {

constexpr std::string_view class_name = PyProbabilityWriter::name;

constexpr auto write_signature =
    documented<arg::FloatList, arg::OptionalFloat>({class_name, "write"}, "write($self, value, timestamp)\n--\n\n");

constexpr FastMethod write = held<PyProbabilityWriter, write_signature>(
    [](PyProbabilityWriter& object, Vector value, std::optional<double> timestamp) {
        object.writer.write(std::move(value), timestamp);
    });

constexpr const char* class_doc = "Passes a probability vector straight through to the circuit.";

PyMethodDef methods[] = {
    {"write", fastcall(write), METH_FASTCALL | METH_KEYWORDS, write_signature.doc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

Ref make_probability_writer_class() { return make_class<PyProbabilityWriter>(class_doc, refuse_new, methods); }

}  // namespace tallo::python
