#include "tracking/foc_estimator.h"

#include <Eigen/Core>

namespace tallo {
namespace {

constexpr double MIN_INTERVAL = 0.0001;
constexpr double MAX_INTERVAL = 100.0;

KalmanFilter make_filter(double initial_interval) {
    Eigen::VectorXd state(2);
    state << initial_interval, 0.0;
    Eigen::MatrixXd covariance(2, 2);
    covariance << 30.0, 0.0, 0.0, 100.0;
    Eigen::MatrixXd process_noise(2, 2);
    process_noise << 0.05, 1.0, 1.0, 20.0;
    Eigen::MatrixXd measurement_noise(1, 1);
    measurement_noise << 0.05;
    Eigen::MatrixXd observation(1, 2);
    observation << 1.0, 0.0;
    auto transition = [](double dt) {
        Eigen::MatrixXd f(2, 2);
        f << 1.0, dt, 0.0, 1.0;
        return f;
    };
    return KalmanFilter(std::move(state), std::move(covariance), LinearModel{transition, std::move(observation)},
                        std::move(process_noise), std::move(measurement_noise));
}

}  // namespace

FoCEstimator::FoCEstimator(double initial_interval) : filter(make_filter(initial_interval)) {}

double FoCEstimator::update(double timestamp) {
    if (!last_timestamp) {
        last_timestamp = timestamp;
        return 0.0;
    }
    const double dt = timestamp - *last_timestamp;
    last_timestamp = timestamp;

    filter.predict(dt);
    Eigen::VectorXd measured(1);
    measured << dt;
    filter.correct(measured);

    double& interval = filter.state[0];
    if (interval < MIN_INTERVAL) {
        interval = MIN_INTERVAL;
    } else if (interval > MAX_INTERVAL) {
        interval = MAX_INTERVAL;
    }
    return 1.0 / interval;
}

}  // namespace tallo
