#pragma once

// StableGraph<N, E>: a directed graph whose node and edge indices stay stable.
//
// Guarantees:
// - Nodes live in a list of slots and edges in another. A slot holds a live
//   node (edge) or is vacant. Removing a node or an edge makes its slot vacant
//   and changes no other index.
// - Vacant node slots form a last-in, first-out free list, and so do vacant
//   edge slots: an addition takes the most recently vacated slot and appends a
//   new slot only when there is none.
// - Each node keeps a list of its outgoing and one of its incoming edges. A new
//   edge goes to the head of its source's outgoing list and of its target's
//   incoming list, so `outgoing(n)` and `incoming(n)` visit the most recent
//   edge first.
// - `remove_node` removes the node's outgoing edges, then its incoming edges,
//   each list from its head (so their slots enter the free list in that order),
//   and then vacates the node's slot.
// - `node_indices()` and `edge_indices()` visit the live slots in ascending
//   index order.
// - Several edges may join the same pair of nodes, and an edge may join a node
//   to itself.
//
// Access is graded: `node(i)`/`edge(e)`/`source(e)`/`target(e)` check and stop
// with "called `Option::unwrap()` on a `None` value" when the index is not
// live; `find_node`/`find_edge` return null instead; `unchecked_node` and
// `unchecked_edge` do no check at all and are meant for hot loops over indices
// known to be live.
//
// References and pointers to weights stay valid until the next addition (which
// may grow the slot lists) or the removal of that node or edge. Edge lists must
// not be iterated across a mutation of the graph.
//
// Thread-safety: none of its own. Concurrent reads are safe; any mutation
// needs exclusive access.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/panic.h"
#include "circuit/messages.h"

namespace tallo {

template <class N, class E>
class StableGraph {
public:
    using NodeIndex = std::uint32_t;
    using EdgeIndex = std::uint32_t;

    // The index that no slot has: the end of every list. It is never handed
    // out, which bounds the graph at 2^32 - 1 nodes and as many edges.
    static constexpr std::uint32_t END = UINT32_MAX;

    // The result of `topological_order`.
    struct TopologicalOrder {
        std::vector<NodeIndex> order;     // every edge's source before its target
        std::optional<NodeIndex> cycle;   // set when the graph has a cycle: a node on it; `order` is then partial
    };

private:
    static constexpr int OUT = 0;  // the source end of an edge; a node's outgoing list
    static constexpr int IN = 1;   // the target end of an edge; a node's incoming list
    struct NodeSlot;
    struct EdgeSlot;

public:
    StableGraph() = default;

    // ---- sizes ----
    std::uint32_t node_count() const noexcept { return node_count_; }
    std::uint32_t edge_count() const noexcept { return edge_count_; }
    // One past the greatest index a slot has (live or vacant).
    std::uint32_t node_bound() const noexcept { return static_cast<std::uint32_t>(nodes_.size()); }

    // ---- mutation ----
    NodeIndex add_node(N weight) {
        NodeIndex index = take_slot(nodes_, free_node_, std::move(weight));
        ++node_count_;
        return index;
    }

    // Adds an edge from `source` to `target`; both must be live nodes.
    EdgeIndex add_edge(NodeIndex source, NodeIndex target, E weight) {
        if (source >= node_bound() || target >= node_bound()) {
            stop(messages::add_edge_not_a_node(source > target ? source : target));
        }
        if (!nodes_[source].weight) stop(messages::add_edge_not_a_node(source));
        if (!nodes_[target].weight) stop(messages::add_edge_not_a_node(target));

        EdgeIndex index = take_slot(edges_, free_edge_, std::move(weight));
        EdgeSlot& slot = edges_[index];
        slot.node[OUT] = source;
        slot.node[IN] = target;
        slot.next[OUT] = std::exchange(nodes_[source].next[OUT], index);
        slot.next[IN] = std::exchange(nodes_[target].next[IN], index);
        ++edge_count_;
        return index;
    }

    // Removes the edge and returns its weight; nothing when it is not live.
    std::optional<E> remove_edge(EdgeIndex e) {
        if (!find_edge(e)) return std::nullopt;
        EdgeSlot& slot = edges_[e];
        unlink(slot.node[OUT], OUT, e);
        unlink(slot.node[IN], IN, e);
        std::optional<E> weight = std::move(slot.weight);
        slot.weight.reset();
        slot.node[OUT] = slot.node[IN] = END;
        slot.next[IN] = END;
        slot.next[0] = std::exchange(free_edge_, e);
        --edge_count_;
        return weight;
    }

