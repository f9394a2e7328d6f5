#include "base/messages.h"

#include <fmt/format.h>

namespace tallo::messages {

std::string index_out_of_bounds(std::size_t len, std::size_t index) {
    return fmt::format("index out of bounds: the len is {} but the index is {}", len, index);
}

std::string_view unwrap_none() { return "called `Option::unwrap()` on a `None` value"; }

std::string unwrap_err(std::string_view error) {
    return fmt::format("called `Result::unwrap()` on an `Err` value: {}", error);
}

std::string_view poisoned_mutex() { return "called `Result::unwrap()` on an `Err` value: PoisonError { .. }"; }

std::string os_error(std::string_view description, int error_number) {
    return fmt::format("{} (os error {})", description, error_number);
}

std::string_view nul_in_file_name() { return "file name contained an unexpected NUL byte"; }

std::string allocation_failed(std::size_t bytes) { return fmt::format("memory allocation of {} bytes failed", bytes); }

std::string_view write_zero() { return "failed to write whole buffer"; }

}  // namespace tallo::messages
