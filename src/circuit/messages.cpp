#include "circuit/messages.h"

#include <fmt/format.h>

#include "base/messages.h"

namespace tallo::messages {

std::string_view not_live() { return unwrap_none(); }

std::string_view value_size_zero() { return "value_size needs to be positive integer greater than 0!"; }

std::string unknown_semiring_tag(std::uint32_t tag) { return fmt::format("unknown semiring tag {}", tag); }

std::string add_edge_not_a_node(std::uint32_t index) {
    return fmt::format("StableGraph::add_edge: node index {} is not a node in the graph", index);
}

std::string graph_full() { return unwrap_err("the graph has no free index left"); }

std::string not_a_dag(std::uint32_t node_on_cycle) {
    return fmt::format("ReactiveCircuit should be a DAG: node {} lies on a cycle", node_on_cycle);
}

std::string_view edge_missing() { return "ReactiveCircuit edge was missing!"; }

std::string_view empty_sum_product() { return "sum_product cannot be empty!"; }

std::string_view empty_target_token() { return "target_token cannot be empty!"; }

std::string_view seeded_after_nodes() { return "gradients cannot be seeded once the circuit has nodes"; }

std::string_view in_scope_missing() { return "in_scope must exist"; }

std::string broadcast(std::size_t from_len, std::size_t to_len) {
    return fmt::format("ndarray: could not broadcast array from shape: [{}] to: [{}]", from_len, to_len);
}

std::string_view array_index_out_of_bounds() { return "ndarray: index out of bounds"; }

std::string_view unequal_dimensions() { return "assertion failed: part.equal_dim(dimension)"; }

std::string too_many_bins(std::uint32_t number_bins, std::size_t bytes, std::size_t physical_memory) {
    return fmt::format(
        "cannot adapt to {} bins: their boundaries would take {} bytes, more than half of the machine's physical "
        "memory ({} bytes)",
        number_bins, bytes, physical_memory);
}

}  // namespace tallo::messages
