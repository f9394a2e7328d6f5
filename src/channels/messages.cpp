#include "channels/messages.h"

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

}  // namespace tallo::messages
