// Moving leaves between levels of a reactive circuit, and adapting the levels
// to the leaves' change frequencies.
//
// The level of a leaf is the number of memory edges between a root and the
// nodes whose terms hold it. `drop_leaf` moves a leaf one edge further from
// the roots in every branch that holds it, into a producer whose value is
// cached on the edge's memory; `lift_leaf` moves it one edge closer, out of
// each node that holds it and into that node's consumers, splitting the node
// into the part that multiplies the leaf and the part that does not. Where a
// root holds the leaf, a new root is put above it first: the leaf stays at
// level 0 and the root's other leaves go one level deeper.
//
// Guarantees, for circuits built by `add_sum_product` and changed only by these
// moves (every non-root node read by one term of one consumer, a term reading
// at most one producer, no leaf twice on a path):
// - Every target token reports the same value at the next update, up to
//   rounding where terms are regrouped. The moves mark dirty what they create
//   or change below a consumer; a consumer's own value does not change.
// - Edges that a move creates start with the semiring's zero, except those of
//   a split node's parts, which share the producer's current memory
//   (copy-on-write) and so read it at once.
// - New nodes and edges take vacant slots, most recently vacated first. A
//   split part re-creates its edges in the order of its columns.
// - Every move discards the cached `layers` and rebuilds all `dependencies`.
// - An adaptation is two calls: `levels_for` computes the new levels, which
//   the caller prints, and `adapt` moves the leaves to them. Nothing here
//   writes to standard output.
//
// A move that stops leaves whatever it changed changed; the caller holds the
// circuit's mutex, which the stop poisons.
//
// These are members of ReactiveCircuit declared with it
// (circuit/reactive_circuit.h); their definitions live here, apart from the
// rest, compiled once for every semiring at the foot of this file. Only the
// moves and the adaptation are public: `add_root`, `disconnect` and
// `add_split_part` are their private steps, and every part they build takes
// the circuit's `value_size` (a split part, a node of the circuit's own).
#include "circuit/reactive_circuit.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/panic.h"
#include "circuit/algebraic_circuit.h"
#include "circuit/clustering.h"
#include "circuit/messages.h"

