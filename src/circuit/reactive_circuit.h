#pragma once

// ReactiveCircuit<S>: a graph of sum-of-products nodes over leaves, updated
// incrementally in the semiring S.
//
// Guarantees:
// - `structure` holds one `AlgebraicCircuit` per node. Its edges run from a
//   consumer to a producer, and each edge's weight is the memory of the
//   producer's latest value as the consumer reads it.
// - `leafs` are only ever appended; a leaf's position is its `index`.
// - `dirty` holds the nodes to recompute at the next `update`; `update_leaf`
//   marks a changed leaf's `dependencies` into it, nothing is evaluated until
//   then. It is a
//   `NodeSet` (circuit/node_set.h): marking and emptying do not allocate.
// - `target_nodes` maps each target token to the node whose value it reports.
//   Changing it is a structural change: `update` reads the tokens from an
//   index built with `layers`, so the operations that change the map make
//   `layers` absent too.
// - `value_size` is at least 1: the number of slots of every value, one per
//   batch slot (in ProbGradient one probability and its derivatives). It is
//   fixed at construction; only `seed_gradients` widens it.
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

#include "base/messages.h"
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
    // An empty circuit of batch width `value_size`; stops on 0.
    explicit ReactiveCircuit(std::uint32_t value_size) : value_size_(value_size) {
        if (value_size_ == 0) stop(messages::value_size_zero());
    }

    // The batch width, at least 1: fixed at construction, widened only by
    // `seed_gradients`.
    std::uint32_t value_size() const { return value_size_; }

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
    // change frequencies: defined in circuit/restructure.h, compiled with
    // the rest of the circuit in circuit/instantiations.cpp.
    void drop_leaf(std::uint32_t leaf);
    void lift_leaf(std::uint32_t leaf);
    std::pair<std::uint32_t, std::uint32_t> add_root(std::uint32_t node);  // (new root, its edge)
    std::uint32_t disconnect(std::uint32_t consumer, std::uint32_t producer);  // the row that read it
    std::uint32_t add_split_part(AlgebraicCircuit part, std::uint32_t leaf);
    // The levels of the leaves' change frequencies clustered by `boundaries`
    // (circuit/clustering.h), one per leaf; stops on a circuit without leaves.
    std::vector<std::uint32_t> levels_for(const std::vector<double>& boundaries) const;
    // Moves every leaf from its stored level in `partition` to its level in
    // `levels`, then stores `levels` there.
    void adapt(std::vector<std::uint32_t> levels);

    // Appends `leaf`, whose `index` is its position: the number of leaves
    // before it.
    void add_leaf(Leaf leaf) { leafs_.push_back(std::move(leaf)); }

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
    // as they are: no change test, no estimate, nothing marked dirty. Stops
    // on an empty leaf value or a leaf index beyond the leaves. Other
    // semirings: nothing.
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
    std::optional<Error> to_dot(const std::string& path) const { return write_text_file(path, to_dot_text()); }

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
// ---- definitions ----

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

inline std::size_t evaluation_work(const AlgebraicCircuit& node) {
    return node.minterms().size() * (node.columns().size() + 1) * node.value_size();
}

// Adds `node` to the ascending, repeat-free `nodes`.
inline void insert_sorted(std::vector<std::uint32_t>& nodes, std::uint32_t node) {
    auto at = std::lower_bound(nodes.begin(), nodes.end(), node);
    if (at == nodes.end() || *at != node) nodes.insert(at, node);
}

// Overwrites `memory` with `value` in place, after giving it storage of its
// own; a one-element value fills every slot.
inline void write_memory(Vector& memory, const Vector& value) {
    if (value.size() != 1 && value.size() != memory.size()) stop(messages::broadcast(value.size(), memory.size()));
    double* out = memory.mutable_data();
    if (value.size() == 1) {
        std::fill(out, out + memory.size(), value[0]);
    } else {
        std::copy(value.begin(), value.end(), out);
    }
}

}  // namespace reactive_detail

template <class S>
void ReactiveCircuit<S>::add_sum_product(const std::vector<std::vector<std::uint32_t>>& sum_product,
                                         const std::string& target_token) {
    layers_.reset();
    auto [entry, added] = target_nodes_.try_emplace(target_token, 0);
    if (added) entry->second = structure_.add_node(AlgebraicCircuit(value_size_));
    const std::uint32_t node_index = entry->second;
    add_rows(node_index, sum_product);
    dirty_.insert(node_index);
}

template <class S>
std::uint32_t ReactiveCircuit<S>::add_inner_node(const std::vector<std::vector<std::uint32_t>>& sum_product) {
    layers_.reset();
    const std::uint32_t node_index = structure_.add_node(AlgebraicCircuit(value_size_));
    add_rows(node_index, sum_product);
    dirty_.insert(node_index);
    return node_index;
}

