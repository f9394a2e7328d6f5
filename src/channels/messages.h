#pragma once

// The fixed texts of the channels: timestamps, timed writers' periods and
// threads, the density writer's distributions. Code and tests cite them
// from here.
#include <string>
#include <string_view>

namespace tallo::messages {

// A writer read a wall clock before the UNIX epoch.
std::string_view unix_timestamp_failed();  // "Acquiring UNIX timestamp failed!"

// A timed writer's sampler read a wall clock before the UNIX epoch.
std::string_view sampler_timestamp_failed();  // "Acquiring timestamp failed!"

// A timed writer's period would be negative.
std::string_view duration_negative();

// A timed writer's period would be NaN, infinite or too long.
std::string_view duration_too_big();

// Releasing a timed writer whose sampler thread had stopped.
std::string_view could_not_join_writer();  // "Could not join with writer thread!"

// The operating system refused a new thread.
std::string_view failed_to_spawn_thread();  // "failed to spawn thread"

// The report of a thread that ended by an exception that is no stop.
std::string_view unknown_exception();  // "unknown exception"

// DensityWriter.write with too few parameter rows, per distribution.
std::string_view normal_rows();       // "Normal requires [[means], [stds]]"
std::string_view lognormal_rows();    // "LogNormal requires [[log_means], [log_stds]]"
std::string_view exponential_rows();  // "Exponential requires [[rates]]"
std::string_view uniform_rows();      // "Uniform requires [[lows], [highs]]"

// "Unknown distribution '{}'. Supported: normal, lognormal, exponential, uniform"
std::string unknown_distribution(std::string_view name);

}  // namespace tallo::messages
