#include "circuit/stable_graph.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "circuit/messages.h"
#include "stop_message.h"

namespace tallo {
namespace {

using testing::stop_message;
using Graph = StableGraph<std::string, int>;

// Every mutation made through this wrapper is followed by an audit of the
// graph's slot, free-list and edge-list invariant.
struct AuditedGraph {
    Graph g;

    std::uint32_t add_node(std::string weight = "") { return audited(g.add_node(std::move(weight))); }
    std::uint32_t add_edge(std::uint32_t source, std::uint32_t target, int weight = 0) {
        return audited(g.add_edge(source, target, weight));
    }
    std::optional<std::string> remove_node(std::uint32_t n) { return audited(g.remove_node(n)); }
    std::optional<int> remove_edge(std::uint32_t e) { return audited(g.remove_edge(e)); }

    template <class T>
    T audited(T result) {
        if (auto broken = g.audit()) ADD_FAILURE() << "graph invariant broken: " << *broken;
        return result;
    }
};

template <class Range>
std::vector<std::uint32_t> collect(const Range& range) {
    return std::vector<std::uint32_t>(range.begin(), range.end());
}

TEST(StableGraph, VacantNodeSlotsAreReusedMostRecentlyFreedFirst) {
    AuditedGraph graph;
    for (int i = 0; i < 5; ++i) graph.add_node(std::to_string(i));
    EXPECT_EQ(graph.remove_node(1), "1");
    EXPECT_EQ(graph.remove_node(3), "3");
    EXPECT_EQ(graph.g.node_count(), 3u);
    EXPECT_EQ(graph.g.node_bound(), 5u);

    EXPECT_EQ(graph.add_node("a"), 3u);
    EXPECT_EQ(graph.add_node("b"), 1u);
    EXPECT_EQ(graph.add_node("c"), 5u) << "a new slot only once no vacant one is left";
    EXPECT_EQ(graph.g.node(1), "b");
    EXPECT_EQ(collect(graph.g.node_indices()), (std::vector<std::uint32_t>{0, 1, 2, 3, 4, 5}));
}

TEST(StableGraph, NewEdgesGoToTheHeadOfBothLists) {
    AuditedGraph graph;
    for (int i = 0; i < 4; ++i) graph.add_node();
    EXPECT_EQ(graph.add_edge(1, 2), 0u);
    EXPECT_EQ(graph.add_edge(0, 1), 1u);
    EXPECT_EQ(graph.add_edge(1, 3), 2u);
    EXPECT_EQ(graph.add_edge(3, 1), 3u);

    EXPECT_EQ(collect(graph.g.outgoing(1)), (std::vector<std::uint32_t>{2, 0}));
    EXPECT_EQ(collect(graph.g.incoming(1)), (std::vector<std::uint32_t>{3, 1}));
    EXPECT_EQ(collect(graph.g.outgoing(2)), std::vector<std::uint32_t>{});
    EXPECT_EQ(graph.g.source(3), 3u);
    EXPECT_EQ(graph.g.target(3), 1u);
}

TEST(StableGraph, RemovingANodeFreesOutgoingThenIncomingEdgesEachFromItsHead) {
    AuditedGraph graph;
    for (int i = 0; i < 4; ++i) graph.add_node();
    graph.add_edge(1, 2);  // 0
    graph.add_edge(0, 1);  // 1
    graph.add_edge(1, 3);  // 2
    graph.add_edge(3, 1);  // 3
    graph.add_edge(0, 2);  // 4, survives

    graph.remove_node(1);  // frees edges 2, 0 (outgoing), then 3, 1 (incoming)
    EXPECT_EQ(graph.g.edge_count(), 1u);
    EXPECT_EQ(collect(graph.g.edge_indices()), std::vector<std::uint32_t>{4});
    EXPECT_EQ(collect(graph.g.outgoing(0)), std::vector<std::uint32_t>{4});
    EXPECT_EQ(collect(graph.g.incoming(2)), std::vector<std::uint32_t>{4});

    std::vector<std::uint32_t> reused;
    for (int i = 0; i < 5; ++i) reused.push_back(graph.add_edge(0, 3));
    EXPECT_EQ(reused, (std::vector<std::uint32_t>{1, 3, 0, 2, 5}));
}

TEST(StableGraph, RemovingAnEdgeKeepsTheOrderOfTheOthers) {
    AuditedGraph graph;
    for (int i = 0; i < 3; ++i) graph.add_node();
    for (int i = 0; i < 4; ++i) graph.add_edge(0, 1 + i % 2, i);  // 0->1, 0->2, 0->1, 0->2

    EXPECT_EQ(graph.remove_edge(1), 1);
    EXPECT_EQ(collect(graph.g.outgoing(0)), (std::vector<std::uint32_t>{3, 2, 0}));
    EXPECT_EQ(collect(graph.g.incoming(2)), std::vector<std::uint32_t>{3});
    EXPECT_EQ(graph.remove_edge(3), 3);  // the head
    EXPECT_EQ(graph.remove_edge(0), 0);  // the tail
    EXPECT_EQ(collect(graph.g.outgoing(0)), std::vector<std::uint32_t>{2});
    EXPECT_EQ(collect(graph.g.incoming(1)), std::vector<std::uint32_t>{2});

    EXPECT_EQ(graph.remove_edge(1), std::nullopt) << "already vacant";
    EXPECT_EQ(graph.remove_edge(99), std::nullopt);
    EXPECT_EQ(graph.remove_node(99), std::nullopt);
    EXPECT_EQ(graph.add_edge(1, 1), 0u) << "last freed edge slot first; self edges are allowed";
}

TEST(StableGraph, AddEdgeNamesTheOffendingNode) {
    AuditedGraph graph;
    for (int i = 0; i < 3; ++i) graph.add_node();
    graph.remove_node(1);

    struct Case {
        std::uint32_t source, target, named;
    };
    const Case cases[] = {
        {0, 5, 5},  // beyond the slots
        {7, 0, 7},
        {5, 9, 9},  // both beyond: the larger
        {9, 5, 9},
        {1, 7, 7},  // beyond the slots wins over vacant
        {1, 2, 1},  // vacant source
        {2, 1, 1},  // vacant target
        {1, 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stop_message([&] { graph.g.add_edge(c.source, c.target, 0); }), messages::add_edge_not_a_node(c.named))
            << c.source << " -> " << c.target;
        graph.audited(0);
    }
    EXPECT_EQ(graph.g.edge_count(), 0u);
    EXPECT_EQ(messages::add_edge_not_a_node(4), "StableGraph::add_edge: node index 4 is not a node in the graph");
}

TEST(StableGraph, AccessIsGraded) {
    AuditedGraph graph;
    graph.add_node("a");
    graph.add_node("b");
    graph.add_edge(0, 1, 7);
    graph.add_edge(1, 0, 8);
    graph.remove_node(0);  // vacates node 0 and both edges

    const Graph& g = graph.g;
    EXPECT_EQ(g.find_node(1), &g.node(1));
    EXPECT_EQ(g.unchecked_node(1), "b");
    for (std::uint32_t dead : {0u, 2u, Graph::END}) {
        EXPECT_EQ(g.find_node(dead), nullptr);
        EXPECT_FALSE(g.contains_node(dead));
        EXPECT_EQ(stop_message([&] { g.node(dead); }), messages::unwrap_none());
        EXPECT_TRUE(g.outgoing(dead).empty());
        EXPECT_TRUE(g.incoming(dead).empty());
    }
    for (std::uint32_t dead : {0u, 1u, 2u}) {
        EXPECT_EQ(g.find_edge(dead), nullptr);
        EXPECT_EQ(stop_message([&] { g.edge(dead); }), messages::unwrap_none());
        EXPECT_EQ(stop_message([&] { g.source(dead); }), messages::unwrap_none());
        EXPECT_EQ(stop_message([&] { g.target(dead); }), messages::unwrap_none());
    }

    graph.add_node("c");
    graph.add_edge(1, 0, 9);
    EXPECT_EQ(graph.g.edge(1), 9) << "the last freed edge slot was edge 1";
    graph.g.unchecked_edge(1) = 10;
    EXPECT_EQ(*graph.g.find_edge(1), 10);
}

TEST(StableGraph, EdgeBetweenFindsTheMostRecentOfParallelEdges) {
    AuditedGraph graph;
    for (int i = 0; i < 3; ++i) graph.add_node();
    graph.add_edge(0, 1);
    graph.add_edge(0, 2);
    graph.add_edge(0, 1);
    EXPECT_EQ(graph.g.edge_between(0, 1), 2u);
    EXPECT_EQ(graph.g.edge_between(0, 2), 1u);
    EXPECT_EQ(graph.g.edge_between(1, 0), std::nullopt);
    EXPECT_EQ(graph.g.edge_between(5, 0), std::nullopt);
}

bool comes_before(const std::vector<std::uint32_t>& order, std::uint32_t a, std::uint32_t b) {
    auto at = [&](std::uint32_t n) { return std::find(order.begin(), order.end(), n) - order.begin(); };
    return at(a) < at(b);
}

TEST(StableGraph, TopologicalOrderPutsSourcesBeforeTargets) {
    AuditedGraph graph;
    for (int i = 0; i < 6; ++i) graph.add_node();
    graph.remove_node(2);  // a hole in the slots
    const std::pair<std::uint32_t, std::uint32_t> edges[] = {{5, 3}, {5, 1}, {3, 0}, {1, 0}, {4, 3}};
    for (auto [s, t] : edges) graph.add_edge(s, t);

    auto result = graph.g.topological_order();
    ASSERT_FALSE(result.cycle);
    EXPECT_EQ(result.order.size(), 5u);
    for (auto [s, t] : edges) EXPECT_TRUE(comes_before(result.order, s, t)) << s << " -> " << t;

    EXPECT_TRUE(Graph().topological_order().order.empty());
}

TEST(StableGraph, TopologicalOrderNamesANodeOnTheCycle) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
        std::vector<std::uint32_t> on_cycle;
    };
    const Case cases[] = {
        {"self edge", {{1, 1}}, {1}},
        {"two nodes", {{0, 1}, {1, 0}}, {0, 1}},
        // node 0 is unplaced but only downstream of the cycle 3 <-> 4
        {"downstream node has the lowest index", {{3, 4}, {4, 3}, {4, 0}, {1, 2}}, {3, 4}},
        {"cycle below a chain", {{0, 1}, {1, 2}, {2, 3}, {3, 1}}, {1, 2, 3}},
    };
    for (const Case& c : cases) {
        AuditedGraph graph;
        for (int i = 0; i < 5; ++i) graph.add_node();
        for (auto [s, t] : c.edges) graph.add_edge(s, t);
        auto result = graph.g.topological_order();
        ASSERT_TRUE(result.cycle) << c.name;
        EXPECT_NE(std::find(c.on_cycle.begin(), c.on_cycle.end(), *result.cycle), c.on_cycle.end())
            << c.name << ": named " << *result.cycle;
    }
}

