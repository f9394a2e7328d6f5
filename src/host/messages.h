#pragma once

// The fixed texts of the host layer: semiring names, source lookups, gradient
// methods, Graphviz export. Hosts match on them; code and tests cite them
// from here.
#include <string>
#include <string_view>

namespace tallo::messages {

// "Unknown semiring '{}'. Supported: LogProb, MaxProduct, Fuzzy, Boolean, ProbGradient",
// the names those of the semiring list, in its order.
std::string unknown_semiring(std::string_view name);

// "No source with channel '{}' found"
std::string no_source_with_channel(std::string_view channel);

// "No categorical source with channel '{}' found"
std::string no_categorical_source_with_channel(std::string_view channel);

// A Graphviz program that could not be started: "Failed to run graphviz!: {}"
// with the start error's description.
std::string failed_to_run_graphviz(std::string_view error);

// A gradient method called on a circuit or model of another semiring:
// "{} requires the ProbGradient semiring" with the method's name
// ("source_gradients" for both source lookups).
std::string requires_prob_gradient(std::string_view method);

}  // namespace tallo::messages
