// ReactiveCircuit<S>'s operations (circuit/reactive_circuit.h), compiled
// here once for every semiring; the leaf moves are in circuit/restructure.cpp.
#include "circuit/reactive_circuit.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/panic.h"
#include "base/vector.h"
#include "circuit/algebraic_circuit.h"
#include "circuit/leaf.h"
#include "circuit/messages.h"
#include "circuit/semiring.h"
#include "circuit/stable_graph.h"
#include "circuit/worker_pool.h"

namespace tallo {

namespace reactive_detail {
namespace {

std::size_t evaluation_work(const AlgebraicCircuit& node) {
    return node.minterms().size() * (node.columns().size() + 1) * node.value_size();
}

// Adds `node` to the ascending, repeat-free `nodes`.
void insert_sorted(std::vector<std::uint32_t>& nodes, std::uint32_t node) {
    auto at = std::lower_bound(nodes.begin(), nodes.end(), node);
    if (at == nodes.end() || *at != node) nodes.insert(at, node);
}

// Overwrites `memory` with `value` in place, after giving it storage of its
// own; a one-element value fills every slot.
void write_memory(Vector& memory, const Vector& value) {
    if (value.size() != 1 && value.size() != memory.size()) stop(messages::broadcast(value.size(), memory.size()));
    double* out = memory.mutable_data();
    if (value.size() == 1) {
        std::fill(out, out + memory.size(), value[0]);
    } else {
        std::copy(value.begin(), value.end(), out);
    }
}

}  // namespace
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
    if (!structure_.contains_node(node)) stop(messages::not_live());
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
std::uint32_t ReactiveCircuit<S>::add_leaf(Vector value, double initial_timestamp, std::string name) {
    const auto index = static_cast<std::uint32_t>(leafs_.size());
    leafs_.push_back(Leaf::create<S>(std::move(value), initial_timestamp, std::move(name), index));
    return index;
}

template <class S>
void ReactiveCircuit<S>::seed_gradients() {
    if constexpr (S::tag == SemiringTag::ProbGradient) {
        if (structure_.node_count() != 0) stop(messages::seeded_after_nodes());
        // Every leaf's value has its probability in slot 0 (`Leaf::create`
        // refuses an empty one) and its index is its position, below `width`.
        const std::size_t width = leafs_.size() + 1;
        value_size_ = static_cast<std::uint32_t>(width);
        for (Leaf& leaf : leafs_) {
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

TALLO_FOR_EACH_SEMIRING(TALLO_CIRCUIT_TEMPLATES, )

}  // namespace tallo
