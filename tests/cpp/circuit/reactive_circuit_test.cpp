#include "circuit/reactive_circuit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/messages.h"
#include "base/poisonable.h"
#include "circuit/checks.h"
#include "circuit/circuit_access.h"
#include "circuit/leaf.h"
#include "circuit/messages.h"
#include "circuit/semiring.h"
#include "stop_message.h"

namespace tallo {
namespace {

using test::same_values;
using testing::stop_message;
using Rows = std::vector<std::vector<std::uint32_t>>;

using test::inf;

// Appends a leaf holding the probabilities `p`. ProbGradient leaves get the
// circuit's full dual width with their seed, as a compiled model has them.
template <class S>
void add_leaf(ReactiveCircuit<S>& circuit, const Vector& p) {
    const std::string name = "l" + std::to_string(circuit.leafs().size());
    if constexpr (S::tag == SemiringTag::ProbGradient) {
        circuit.add_leaf(Vector(circuit.value_size(), p[0]), 0.0, name);  // only the first element counts
    } else {
        circuit.add_leaf(p, 0.0, name);
    }
}

std::map<std::string, Vector> sorted(const std::unordered_map<std::string, Vector>& results) {
    return std::map<std::string, Vector>(results.begin(), results.end());
}

template <class S>
std::vector<std::uint32_t> live_nodes(const ReactiveCircuit<S>& circuit) {
    auto nodes = circuit.structure().node_indices();
    return std::vector<std::uint32_t>(nodes.begin(), nodes.end());
}

std::set<std::string> tokens_of(const std::unordered_map<std::string, Vector>& results) {
    std::set<std::string> tokens;
    for (const auto& entry : results) tokens.insert(entry.first);
    return tokens;
}

// ---- over the five semirings ----

template <class S>
class ReactiveCircuitIn : public ::testing::Test {};
using Semirings = SemiringTypes::apply<::testing::Types>;
TYPED_TEST_SUITE(ReactiveCircuitIn, Semirings);

// The decoded value of the term l0 * l1 with l0 = 0.5 and l1 = 0.4, and of a
// node without terms.
template <class S>
Vector product_of_two() {
    switch (S::tag) {
        case SemiringTag::Fuzzy: return {0.4};
        case SemiringTag::Boolean: return {1.0};
        case SemiringTag::ProbGradient: return {0.2, 0.4, 0.5};  // d/dl0 = 0.4, d/dl1 = 0.5
        default: return {0.2};
    }
}

template <class S>
std::uint32_t width_for_two_leaves() {
    return S::tag == SemiringTag::ProbGradient ? 3 : 1;
}

TYPED_TEST(ReactiveCircuitIn, UpdateReportsOnlyRecomputedTargets) {
    using S = TypeParam;
    ReactiveCircuit<S> circuit(width_for_two_leaves<S>());
    add_leaf(circuit, {0.5});
    add_leaf(circuit, {0.4});
    circuit.add_sum_product({{0, 1}}, "t");

    auto first = circuit.update();
    ASSERT_EQ(tokens_of(first), std::set<std::string>{"t"});
    EXPECT_TRUE(same_values(first.at("t"), product_of_two<S>())) << S::name;
    EXPECT_TRUE(circuit.update().empty()) << "nothing changed";

    circuit.invalidate();
    auto again = circuit.update();
    ASSERT_EQ(tokens_of(again), std::set<std::string>{"t"});
    EXPECT_TRUE(same_values(again.at("t"), product_of_two<S>()));
}

TYPED_TEST(ReactiveCircuitIn, NodeWithoutTermsReportsZero) {
    using S = TypeParam;
    ReactiveCircuit<S> circuit(2);
    circuit.add_sum_product({}, "t");
    auto results = circuit.update();
    ASSERT_EQ(results.count("t"), 1u);
    EXPECT_TRUE(same_values(results.at("t"), S::decode(S::zero(2)))) << S::name;
    EXPECT_TRUE(same_values(results.at("t"), {0.0, 0.0}));
}

TEST(ReactiveCircuitInnerNode, IsReportedOnlyThroughItsConsumer) {
    ReactiveCircuit<Fuzzy> circuit(1);
    add_leaf(circuit, {0.5});
    add_leaf(circuit, {0.25});
    circuit.add_sum_product({{0}}, "t");
    circuit.update();

    const std::uint32_t inner = circuit.add_inner_node({{1}, {0, 1}});
    EXPECT_EQ(inner, 1u);
    EXPECT_FALSE(circuit.layers());
    EXPECT_EQ(circuit.dirty().size(), 1u);
    EXPECT_EQ(circuit.dirty().count(inner), 1u);
    EXPECT_EQ(circuit.target_nodes().size(), 1u) << "no token of its own";
    EXPECT_EQ(circuit.leafs()[0].dependencies, (std::vector<std::uint32_t>{0, 1}));
    EXPECT_EQ(circuit.leafs()[1].dependencies, (std::vector<std::uint32_t>{1}));

    circuit.connect(0, inner, 0);
    circuit.mark_dirty(0);  // connect marks nothing
    const auto results = circuit.update();
    ASSERT_EQ(tokens_of(results), std::set<std::string>{"t"});
    EXPECT_TRUE(same_values(results.at("t"), {0.25}));  // min(0.5, max(0.25, min(0.5, 0.25)))

    EXPECT_EQ(stop_message([&] { circuit.add_inner_node({{2}}); }), messages::index_out_of_bounds(2, 2));
}

TEST(ReactiveCircuitMarkDirty, RecomputesTheNodeAtTheNextUpdate) {
    ReactiveCircuit<Fuzzy> circuit(1);
    add_leaf(circuit, {0.5});
    circuit.add_sum_product({{0}}, "t");
    circuit.add_sum_product({{0}}, "u");
    circuit.update();

    circuit.mark_dirty(1);
    EXPECT_TRUE(circuit.layers()) << "no structural change";
    EXPECT_EQ(tokens_of(circuit.update()), std::set<std::string>{"u"});
    EXPECT_EQ(stop_message([&] { circuit.mark_dirty(2); }), messages::unwrap_none());
    EXPECT_TRUE(circuit.dirty().empty());
}

TYPED_TEST(ReactiveCircuitIn, ConnectGivesTheNewEdgeZeroMemory) {
    using S = TypeParam;
    ReactiveCircuit<S> circuit(3);
    add_leaf(circuit, {0.5, 0.5, 0.5});
    circuit.add_sum_product({{0}}, "root");
    circuit.add_sum_product({{0}}, "producer");
    circuit.connect(0, 1, 0);

    const double zero = (S::tag == SemiringTag::LogProb || S::tag == SemiringTag::MaxProduct) ? -inf : 0.0;
    ASSERT_EQ(circuit.structure().edge_count(), 1u);
    EXPECT_TRUE(same_values(circuit.structure().edge(0), {zero, zero, zero})) << S::name;
    EXPECT_EQ(circuit.structure().node(0).minterms(), (Rows{{0, 1}}));
    EXPECT_EQ(circuit.structure().node(0).columns()[1], (ColumnSource{ColumnSource::Memory, 0}));
    EXPECT_FALSE(circuit.layers());
    EXPECT_EQ(circuit.dirty().size(), 2u) << "connect marks nothing";
}

// ---- the operations, in LogProb where the semiring does not matter ----

TEST(ReactiveCircuit, EmptyCircuitUpdatesToNothingAndOneEmptyLayer) {
    ReactiveCircuit<LogProb> circuit(1);
    EXPECT_FALSE(circuit.layers());
    EXPECT_TRUE(circuit.update().empty());
    ASSERT_TRUE(circuit.layers());
    EXPECT_EQ(*circuit.layers(), (std::vector<std::vector<std::uint32_t>>{{}}));
    EXPECT_EQ(stop_message([] { ReactiveCircuit<LogProb> refused(0); }), messages::value_size_zero());
}

TEST(ReactiveCircuit, AddSumProductAppendsToTheTokensNodeOrMakesANewRoot) {
    ReactiveCircuit<LogProb> circuit(1);
    for (double p : {0.5, 0.4, 0.2}) add_leaf(circuit, {p});
    circuit.add_sum_product({{0, 1}}, "t");
    circuit.update();
    circuit.add_sum_product({{2}, {}}, "t");
    EXPECT_FALSE(circuit.layers()) << "a structural change drops the cached layers";
    circuit.add_sum_product({{1}}, "");  // any text is a token

    EXPECT_EQ(circuit.structure().node_count(), 2u);
    EXPECT_EQ(circuit.target_nodes(), (std::unordered_map<std::string, std::uint32_t>{{"t", 0}, {"", 1}}));
    EXPECT_EQ(circuit.structure().node(0).minterms(), (Rows{{0, 1}, {2}, {}}));
    EXPECT_EQ(circuit.leafs()[0].dependencies, std::vector<std::uint32_t>{0});
    EXPECT_EQ(circuit.leafs()[1].dependencies, (std::vector<std::uint32_t>{0, 1}));
    EXPECT_EQ(circuit.leafs()[2].dependencies, std::vector<std::uint32_t>{0});

    auto results = sorted(circuit.update());
    ASSERT_EQ(results.size(), 2u);
    EXPECT_TRUE(same_values(results.at("t"), {0.2 + 0.2 + 1.0}));
    EXPECT_TRUE(same_values(results.at(""), {0.4}));
}

TEST(ReactiveCircuit, AddSumProductStopsOnAMissingLeafAfterAddingTheTerms) {
    auto shared = SharedCircuit<LogProb>::make(1);
    {
        auto circuit = shared.lock();
        add_leaf(*circuit, {0.5});
        add_leaf(*circuit, {0.5});
    }
    EXPECT_EQ(stop_message([&] { shared.lock()->add_sum_product({{0}, {7}}, "t"); }),
              messages::index_out_of_bounds(2, 7));
    EXPECT_TRUE(shared.is_poisoned());
    EXPECT_EQ(stop_message([&] { shared.lock(); }), messages::poisoned_mutex());
}

TEST(ReactiveCircuit, AddSumProductFailureLeavesWhatItHadDone) {
    ReactiveCircuit<LogProb> circuit(1);
    add_leaf(circuit, {0.5});
    add_leaf(circuit, {0.5});
    EXPECT_EQ(stop_message([&] { circuit.add_sum_product({{0}, {7}}, "t"); }), messages::index_out_of_bounds(2, 7));
    const AlgebraicCircuit& node = circuit.structure().node(0);
    EXPECT_EQ(node.minterms(), (Rows{{0}, {1}}));
    EXPECT_EQ(node.columns()[1], (ColumnSource{ColumnSource::Leaf, 7}));
    EXPECT_EQ(circuit.leafs()[0].dependencies, std::vector<std::uint32_t>{0});
    EXPECT_TRUE(circuit.dirty().empty()) << "the node is marked last";
}

TEST(ReactiveCircuit, AddSumProductToARemovedTokenNodeStopsBeforeAddingTerms) {
    ReactiveCircuit<LogProb> circuit(1);
    add_leaf(circuit, {0.5});
    circuit.add_sum_product({{0}}, "t");
    test::CircuitAccess::structure(circuit).remove_node(0);
    EXPECT_TRUE(test::audited(circuit));
    EXPECT_EQ(stop_message([&] { circuit.add_sum_product({{0}}, "t"); }), messages::unwrap_none());
    EXPECT_EQ(circuit.structure().node_count(), 0u);
}

TEST(ReactiveCircuit, NewNodesTakeTheMostRecentlyFreedIndex) {
    ReactiveCircuit<LogProb> circuit(1);
    for (const char* token : {"a", "b", "c", "d"}) circuit.add_sum_product({}, token);
    test::CircuitAccess::structure(circuit).remove_node(1);
    test::CircuitAccess::structure(circuit).remove_node(2);
    EXPECT_TRUE(test::audited(circuit));
    circuit.add_sum_product({}, "e");
    circuit.add_sum_product({}, "f");
    circuit.add_sum_product({}, "g");
    EXPECT_EQ(circuit.target_nodes().at("e"), 2u);
    EXPECT_EQ(circuit.target_nodes().at("f"), 1u);
    EXPECT_EQ(circuit.target_nodes().at("g"), 4u);
}

TEST(ReactiveCircuit, ConnectToAMissingNodeOrRowStops) {
    ReactiveCircuit<Fuzzy> circuit(1);
    circuit.add_sum_product({{}}, "a");
    circuit.add_sum_product({{}}, "b");
    EXPECT_EQ(stop_message([&] { circuit.connect(0, 5, 0); }), messages::add_edge_not_a_node(5));
    EXPECT_EQ(circuit.structure().edge_count(), 0u);
    EXPECT_EQ(stop_message([&] { circuit.connect(0, 1, 1); }), messages::index_out_of_bounds(1, 1));
    EXPECT_EQ(circuit.structure().edge_count(), 1u) << "the edge is added before the row is checked";
}

// A chain: root T (token t) reads leaf 0 and producer P; P (token p) reads
// leaf 1 and producer Q; Q (no token) reads leaf 2. A separate root R (token
// r) reads leaf 3.
struct Chain {
    ReactiveCircuit<LogProb> circuit{1};
    std::uint32_t t, p, q, r;

