#pragma once

// VectorDistribution: one family of probability distributions with one
// parameter value per value slot, asked only for its cumulative probability.
//
// Guarantees:
// - The variant's index is its tag, in this order: 0 Normal, 1 LogNormal,
//   2 Exponential, 3 Uniform.
// - Parameters are taken as given: zero or negative deviations and rates and
//   bounds in the wrong order reach the formulas unchanged.
// - `cdf(x)` gives P(X <= x) per slot without changing the distribution. Where
//   two parameter vectors differ in length, the slots beyond the shorter one
//   are ignored. A NaN query gives NaN in every slot.
// - `cdf` allocates its result vector and nothing else.
#include <cstdint>
#include <type_traits>
#include <utility>
#include <variant>

#include "base/vector.h"

namespace tallo {

class VectorDistribution {
public:
    struct Normal {
        Vector means;
        Vector stds;
    };
    struct LogNormal {
        Vector log_means;  // of the natural logarithm of the value
        Vector log_stds;
    };
    struct Exponential {
        Vector rates;
    };
    struct Uniform {
        Vector lows;
        Vector highs;
    };
    using Variant = std::variant<Normal, LogNormal, Exponential, Uniform>;

    enum class Tag : std::uint32_t { Normal = 0, LogNormal = 1, Exponential = 2, Uniform = 3 };

    // Implicit: a distribution is any one of its variants.
    template <class V>
        requires std::is_constructible_v<Variant, V&&>
    VectorDistribution(V&& variant) : variant_(std::forward<V>(variant)) {}

    Tag tag() const noexcept { return static_cast<Tag>(variant_.index()); }
    const Variant& variant() const noexcept { return variant_; }

    // P(X <= x), one probability per slot.
    Vector cdf(double x) const;

private:
    Variant variant_;
};

// The standard normal cumulative probability of `value` against `mean` and
// `std`, with the error function of Abramowitz and Stegun's formula 7.1.26
// (absolute error below 1.5e-7; 0.5000000005 at the mean itself).
double normal_cdf(double value, double mean, double std);

}  // namespace tallo