namespace tallo {

template <class S>
std::pair<std::uint32_t, std::uint32_t> ReactiveCircuit<S>::add_root(std::uint32_t node) {
    const std::uint32_t root = structure_.add_node(AlgebraicCircuit(value_size_));
    const std::uint32_t edge = structure_.add_edge(root, node, S::zero(value_size_));
    dirty_.insert(root);
    AlgebraicCircuit& top = structure_.unchecked_node(root);
    top.push_minterm({top.create_memory(edge)});
    for (auto& entry : target_nodes_) {
        if (entry.second == node) entry.second = root;
    }
    return {root, edge};
}

template <class S>
std::uint32_t ReactiveCircuit<S>::disconnect(std::uint32_t consumer, std::uint32_t producer) {
    const std::optional<std::uint32_t> edge = structure_.edge_between(consumer, producer);
    if (!edge) stop(messages::not_live());
    AlgebraicCircuit& reader = structure_.node(consumer);
    const auto found = reader.edge_columns().find(*edge);
    if (found == reader.edge_columns().end()) stop(messages::not_live());
    const std::uint32_t column = found->second;
    const std::vector<std::uint32_t> rows = reader.minterms_containing_col(column);
    if (rows.empty()) stop(messages::index_out_of_bounds(0, 0));
    reader.remove_col_inner(column);
    structure_.remove_edge(*edge);
    return rows.front();
}

template <class S>
std::uint32_t ReactiveCircuit<S>::add_split_part(AlgebraicCircuit part, std::uint32_t leaf) {
    if (const auto found = part.leaf_columns().find(leaf); found != part.leaf_columns().end()) {
        part.remove_col_inner(found->second);
        part.remove_empty_terms();
    }
    // (column, old edge) pairs in column order, so that the new edges' indices
    // do not depend on the map's hashing.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> memories;
    memories.reserve(part.edge_columns().size());
    for (const auto& [edge, column] : part.edge_columns()) memories.emplace_back(column, edge);
    std::sort(memories.begin(), memories.end());

    const std::uint32_t node = structure_.add_node(std::move(part));
    for (const auto& [column, old_edge] : memories) {
        const std::uint32_t producer = structure_.target(old_edge);
        Vector memory = structure_.edge(old_edge);  // shares the storage until either is written
        const std::uint32_t new_edge = structure_.add_edge(node, producer, std::move(memory));
        structure_.unchecked_node(node).remap_memory(column, old_edge, new_edge);
    }
    return node;
}

template <class S>
void ReactiveCircuit<S>::lift_leaf(std::uint32_t leaf) {
    layers_.reset();
    if (leaf >= leafs_.size()) stop(messages::index_out_of_bounds(leafs_.size(), leaf));

    // Only the nodes that hold the leaf now: consumers that receive it below
    // are not lifted again by this call.
    std::vector<std::uint32_t> holders;
    for (std::uint32_t node : leafs_[leaf].dependencies) {
        const AlgebraicCircuit* circuit = structure_.find_node(node);
        if (circuit && circuit->leaf_columns().contains(leaf)) holders.push_back(node);
    }

    for (std::uint32_t node : holders) {
        std::vector<std::uint32_t> consumers;  // in incoming-edge order
        for (std::uint32_t edge : structure_.incoming(node)) consumers.push_back(structure_.source(edge));
        if (consumers.empty()) consumers.push_back(add_root(node).first);

        auto [in_scope, out_of_scope] = structure_.node(node).split(leaf);
        std::optional<std::uint32_t> without;
        if (out_of_scope) without = add_split_part(std::move(*out_of_scope), leaf);
        if (!in_scope) stop(messages::in_scope_missing());

        // Terms that were the leaf alone leave nothing in the part; each comes
        // back in the consumer as a term of its own.
        const auto leaf_column = in_scope->leaf_columns().find(leaf);
        if (leaf_column == in_scope->leaf_columns().end()) stop(messages::not_live());
        const AlgebraicCircuit::Term leaf_alone{leaf_column->second};
        const auto alone =
            static_cast<std::size_t>(std::count(in_scope->minterms().begin(), in_scope->minterms().end(), leaf_alone));

        // The part that multiplies the leaf, unless nothing of it is left.
        const std::uint32_t joined = add_split_part(std::move(*in_scope), leaf);
        const bool keep_joined = !structure_.unchecked_node(joined).minterms().empty();
        if (!keep_joined) structure_.remove_node(joined);

        for (std::uint32_t parent : consumers) {
            const std::uint32_t row = disconnect(parent, node);
            AlgebraicCircuit& consumer = structure_.node(parent);
            AlgebraicCircuit::Term with_leaf = consumer.minterms()[row];
            with_leaf.push_back(consumer.ensure_leaf(leaf));
            for (std::size_t i = 0; i < alone; ++i) consumer.push_minterm(with_leaf);
            if (keep_joined) {
                const std::uint32_t joined_row = consumer.push_minterm(with_leaf);
                connect(parent, joined, joined_row);
                dirty_.insert(joined);
            }
            if (without) {
                connect(parent, *without, row);
                dirty_.insert(*without);
            } else {
                structure_.node(parent).remove_row(row);
            }
        }
        structure_.remove_node(node);
    }
    update_dependencies();
}

template <class S>
void ReactiveCircuit<S>::drop_leaf(std::uint32_t leaf) {
    layers_.reset();
    if (leaf >= leafs_.size()) stop(messages::index_out_of_bounds(leafs_.size(), leaf));

    const std::vector<std::uint32_t> snapshot = leafs_[leaf].dependencies;
    for (std::uint32_t node : snapshot) {
        const AlgebraicCircuit* visited = structure_.find_node(node);
        if (!visited) continue;
        const auto found = visited->leaf_columns().find(leaf);
        if (found == visited->leaf_columns().end()) continue;
        const std::uint32_t column = found->second;

        for (std::uint32_t row : visited->minterms_containing_col(column)) {
            // A term that reads a producer hands the leaf to it; the lowest
            // memory column decides. Otherwise the leaf gets a node of its own.
            std::optional<std::uint32_t> memory_edge;
            const AlgebraicCircuit& holder = structure_.node(node);
            for (std::uint32_t c : holder.minterms()[row]) {
                if (c >= holder.columns().size()) stop(messages::index_out_of_bounds(holder.columns().size(), c));
                if (holder.columns()[c].kind == ColumnSource::Memory) {
                    memory_edge = holder.columns()[c].index;
                    break;
                }
            }
            if (memory_edge) {
                AlgebraicCircuit& producer = structure_.node(structure_.target(*memory_edge));
                const std::uint32_t leaf_in_producer = producer.ensure_leaf(leaf);
                for (std::uint32_t r = 0; r < producer.minterms().size(); ++r) {
                    producer.add_col_to_minterm(r, leaf_in_producer);
                }
            } else {
                AlgebraicCircuit alone(value_size_);
                alone.push_minterm({alone.ensure_leaf(leaf)});
                connect(node, structure_.add_node(std::move(alone)), row);
            }
        }

        // Every term that held the leaf reads a memory column now, so none is
        // left empty. Terms that were empty before, the semiring's one, stay:
        // removing them would change the node's value.
        structure_.node(node).remove_col_inner(column);
        for (std::uint32_t edge : structure_.outgoing(node)) dirty_.insert(structure_.target(edge));
    }
    update_dependencies();
}

template <class S>
std::vector<std::uint32_t> ReactiveCircuit<S>::levels_for(const std::vector<double>& boundaries) const {
    if (leafs_.empty()) stop(messages::unwrap_none());  // no leaf to place: the absent-value stop
    std::vector<double> frequencies;
    frequencies.reserve(leafs_.size());
    for (const Leaf& leaf : leafs_) frequencies.push_back(leaf.frequency);
    return clustering::partitioning(frequencies, boundaries);
}

template <class S>
void ReactiveCircuit<S>::adapt(std::vector<std::uint32_t> levels) {
    // A leaf without a stored level (every leaf at the first adaptation, and
    // leaves added since the last one) sits where `add_sum_product` put it,
    // at level 0.
    for (std::uint32_t i = 0; i < levels.size() || i < partition_.size(); ++i) {
        if (i >= levels.size()) stop(messages::index_out_of_bounds(levels.size(), i));
        const std::int64_t from = i < partition_.size() ? partition_[i] : 0;
        const std::int64_t to = levels[i];
        for (std::int64_t d = from; d < to; ++d) drop_leaf(i);
        for (std::int64_t d = to; d < from; ++d) lift_leaf(i);
    }
    partition_ = std::move(levels);
}

#define TALLO_RESTRUCTURE_TEMPLATES(S, extern_)                                                           \
    template void ReactiveCircuit<S>::drop_leaf(std::uint32_t);                                           \
    template void ReactiveCircuit<S>::lift_leaf(std::uint32_t);                                           \
    template std::pair<std::uint32_t, std::uint32_t> ReactiveCircuit<S>::add_root(std::uint32_t);         \
    template std::uint32_t ReactiveCircuit<S>::disconnect(std::uint32_t, std::uint32_t);                  \
    template std::uint32_t ReactiveCircuit<S>::add_split_part(AlgebraicCircuit, std::uint32_t);           \
    template std::vector<std::uint32_t> ReactiveCircuit<S>::levels_for(const std::vector<double>&) const; \
    template void ReactiveCircuit<S>::adapt(std::vector<std::uint32_t>);

TALLO_FOR_EACH_SEMIRING(TALLO_RESTRUCTURE_TEMPLATES, )

}  // namespace tallo