    Chain() {
        for (double prob : {0.5, 0.4, 0.3, 0.9}) add_leaf(circuit, {prob});
        circuit.add_sum_product({{0}}, "t");
        circuit.add_sum_product({{1}}, "p");
        circuit.add_sum_product({{2}}, "q");
        circuit.add_sum_product({{3}}, "r");
        t = circuit.target_nodes().at("t");
        p = circuit.target_nodes().at("p");
        q = circuit.target_nodes().at("q");
        r = circuit.target_nodes().at("r");
        test::CircuitAccess::target_nodes(circuit).erase("q");
        EXPECT_TRUE(test::audited(circuit));
        circuit.connect(t, p, 0);
        circuit.connect(p, q, 0);
        circuit.update_dependencies();
    }
};

TEST(ReactiveCircuit, LayersGoByLongestPathDownInAscendingNodeOrder) {
    Chain chain;
    chain.circuit.update();
    ASSERT_TRUE(chain.circuit.layers());
    EXPECT_EQ(*chain.circuit.layers(),
              (std::vector<std::vector<std::uint32_t>>{{chain.q, chain.r}, {chain.p}, {chain.t}}));
    EXPECT_EQ(chain.circuit.leafs()[2].dependencies, (std::vector<std::uint32_t>{chain.t, chain.p, chain.q}));
    EXPECT_EQ(chain.circuit.leafs()[3].dependencies, std::vector<std::uint32_t>{chain.r});
}

TEST(ReactiveCircuit, LeafChangeRecomputesItsNodesAndTheirConsumers) {
    Chain chain;
    auto all = sorted(chain.circuit.update());
    ASSERT_EQ(all.size(), 3u);
    EXPECT_TRUE(same_values(all.at("t"), {0.5 * 0.4 * 0.3}));
    EXPECT_TRUE(same_values(all.at("p"), {0.4 * 0.3}));
    EXPECT_TRUE(same_values(all.at("r"), {0.9}));

    struct Case {
        std::uint32_t leaf;
        double probability;
        std::map<std::string, double> reported;
    };
    const Case cases[] = {
        {2, 0.6, {{"t", 0.5 * 0.4 * 0.6}, {"p", 0.4 * 0.6}}},  // the deepest leaf: the whole chain
        {0, 1.0, {{"t", 0.4 * 0.6}}},                          // the root's own leaf only
        {3, 0.1, {{"r", 0.1}}},
        {1, 0.4 + 1e-4, {}},  // within the change tolerance: nothing
    };
    for (const Case& c : cases) {
        chain.circuit.update_leaf(c.leaf, Vector{c.probability}, 1.0);
        auto results = sorted(chain.circuit.update());
        std::map<std::string, Vector> expected;
        for (const auto& [token, value] : c.reported) expected.emplace(token, Vector{value});
        ASSERT_EQ(results.size(), expected.size()) << "leaf " << c.leaf;
        for (const auto& [token, value] : expected) EXPECT_TRUE(same_values(results.at(token), value)) << token;
    }
}

TEST(ReactiveCircuit, UpdateWritesEveryIncomingMemory) {
    ReactiveCircuit<Fuzzy> circuit(2);
    add_leaf(circuit, {0.3, 0.7});
    circuit.add_sum_product({{}}, "a");
    circuit.add_sum_product({{}}, "b");
    circuit.add_sum_product({{0}}, "shared");
    circuit.connect(0, 2, 0);
    circuit.connect(1, 2, 0);
    const Vector outside = circuit.structure().edge(1);  // shares edge 1's storage
    test::CircuitAccess::structure(circuit).edge(0) = Vector(2, 5.0);
    EXPECT_TRUE(test::audited(circuit));
    const Vector before = circuit.structure().edge(0);

    auto results = circuit.update();
    EXPECT_TRUE(same_values(circuit.structure().edge(0), {0.3, 0.7}));
    EXPECT_TRUE(same_values(circuit.structure().edge(1), {0.3, 0.7}));
    EXPECT_TRUE(same_values(outside, {0.0, 0.0})) << "a shared memory gets storage of its own before the write";
    EXPECT_TRUE(same_values(before, {5.0, 5.0}));
    EXPECT_TRUE(same_values(results.at("a"), {0.3, 0.7}));
}

TEST(ReactiveCircuit, OneElementValueFillsAWiderMemoryAndOtherLengthsStop) {
    struct Case {
        std::uint32_t value_size;
        std::size_t memory_size;
        std::string stop;  // empty: the write succeeds
    };
    const Case cases[] = {
        {1, 3, ""},
        {1, 1, ""},
        {3, 2, messages::broadcast(3, 2)},
        {2, 4, messages::broadcast(2, 4)},
    };
    for (const Case& c : cases) {
        ReactiveCircuit<LogProb> circuit(c.value_size);
        add_leaf(circuit, Vector(c.value_size, 0.5));
        circuit.add_sum_product({{}}, "root");
        circuit.add_sum_product({{0}}, "producer");
        circuit.connect(0, 1, 0);
        test::CircuitAccess::structure(circuit).node(0).replace_term(0, {});  // the root no longer reads the odd-sized memory
        test::CircuitAccess::structure(circuit).edge(0) = Vector(c.memory_size, 9.0);
        EXPECT_TRUE(test::audited(circuit));
        const std::string stopped = stop_message([&] { circuit.update(); });
        if (c.stop.empty()) {
            EXPECT_EQ(stopped, "<no stop>");
            EXPECT_TRUE(same_values(circuit.structure().edge(0), Vector(c.memory_size, std::log(0.5))));
        } else {
            EXPECT_EQ(stopped, c.stop);
            EXPECT_TRUE(circuit.dirty().empty()) << "the snapshot is lost";
        }
    }
}

TEST(ReactiveCircuit, CyclesStopUpdateAndInvalidate) {
    ReactiveCircuit<LogProb> circuit(1);
    circuit.add_sum_product({{}}, "a");
    circuit.add_sum_product({{}}, "b");
    circuit.connect(0, 1, 0);
    circuit.connect(1, 0, 0);
    const std::string update_stop = stop_message([&] { circuit.update(); });
    EXPECT_TRUE(update_stop == messages::not_a_dag(0) || update_stop == messages::not_a_dag(1)) << update_stop;
    EXPECT_EQ(update_stop.rfind("ReactiveCircuit should be a DAG: ", 0), 0u);
    EXPECT_TRUE(circuit.dirty().empty());
    EXPECT_EQ(stop_message([&] { circuit.invalidate(); }).rfind("ReactiveCircuit should be a DAG: ", 0), 0u);
}

TEST(ReactiveCircuit, InvalidateMarksEveryNodeAndKeepsTheLayers) {
    Chain chain;
    chain.circuit.update();
    const auto layers = chain.circuit.layers();
    chain.circuit.invalidate();
    EXPECT_EQ(chain.circuit.dirty(), (std::unordered_set<std::uint32_t>{chain.t, chain.p, chain.q, chain.r}));
    EXPECT_EQ(chain.circuit.layers(), layers);
    EXPECT_EQ(tokens_of(chain.circuit.update()), (std::set<std::string>{"t", "p", "r"}));
}

TEST(ReactiveCircuit, EvaluationFailureStopsTheUpdateAfterEarlierLayersWereWritten) {
    ReactiveCircuit<LogProb> circuit(1);
    add_leaf(circuit, {0.5});
    circuit.add_sum_product({{0}}, "low");
    circuit.add_sum_product({{0}}, "high");
    circuit.connect(1, 0, 0);
    test::CircuitAccess::structure(circuit).node(1).ensure_leaf(4);  // a column of a leaf that does not exist, used by no term
    EXPECT_TRUE(test::audited(circuit));
    circuit.update_dependencies();
    EXPECT_EQ(stop_message([&] { circuit.update(); }), messages::index_out_of_bounds(1, 4));
    EXPECT_TRUE(same_values(circuit.structure().edge(0), {std::log(0.5)})) << "the lower layer was written";
}

TEST(ReactiveCircuit, FromSumProductBuildsOneDirtyNodeWithoutLeaves) {
    auto circuit = ReactiveCircuit<LogProb>::from_sum_product(1, {{0, 1}}, "t");
    EXPECT_EQ(live_nodes(circuit), std::vector<std::uint32_t>{0});
    const AlgebraicCircuit& node = circuit.structure().node(0);
    EXPECT_EQ(node.columns(),
              (std::vector<ColumnSource>{{ColumnSource::Leaf, 0}, {ColumnSource::Leaf, 1}}));
    EXPECT_TRUE(circuit.leafs().empty());
    EXPECT_EQ(circuit.target_nodes().at("t"), 0u);
    EXPECT_EQ(circuit.dirty(), std::unordered_set<std::uint32_t>{0});

    add_leaf(circuit, {0.5});
    add_leaf(circuit, {0.4});
    auto results = circuit.update();
    EXPECT_TRUE(same_values(results.at("t"), {0.2})) << "the node starts dirty";
    EXPECT_TRUE(circuit.leafs()[0].dependencies.empty()) << "computed while there were no leaves";
    circuit.update_leaf(0, Vector{0.9}, 1.0);
    EXPECT_TRUE(circuit.update().empty()) << "so leaf changes mark nothing";

    auto early = ReactiveCircuit<LogProb>::from_sum_product(1, {{0, 1}}, "t");
    add_leaf(early, {0.5});
    EXPECT_EQ(stop_message([&] { early.update(); }), messages::index_out_of_bounds(1, 1))
        << "every named leaf must exist before the first update";
}

TEST(ReactiveCircuit, FromSumProductRefusesEmptyArgumentsInOrder) {
    struct Case {
        std::uint32_t value_size;
        Rows rows;
        std::string token;
        std::string stop;
    };
    const Case cases[] = {
        {1, {}, "t", std::string(messages::empty_sum_product())},
        {0, {}, "", std::string(messages::empty_sum_product())},
        {1, {{0}}, "", std::string(messages::empty_target_token())},
        {0, {{0}}, "", std::string(messages::empty_target_token())},
        {0, {{0}}, "t", std::string(messages::value_size_zero())},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stop_message([&] { ReactiveCircuit<LogProb>::from_sum_product(c.value_size, c.rows, c.token); }), c.stop);
    }
}

// ---- against a direct evaluation ----

// The value of node `n` computed from scratch: producers are evaluated
// recursively instead of read from memories, so neither the layers nor the
// memory writes of `update` take part.
template <class S>
Vector reference_value(const ReactiveCircuit<S>& circuit, std::uint32_t n, std::map<std::uint32_t, Vector>& known) {
    if (auto found = known.find(n); found != known.end()) return found->second;
    const AlgebraicCircuit& node = circuit.structure().node(n);
    if (node.minterms().empty()) return known[n] = S::zero(circuit.value_size());
    typename S::Sum sum(circuit.value_size());
    for (const auto& term : node.minterms()) {
        Vector product = S::one(circuit.value_size());
        for (std::uint32_t column : term) {
            const ColumnSource source = node.columns()[column];
            const Vector value = source.kind == ColumnSource::Leaf
                                     ? circuit.leafs()[source.index].value
                                     : reference_value(circuit, circuit.structure().target(source.index), known);
            S::mul(product.mutable_view(), value.view());
        }
        sum.add(product.view());
    }
    return known[n] = sum.finish();
}

// Checks that every token's latest reported value and every memory agree
// with the direct evaluation.
template <class S>
void expect_current(const ReactiveCircuit<S>& circuit, const std::map<std::string, Vector>& reported,
                    const std::string& context) {
    std::map<std::uint32_t, Vector> known;
    for (const auto& [token, node] : circuit.target_nodes()) {
        ASSERT_EQ(reported.count(token), 1u) << context << ": never reported " << token;
        EXPECT_TRUE(same_values(reported.at(token), S::decode(reference_value(circuit, node, known))))
            << context << ": token " << token;
    }
    for (std::uint32_t e : circuit.structure().edge_indices()) {
        EXPECT_TRUE(same_values(circuit.structure().edge(e), reference_value(circuit, circuit.structure().target(e), known)))
            << context << ": memory of edge " << e;
    }
}

template <class S>
double random_probability(std::mt19937& random) {
    // Booleans need false values too; 0.0 is -inf in the log semirings.
    static constexpr double choices[] = {0.0, 0.1, 0.25, 0.5, 0.75, 0.9, 1.0};
    return choices[random() % std::size(choices)];
}

template <class S>
Vector random_value(std::mt19937& random, std::uint32_t value_size) {
    Vector value(S::tag == SemiringTag::ProbGradient ? 1 : value_size);
    for (double& x : value.mutable_view()) x = random_probability<S>(random);
    return value;
}

// The shape of a random circuit: node count, the most rows a node gets, and
// the chance 1 / edge_one_in that a consumer is connected to a given
// producer of higher index.
struct Shape {
    std::uint32_t nodes, rows_per_node, edge_one_in;
};

// A random DAG: nodes made by add_sum_product under tokens, consumers
// connected to producers of higher index (so no cycle), some tokens dropped.
template <class S>
ReactiveCircuit<S> random_circuit(std::mt19937& random, Shape shape) {
    const std::uint32_t node_count = shape.nodes;
    const std::uint32_t leaf_count = 3 + random() % 6;
    const std::uint32_t value_size = S::tag == SemiringTag::ProbGradient ? leaf_count + 1 : 2;
    ReactiveCircuit<S> circuit(value_size);
    for (std::uint32_t i = 0; i < leaf_count; ++i) add_leaf(circuit, random_value<S>(random, value_size));
    for (std::uint32_t n = 0; n < node_count; ++n) {
        Rows rows(1 + random() % shape.rows_per_node);
        for (auto& row : rows) {
            for (std::uint32_t k = random() % 4; k > 0; --k) row.push_back(random() % leaf_count);
        }
        circuit.add_sum_product(rows, "n" + std::to_string(n));
    }
    for (std::uint32_t consumer = 0; consumer < node_count; ++consumer) {
        for (std::uint32_t producer = consumer + 1; producer < node_count; ++producer) {
            if (random() % shape.edge_one_in != 0) continue;
            const auto rows = static_cast<std::uint32_t>(circuit.structure().node(consumer).minterms().size());
            circuit.connect(consumer, producer, random() % rows);
        }
        if (random() % 3 == 0) test::CircuitAccess::target_nodes(circuit).erase("n" + std::to_string(consumer));
    }
    EXPECT_TRUE(test::audited(circuit));
    circuit.update_dependencies();
    return circuit;
}

// Random leaf changes, each followed by an update: the update reports
// exactly the tokens of the dirty nodes, and afterwards every reported value
// and every memory equals the direct evaluation. A full recomputation of a
// copy agrees too.
template <class S>
void check_random_updates(std::uint32_t seed, Shape shape) {
    std::mt19937 random(seed);
    ReactiveCircuit<S> circuit = random_circuit<S>(random, shape);
    std::map<std::string, Vector> reported;
    for (auto& [token, value] : circuit.update()) reported.insert_or_assign(token, value);
    expect_current(circuit, reported, "first update");

    double timestamp = 1.0;
    for (int round = 0; round < 25; ++round) {
        for (std::uint32_t k = 1 + random() % 3; k > 0; --k) {
            const auto position = static_cast<std::uint32_t>(random() % circuit.leafs().size());
            circuit.update_leaf(position, random_value<S>(random, circuit.value_size()), timestamp += 0.5);
        }
        std::set<std::string> expected_tokens;
        for (const auto& [token, node] : circuit.target_nodes()) {
            if (circuit.dirty().count(node)) expected_tokens.insert(token);
        }
        const auto results = circuit.update();
        ASSERT_EQ(tokens_of(results), expected_tokens) << S::name << " round " << round;
        for (auto& [token, value] : results) reported.insert_or_assign(token, value);
        expect_current(circuit, reported, std::string(S::name) + " round " + std::to_string(round));
        if (::testing::Test::HasFailure()) return;
    }

    ReactiveCircuit<S> copy = circuit;
    copy.invalidate();
    const auto full = copy.update();
    ASSERT_EQ(full.size(), circuit.target_nodes().size());
    for (const auto& [token, value] : full) EXPECT_TRUE(same_values(value, reported.at(token))) << token;
}

TYPED_TEST(ReactiveCircuitIn, IncrementalUpdatesMatchADirectEvaluation) {
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        check_random_updates<TypeParam>(seed, Shape{2 + seed % 10, 4, 4});
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << "seed " << seed;
            return;
        }
    }
}

// Wide layers go to the worker pool; the results must not depend on it.
TYPED_TEST(ReactiveCircuitIn, WideLayersMatchADirectEvaluation) {
    check_random_updates<TypeParam>(99, Shape{300, 120, 3000});
}

TEST(ReactiveCircuit, AStopOnAWorkerStopsTheUpdateWithItsMessage) {
    ReactiveCircuit<LogProb> circuit(4);
    add_leaf(circuit, Vector(4, 0.5));
    Rows rows(200, std::vector<std::uint32_t>{0});
    for (int n = 0; n < 300; ++n) circuit.add_sum_product(rows, "n" + std::to_string(n));
    test::CircuitAccess::structure(circuit).node(217).push_leaf_row({0, 1});  // leaf 1 does not exist
    EXPECT_TRUE(test::audited(circuit));
    EXPECT_EQ(stop_message([&] { circuit.update(); }), messages::index_out_of_bounds(1, 1));
}

}  // namespace
}  // namespace tallo
