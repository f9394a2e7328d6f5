#pragma once

// ReactiveCircuit<S>: a graph of sum-of-products nodes over leaves, updated
// incrementally in the semiring S.
//
// Guarantees:
// - `structure` holds one `AlgebraicCircuit` per node. Its edges run from a
//   consumer to a producer, and each edge's weight is the memory of the
//   producer's latest value as the consumer reads it.
// - `leafs` are only ever appended, and only by `add_leaf`, which builds each
//   leaf itself: a leaf's position is its `index`.
// - `dirty` holds the nodes to recompute at the next `update`; `update_leaf`
//   marks a changed leaf's `dependencies` into it, nothing is evaluated until
//   then. It is a
//   `NodeSet` (circuit/node_set.h): marking and emptying do not allocate.
// - `target_nodes` maps each target token to the node whose value it reports.
//   Changing it is a structural change: `update` reads the tokens from an
//   index built with `layers`, so the operations that change the map make
//   `layers` absent too.
// - Two widths, both the circuit's own (the model, the manager, the readers
//   and the writers ask it, or take one snapshot when they start):
//   `value_size`, at least 1, the number of slots of every stored value: every
//   node's value, every edge memory and every value an update reports (in
//   ProbGradient one probability and its derivatives). It is fixed at
//   construction; only `seed_gradients` widens it, and only while the circuit
//   has no node, so every node it holds and every memory has this width.
//   `batch_width`, the number of batch slots a host writes per leaf: the
//   `value_size` given at construction, except in ProbGradient, which does
//   not batch and has one slot whatever the width of its dual numbers.
// - These fields are private: the operations below are their only writers,
//   and const accessors of the same names read them.
// - The circuit has no lock of its own; it lives behind `SharedCircuit<S>`,
//   whose mutex every caller holds for the whole of an operation.
// - `layers`, when present, lists every live node once, by depth (the length
//   of its longest path down through producers), each layer in ascending node
//   index. Every structural change (`add_sum_product`, `add_inner_node`,
//   `connect`, the leaf moves) makes it absent; the next `update` rebuilds it.
// - `update` recomputes exactly the nodes that were dirty when it started,
//   producers before consumers, and nothing else. It empties `dirty` first.
//   Within a layer the dirty nodes are evaluated in parallel on the worker
//   pool (circuit/worker_pool.h) when the layer holds enough work, else on
//   the calling thread; the evaluations only read the circuit. All writes
//   (memories, the result map) follow on the calling thread, one node at a
//   time in layer order. Its cost grows with the dirty nodes, not with the
//   circuit or its tokens: an update with nothing dirty only checks the
//   cached layers, and one with a few dirty nodes of one slot allocates
//   nothing but its results.
// - Dependencies: `update_dependencies` gives each leaf every node that holds
//   a column for it and all their consumers, transitively, ascending;
//   `add_sum_product` adds only the token's node, `add_inner_node` only its
//   new node.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
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
#include "circuit/node_set.h"
#include "circuit/semiring.h"
#include "circuit/stable_graph.h"
#include "circuit/worker_pool.h"

namespace tallo {

namespace test {
struct CircuitAccess;
}

template <class S>
class ReactiveCircuit {
public:
    // An empty circuit whose values have `value_size` slots; stops on 0.
    explicit ReactiveCircuit(std::uint32_t value_size) : value_size_(value_size) {
        if (value_size_ == 0) stop(messages::value_size_zero());
    }

    // The slots of every stored value, at least 1: fixed at construction,
    // widened only by `seed_gradients`.
    std::uint32_t value_size() const { return value_size_; }

    // The batch slots a host writes per leaf, at least 1; 1 in ProbGradient.
    std::uint32_t batch_width() const { return S::tag == SemiringTag::ProbGradient ? 1 : value_size_; }

