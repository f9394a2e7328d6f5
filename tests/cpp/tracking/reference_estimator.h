#pragma once

// The change-frequency estimator as it was first written: a Kalman filter on
// dynamically sized matrices, inverting the innovation covariance by LU. Kept
// only as the reference that the fixed-size filter must agree with. Its
// products are lazy (coefficient by coefficient): the library computes
// products of matrices this small that way at run time anyway, and the build
// is spared its general product kernels (about 4 s of processor time).
#include <cmath>
#include <optional>

#include <Eigen/Core>
#include <Eigen/LU>

namespace tallo::test {

class ReferenceEstimator {
public:
    explicit ReferenceEstimator(double initial_interval)
        : state_(2), covariance_(2, 2), process_noise_(2, 2), measurement_noise_(1, 1), observation_(1, 2) {
        state_ << initial_interval, 0.0;
        covariance_ << 30.0, 0.0, 0.0, 100.0;
        process_noise_ << 0.05, 1.0, 1.0, 20.0;
        measurement_noise_ << 0.05;
        observation_ << 1.0, 0.0;
    }

    // The same contract as FoCEstimator::update, without the zero-pivot stop
    // (the measurement noise keeps the pivot away from zero).
    double update(double timestamp) {
        if (!last_timestamp_) {
            last_timestamp_ = timestamp;
            return 0.0;
        }
        const double dt = timestamp - *last_timestamp_;
        last_timestamp_ = timestamp;

        Eigen::MatrixXd f(2, 2);
        f << 1.0, dt, 0.0, 1.0;
        const Eigen::VectorXd predicted_state = f.lazyProduct(state_);
        const Eigen::MatrixXd predicted_covariance = f.lazyProduct(covariance_).lazyProduct(f.transpose()) + process_noise_;

        const Eigen::MatrixXd& h = observation_;
        Eigen::VectorXd measured(1);
        measured << dt;
        const Eigen::VectorXd innovation = measured - h.lazyProduct(predicted_state);
        const Eigen::MatrixXd innovation_covariance = h.lazyProduct(predicted_covariance).lazyProduct(h.transpose()) + measurement_noise_;
        const Eigen::MatrixXd inverse = Eigen::PartialPivLU<Eigen::MatrixXd>(innovation_covariance).inverse();
        const Eigen::MatrixXd gain = predicted_covariance.lazyProduct(h.transpose()).lazyProduct(inverse);
        state_ = predicted_state + gain.lazyProduct(innovation);
        covariance_ = predicted_covariance - gain.lazyProduct(h).lazyProduct(predicted_covariance);

        double& interval = state_[0];
        interval = interval < 0.0001 ? 0.0001 : (interval > 100.0 ? 100.0 : interval);
        return 1.0 / interval;
    }

private:
    std::optional<double> last_timestamp_;
    Eigen::VectorXd state_;
    Eigen::MatrixXd covariance_;
    Eigen::MatrixXd process_noise_;
    Eigen::MatrixXd measurement_noise_;
    Eigen::MatrixXd observation_;
};

}  // namespace tallo::test
