// The class `NumberWriter`: compares raw values with every threshold of the source.
#include <Python.h>

#include <optional>

#include "channels/writers.h"
#include "python/convert.h"
#include "python/one_method_writer.h"
#include "python/writer_objects.h"

namespace tallo::python {
namespace {

constexpr auto write_signature = documented<arg::FloatList, arg::OptionalFloat>(
    {PyNumberWriter::name, "write"}, "write($self, value, timestamp)\n--\n\n");

}  // namespace

Ref make_number_writer_class() {
    return make_writer_class<PyNumberWriter, write_signature, Raises::nothing>(
        "Fan-out number writer.  Compares a value vector against every registered\n"
        "threshold element-wise: 1.0 where the comparison holds, else 0.0.",
        [](PyNumberWriter& object, const Vector& value, std::optional<double> timestamp) {
            write_numbers(object.targets, value, timestamp);
        });
}

}  // namespace tallo::python
