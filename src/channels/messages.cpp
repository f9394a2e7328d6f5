#include "channels/messages.h"

#include <fmt/format.h>

namespace tallo::messages {

std::string_view unix_timestamp_failed() { return "Acquiring UNIX timestamp failed!"; }

std::string_view sampler_timestamp_failed() { return "Acquiring timestamp failed!"; }

std::string_view duration_negative() { return "cannot convert float seconds to Duration: value is negative"; }

std::string_view duration_too_big() {
    return "cannot convert float seconds to Duration: value is either too big or NaN";
}

std::string_view could_not_join_writer() { return "Could not join with writer thread!"; }

std::string_view failed_to_spawn_thread() { return "failed to spawn thread"; }

std::string_view unknown_exception() { return "unknown exception"; }

std::string_view normal_rows() { return "Normal requires [[means], [stds]]"; }

std::string_view lognormal_rows() { return "LogNormal requires [[log_means], [log_stds]]"; }

std::string_view exponential_rows() { return "Exponential requires [[rates]]"; }

std::string_view uniform_rows() { return "Uniform requires [[lows], [highs]]"; }

std::string unknown_distribution(std::string_view name) {
    return fmt::format("Unknown distribution '{}'. Supported: normal, lognormal, exponential, uniform", name);
}

}  // namespace tallo::messages