    // Removes the node with all its edges and returns its weight; nothing when
    // it is not live.
    std::optional<N> remove_node(NodeIndex n) {
        if (!find_node(n)) return std::nullopt;
        for (int direction : {OUT, IN}) {
            while (nodes_[n].next[direction] != END) remove_edge(nodes_[n].next[direction]);
        }
        NodeSlot& slot = nodes_[n];
        std::optional<N> weight = std::move(slot.weight);
        slot.weight.reset();
        slot.next[1] = END;
        slot.next[0] = std::exchange(free_node_, n);
        --node_count_;
        return weight;
    }

    // ---- access ----
    bool contains_node(NodeIndex n) const noexcept { return n < nodes_.size() && nodes_[n].weight.has_value(); }
    bool contains_edge(EdgeIndex e) const noexcept { return e < edges_.size() && edges_[e].weight.has_value(); }

    N* find_node(NodeIndex n) noexcept { return contains_node(n) ? &*nodes_[n].weight : nullptr; }
    const N* find_node(NodeIndex n) const noexcept { return contains_node(n) ? &*nodes_[n].weight : nullptr; }
    E* find_edge(EdgeIndex e) noexcept { return contains_edge(e) ? &*edges_[e].weight : nullptr; }
    const E* find_edge(EdgeIndex e) const noexcept { return contains_edge(e) ? &*edges_[e].weight : nullptr; }

    N& node(NodeIndex n) { return *checked(find_node(n)); }
    const N& node(NodeIndex n) const { return *checked(find_node(n)); }
    E& edge(EdgeIndex e) { return *checked(find_edge(e)); }
    const E& edge(EdgeIndex e) const { return *checked(find_edge(e)); }

    // No check: `n` (`e`) must be live.
    N& unchecked_node(NodeIndex n) noexcept { return *nodes_[n].weight; }
    const N& unchecked_node(NodeIndex n) const noexcept { return *nodes_[n].weight; }
    E& unchecked_edge(EdgeIndex e) noexcept { return *edges_[e].weight; }
    const E& unchecked_edge(EdgeIndex e) const noexcept { return *edges_[e].weight; }

    NodeIndex source(EdgeIndex e) const { return endpoint(e, OUT); }
    NodeIndex target(EdgeIndex e) const { return endpoint(e, IN); }

    // The first edge from `source` to `target` in `source`'s outgoing order.
    std::optional<EdgeIndex> edge_between(NodeIndex source, NodeIndex target) const {
        if (!contains_node(source)) return std::nullopt;
        for (EdgeIndex e : outgoing(source)) {
            if (edges_[e].node[IN] == target) return e;
        }
        return std::nullopt;
    }

    // ---- iteration ----

    // A forward range of indices: starts at `first`, steps with `Step`, ends
    // at `last`. Serves both the edge lists and the live-slot iteration.
    template <class Step>
    class IndexRange {
    public:
        class iterator {
        public:
            using value_type = std::uint32_t;
            using difference_type = std::ptrdiff_t;
            using iterator_category = std::forward_iterator_tag;
            iterator() = default;
            std::uint32_t operator*() const noexcept { return at_; }
            iterator& operator++() noexcept {
                at_ = step_(at_);
                return *this;
            }
            iterator operator++(int) noexcept {
                iterator before = *this;
                ++*this;
                return before;
            }
            friend bool operator==(const iterator& a, const iterator& b) noexcept { return a.at_ == b.at_; }

        private:
            friend class IndexRange;
            iterator(Step step, std::uint32_t at) noexcept : step_(step), at_(at) {}
            Step step_{};
            std::uint32_t at_ = END;
        };

        iterator begin() const noexcept { return {step_, first_}; }
        iterator end() const noexcept { return {step_, last_}; }
        bool empty() const noexcept { return first_ == last_; }

    private:
        friend class StableGraph;
        IndexRange(Step step, std::uint32_t first, std::uint32_t last) noexcept
            : step_(step), first_(first), last_(last) {}
        Step step_;
        std::uint32_t first_, last_;
    };

private:
    // From one edge to the next in a node's outgoing or incoming list.
    struct NextInList {
        const StableGraph* graph = nullptr;
        int direction = OUT;
        std::uint32_t operator()(std::uint32_t at) const noexcept { return graph->edges_[at].next[direction]; }
    };
    // From one live slot to the next live one, or to the end of the slots.
    template <class Slot>
    struct NextLive {
        const std::vector<Slot>* slots = nullptr;
        std::uint32_t operator()(std::uint32_t at) const noexcept { return first_live(*slots, at + 1); }
    };
    template <class Slot>
    static std::uint32_t first_live(const std::vector<Slot>& slots, std::uint32_t from) noexcept {
        while (from < slots.size() && !slots[from].weight) ++from;
        return from;
    }

public:
    using EdgeList = IndexRange<NextInList>;

