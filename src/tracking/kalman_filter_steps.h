#pragma once

// The steps of KalmanFilter<N, M>, written with the linear-algebra library on
// views of the filter's own fixed-size storage (no copies, no allocation).
// Included only where a size is instantiated: kalman_filter.cpp for the
// system's own filter, and tests that try other sizes.
#include <string>

#include <Eigen/Core>
#include <Eigen/LU>

#include "base/panic.h"
#include "tracking/kalman_filter.h"
#include "tracking/messages.h"

namespace tallo {
namespace kalman_detail {

// The library's fixed-size type with our row-major layout (a column vector is
// stored the same either way; the library insists on column-major for it).
template <std::size_t R, std::size_t C>
using Fixed = Eigen::Matrix<double, static_cast<int>(R), static_cast<int>(C),
                            (C == 1 && R != 1) ? Eigen::ColMajor : Eigen::RowMajor>;

template <std::size_t R, std::size_t C>
Eigen::Map<Fixed<R, C>> view(Matrix<R, C>& m) {
    return Eigen::Map<Fixed<R, C>>(m.elements.data());
}

template <std::size_t R, std::size_t C>
Eigen::Map<const Fixed<R, C>> view(const Matrix<R, C>& m) {
    return Eigen::Map<const Fixed<R, C>>(m.elements.data());
}

[[noreturn]] inline void inversion_failed() { stop(messages::kalman_inversion_failed()); }

// The inverse of `s`: directly for one element, otherwise by LU with partial
// pivoting (the library's decomposition carries on past a zero pivot, so the
// pivots are checked here).
template <std::size_t M>
Fixed<M, M> invert(const Matrix<M, M>& s) {
    if constexpr (M == 1) {
        if (s[0] == 0.0) inversion_failed();
        Fixed<1, 1> inverse;
        inverse(0, 0) = 1.0 / s[0];
        return inverse;
    } else {
        const Eigen::PartialPivLU<Fixed<M, M>> lu(view(s));
        const auto pivots = lu.matrixLU().diagonal();
        for (Eigen::Index i = 0; i < pivots.size(); ++i) {
            if (pivots[i] == 0.0) inversion_failed();
        }
        return lu.inverse();
    }
}

}  // namespace kalman_detail

template <std::size_t N, std::size_t M>
void KalmanFilter<N, M>::predict(double dt) {
    using kalman_detail::view;
    const Matrix<N, N> transition = model.transition(dt);
    const auto f = view(transition);
    view(predicted_state).noalias() = f * view(state);
    view(predicted_covariance) = f * view(covariance) * f.transpose() + view(process_noise);
}

template <std::size_t N, std::size_t M>
void KalmanFilter<N, M>::correct(const Measurement& measurement) {
    using kalman_detail::view;
    const auto h = view(model.observation);
    const auto p = view(predicted_covariance);
    view(innovation) = view(measurement) - h * view(predicted_state);
    view(innovation_covariance) = h * p * h.transpose() + view(measurement_noise);
    const kalman_detail::Fixed<M, M> inverse = kalman_detail::invert(innovation_covariance);
    view(gain) = p * h.transpose() * inverse;
    view(state) = view(predicted_state) + view(gain) * view(innovation);
    view(covariance) = p - view(gain) * h * p;
}

}  // namespace tallo
