#pragma once

// Building, describing and checking reactive circuits in the tests of leaf
// moves and adaptation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/vector.h"
#include "circuit/dot.h"
#include "circuit/reactive_circuit.h"

namespace tallo::test {

using Rows = std::vector<std::vector<std::uint32_t>>;

// Gradient values carry one slot per leaf; the others get two batch slots so
// that every move is seen to work on whole vectors.
template <class S>
std::uint32_t width_for(std::size_t leaf_count) {
    return S::tag == SemiringTag::ProbGradient ? static_cast<std::uint32_t>(leaf_count + 1) : 2;
}

// The probabilities fed to leaf `index`: p in the first slot and 1 - p in the
// second (a gradient leaf takes only p). Boolean leaves see 0 or 1.
template <class S>
Vector leaf_input(double p, std::uint32_t width) {
    if constexpr (S::tag == SemiringTag::ProbGradient) {
        Vector v(width, 0.0);
        v.mutable_data()[0] = p;
        return v;
    } else {
        return Vector{p, 1.0 - p};
    }
}

// A circuit over leaves with the given probabilities and one root per token.
template <class S>
ReactiveCircuit<S> circuit_of(const std::vector<double>& probabilities, const std::map<std::string, Rows>& roots) {
    ReactiveCircuit<S> circuit(width_for<S>(probabilities.size()));
    for (std::uint32_t i = 0; i < probabilities.size(); ++i) {
        circuit.add_leaf(leaf_input<S>(probabilities[i], circuit.value_size()), 0.0, "x" + std::to_string(i));
    }
    for (const auto& [token, rows] : roots) circuit.add_sum_product(rows, token);
    circuit.update_dependencies();
    return circuit;
}

// The decoded value of every target's node, evaluated against the memories as
// they stand: right only if earlier updates recomputed what they had to.
template <class S>
std::map<std::string, Vector> target_values(const ReactiveCircuit<S>& circuit) {
    std::map<std::string, Vector> values;
    for (const auto& [token, node] : circuit.target_nodes()) {
        values[token] = S::decode(circuit.structure().node(node).template evaluate<S>(circuit.evaluation_view()));
    }
    return values;
}

inline ::testing::AssertionResult close_values(const std::map<std::string, Vector>& actual,
                                               const std::map<std::string, Vector>& expected) {
    if (actual.size() != expected.size()) return ::testing::AssertionFailure() << "different tokens";
    for (const auto& [token, want] : expected) {
        auto found = actual.find(token);
        if (found == actual.end()) return ::testing::AssertionFailure() << "no value for " << token;
        const Vector& got = found->second;
        if (got.size() != want.size()) return ::testing::AssertionFailure() << token << ": different lengths";
        for (std::size_t i = 0; i < want.size(); ++i) {
            const bool same = (std::isnan(got[i]) && std::isnan(want[i])) || got[i] == want[i] ||
                              std::abs(got[i] - want[i]) <= 1e-9 * std::max(1.0, std::abs(want[i]));
            if (!same) {
                return ::testing::AssertionFailure()
                       << token << " slot " << i << ": got " << got[i] << ", expected " << want[i];
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// The shape of a circuit in one line: live nodes with their terms (as the
// record text writes them) and the tokens that name them, then live edges.
// "0 t{L1·M0 | L2·M1} 1{L0} 2{L0} / 0:0->1 1:0->2"
template <class S>
std::string shape(const ReactiveCircuit<S>& circuit) {
    std::string out;
    for (std::uint32_t n : circuit.structure().node_indices()) {
        out += (out.empty() ? "" : " ") + std::to_string(n);
        std::set<std::string> tokens;
        for (const auto& [token, node] : circuit.target_nodes()) {
            if (node == n) tokens.insert(token);
        }
        for (const std::string& token : tokens) out += token;
        const AlgebraicCircuit& node = circuit.structure().node(n);
        out += "{";
        for (std::size_t row = 0; row < node.minterms().size(); ++row) {
            out += row ? " | " : "";
            for (std::size_t i = 0; i < node.minterms()[row].size(); ++i) {
                out += (i ? "\u00b7" : "") + dot::column_label(node.columns().at(node.minterms()[row][i]));
            }
        }
        out += "}";
    }
    out += " /";
    for (std::uint32_t e : circuit.structure().edge_indices()) {
        out += " " + std::to_string(e) + ":" + std::to_string(circuit.structure().source(e)) + "->" +
               std::to_string(circuit.structure().target(e));
    }
    return out;
}

// The levels at which each leaf is held: the number of edges from a root
// down to each node holding it.
template <class S>
std::vector<std::set<std::uint32_t>> leaf_levels(const ReactiveCircuit<S>& circuit) {
    std::vector<std::set<std::uint32_t>> levels(circuit.leafs().size());
    for (std::uint32_t n : circuit.structure().node_indices()) {
        std::uint32_t depth = 0;
        for (std::uint32_t at = n; !circuit.structure().incoming(at).empty(); ++depth) {
            at = circuit.structure().source(*circuit.structure().incoming(at).begin());
        }
        for (const auto& entry : circuit.structure().node(n).leaf_columns()) levels.at(entry.first).insert(depth);
    }
    return levels;
}

// The graph's slot invariant, each node's column invariants, and the shape
// that the moves keep: every non-root node read by one term of one consumer,
// at most one memory column per term, memories of `value_size` elements.
template <class S>
::testing::AssertionResult well_formed(const ReactiveCircuit<S>& circuit) {
    if (auto bad = circuit.structure().audit()) return ::testing::AssertionFailure() << *bad;
    for (std::uint32_t n : circuit.structure().node_indices()) {
        const AlgebraicCircuit& node = circuit.structure().node(n);
        auto fail = [&] { return ::testing::AssertionFailure() << "node " << n << " (" << shape(circuit) << "): "; };
        if (node.value_size() != circuit.value_size()) return fail() << "value_size";
        if (auto broken = node.audit()) return fail() << *broken;
        std::map<std::uint32_t, int> memory_uses;
        for (const auto& term : node.minterms()) {
            int memories = 0;
            for (std::size_t i = 0; i < term.size(); ++i) {
                if (term[i] >= node.columns().size() || (i && term[i - 1] >= term[i])) return fail() << "term order";
                if (node.columns()[term[i]].kind == ColumnSource::Memory) {
                    ++memories;
                    ++memory_uses[term[i]];
                }
            }
            if (memories > 1) return fail() << "a term reads two producers";
        }
        std::set<std::uint32_t> outgoing(circuit.structure().outgoing(n).begin(), circuit.structure().outgoing(n).end());
        std::set<std::uint32_t> read;
        for (const auto& entry : node.edge_columns()) {
            read.insert(entry.first);
            if (memory_uses[entry.second] != 1) return fail() << "memory column used by other than one term";
        }
        if (read != outgoing) return fail() << "memory columns differ from the outgoing edges";
        for (std::uint32_t e : outgoing) {
            if (circuit.structure().edge(e).size() != circuit.value_size()) return fail() << "memory length";
        }
        const auto incoming = circuit.structure().incoming(n);
        if (!incoming.empty() && std::next(incoming.begin()) != incoming.end()) return fail() << "two consumers";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace tallo::test
