#include "host/messages.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "circuit/semiring.h"

namespace tallo::messages {

std::string failed_to_run_graphviz(std::string_view error) {
    return fmt::format("Failed to run graphviz!: {}", error);
}

std::string requires_prob_gradient(std::string_view method) {
    return fmt::format("{} requires the ProbGradient semiring", method);
}

std::string unknown_semiring(std::string_view name) {
    return fmt::format("Unknown semiring '{}'. Supported: {}", name, fmt::join(SemiringTypes::names, ", "));
}

std::string no_source_with_channel(std::string_view channel) {
    return fmt::format("No source with channel '{}' found", channel);
}

std::string no_categorical_source_with_channel(std::string_view channel) {
    return fmt::format("No categorical source with channel '{}' found", channel);
}

}  // namespace tallo::messages
