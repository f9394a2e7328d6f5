#pragma once

// ReactiveCircuit<S>: a graph of sum-of-products nodes over leaves, updated
// incrementally in the semiring S.
//
// Guarantees:
// - `structure` holds one `AlgebraicCircuit` per node. Its edges run from a
//   consumer to a producer, and each edge's weight is the memory of the
//   producer's latest value as the consumer reads it.
// - `leafs` are only ever appended; a leaf's position is its `index`.
// - `dirty` holds the nodes to recompute at the next `update`; leaves mark
//   their `dependencies` into it, nothing is evaluated until then.
// - `target_nodes` maps each target token to the node whose value it reports.
// - `value_size` is at least 1: the number of slots of every value, one per
//   batch slot (in ProbGradient one probability and its derivatives).
// - The circuit has no lock of its own; it lives behind `SharedCircuit<S>`,
//   whose mutex every caller holds for the whole of an operation.
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/output_file.h"
#include "base/panic.h"
#include "base/poisonable.h"
#include "base/vector.h"
#include "circuit/algebraic_circuit.h"
#include "circuit/dot.h"
#include "circuit/leaf.h"
#include "circuit/messages.h"
#include "circuit/semiring.h"
#include "circuit/stable_graph.h"

namespace tallo {

template <class S>
class ReactiveCircuit {
public:
    StableGraph<AlgebraicCircuit, Vector> structure;  // edges run consumer -> producer; weight = memory
    std::vector<Leaf> leafs;
    std::unordered_set<std::uint32_t> dirty;
    std::unordered_map<std::string, std::uint32_t> target_nodes;
    std::vector<std::uint32_t> partition;
    std::optional<std::vector<std::vector<std::uint32_t>>> layers;
    std::uint32_t value_size;

    // An empty circuit of batch width `value_size`; stops on 0.
    explicit ReactiveCircuit(std::uint32_t value_size_) : value_size(value_size_) {
        if (value_size == 0) stop(std::string(messages::value_size_zero()));
    }

    void add_sum_product(const std::vector<std::vector<std::uint32_t>>& sum_product, const std::string& target_token);
    void update_dependencies();
    void connect(std::uint32_t consumer, std::uint32_t producer, std::uint32_t row);
    std::unordered_map<std::string, Vector> update();
    void invalidate();
    static ReactiveCircuit from_sum_product(std::uint32_t value_size,
                                            const std::vector<std::vector<std::uint32_t>>& sum_product,
                                            const std::string& target_token);

    // Moving leaves between levels and adapting the levels to the leaves'
    // change frequencies: circuit/restructure.h.
    void drop_leaf(std::uint32_t leaf);
    void lift_leaf(std::uint32_t leaf);
    std::pair<std::uint32_t, std::uint32_t> add_root(std::uint32_t node);  // (new root, its edge)
    std::uint32_t disconnect(std::uint32_t consumer, std::uint32_t producer);  // the row that read it
    std::uint32_t add_split_part(AlgebraicCircuit part, std::uint32_t leaf);
    void adapt(const std::vector<double>& boundaries);

    // The DOT text of the graph (circuit/dot.h), and that text written to a
    // file: nothing on success, else the first I/O error.
    std::string to_dot_text() const { return dot::reactive_circuit_text(structure, target_nodes); }
    std::optional<Error> to_dot(const std::string& path) const { return write_text_file(path, to_dot_text()); }
};

template <class S>
using SharedCircuit = Shared<ReactiveCircuit<S>>;

}  // namespace tallo

// The definitions of the leaf moves and adaptation, so that every user of the
// circuit has them.
#include "circuit/restructure.h"
