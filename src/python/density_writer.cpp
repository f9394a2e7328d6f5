// The class `DensityWriter`: sends threshold probabilities of a distribution.
#include <Python.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "channels/writers.h"
#include "python/convert.h"
#include "python/one_method_writer.h"
#include "python/writer_objects.h"

namespace tallo::python {
namespace {

constexpr auto write_signature = documented<arg::Text, arg::FloatRows, arg::OptionalFloat>(
    {PyDensityWriter::name, "write"}, "write($self, distribution, params, timestamp)\n--\n\n");

}  // namespace

// An unknown distribution or a malformed `params` is the host's ValueError.
Ref make_density_writer_class() {
    return make_writer_class<PyDensityWriter, write_signature, Raises::ValueError>(
        "Fan-out density writer.  A single call dispatches to every comparison\n"
        "threshold registered for the source, computing CDF or SF element-wise\n"
        "across all value-space slots (e.g. particle-filter particles).\n"
        "\n"
        "Supported distributions and their `params` layout (each inner list is a\n"
        "Vector with one value per particle / value-space slot):\n"
        "- `\"normal\"`      → `[means, stds]`\n"
        "- `\"lognormal\"`   → `[log_means, log_stds]`  (natural-log space)\n"
        "- `\"exponential\"` → `[rates]`\n"
        "- `\"uniform\"`     → `[lows, highs]`",
        [](PyDensityWriter& object, const std::string& distribution, std::vector<Vector> params,
           std::optional<double> timestamp) -> std::optional<ValueError> {
            auto chosen = distribution_of(distribution, std::move(params));
            if (!chosen) return chosen.error();
            object.writer.write(chosen.value(), timestamp);
            return std::nullopt;
        });
}

}  // namespace tallo::python
