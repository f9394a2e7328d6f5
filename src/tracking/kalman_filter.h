#pragma once

// KalmanFilter<N, M>: a linear Kalman filter of N states and M measurements,
// with every vector and matrix held in fixed-size storage inside the filter.
//
// Guarantees:
// - A step (`predict`, `correct`) allocates nothing and takes no lock.
// - `correct` inverts the innovation covariance: a 1 x 1 one by a division,
//   a larger one by LU decomposition with partial pivoting. It stops with
//   "Failed to invert Kalman residual covariance matrix" when a pivot (the
//   single element, for 1 x 1) is exactly zero; the fields that the step wrote
//   before the inversion keep what they were given.
// - Non-finite inputs are not refused: they spread NaN through the state.
// - No lock of its own: its owner serialises access.
// - This header is free of the linear-algebra library, so that every user of
//   a circuit's leaves does not compile it; the steps are defined in
//   kalman_filter_steps.h and instantiated in kalman_filter.cpp for the sizes
//   this system uses (2 states, 1 measurement).
#include <array>
#include <cstddef>

namespace tallo {

// A dense R x C matrix of doubles, row-major, zero-initialised.
template <std::size_t R, std::size_t C>
struct Matrix {
    static constexpr std::size_t rows = R;
    static constexpr std::size_t cols = C;

    std::array<double, R * C> elements{};

    double& operator()(std::size_t row, std::size_t col) { return elements[row * C + col]; }
    double operator()(std::size_t row, std::size_t col) const { return elements[row * C + col]; }
    // Element i of a vector (a matrix of one column or one row).
    double& operator[](std::size_t i) { return elements[i]; }
    double operator[](std::size_t i) const { return elements[i]; }

    bool operator==(const Matrix&) const = default;
};

template <std::size_t N>
using ColumnVector = Matrix<N, 1>;

// The motion model: a transition matrix for every time step and a fixed
// observation matrix. Holds no other state and may be copied freely.
template <std::size_t N, std::size_t M>
struct LinearModel {
    Matrix<N, N> (*transition)(double dt);
    Matrix<M, N> observation;
};

template <std::size_t N, std::size_t M>
class KalmanFilter {
public:
    using State = ColumnVector<N>;
    using Measurement = ColumnVector<M>;

    KalmanFilter(const State& initial_state, const Matrix<N, N>& initial_covariance, const LinearModel<N, M>& model,
                 const Matrix<N, N>& process_noise, const Matrix<M, M>& measurement_noise)
        : state(initial_state),
          covariance(initial_covariance),
          model(model),
          process_noise(process_noise),
          measurement_noise(measurement_noise) {}

    // x' = F(dt) x, P' = F(dt) P F(dt)^T + Q (Q is not scaled by dt).
    void predict(double dt);
    // Folds the measurement z into the predicted state.
    void correct(const Measurement& measurement);

    State predicted_state;
    Matrix<N, N> predicted_covariance;
    State state;
    Matrix<N, N> covariance;
    LinearModel<N, M> model;
    Matrix<N, N> process_noise;
    Matrix<M, M> measurement_noise;
    Measurement innovation;
    Matrix<M, M> innovation_covariance;
    Matrix<N, M> gain;
};

extern template class KalmanFilter<2, 1>;

}  // namespace tallo
