#include "tracking/kalman_filter.h"

#include "tracking/kalman_filter_steps.h"

namespace tallo {

template class KalmanFilter<2, 1>;

}  // namespace tallo
