#pragma once

// The fixed texts of the circuit subsystem. Hosts may match on them, so code
// and tests cite them from here.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tallo::messages {

// A node, edge, edge memory or column looked up that the circuit does not hold
// (never made, or removed): the absent-value text of base/messages.h,
// "called `Option::unwrap()` on a `None` value".
std::string_view not_live();

// A circuit asked for with a batch width of 0:
// "value_size needs to be positive integer greater than 0!"
std::string_view value_size_zero();

// A semiring tag outside 0-4 reached the tag switch: "unknown semiring tag {}".
std::string unknown_semiring_tag(std::uint32_t tag);

// "StableGraph::add_edge: node index {} is not a node in the graph"
std::string add_edge_not_a_node(std::uint32_t index);

// An addition to a graph whose slots are all taken: "called `Result::unwrap()`
// on an `Err` value: " followed by the graph's reason.
std::string graph_full();

// "ReactiveCircuit should be a DAG: " followed by a description that names one
// node on the cycle.
std::string not_a_dag(std::uint32_t node_on_cycle);

// "ReactiveCircuit edge was missing!"
std::string_view edge_missing();

// "sum_product cannot be empty!"
std::string_view empty_sum_product();

// "target_token cannot be empty!"
std::string_view empty_target_token();

// Seeding a ProbGradient circuit for gradients once it holds a node:
// "gradients cannot be seeded once the circuit has nodes"
std::string_view seeded_after_nodes();

// Lifting a leaf out of a node whose terms do not use the leaf's column:
// "in_scope must exist"
std::string_view in_scope_missing();

// The array operations on values:
// "ndarray: could not broadcast array from shape: [{}] to: [{}]"
std::string broadcast(std::size_t from_len, std::size_t to_len);

// "ndarray: index out of bounds"
std::string_view array_index_out_of_bounds();

// "assertion failed: part.equal_dim(dimension)"
std::string_view unequal_dimensions();

// A bin count whose boundaries cannot be held (clustering.h): "cannot adapt
// to {} bins: their boundaries would take {} bytes, more than half of the
// machine's physical memory ({} bytes)".
std::string too_many_bins(std::uint32_t number_bins, std::size_t bytes, std::size_t physical_memory);

}  // namespace tallo::messages
