#include "tracking/kalman_filter.h"

#include <string>
#include <utility>

#include <Eigen/LU>

#include "base/panic.h"
#include "tracking/messages.h"

namespace tallo {
namespace {

// The inverse by LU with partial pivoting. Eigen's decomposition carries on
// past a zero pivot, so the pivots are checked here.
Eigen::MatrixXd invert(const Eigen::MatrixXd& matrix) {
    const Eigen::PartialPivLU<Eigen::MatrixXd> lu(matrix);
    const auto pivots = lu.matrixLU().diagonal();
    for (Eigen::Index i = 0; i < pivots.size(); ++i) {
        if (pivots[i] == 0.0) stop(std::string(messages::kalman_inversion_failed()));
    }
    return lu.inverse();
}

}  // namespace

KalmanFilter::KalmanFilter(Eigen::VectorXd initial_state, Eigen::MatrixXd initial_covariance, LinearModel model_,
                           Eigen::MatrixXd process_noise_, Eigen::MatrixXd measurement_noise_)
    : state(std::move(initial_state)),
      covariance(std::move(initial_covariance)),
      model(std::move(model_)),
      process_noise(std::move(process_noise_)),
      measurement_noise(std::move(measurement_noise_)) {
    const Eigen::Index n = model.transition(0.0).rows();
    const Eigen::Index m = model.observation.rows();
    predicted_state = Eigen::VectorXd::Zero(n);
    predicted_covariance = Eigen::MatrixXd::Zero(n, n);
    innovation = Eigen::VectorXd::Zero(m);
    innovation_covariance = Eigen::MatrixXd::Zero(m, m);
    gain = Eigen::MatrixXd::Zero(n, m);
}

void KalmanFilter::predict(double dt) {
    const Eigen::MatrixXd f = model.transition(dt);
    predicted_state.noalias() = f * state;
    predicted_covariance = f * covariance * f.transpose() + process_noise;
}

void KalmanFilter::correct(const Eigen::VectorXd& measurement) {
    const Eigen::MatrixXd& h = model.observation;
    innovation = measurement - h * predicted_state;
    innovation_covariance = h * predicted_covariance * h.transpose() + measurement_noise;
    const Eigen::MatrixXd inverse = invert(innovation_covariance);
    gain = predicted_covariance * h.transpose() * inverse;
    state = predicted_state + gain * innovation;
    covariance = predicted_covariance - gain * h * predicted_covariance;
}

}  // namespace tallo
