#pragma once

// KalmanFilter<N, M>: a linear Kalman filter of N states and M measurements,
// with every vector and matrix held in fixed-size storage inside the filter.
//
// Guarantees:
// - A step (`predict`, `correct`) allocates nothing and takes no lock.
// - `correct` inverts the innovation covariance: a 1 x 1 one by a division,
//   a larger one by LU decomposition with partial pivoting (the first of equal
//   candidates is taken). It stops with "Failed to invert Kalman residual
//   covariance matrix" when a pivot (the single element, for 1 x 1) is exactly
//   zero; the fields that the step wrote before the inversion keep what they
//   were given.
// - Every product sums its terms in index order.
// - Non-finite inputs are not refused: they spread NaN through the state.
// - No lock of its own: its owner serialises access.
// - The arithmetic is plain loops over the fixed sizes, which the compiler
//   unrolls; no linear-algebra library is needed by the users of a leaf.
#include <array>
#include <cmath>
#include <cstddef>
#include <string>
#include <utility>

#include "base/panic.h"
#include "tracking/messages.h"

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

namespace kalman_detail {

// a * b
template <std::size_t R, std::size_t K, std::size_t C>
Matrix<R, C> times(const Matrix<R, K>& a, const Matrix<K, C>& b) {
    Matrix<R, C> out;
    for (std::size_t i = 0; i < R; ++i) {
        for (std::size_t j = 0; j < C; ++j) {
            double sum = a(i, 0) * b(0, j);
            for (std::size_t k = 1; k < K; ++k) sum += a(i, k) * b(k, j);
            out(i, j) = sum;
        }
    }
    return out;
}

// a * b^T
template <std::size_t R, std::size_t K, std::size_t C>
Matrix<R, C> times_transposed(const Matrix<R, K>& a, const Matrix<C, K>& b) {
    Matrix<R, C> out;
    for (std::size_t i = 0; i < R; ++i) {
        for (std::size_t j = 0; j < C; ++j) {
            double sum = a(i, 0) * b(j, 0);
            for (std::size_t k = 1; k < K; ++k) sum += a(i, k) * b(j, k);
            out(i, j) = sum;
        }
    }
    return out;
}

// a + b and a - b, element by element
template <std::size_t R, std::size_t C>
Matrix<R, C> plus(const Matrix<R, C>& a, const Matrix<R, C>& b) {
    Matrix<R, C> out;
    for (std::size_t i = 0; i < R * C; ++i) out.elements[i] = a.elements[i] + b.elements[i];
    return out;
}

template <std::size_t R, std::size_t C>
Matrix<R, C> minus(const Matrix<R, C>& a, const Matrix<R, C>& b) {
    Matrix<R, C> out;
    for (std::size_t i = 0; i < R * C; ++i) out.elements[i] = a.elements[i] - b.elements[i];
    return out;
}

[[noreturn]] inline void inversion_failed() { stop(std::string(messages::kalman_inversion_failed())); }

// The inverse of `s`: one division for one element; otherwise LU with
// partial pivoting, then one forward and back substitution per column of the
// identity. Stops on an exactly zero pivot.
template <std::size_t M>
Matrix<M, M> invert(const Matrix<M, M>& s) {
    Matrix<M, M> inverse;
    if constexpr (M == 1) {
        if (s[0] == 0.0) inversion_failed();
        inverse[0] = 1.0 / s[0];
    } else {
        Matrix<M, M> lu = s;
        std::array<std::size_t, M> row;  // row[i]: the row of s that became row i
        for (std::size_t i = 0; i < M; ++i) row[i] = i;
        for (std::size_t k = 0; k < M; ++k) {
            std::size_t best = k;
            for (std::size_t i = k + 1; i < M; ++i) {
                if (std::abs(lu(i, k)) > std::abs(lu(best, k))) best = i;
            }
            if (best != k) {
                for (std::size_t j = 0; j < M; ++j) std::swap(lu(k, j), lu(best, j));
                std::swap(row[k], row[best]);
            }
            if (lu(k, k) == 0.0) inversion_failed();
            for (std::size_t i = k + 1; i < M; ++i) {
                lu(i, k) /= lu(k, k);
                for (std::size_t j = k + 1; j < M; ++j) lu(i, j) -= lu(i, k) * lu(k, j);
            }
        }
        for (std::size_t column = 0; column < M; ++column) {
            std::array<double, M> x;
            for (std::size_t i = 0; i < M; ++i) {  // L y = P e_column, L unit lower
                double sum = row[i] == column ? 1.0 : 0.0;
                for (std::size_t j = 0; j < i; ++j) sum -= lu(i, j) * x[j];
                x[i] = sum;
            }
            for (std::size_t i = M; i-- > 0;) {  // U x = y
                double sum = x[i];
                for (std::size_t j = i + 1; j < M; ++j) sum -= lu(i, j) * x[j];
                x[i] = sum / lu(i, i);
            }
            for (std::size_t i = 0; i < M; ++i) inverse(i, column) = x[i];
        }
    }
    return inverse;
}

}  // namespace kalman_detail

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
    void predict(double dt) {
        using namespace kalman_detail;
        const Matrix<N, N> f = model.transition(dt);
        predicted_state = times(f, state);
        predicted_covariance = plus(times_transposed(times(f, covariance), f), process_noise);
    }

    // Folds the measurement z into the predicted state.
    void correct(const Measurement& measurement) {
        using namespace kalman_detail;
        const Matrix<M, N>& h = model.observation;
        innovation = minus(measurement, times(h, predicted_state));
        innovation_covariance = plus(times_transposed(times(h, predicted_covariance), h), measurement_noise);
        const Matrix<M, M> inverse = invert(innovation_covariance);
        gain = times(times_transposed(predicted_covariance, h), inverse);
        state = plus(predicted_state, times(gain, innovation));
        covariance = minus(predicted_covariance, times(times(gain, h), predicted_covariance));
    }

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

}  // namespace tallo
