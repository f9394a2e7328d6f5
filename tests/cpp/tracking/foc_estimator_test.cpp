#include "tracking/foc_estimator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "base/panic.h"
#include "tracking/kalman_filter.h"
#include "tracking/kalman_filter_steps.h"
#include "tracking/messages.h"
#include "tracking/reference_estimator.h"

namespace tallo {
namespace {

struct Sequence {
    double initial_interval;
    std::vector<double> timestamps;
    std::vector<double> frequencies;
};

TEST(FoCEstimator, FollowsTheIntervalsBetweenChanges) {
    const std::vector<Sequence> cases = {
        {0.0, {10, 11, 12, 13}, {0.0, 1.00038, 0.99907, 1.00004}},
        {5.0, {100, 100.5, 101, 101.5}, {0.0, 1.98380, 2.02286, 1.99876}},
        // The interval is held at 0.0001 s and at 100 s.
        {0.0, {0, 0, 0}, {0.0, 10000, 10000}},
        {0.0, {0, 1000}, {0.0, 0.01}},
    };
    for (const Sequence& c : cases) {
        FoCEstimator estimator(c.initial_interval);
        for (std::size_t i = 0; i < c.timestamps.size(); ++i) {
            EXPECT_NEAR(estimator.update(c.timestamps[i]), c.frequencies[i], 5e-6)
                << "initial " << c.initial_interval << ", update " << i;
        }
    }
}

TEST(FoCEstimator, FirstUpdateOnlyRecordsItsTimestamp) {
    FoCEstimator estimator(3.0);
    EXPECT_EQ(estimator.update(12345.0), 0.0);
    EXPECT_EQ(estimator.last_timestamp, 12345.0);
    EXPECT_EQ(estimator.filter.state, (ColumnVector<2>{{3.0, 0.0}}));
    EXPECT_EQ(estimator.filter.covariance, (Matrix<2, 2>{{30.0, 0.0, 0.0, 100.0}}));
    EXPECT_EQ(estimator.filter.predicted_state, (ColumnVector<2>{{0.0, 0.0}}));
}

TEST(FoCEstimator, KeepsTheDriftUnclamped) {
    FoCEstimator estimator(0.0);
    estimator.update(10);
    estimator.update(11);
    EXPECT_NEAR(estimator.filter.state[0], 0.99962, 5e-6);
    EXPECT_NEAR(estimator.filter.state[1], 0.77633, 5e-6);
}

TEST(FoCEstimator, ConvergesToTheReciprocalOfASteadyPeriod) {
    for (double period : {0.25, 3.0}) {
        FoCEstimator estimator(1.0);
        double frequency = 0.0;
        for (int i = 0; i < 200; ++i) frequency = estimator.update(1000.0 + i * period);
        EXPECT_NEAR(frequency, 1.0 / period, 1e-6 / period) << "period " << period;
    }
}

TEST(FoCEstimator, StaysNaNAfterANaNTimestamp) {
    FoCEstimator estimator(0.0);
    estimator.update(1.0);
    EXPECT_TRUE(std::isnan(estimator.update(std::numeric_limits<double>::quiet_NaN())));
    EXPECT_TRUE(std::isnan(estimator.update(3.0)));
    EXPECT_TRUE(std::isnan(estimator.update(4.0)));
}

// Random interval sequences, fed to this estimator and to the reference (the
// former dynamically sized filter): forward, equal and backward steps of every
// scale, with NaN and infinite timestamps now and then. The results must agree
// to 1e-12 relative, NaN where the reference gives NaN.
TEST(FoCEstimator, AgreesWithTheDynamicallySizedFilter) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    std::mt19937_64 random(20261210);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::size_t compared = 0;
    for (int sequence = 0; sequence < 400; ++sequence) {
        const double initial = sequence % 4 == 0 ? 0.0 : std::pow(10.0, -4.0 + 6.0 * unit(random));
        FoCEstimator estimator(initial);
        test::ReferenceEstimator reference(initial);
        double timestamp = 1000.0 * unit(random);
        // Every tenth sequence may turn NaN or infinite; the others stay finite.
        const bool wild = sequence % 10 == 9;
        for (int step = 0; step < 300; ++step) {
            const double pick = unit(random);
            if (pick < 0.1) {
                // equal timestamp
            } else if (pick < 0.2) {
                timestamp -= std::pow(10.0, -5.0 + 7.0 * unit(random));  // backwards
            } else {
                timestamp += std::pow(10.0, -6.0 + 9.0 * unit(random));
            }
            double fed = timestamp;
            if (wild && pick > 0.995) fed = unit(random) < 0.5 ? nan : (unit(random) < 0.5 ? inf : -inf);
            const double got = estimator.update(fed);
            const double want = reference.update(fed);
            if (std::isnan(want)) {
                EXPECT_TRUE(std::isnan(got)) << "sequence " << sequence << ", step " << step;
            } else {
                EXPECT_NEAR(got, want, 1e-12 * std::abs(want)) << "sequence " << sequence << ", step " << step;
            }
            ++compared;
            if (::testing::Test::HasFailure()) return;
        }
    }
    EXPECT_EQ(compared, 400u * 300u);
}

LinearModel<3, 2> identity_model_3x2(const Matrix<2, 3>& observation) {
    return LinearModel<3, 2>{[](double) { return Matrix<3, 3>{{1, 0, 0, 0, 1, 0, 0, 0, 1}}; }, observation};
}

TEST(KalmanFilter, TakesItsSizesFromItsParameters) {
    // Three states, two of them measured almost exactly.
    const Matrix<2, 3> observation{{1.0, 0.0, 0.0, 0.0, 0.0, 1.0}};
    KalmanFilter<3, 2> filter(ColumnVector<3>{}, Matrix<3, 3>{{1, 0, 0, 0, 1, 0, 0, 0, 1}},
                              identity_model_3x2(observation), Matrix<3, 3>{}, Matrix<2, 2>{{1e-12, 0, 0, 1e-12}});
    EXPECT_EQ(filter.gain.rows, 3u);
    EXPECT_EQ(filter.gain.cols, 2u);
    EXPECT_EQ(filter.innovation_covariance.rows, 2u);

    filter.predict(1.0);
    filter.correct(ColumnVector<2>{{4.0, -2.0}});
    EXPECT_NEAR(filter.state[0], 4.0, 1e-9);
    EXPECT_NEAR(filter.state[1], 0.0, 1e-9);
    EXPECT_NEAR(filter.state[2], -2.0, 1e-9);
    EXPECT_EQ(filter.innovation, (ColumnVector<2>{{4.0, -2.0}}));
}

// With no noise at all, S = H H^T: zero for a blind observation, and singular
// (second pivot exactly 0) when two rows measure the same state.
template <std::size_t M>
void expect_zero_pivot_stop(const char* what, const Matrix<M, 2>& observation) {
    const LinearModel<2, M> model{[](double) { return Matrix<2, 2>{{1, 0, 0, 1}}; }, observation};
    KalmanFilter<2, M> filter(ColumnVector<2>{}, Matrix<2, 2>{{1, 0, 0, 1}}, model, Matrix<2, 2>{}, Matrix<M, M>{});
    filter.predict(0.5);
    ColumnVector<M> ones;
    ones.elements.fill(1.0);
    try {
        filter.correct(ones);
        ADD_FAILURE() << what << ": no stop";
    } catch (const Panic& panic) {
        EXPECT_EQ(panic.message(), messages::kalman_inversion_failed()) << what;
    }
    EXPECT_EQ(filter.innovation, ones) << what << ": the innovation written before the inversion stays";
}

TEST(KalmanFilter, StopsOnAnExactlyZeroPivot) {
    expect_zero_pivot_stop<1>("one measurement", Matrix<1, 2>{{0.0, 0.0}});
    expect_zero_pivot_stop<2>("two equal measurements", Matrix<2, 2>{{1.0, 0.0, 1.0, 0.0}});
}

}  // namespace
}  // namespace tallo
