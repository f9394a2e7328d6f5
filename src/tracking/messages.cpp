#include "tracking/messages.h"

namespace tallo::messages {

std::string_view kalman_inversion_failed() { return "Failed to invert Kalman residual covariance matrix"; }

}  // namespace tallo::messages
