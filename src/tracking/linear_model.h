#pragma once

// LinearModel: the motion model of a linear Kalman filter, a transition
// matrix for every time step and a fixed observation matrix.
//
// Guarantees: `transition(dt)` is n x n for every dt, `observation` is m x n;
// the model holds no other state and may be copied freely.
#include <functional>
#include <utility>

#include <Eigen/Core>

namespace tallo {

struct LinearModel {
    std::function<Eigen::MatrixXd(double dt)> transition;
    Eigen::MatrixXd observation;
};

}  // namespace tallo