    // The edges of one node's list, most recent first. An index that is not a
    // live node has empty lists.
    EdgeList outgoing(NodeIndex n) const noexcept { return edge_list(n, OUT); }
    EdgeList incoming(NodeIndex n) const noexcept { return edge_list(n, IN); }

    // The live indices of the node (edge) slots, ascending.
    auto node_indices() const noexcept { return live_indices(nodes_); }
    auto edge_indices() const noexcept { return live_indices(edges_); }

    // ---- algorithms ----

    // Orders the live nodes so that every edge's source comes before its
    // target (Kahn's method, seeded in ascending index order). On a cycle the
    // result names one node that lies on it.
    TopologicalOrder topological_order() const {
        TopologicalOrder result;
        result.order.reserve(node_count_);
        std::vector<std::uint32_t> pending(nodes_.size(), 0);  // unplaced sources per node
        for (EdgeIndex e : edge_indices()) ++pending[edges_[e].node[IN]];
        for (NodeIndex n : node_indices()) {
            if (pending[n] == 0) result.order.push_back(n);
        }
        for (std::size_t at = 0; at < result.order.size(); ++at) {
            for (EdgeIndex e : outgoing(result.order[at])) {
                NodeIndex t = edges_[e].node[IN];
                if (--pending[t] == 0) result.order.push_back(t);
            }
        }
        if (result.order.size() == node_count_) return result;

        // Every unplaced node has an unplaced source; walking back along such
        // edges must come round to a node already seen, which lies on a cycle.
        NodeIndex at = END;
        for (NodeIndex n : node_indices()) {
            if (pending[n] != 0) {
                at = n;
                break;
            }
        }
        std::vector<bool> seen(nodes_.size(), false);
        while (!seen[at]) {
            seen[at] = true;
            for (EdgeIndex e : incoming(at)) {
                NodeIndex s = edges_[e].node[OUT];
                if (pending[s] != 0) {
                    at = s;
                    break;
                }
            }
        }
        result.cycle = at;
        return result;
    }

    // ---- self-check ----

    // Checks the slot and free-list invariant below; returns a description of
    // the first violation found, or nothing. Linear in the graph's size; for
    // tests and debugging.
    std::optional<std::string> audit() const;

private:
    // ---- representation ----
    //
    // Invariant:
    // - A slot is live exactly when its `weight` holds a value; `node_count_`
    //   (`edge_count_`) is the number of live node (edge) slots.
    // - The free lists: `free_node_` starts a chain through `next[0]` of vacant
    //   node slots that holds every vacant node slot exactly once and ends in
    //   END, most recently vacated first; `free_edge_` likewise for edges. A
    //   vacant slot's other links are END.
    // - A live node's `next[OUT]` (`next[IN]`) starts a chain, through the
    //   edges' `next[OUT]` (`next[IN]`), of exactly the live edges whose
    //   source (target) it is, each once, most recently added first, ending in
    //   END.
    // - A live edge's `node[OUT]` and `node[IN]` are live nodes.
    struct NodeSlot {
        std::optional<N> weight;
        std::uint32_t next[2] = {END, END};  // live: heads of the outgoing and incoming lists; vacant: next[0] the next free slot
    };
    struct EdgeSlot {
        std::optional<E> weight;
        std::uint32_t node[2] = {END, END};  // source, target
        std::uint32_t next[2] = {END, END};  // live: next edge in the source's outgoing / target's incoming list; vacant: next[0] the next free slot
    };

    // The most recently vacated slot of `slots`, or a new one, now holding
    // `weight` with every link END.
    template <class Slot, class W>
    static std::uint32_t take_slot(std::vector<Slot>& slots, std::uint32_t& free, W&& weight) {
        std::uint32_t index = free;
        if (index != END) {
            free = slots[index].next[0];
            slots[index].next[0] = END;
        } else {
            if (slots.size() >= END) stop(messages::graph_full());
            index = static_cast<std::uint32_t>(slots.size());
            slots.emplace_back();
        }
        slots[index].weight.emplace(std::forward<W>(weight));
        return index;
    }

    template <class T>
    static T* checked(T* found) {
        if (!found) stop(messages::not_live());
        return found;
    }

