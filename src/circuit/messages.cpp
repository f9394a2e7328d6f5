#include "circuit/messages.h"

#include <fmt/format.h>

namespace tallo::messages {

std::string_view value_size_zero() { return "value_size needs to be positive integer greater than 0!"; }

std::string unknown_semiring_tag(std::uint32_t tag) { return fmt::format("unknown semiring tag {}", tag); }

}  // namespace tallo::messages