template <class S>
void ReactiveCircuit<S>::add_rows(std::uint32_t node_index, const std::vector<std::vector<std::uint32_t>>& sum_product) {
    AlgebraicCircuit& node = structure_.node(node_index);
    for (const auto& row : sum_product) node.push_leaf_row(row);
    for (const auto& row : sum_product) {
        for (std::uint32_t leaf : row) {
            if (leaf >= leafs_.size()) stop(messages::index_out_of_bounds(leafs_.size(), leaf));
            reactive_detail::insert_sorted(leafs_[leaf].dependencies, node_index);
        }
    }
}

template <class S>
void ReactiveCircuit<S>::mark_dirty(std::uint32_t node) {
    if (!structure_.contains_node(node)) stop(messages::unwrap_none());
    dirty_.insert(node);
}

template <class S>
void ReactiveCircuit<S>::update_dependencies() {
    // The nodes that hold each leaf, in ascending node order.
    std::vector<std::vector<std::uint32_t>> holders(leafs_.size());
    for (std::uint32_t n : structure_.node_indices()) {
        for (const auto& entry : structure_.unchecked_node(n).leaf_columns()) {
            if (entry.first < holders.size()) holders[entry.first].push_back(n);
        }
    }
    // Breadth-first from the holders along incoming edges to every consumer;
    // `seen` is stamped with the leaf's number + 1 so it needs no clearing.
    std::vector<std::size_t> seen(structure_.node_bound(), 0);
    std::vector<std::uint32_t> queue;
    for (std::size_t leaf = 0; leaf < leafs_.size(); ++leaf) {
        const std::size_t stamp = leaf + 1;
        queue.clear();
        for (std::uint32_t n : holders[leaf]) {
            if (seen[n] == stamp) continue;
            seen[n] = stamp;
            queue.push_back(n);
            for (std::size_t at = queue.size() - 1; at < queue.size(); ++at) {
                for (std::uint32_t e : structure_.incoming(queue[at])) {
                    const std::uint32_t consumer = structure_.source(e);
                    if (seen[consumer] == stamp) continue;
                    seen[consumer] = stamp;
                    queue.push_back(consumer);
                }
            }
        }
        std::sort(queue.begin(), queue.end());
        leafs_[leaf].dependencies.assign(queue.begin(), queue.end());
    }
}

template <class S>
void ReactiveCircuit<S>::connect(std::uint32_t consumer, std::uint32_t producer, std::uint32_t row) {
    layers_.reset();
    const std::uint32_t edge = structure_.add_edge(consumer, producer, S::zero(value_size_));
    AlgebraicCircuit& node = structure_.node(consumer);
    node.add_col_to_minterm(row, node.create_memory(edge));
}

template <class S>
void ReactiveCircuit<S>::build_layers() {
    auto sorted = structure_.topological_order();
    if (sorted.cycle) stop(messages::not_a_dag(*sorted.cycle));

    constexpr std::uint32_t NONE = StableGraph<AlgebraicCircuit, Vector>::END;
    const std::uint32_t bound = structure_.node_bound();
    depth_of_.assign(bound, NONE);
    std::uint32_t deepest = 0;
    for (auto at = sorted.order.rbegin(); at != sorted.order.rend(); ++at) {
        std::uint32_t depth = 0;
        for (std::uint32_t e : structure_.outgoing(*at)) depth = std::max(depth, depth_of_[structure_.target(e)] + 1);
        depth_of_[*at] = depth;
        deepest = std::max(deepest, depth);
    }
    std::vector<std::vector<std::uint32_t>> built(std::size_t{deepest} + 1);
    for (std::uint32_t n : structure_.node_indices()) built[depth_of_[n]].push_back(n);

    // The tokens by node; a node's tokens in the order of their entries'
    // addresses in the map, the order in which updates have always reported
    // them. Tokens of nodes that are not live are never reported.
    std::vector<std::pair<std::uint32_t, const std::string*>> named;
    named.reserve(target_nodes_.size());
    for (const auto& [token, node] : target_nodes_) {
        if (node < bound && depth_of_[node] != NONE) named.emplace_back(node, &token);
    }
    std::sort(named.begin(), named.end());
    token_begin_.assign(std::size_t{bound} + 1, 0);
    token_names_.clear();
    token_names_.reserve(named.size());
    for (const auto& [node, token] : named) {
        ++token_begin_[std::size_t{node} + 1];
        token_names_.push_back(*token);
    }
    for (std::size_t n = 0; n < bound; ++n) token_begin_[n + 1] += token_begin_[n];

    layers_ = std::move(built);
}

