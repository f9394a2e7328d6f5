#pragma once

// The fields of a ReactiveCircuit, writable: for the circuit's own unit tests
// that build shapes no operation of the circuit makes (a leaf's dependencies
// set by hand, a removed edge, a term that no longer reads its producer).
// Whoever changes `structure` or `target_nodes` through it makes `layers`
// absent too, and checks `audited` after building: what a test breaks on
// purpose is what the operation under test must meet, never the invariants
// that the types keep.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "circuit/reactive_circuit.h"

namespace tallo::test {

struct CircuitAccess {
    template <class S>
    static StableGraph<AlgebraicCircuit, Vector>& structure(ReactiveCircuit<S>& circuit) {
        return circuit.structure_;
    }
    template <class S>
    static std::vector<Leaf>& leafs(ReactiveCircuit<S>& circuit) {
        return circuit.leafs_;
    }
    template <class S>
    static NodeSet& dirty(ReactiveCircuit<S>& circuit) {
        return circuit.dirty_;
    }
    template <class S>
    static std::unordered_map<std::string, std::uint32_t>& target_nodes(ReactiveCircuit<S>& circuit) {
        return circuit.target_nodes_;
    }
    template <class S>
    static std::optional<std::vector<std::vector<std::uint32_t>>>& layers(ReactiveCircuit<S>& circuit) {
        return circuit.layers_;
    }
    // Appends a leaf whose value is `value` as stored, not encoded, with the
    // index `add_leaf` would give it; returns that index.
    template <class S>
    static std::uint32_t add_encoded_leaf(ReactiveCircuit<S>& circuit, Vector value, std::string name) {
        const auto index = static_cast<std::uint32_t>(circuit.leafs_.size());
        circuit.leafs_.push_back(Leaf::create_encoded(std::move(value), 0.0, std::move(name), index));
        return index;
    }
};

// The invariants the circuit's types keep: the graph's slot invariant, every
// node's column invariants and its width (the circuit's).
template <class S>
::testing::AssertionResult audited(const ReactiveCircuit<S>& circuit) {
    if (auto broken = circuit.structure().audit()) return ::testing::AssertionFailure() << *broken;
    for (std::uint32_t n : circuit.structure().node_indices()) {
        const AlgebraicCircuit& node = circuit.structure().node(n);
        if (auto broken = node.audit()) return ::testing::AssertionFailure() << "node " << n << ": " << *broken;
        if (node.value_size() != circuit.value_size()) {
            return ::testing::AssertionFailure() << "node " << n << " has width " << node.value_size();
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace tallo::test
