#pragma once

// The fixed texts that every subsystem shares: the messages of stops raised by
// bounds checks, absent values, poisoned mutexes and file output. Hosts
// may match on them, so they exist here once and code and tests cite them from
// here. Texts that belong to one subsystem live in that subsystem's own
// `messages.h`.
#include <cstddef>
#include <string>
#include <string_view>

namespace tallo::messages {

// "index out of bounds: the len is {} but the index is {}"
std::string index_out_of_bounds(std::size_t len, std::size_t index);

// "called `Option::unwrap()` on a `None` value"
std::string_view unwrap_none();

// "called `Result::unwrap()` on an `Err` value: {}", the error's description
// in place of the placeholder.
std::string unwrap_err(std::string_view error);

// "called `Result::unwrap()` on an `Err` value: PoisonError { .. }"
std::string_view poisoned_mutex();

// A failed operating-system call: "{} (os error {})", the C library's
// description of the error number, then the number.
std::string os_error(std::string_view description, int error_number);

// A file path holding a NUL character: "file name contained an unexpected NUL byte"
std::string_view nul_in_file_name();

// Storage of `bytes` bytes that cannot be had (vector.h):
// "memory allocation of {} bytes failed".
std::string allocation_failed(std::size_t bytes);

// A write that took no bytes: "failed to write whole buffer"
std::string_view write_zero();

}  // namespace tallo::messages