    void add_sum_product(const std::vector<std::vector<std::uint32_t>>& sum_product, const std::string& target_token);
    // A new node of the rows of leaf indices `sum_product` that no target
    // token reports, read by consumers once `connect` joins them: the node is
    // added to its leaves' dependencies and marked dirty, as
    // `add_sum_product` does for a token's node. Returns its index; stops on
    // a leaf beyond the leaves (the rows stay).
    std::uint32_t add_inner_node(const std::vector<std::vector<std::uint32_t>>& sum_product);
    // Marks the live `node` to be recomputed at the next update, as a change
    // of one of its leaves does; stops on a node that is not live.
    void mark_dirty(std::uint32_t node);
    void update_dependencies();
    void connect(std::uint32_t consumer, std::uint32_t producer, std::uint32_t row);
    std::unordered_map<std::string, Vector> update();
    void invalidate();
    static ReactiveCircuit from_sum_product(std::uint32_t value_size,
                                            const std::vector<std::vector<std::uint32_t>>& sum_product,
                                            const std::string& target_token);

    // Moving leaves between levels and adapting the levels to the leaves'
    // change frequencies: defined and compiled in circuit/restructure.cpp,
    // whose head states what the moves guarantee. The moves are the only
    // public restructuring; the parts they build are made in there.
    void drop_leaf(std::uint32_t leaf);
    void lift_leaf(std::uint32_t leaf);
    // The levels of the leaves' change frequencies clustered by `boundaries`
    // (circuit/clustering.h), one per leaf; stops on a circuit without leaves.
    std::vector<std::uint32_t> levels_for(const std::vector<double>& boundaries) const;
    // Moves every leaf from its stored level in `partition` to its level in
    // `levels`, then stores `levels` there.
    void adapt(std::vector<std::uint32_t> levels);

    // Appends the leaf `Leaf::create<S>` builds from the probabilities
    // `value` (circuit/leaf.h), with the index the circuit gives it: the
    // number of leaves before it, which is returned. The value's length is
    // not compared with `value_size`. Nothing is marked dirty.
    std::uint32_t add_leaf(Vector value, double initial_timestamp, std::string name);

    // Feeds the probabilities `value`, observed at `timestamp`, into the leaf
    // at `position`: the only way a signal changes a leaf. In ProbGradient
    // only the first probability counts: it is stored as a dual number of at
    // least `value_size` slots with the seed of the leaf's own `index`. A
    // value that the change test finds unchanged costs one encoding and one
    // comparison and touches nothing else: not the value, the estimator, the
    // frequency or `dirty`. An accepted change stores the value first, then
    // asks the estimator (a stop there leaves the new value stored and no
    // node marked), then marks every dependency dirty. Stops on a position
    // beyond the leaves (and, in ProbGradient, on an empty value, checked
    // first).
    void update_leaf(std::uint32_t position, Vector value, double timestamp);

    // ProbGradient: widens every leaf to one derivative slot per leaf, its
    // own seeded with 1.0, and `value_size` with it. The values are written
    // as they are: no change test, no estimate, nothing marked dirty. Refused
    // once the circuit has a node (a stop, nothing changed): the nodes and
    // memories made before would keep the old width. Other semirings:
    // nothing.
    void seed_gradients();

    // What the evaluation of a node reads of the circuit: the leaves' values
    // and the edges' memories.
    EvaluationView evaluation_view() const { return EvaluationView{leafs_, structure_}; }

    // Read access to the fields the operations above keep consistent.
    const StableGraph<AlgebraicCircuit, Vector>& structure() const { return structure_; }
    const std::vector<Leaf>& leafs() const { return leafs_; }
    const NodeSet& dirty() const { return dirty_; }
    const std::unordered_map<std::string, std::uint32_t>& target_nodes() const { return target_nodes_; }
    const std::vector<std::uint32_t>& partition() const { return partition_; }
    const std::optional<std::vector<std::vector<std::uint32_t>>>& layers() const { return layers_; }

    // The DOT text of the graph (circuit/dot.h), and that text written to a
    // file: nothing on success, else the first I/O error.
    std::string to_dot_text() const { return dot::reactive_circuit_text(structure_, target_nodes_); }
    std::optional<IoError> to_dot(const std::string& path) const { return write_text_file(path, to_dot_text()); }

private:
    // The circuit's own unit tests build shapes that no operation here makes
    // (a leaf's dependencies set by hand, a removed edge); they reach the
    // fields through this, and audit the circuit afterwards.
    friend struct test::CircuitAccess;

