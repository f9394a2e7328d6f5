// The class `ProbabilityWriter`: sends the host's probability vectors as they are.
#include <Python.h>

#include <optional>
#include <utility>

#include "python/convert.h"
#include "python/one_method_writer.h"
#include "python/writer_objects.h"

namespace tallo::python {
namespace {

constexpr auto write_signature = documented<arg::FloatList, arg::OptionalFloat>(
    {PyProbabilityWriter::name, "write"}, "write($self, value, timestamp)\n--\n\n");

}  // namespace

Ref make_probability_writer_class() {
    return make_writer_class<PyProbabilityWriter, write_signature, Raises::nothing>(
        "Passes a probability vector straight through to the circuit.",
        [](PyProbabilityWriter& object, Vector value, std::optional<double> timestamp) {
            object.writer.write(std::move(value), timestamp);
        });
}

}  // namespace tallo::python
