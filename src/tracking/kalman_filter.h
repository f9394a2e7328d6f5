#pragma once

// KalmanFilter: a linear Kalman filter of n states and m measurements, the
// sizes taken from its model (n rows of `transition(0.0)`, m rows of
// `observation`).
//
// Guarantees:
// - Every vector and matrix keeps its shape for the filter's lifetime:
//   `state`, `predicted_state` n; `covariance`, `predicted_covariance`,
//   `process_noise` n x n; `innovation` m; `innovation_covariance`,
//   `measurement_noise` m x m; `gain` n x m.
// - `correct` inverts the innovation covariance by LU decomposition with
//   partial pivoting and stops with "Failed to invert Kalman residual
//   covariance matrix" when a pivot is exactly zero; the fields that the step
//   wrote before the inversion keep what they were given.
// - Non-finite inputs are not refused: they spread NaN through the state.
// - No lock of its own: its owner serialises access.
#include <Eigen/Core>

#include "tracking/linear_model.h"

namespace tallo {

class KalmanFilter {
public:
    KalmanFilter(Eigen::VectorXd initial_state, Eigen::MatrixXd initial_covariance, LinearModel model,
                 Eigen::MatrixXd process_noise, Eigen::MatrixXd measurement_noise);

    // x' = F(dt) x, P' = F(dt) P F(dt)^T + Q (Q is not scaled by dt).
    void predict(double dt);
    // Folds the measurement z (m elements) into the predicted state.
    void correct(const Eigen::VectorXd& measurement);

    Eigen::VectorXd predicted_state;
    Eigen::MatrixXd predicted_covariance;
    Eigen::VectorXd state;
    Eigen::MatrixXd covariance;
    LinearModel model;
    Eigen::MatrixXd process_noise;
    Eigen::MatrixXd measurement_noise;
    Eigen::VectorXd innovation;
    Eigen::MatrixXd innovation_covariance;
    Eigen::MatrixXd gain;
};

}  // namespace tallo
