#pragma once

// The fields of a ReactiveCircuit, writable: for tests and benchmarks that
// build circuits no operation of the circuit makes (a leaf's dependencies set
// by hand, a node without a token, a removed edge). Whoever changes
// `structure` or `target_nodes` through it makes `layers` absent too.
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
};

}  // namespace tallo::test
