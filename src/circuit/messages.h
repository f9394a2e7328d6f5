#pragma once

// The fixed texts of the circuit subsystem. Hosts may match on them, so code
// and tests cite them from here.
#include <cstdint>
#include <string>
#include <string_view>

namespace tallo::messages {

// A circuit asked for with a batch width of 0:
// "value_size needs to be positive integer greater than 0!"
std::string_view value_size_zero();

// A semiring tag outside 0-4 reached the tag switch: "unknown semiring tag {}".
std::string unknown_semiring_tag(std::uint32_t tag);

}  // namespace tallo::messages
