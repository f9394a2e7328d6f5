// The class `DensityWriter`: sends threshold probabilities of a distribution.
#include <Python.h>

#include "channels/writers.h"
#include "python/classes.h"
#include "python/convert.h"
#include "python/error.h"
#include "python/frame.h"
#include "python/method.h"
#include "python/writer_classes.h"

namespace tallo::python {
namespace {

constexpr std::string_view class_name = PyDensityWriter::name;

constexpr auto write_signature = documented<arg::Text, arg::FloatRows, arg::OptionalFloat>(
    {class_name, "write"}, "write($self, distribution, params, timestamp)\n--\n\n");

constexpr FastMethod write = held<PyDensityWriter, write_signature>(
    [](PyDensityWriter& object, const std::string& distribution, std::vector<Vector> params,
       std::optional<double> timestamp) {
        auto chosen = distribution_of(distribution, std::move(params));
        if (auto* refusal = std::get_if<std::string>(&chosen)) raise(PyExc_ValueError, *refusal);
        object.writer.write(std::get<VectorDistribution>(chosen), timestamp);
    });

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

PyMethodDef methods[] = {
    {"write", fastcall(write), METH_FASTCALL | METH_KEYWORDS, write_signature.doc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

Ref make_density_writer_class() { return make_class<PyDensityWriter>(class_doc, refuse_new, methods); }

}  // namespace tallo::python
