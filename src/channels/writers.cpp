#include "channels/writers.h"

#include <cstddef>
#include <utility>

#include "base/ascii.h"
#include "channels/messages.h"

namespace tallo {

void write_numbers(const std::vector<ComparisonTarget>& targets, const Vector& value,
                   std::optional<double> timestamp) {
    const double t = timestamp_or_now(timestamp);
    for (const ComparisonTarget& target : targets) {
        Vector hits(value.size());
        double* out = hits.mutable_data();
        for (std::size_t i = 0; i < value.size(); ++i) {
            const bool hit = target.is_greater ? value[i] > target.threshold : value[i] < target.threshold;
            out[i] = hit ? 1.0 : 0.0;
        }
        // A channel without a receiver discards the message.
        (void)target.sender.send(IpcMessage{std::move(hits), t});
    }
}

Result<VectorDistribution, ValueError> distribution_of(const std::string& name, std::vector<Vector> params) {
    const std::string folded = ascii_lower(name);
    auto rows = [&](std::size_t needed) { return params.size() >= needed; };
    if (folded == "normal") {
        if (!rows(2)) return ValueError{std::string(messages::normal_rows())};
        return VectorDistribution(VectorDistribution::Normal{std::move(params[0]), std::move(params[1])});
    }
    if (folded == "lognormal") {
        if (!rows(2)) return ValueError{std::string(messages::lognormal_rows())};
        return VectorDistribution(VectorDistribution::LogNormal{std::move(params[0]), std::move(params[1])});
    }
    if (folded == "exponential") {
        if (!rows(1)) return ValueError{std::string(messages::exponential_rows())};
        return VectorDistribution(VectorDistribution::Exponential{std::move(params[0])});
    }
    if (folded == "uniform") {
        if (!rows(2)) return ValueError{std::string(messages::uniform_rows())};
        return VectorDistribution(VectorDistribution::Uniform{std::move(params[0]), std::move(params[1])});
    }
    return ValueError{messages::unknown_distribution(folded)};
}

}  // namespace tallo
