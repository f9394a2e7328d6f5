#include "channels/distribution.h"

#include <algorithm>
#include <cmath>

namespace tallo {

double normal_cdf(double value, double mean, double std) {
    const double z = (value - mean) / (std * 1.4142135623730951);
    const double a = std::abs(z);
    const double t = 1.0 / (1.0 + 0.3275911 * a);
    // Horner's scheme from the innermost coefficient outward; the order of the
    // operations fixes the last bits of the result.
    const double poly = ((((1.061405429 * t - 1.453152027) * t + 1.421413741) * t - 0.284496736) * t + 0.254829592) * t;
    const double y = 1.0 - poly * std::exp(-a * a);
    const double erf = z >= 0.0 ? y : -y;
    return (erf + 1.0) * 0.5;
}

namespace {

// A result of the shorter length of two parameter vectors, slot i computed
// from both parameters' slot i.
template <class F>
Vector per_slot(const Vector& first, const Vector& second, F slot) {
    const std::size_t n = std::min(first.size(), second.size());
    Vector result(n);
    double* out = result.mutable_data();
    for (std::size_t i = 0; i < n; ++i) out[i] = slot(first[i], second[i]);
    return result;
}

}  // namespace

Vector VectorDistribution::cdf(double x) const {
    struct Visitor {
        double x;
        Vector operator()(const Normal& d) const {
            return per_slot(d.means, d.stds, [x = x](double mean, double std) { return normal_cdf(x, mean, std); });
        }
        Vector operator()(const LogNormal& d) const {
            if (x <= 0.0) return Vector(d.log_means.size());
            const double log_x = std::log(x);
            return per_slot(d.log_means, d.log_stds,
                            [log_x](double mean, double std) { return normal_cdf(log_x, mean, std); });
        }
        Vector operator()(const Exponential& d) const {
            Vector result(d.rates.size());
            if (x <= 0.0) return result;
            double* out = result.mutable_data();
            for (std::size_t i = 0; i < d.rates.size(); ++i) out[i] = 1.0 - std::exp(-d.rates[i] * x);
            return result;
        }
        Vector operator()(const Uniform& d) const {
            return per_slot(d.lows, d.highs, [x = x](double low, double high) {
                if (x <= low) return 0.0;
                if (x >= high) return 1.0;
                return (x - low) / (high - low);
            });
        }
    };
    return std::visit(Visitor{x}, variant_);
}

}  // namespace tallo
