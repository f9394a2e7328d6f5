#pragma once

// Standard output of verbose compilation: plain text written at once, so that
// lines keep their order with whatever the host prints itself.
#include <string_view>

namespace tallo {

// Writes `text` to standard output and flushes it.
void print_out(std::string_view text);

}  // namespace tallo
