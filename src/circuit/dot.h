#pragma once

// The DOT texts of circuits, for looking at a circuit's shape with Graphviz.
//
// Guarantees:
// - The texts are UTF-8, every line ends with one line feed, and indices are
//   unsigned decimals. Nothing in a target token is escaped, so a token with a
//   double quote or a backslash can make the text unreadable to a DOT reader.
// - A reactive circuit's text lists its live nodes, then its live edges, each
//   in ascending index, so removed slots show as gaps in the numbering.
// - An edge label shows the first element of its memory as stored (in the
//   semiring's encoding, not decoded), with two digits after the point,
//   correctly rounded (an exact tie to the even digit), infinities as "inf" or
//   "-inf" and not-a-number as "NaN". The texts depend on the semiring only
//   through these values, so one builder serves all five.
// - The builders only read. A memory without elements or a term column beyond
//   the node's columns (neither of which the circuit operations produce) stops
//   with the bounds text rather than reading past a vector's end.
#include <cstdint>
#include <string>
#include <unordered_map>

#include "base/vector.h"
#include "circuit/algebraic_circuit.h"
#include "circuit/stable_graph.h"

namespace tallo::dot {

// "L{}" with the leaf index, or "M{}" with the edge index.
std::string column_label(ColumnSource source);

// A memory's first element as an edge label shows it.
std::string memory_value(const Vector& memory);

// The text of a reactive circuit's graph: its nodes, with the target tokens
// that name each and the labels of all its columns, and its edges with their
// memories.
std::string reactive_circuit_text(const StableGraph<AlgebraicCircuit, Vector>& structure,
                                  const std::unordered_map<std::string, std::uint32_t>& target_nodes);

}  // namespace tallo::dot
