#pragma once

// The fixed texts of the tracking filters. Code and tests cite them from here.
#include <string_view>

namespace tallo::messages {

// The innovation covariance of a Kalman step had an exactly zero pivot:
// "Failed to invert Kalman residual covariance matrix"
std::string_view kalman_inversion_failed();

}  // namespace tallo::messages
