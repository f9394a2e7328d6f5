#include "channels/distribution.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace tallo {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using Normal = VectorDistribution::Normal;
using LogNormal = VectorDistribution::LogNormal;
using Exponential = VectorDistribution::Exponential;
using Uniform = VectorDistribution::Uniform;

struct CdfCase {
    std::string name;
    VectorDistribution distribution;
    double x;
    std::vector<double> expected;  // compared bit for bit; NaN matches NaN
};

void PrintTo(const CdfCase& c, std::ostream* out) { *out << c.name; }

class Cdf : public ::testing::TestWithParam<CdfCase> {};

TEST_P(Cdf, GivesTheExpectedProbabilities) {
    const CdfCase& c = GetParam();
    const Vector result = c.distribution.cdf(c.x);
    ASSERT_EQ(result.size(), c.expected.size());
    for (std::size_t i = 0; i < result.size(); ++i) {
        if (std::isnan(c.expected[i])) {
            EXPECT_TRUE(std::isnan(result[i])) << "slot " << i << ": " << result[i];
        } else {
            EXPECT_EQ(result[i], c.expected[i]) << "slot " << i;
        }
    }
}

// The error function's approximation is taken exactly as written, so its
// figures are exact too: at the mean the coefficients sum to 0.999999999.
INSTANTIATE_TEST_SUITE_P(
    Distributions, Cdf,
    ::testing::Values(
        CdfCase{"NormalAtTheMean", Normal{{2.0}, {3.0}}, 2.0, {0.5000000005}},
        CdfCase{"NormalOneDeviationAbove", Normal{{0.0}, {1.0}}, 1.0, {0.8413447361676363}},
        CdfCase{"NormalOneDeviationBelow", Normal{{0.0}, {1.0}}, -1.0, {0.15865526383236372}},
        CdfCase{"NormalWithoutDeviation", Normal{{0.0, 0.0, 0.0}, {0.0, 0.0, 0.0}}, 0.0, {kNaN, kNaN, kNaN}},
        CdfCase{"NormalWithoutDeviationAboveAndBelow", Normal{{-1.0, 1.0}, {0.0, 0.0}}, 0.0, {1.0, 0.0}},
        CdfCase{"NormalFarTails", Normal{{0.0, 0.0}, {1.0, 1.0}}, 40.0, {1.0, 1.0}},
        CdfCase{"NormalFarLowerTail", Normal{{100.0}, {1.0}}, 0.0, {0.0}},
        CdfCase{"NormalShorterDeviations", Normal{{0.0, 0.0, 0.0}, {1.0, 1.0}}, 1.0,
                {0.8413447361676363, 0.8413447361676363}},
        CdfCase{"LogNormalAtZeroHasTheMeansLength", LogNormal{{0.0, 1.0, 2.0}, {1.0}}, 0.0, {0.0, 0.0, 0.0}},
        CdfCase{"LogNormalBelowZero", LogNormal{{0.0}, {1.0}}, -3.0, {0.0}},
        CdfCase{"LogNormalAtOneIsTheMedian", LogNormal{{0.0, 0.0}, {1.0}}, 1.0, {0.5000000005}},
        CdfCase{"LogNormalAtE", LogNormal{{0.0}, {1.0}}, std::exp(1.0), {0.8413447361676363}},
        CdfCase{"ExponentialAtZero", Exponential{{1.0, 2.0}}, 0.0, {0.0, 0.0}},
        CdfCase{"ExponentialRates", Exponential{{std::log(2.0), 0.0, -1.0}}, 1.0,
                {1.0 - std::exp(-std::log(2.0)), 0.0, 1.0 - std::exp(1.0)}},
        CdfCase{"UniformInsideAndAtTheBounds", Uniform{{0.0, 1.0, 0.0}, {4.0, 3.0, 1.0}}, 1.0, {0.25, 0.0, 1.0}},
        CdfCase{"UniformEmptyInterval", Uniform{{2.0, 2.0}, {2.0, 2.0}}, 2.0, {0.0, 0.0}},
        CdfCase{"UniformAboveAnEmptyInterval", Uniform{{2.0}, {2.0}}, 2.5, {1.0}},
        CdfCase{"UniformShorterHighs", Uniform{{0.0, 0.0}, {2.0}}, 1.0, {0.5}},
        CdfCase{"NaNQueryNormal", Normal{{0.0}, {1.0}}, kNaN, {kNaN}},
        CdfCase{"NaNQueryLogNormal", LogNormal{{0.0}, {1.0}}, kNaN, {kNaN}},
        CdfCase{"NaNQueryExponential", Exponential{{1.0}}, kNaN, {kNaN}},
        CdfCase{"NaNQueryUniform", Uniform{{0.0}, {1.0}}, kNaN, {kNaN}},
        CdfCase{"InfiniteQuery", Uniform{{0.0}, {1.0}}, kInf, {1.0}}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace tallo
