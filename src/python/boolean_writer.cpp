// The class `BooleanWriter`: sends 1.0 for True and 0.0 for False.
#include <Python.h>

#include <optional>

#include "python/convert.h"
#include "python/one_method_writer.h"
#include "python/writer_objects.h"

namespace tallo::python {
namespace {

constexpr auto write_signature = documented<arg::Flag, arg::OptionalFloat>(
    {PyBooleanWriter::name, "write"}, "write($self, value, timestamp)\n--\n\n");

}  // namespace

Ref make_boolean_writer_class() {
    return make_writer_class<PyBooleanWriter, write_signature, Raises::nothing>(
        "Maps a Python bool to a probability: `True` → 1.0, `False` → 0.0.",
        [](PyBooleanWriter& object, bool value, std::optional<double> timestamp) {
            object.writer.write(Vector(object.width, value ? 1.0 : 0.0), timestamp);
        });
}

}  // namespace tallo::python