template <class S>
std::unordered_map<std::string, Vector> ReactiveCircuit<S>::update() {
    using reactive_detail::evaluation_work;
    std::unordered_map<std::string, Vector> results;
    // The snapshot takes over the dirty set and `dirty` the snapshot's
    // emptied one: no set is built, none freed. (A stopped update may have
    // left the snapshot full.)
    snapshot_.clear();
    snapshot_.swap(dirty_);
    if (!layers_) build_layers();
    if (snapshot_.empty()) return results;

    // The snapshot in layer order: by depth, then by node index, as the
    // layers list their nodes. Nodes outside the layers are skipped.
    order_.clear();
    for (std::uint32_t n : snapshot_) {
        if (n < depth_of_.size() && depth_of_[n] != StableGraph<AlgebraicCircuit, Vector>::END) {
            order_.emplace_back(depth_of_[n], n);
        }
    }
    snapshot_.clear();
    std::sort(order_.begin(), order_.end());

    values_.resize(order_.size());
    const EvaluationView view = evaluation_view();
    for (std::size_t begin = 0; begin < order_.size();) {
        std::size_t end = begin;
        std::size_t work = 0;
        while (end < order_.size() && order_[end].first == order_[begin].first) {
            work += evaluation_work(structure_.unchecked_node(order_[end].second));
            ++end;
        }

        // Evaluate the layer: only reads the circuit, writes only `values_`.
        auto evaluate_range = [&](std::size_t from, std::size_t to) {
            for (std::size_t i = from; i < to; ++i) {
                values_[i] = structure_.unchecked_node(order_[i].second).template evaluate<S>(view);
            }
        };
        if (end - begin == 1 || work < reactive_detail::PARALLEL_WORK_THRESHOLD) {
            evaluate_range(begin, end);
        } else {
            auto chunk = [&](std::size_t from, std::size_t to) { evaluate_range(begin + from, begin + to); };
            worker_pool::parallel_chunks(end - begin, reactive_detail::layer_grain(end - begin), chunk);
        }

        // Then write, one node at a time in layer order.
        for (std::size_t i = begin; i < end; ++i) {
            const std::uint32_t n = order_[i].second;
            const Vector& value = values_[i];
            for (std::uint32_t t = token_begin_[n]; t < token_begin_[n + 1]; ++t) {
                results.insert_or_assign(token_names_[t], S::decode(value));
            }
            for (std::uint32_t e : structure_.incoming(n)) {
                Vector* memory = structure_.find_edge(e);
                if (!memory) stop(messages::edge_missing());
                reactive_detail::write_memory(*memory, value);
            }
        }
        begin = end;
    }
    // The values live on in the memories and results; wide ones would
    // otherwise keep their storage until the next update.
    values_.clear();
    return results;
}

template <class S>
void ReactiveCircuit<S>::invalidate() {
    auto sorted = structure_.topological_order();
    if (sorted.cycle) stop(messages::not_a_dag(*sorted.cycle));
    dirty_.insert(sorted.order.begin(), sorted.order.end());
}

template <class S>
void ReactiveCircuit<S>::update_leaf(std::uint32_t position, Vector value, double timestamp) {
    std::size_t length = value.size();
    if constexpr (S::tag == SemiringTag::ProbGradient) {
        if (value.empty()) stop(messages::array_index_out_of_bounds());
        length = std::max<std::size_t>(length, value_size_);
    }
    if (position >= leafs_.size()) stop(messages::index_out_of_bounds(leafs_.size(), position));
    Leaf& target = leafs_[position];

    Vector encoded = S::encode_leaf_vec(value, length, target.index);
    if (is_unchanged(target.value, encoded)) return;

    target.value = std::move(encoded);
    target.frequency = target.estimator.update(timestamp);
    dirty_.insert(target.dependencies.begin(), target.dependencies.end());
}

template <class S>
void ReactiveCircuit<S>::seed_gradients() {
    if constexpr (S::tag == SemiringTag::ProbGradient) {
        const std::size_t n = leafs_.size();
        const std::size_t width = n + 1;
        value_size_ = static_cast<std::uint32_t>(width);
        for (Leaf& leaf : leafs_) {
            if (leaf.value.empty()) stop(messages::index_out_of_bounds(0, 0));
            if (leaf.index >= n) stop(messages::index_out_of_bounds(width, std::size_t{1} + leaf.index));
            Vector seeded(width, 0.0);
            double* slots = seeded.mutable_data();
            slots[0] = leaf.value[0];
            slots[1 + leaf.index] = 1.0;
            leaf.value = std::move(seeded);
        }
    }
}

template <class S>
ReactiveCircuit<S> ReactiveCircuit<S>::from_sum_product(std::uint32_t value_size,
                                                        const std::vector<std::vector<std::uint32_t>>& sum_product,
                                                        const std::string& target_token) {
    if (sum_product.empty()) stop(messages::empty_sum_product());
    if (target_token.empty()) stop(messages::empty_target_token());
    ReactiveCircuit circuit(value_size);
    AlgebraicCircuit node(value_size);
    for (const auto& row : sum_product) node.push_leaf_row(row);
    const std::uint32_t index = circuit.structure_.add_node(std::move(node));
    circuit.target_nodes_.emplace(target_token, index);
    circuit.update_dependencies();
    circuit.dirty_.insert(index);
    return circuit;
}

}  // namespace tallo

// Every semiring's circuit is compiled once, in circuit/instantiations.cpp;
// every other file only declares these instantiations.
#define TALLO_CIRCUIT_TEMPLATES(S, extern_)                                                 \
    extern_ template class ReactiveCircuit<S>;                                         \
    extern_ template Vector AlgebraicCircuit::evaluate<S>(const EvaluationView&) const; \
    extern_ template struct Category<S>;

namespace tallo {
TALLO_FOR_EACH_SEMIRING(TALLO_CIRCUIT_TEMPLATES, extern)
}  // namespace tallo