    NodeIndex endpoint(EdgeIndex e, int direction) const {
        if (!contains_edge(e)) stop(messages::not_live());
        return edges_[e].node[direction];
    }

    EdgeList edge_list(NodeIndex n, int direction) const noexcept {
        return EdgeList(NextInList{this, direction}, contains_node(n) ? nodes_[n].next[direction] : END, END);
    }

    template <class Slot>
    IndexRange<NextLive<Slot>> live_indices(const std::vector<Slot>& slots) const noexcept {
        auto bound = static_cast<std::uint32_t>(slots.size());
        return IndexRange<NextLive<Slot>>(NextLive<Slot>{&slots}, first_live(slots, 0), bound);
    }

    // Takes edge `e` out of the `direction` list of node `n`.
    void unlink(NodeIndex n, int direction, EdgeIndex e) noexcept {
        std::uint32_t* link = &nodes_[n].next[direction];
        while (*link != e) link = &edges_[*link].next[direction];
        *link = edges_[e].next[direction];
    }

    std::vector<NodeSlot> nodes_;
    std::vector<EdgeSlot> edges_;
    std::uint32_t free_node_ = END;
    std::uint32_t free_edge_ = END;
    std::uint32_t node_count_ = 0;
    std::uint32_t edge_count_ = 0;
};

template <class N, class E>
std::optional<std::string> StableGraph<N, E>::audit() const {
    auto fail = [](std::string what, std::uint32_t index) -> std::optional<std::string> {
        return what + " " + std::to_string(index);
    };

    std::uint32_t live_nodes = 0;
    for (std::uint32_t n = 0; n < nodes_.size(); ++n) live_nodes += nodes_[n].weight ? 1 : 0;
    if (live_nodes != node_count_) return fail("node_count differs from the live node slots:", node_count_);
    std::uint32_t live_edges = 0;
    for (std::uint32_t e = 0; e < edges_.size(); ++e) live_edges += edges_[e].weight ? 1 : 0;
    if (live_edges != edge_count_) return fail("edge_count differs from the live edge slots:", edge_count_);

    // Free lists: each vacant slot exactly once, no live slot, proper end.
    auto check_free = [&](const auto& slots, std::uint32_t head, std::uint32_t live,
                          const char* kind) -> std::optional<std::string> {
        std::vector<bool> seen(slots.size(), false);
        std::uint32_t vacant = 0;
        for (std::uint32_t at = head; at != END; at = slots[at].next[0]) {
            if (at >= slots.size()) return fail(std::string(kind) + " free list leaves the slots at", at);
            if (slots[at].weight) return fail(std::string(kind) + " free list holds live slot", at);
            if (seen[at]) return fail(std::string(kind) + " free list repeats slot", at);
            if (slots[at].next[1] != END) return fail(std::string(kind) + " vacant slot keeps a link:", at);
            seen[at] = true;
            ++vacant;
        }
        if (vacant != slots.size() - live) {
            return fail(std::string(kind) + " free list misses vacant slots; it holds", vacant);
        }
        return std::nullopt;
    };
    if (auto bad = check_free(nodes_, free_node_, node_count_, "node")) return bad;
    if (auto bad = check_free(edges_, free_edge_, edge_count_, "edge")) return bad;

    // Edge lists: every live edge once in its source's outgoing and its
    // target's incoming list, and nothing else in them.
    for (std::uint32_t e = 0; e < edges_.size(); ++e) {
        if (!edges_[e].weight) continue;
        for (int direction : {OUT, IN}) {
            std::uint32_t n = edges_[e].node[direction];
            if (!contains_node(n)) return fail("edge ends at a node that is not live:", e);
        }
    }
    for (int direction : {OUT, IN}) {
        std::vector<bool> listed(edges_.size(), false);
        std::uint32_t total = 0;
        for (std::uint32_t n = 0; n < nodes_.size(); ++n) {
            if (!nodes_[n].weight) continue;
            for (std::uint32_t at = nodes_[n].next[direction]; at != END; at = edges_[at].next[direction]) {
                if (at >= edges_.size() || !edges_[at].weight) return fail("edge list holds a dead edge at node", n);
                if (edges_[at].node[direction] != n) return fail("edge list holds a foreign edge at node", n);
                if (listed[at]) return fail("edge listed twice:", at);
                listed[at] = true;
                ++total;
            }
        }
        if (total != edge_count_) return fail("edge lists miss edges; they hold", total);
    }
    return std::nullopt;
}

}  // namespace tallo