// Random additions and removals against a plain model of the slot lists: the
// live sets, the indices handed out and the edge-list orders must agree.
TEST(StableGraph, RandomMutationsMatchAModelOfTheSlots) {
    std::mt19937 random(12345);
    AuditedGraph graph;
    std::vector<bool> node_live, edge_live;
    std::vector<std::uint32_t> free_nodes, free_edges;  // most recently freed last
    struct Ends {
        std::uint32_t source, target;
    };
    std::vector<Ends> ends;
    std::vector<std::vector<std::uint32_t>> out, in;  // model lists, most recent first

    auto model_add = [](std::vector<bool>& live, std::vector<std::uint32_t>& free) {
        std::uint32_t index;
        if (!free.empty()) {
            index = free.back();
            free.pop_back();
            live[index] = true;
        } else {
            index = static_cast<std::uint32_t>(live.size());
            live.push_back(true);
        }
        return index;
    };
    auto erase = [](std::vector<std::uint32_t>& list, std::uint32_t value) {
        list.erase(std::find(list.begin(), list.end(), value));
    };
    auto model_remove_edge = [&](std::uint32_t e) {
        edge_live[e] = false;
        free_edges.push_back(e);
        erase(out[ends[e].source], e);
        erase(in[ends[e].target], e);
    };
    auto live_of = [](const std::vector<bool>& live) {
        std::vector<std::uint32_t> indices;
        for (std::uint32_t i = 0; i < live.size(); ++i) {
            if (live[i]) indices.push_back(i);
        }
        return indices;
    };

    for (int step = 0; step < 3000; ++step) {
        std::vector<std::uint32_t> nodes = live_of(node_live), edges = live_of(edge_live);
        int action = static_cast<int>(random() % 10);
        if (action < 3 || nodes.empty()) {
            std::uint32_t expected = model_add(node_live, free_nodes);
            if (out.size() <= expected) out.resize(expected + 1), in.resize(expected + 1);
            ASSERT_EQ(graph.add_node(), expected);
        } else if (action < 7) {
            std::uint32_t s = nodes[random() % nodes.size()], t = nodes[random() % nodes.size()];
            std::uint32_t expected = model_add(edge_live, free_edges);
            if (ends.size() <= expected) ends.resize(expected + 1);
            ends[expected] = {s, t};
            out[s].insert(out[s].begin(), expected);
            in[t].insert(in[t].begin(), expected);
            ASSERT_EQ(graph.add_edge(s, t), expected);
        } else if (action < 9 && !edges.empty()) {
            std::uint32_t e = edges[random() % edges.size()];
            model_remove_edge(e);
            ASSERT_TRUE(graph.remove_edge(e));
        } else {
            std::uint32_t n = nodes[random() % nodes.size()];
            for (auto* list : {&out[n], &in[n]}) {
                while (!list->empty()) model_remove_edge(list->front());
            }
            node_live[n] = false;
            free_nodes.push_back(n);
            ASSERT_TRUE(graph.remove_node(n));
        }

        ASSERT_EQ(collect(graph.g.node_indices()), live_of(node_live)) << "step " << step;
        ASSERT_EQ(collect(graph.g.edge_indices()), live_of(edge_live)) << "step " << step;
        for (std::uint32_t n : live_of(node_live)) {
            ASSERT_EQ(collect(graph.g.outgoing(n)), out[n]) << "step " << step << " node " << n;
            ASSERT_EQ(collect(graph.g.incoming(n)), in[n]) << "step " << step << " node " << n;
        }
    }
}

}  // namespace
}  // namespace tallo
