#pragma once

// FoCEstimator: how often a leaf's value changes, in changes per second.
//
// Each accepted change passes its timestamp to `update`, which feeds the
// interval since the previous change into a two-state Kalman filter (the
// interval and its drift per second, one measured interval) and returns the
// reciprocal of the filtered interval.
//
// Guarantees:
// - The first `update` only records its timestamp and returns 0.0.
// - Every later result lies in [0.01, 10000] or is NaN: the filtered interval
//   is held in [0.0001, 100] seconds after each step (NaN stays NaN, and once
//   NaN the estimator stays NaN). The drift and the covariance are not held.
// - Backward timestamps are not refused; they pull the interval down.
// - A stop inside the filter leaves the new timestamp recorded.
// - No lock of its own: it lives in its leaf, under the circuit's mutex.
// - A step allocates nothing.
#include <optional>

#include "tracking/kalman_filter.h"

namespace tallo {

class FoCEstimator {
public:
    // `initial_interval`: the first estimate of the interval between changes.
    explicit FoCEstimator(double initial_interval);

    // One step at `timestamp` (seconds); the new change frequency.
    double update(double timestamp);

    std::optional<double> last_timestamp;
    KalmanFilter<2, 1> filter;
};

}  // namespace tallo
