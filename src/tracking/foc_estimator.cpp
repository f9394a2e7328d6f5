#include "tracking/foc_estimator.h"

namespace tallo {
namespace {

constexpr double MIN_INTERVAL = 0.0001;
constexpr double MAX_INTERVAL = 100.0;

// The interval moves by its drift over dt.
Matrix<2, 2> transition(double dt) { return Matrix<2, 2>{{1.0, dt, 0.0, 1.0}}; }

KalmanFilter<2, 1> make_filter(double initial_interval) {
    const ColumnVector<2> state{{initial_interval, 0.0}};
    const Matrix<2, 2> covariance{{30.0, 0.0, 0.0, 100.0}};
    const Matrix<2, 2> process_noise{{0.05, 1.0, 1.0, 20.0}};
    const Matrix<1, 1> measurement_noise{{0.05}};
    const LinearModel<2, 1> model{transition, Matrix<1, 2>{{1.0, 0.0}}};
    return KalmanFilter<2, 1>(state, covariance, model, process_noise, measurement_noise);
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
    filter.correct(ColumnVector<1>{{dt}});

    double& interval = filter.state[0];
    if (interval < MIN_INTERVAL) {
        interval = MIN_INTERVAL;
    } else if (interval > MAX_INTERVAL) {
        interval = MAX_INTERVAL;
    }
    return 1.0 / interval;
}

}  // namespace tallo