    StableGraph<AlgebraicCircuit, Vector> structure_;  // edges run consumer -> producer; weight = memory
    std::vector<Leaf> leafs_;
    NodeSet dirty_;
    std::unordered_map<std::string, std::uint32_t> target_nodes_;
    std::vector<std::uint32_t> partition_;
    std::optional<std::vector<std::vector<std::uint32_t>>> layers_;

    std::uint32_t value_size_;

    // The restructuring's own steps (circuit/restructure.cpp): a new root
    // above `node`, taking its tokens (returns the root and its edge); the
    // removal of the edge from `consumer` to `producer` and of its column
    // (returns the row that read it); a node of `part`, a split of one of
    // this circuit's nodes, without `leaf`'s column, its memories re-created
    // on new edges.
    std::pair<std::uint32_t, std::uint32_t> add_root(std::uint32_t node);
    std::uint32_t disconnect(std::uint32_t consumer, std::uint32_t producer);
    std::uint32_t add_split_part(AlgebraicCircuit part, std::uint32_t leaf);

    // Orders the nodes into `layers`, `depth_of_` and the token index; stops
    // on a cycle.
    void build_layers();

    // Appends the rows of leaf indices to the terms of `node` and adds the
    // node to their leaves' dependencies; stops on a leaf beyond the leaves.
    void add_rows(std::uint32_t node, const std::vector<std::vector<std::uint32_t>>& sum_product);

    // Built with `layers` and valid while it is present, so that an update
    // finds what it needs of a dirty node without walking every node or
    // every token:
    // - `depth_of_`: each node slot's depth, the index of its layer (END for
    //   a slot that no layer lists);
    // - the token index: the target tokens of node n are
    //   `token_names_[token_begin_[n] .. token_begin_[n + 1])`, in the order
    //   in which an update reports them.
    std::vector<std::uint32_t> depth_of_;
    std::vector<std::uint32_t> token_begin_;
    std::vector<std::string> token_names_;

    // The scratch of `update`, kept between calls so that an update of a few
    // dirty nodes allocates nothing of its own (beyond its results): the
    // snapshot of `dirty`, the snapshot in layer order as (depth, node), and
    // the values of one update's evaluations.
    NodeSet snapshot_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> order_;
    std::vector<Vector> values_;
};

template <class S>
using SharedCircuit = Shared<ReactiveCircuit<S>>;

// The tuning the update uses, shared with the benchmarks that measure it.
namespace reactive_detail {

// Below this much work (terms x (columns + 1) x value_size, summed over the
// layer's dirty nodes) a layer is evaluated on the calling thread: handing it
// to the pool would cost more than it saves (see bench/README.md).
inline constexpr std::size_t PARALLEL_WORK_THRESHOLD = 1u << 16;

// The nodes per chunk when a layer of `nodes` dirty nodes goes to the pool:
// many chunks per worker, so that a worker that joins late, or loses its core
// to another process while it holds a chunk, keeps the others waiting for
// little (a chunk of the widest benchmarked nodes takes tens of
// microseconds; the pool's cost per chunk is well under one).
inline std::size_t layer_grain(std::size_t nodes) {
    constexpr std::size_t CHUNKS_PER_WORKER = 16;
    return std::max<std::size_t>(1, nodes / (CHUNKS_PER_WORKER * worker_pool::concurrency()));
}

}  // namespace reactive_detail

}  // namespace tallo

// Every semiring's circuit is compiled once, in circuit/reactive_circuit.cpp
// (the leaf moves in circuit/restructure.cpp); every other file only declares
// these instantiations.
#define TALLO_CIRCUIT_TEMPLATES(S, extern_) extern_ template class ReactiveCircuit<S>;

namespace tallo {
TALLO_FOR_EACH_SEMIRING(TALLO_CIRCUIT_TEMPLATES, extern)
}  // namespace tallo
