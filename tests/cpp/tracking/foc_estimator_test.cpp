#include "tracking/foc_estimator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "base/panic.h"
#include "tracking/kalman_filter.h"
#include "tracking/messages.h"

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
    EXPECT_EQ(estimator.filter.state, Eigen::Vector2d(3.0, 0.0));
    EXPECT_EQ(estimator.filter.covariance, Eigen::Matrix2d({{30.0, 0.0}, {0.0, 100.0}}));
    EXPECT_EQ(estimator.filter.predicted_state, Eigen::Vector2d::Zero());
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

LinearModel constant_model(Eigen::Index n, Eigen::MatrixXd observation) {
    return LinearModel{[n](double) { return Eigen::MatrixXd::Identity(n, n); }, std::move(observation)};
}

TEST(KalmanFilter, TakesItsSizesFromTheModel) {
    // Three states, two of them measured almost exactly.
    Eigen::MatrixXd observation{{1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}};
    KalmanFilter filter(Eigen::VectorXd::Zero(3), Eigen::MatrixXd::Identity(3, 3), constant_model(3, observation),
                        Eigen::MatrixXd::Zero(3, 3), Eigen::MatrixXd::Identity(2, 2) * 1e-12);
    EXPECT_EQ(filter.gain.rows(), 3);
    EXPECT_EQ(filter.gain.cols(), 2);
    EXPECT_EQ(filter.innovation_covariance.rows(), 2);

    filter.predict(1.0);
    filter.correct(Eigen::Vector2d(4.0, -2.0));
    EXPECT_NEAR(filter.state[0], 4.0, 1e-9);
    EXPECT_NEAR(filter.state[1], 0.0, 1e-9);
    EXPECT_NEAR(filter.state[2], -2.0, 1e-9);
    EXPECT_EQ(filter.innovation, Eigen::Vector2d(4.0, -2.0));
}

TEST(KalmanFilter, StopsOnAnExactlyZeroPivot) {
    struct Case {
        const char* what;
        Eigen::MatrixXd observation;
    };
    // With no noise at all, S = H H^T: zero for a blind observation, and
    // singular (second pivot exactly 0) when two rows measure the same state.
    const std::vector<Case> cases = {
        {"one measurement", Eigen::MatrixXd{{0.0, 0.0}}},
        {"two equal measurements", Eigen::MatrixXd{{1.0, 0.0}, {1.0, 0.0}}},
    };
    for (const Case& c : cases) {
        const Eigen::Index m = c.observation.rows();
        KalmanFilter filter(Eigen::VectorXd::Zero(2), Eigen::MatrixXd::Identity(2, 2), constant_model(2, c.observation),
                            Eigen::MatrixXd::Zero(2, 2), Eigen::MatrixXd::Zero(m, m));
        filter.predict(0.5);
        try {
            filter.correct(Eigen::VectorXd::Ones(m));
            ADD_FAILURE() << c.what << ": no stop";
        } catch (const Panic& panic) {
            EXPECT_EQ(panic.message(), messages::kalman_inversion_failed()) << c.what;
        }
    }
}

}  // namespace
}  // namespace tallo
