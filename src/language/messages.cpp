#include "language/messages.h"

#include <fmt/format.h>

namespace tallo::messages {

std::string_view invalid_float() { return "ParseFloatError { kind: Invalid }"; }

std::string bad_slice(std::size_t begin, std::size_t end, std::string_view text) {
    return fmt::format("begin <= end ({} <= {}) when slicing `{}`", begin, end, text);
}

std::string invalid_utf8(std::size_t at) { return fmt::format("invalid UTF-8 in model text at byte {}", at); }

std::string regex_search_failed(std::string_view engine_message) {
    return fmt::format("regular expression search failed: {}", engine_message);
}

}  // namespace tallo::messages
