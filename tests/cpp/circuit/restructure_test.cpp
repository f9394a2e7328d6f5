#include "circuit/reactive_circuit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/messages.h"
#include "circuit/circuit_access.h"
#include "circuit/messages.h"
#include "restructure_fixture.h"
#include "stop_message.h"

namespace tallo {
namespace {

using test::circuit_of;
using test::close_values;
using test::leaf_input;
using test::Rows;
using test::shape;
using test::target_values;
using test::well_formed;
using testing::stop_message;

// Leaves a, b, c of the worked examples.
constexpr std::uint32_t a = 0, b = 1, c = 2;

ReactiveCircuit<LogProb> two_terms_over_a() {
    ReactiveCircuit<LogProb> circuit = circuit_of<LogProb>({0.2, 0.3, 0.6}, {{"t", Rows{{a, b}, {a, c}}}});
    circuit.update();
    return circuit;
}

TEST(DropLeaf, GivesEachTermWithoutAProducerANodeOfItsOwn) {
    ReactiveCircuit<LogProb> circuit = two_terms_over_a();
    circuit.drop_leaf(a);
    EXPECT_EQ(shape(circuit), "0t{L1\u00b7M0 | L2\u00b7M1} 1{L0} 2{L0} / 0:0->1 1:0->2");
    EXPECT_EQ(circuit.dirty(), (std::unordered_set<std::uint32_t>{1, 2}));
    EXPECT_FALSE(circuit.layers());
    // The new edges read zero until their producers are recomputed.
    EXPECT_EQ(circuit.structure().edge(0)[0], -std::numeric_limits<double>::infinity());
    EXPECT_EQ(circuit.leafs()[a].dependencies, (std::vector<std::uint32_t>{0, 1, 2}));
    EXPECT_TRUE(well_formed(circuit));
}

TEST(DropLeaf, HandsTheLeafToTheProducerItsTermReads) {
    ReactiveCircuit<LogProb> circuit = two_terms_over_a();
    circuit.drop_leaf(a);
    circuit.update();
    circuit.drop_leaf(b);
    EXPECT_EQ(shape(circuit), "0t{M0 | L2\u00b7M1} 1{L0\u00b7L1} 2{L0} / 0:0->1 1:0->2");
    EXPECT_EQ(circuit.dirty(), (std::unordered_set<std::uint32_t>{1, 2}));
}

TEST(DropLeaf, KeepsTermsThatWereEmptyBefore) {
    ReactiveCircuit<LogProb> circuit = circuit_of<LogProb>({0.2, 0.3}, {{"t", Rows{{}, {a, b}}}});
    circuit.update();
    const auto before = target_values(circuit);
    circuit.drop_leaf(a);
    EXPECT_EQ(shape(circuit), "0t{ | L1\u00b7M0} 1{L0} / 0:0->1");
    EXPECT_TRUE(circuit.update().empty());
    EXPECT_TRUE(close_values(target_values(circuit), before));
}

TEST(LiftLeaf, OutOfARootPutsANewRootAboveThatTakesItsTokens) {
    ReactiveCircuit<LogProb> circuit = two_terms_over_a();
    test::CircuitAccess::target_nodes(circuit)["u"] = 0;
    EXPECT_TRUE(test::audited(circuit));
    circuit.lift_leaf(a);
    // Root 0 is gone; its split part without a reads b and c one edge down.
    EXPECT_EQ(shape(circuit), "1tu{L0\u00b7M0} 2{L1 | L2} / 0:1->2");
    EXPECT_EQ(circuit.dirty(), (std::unordered_set<std::uint32_t>{1, 2}));
    EXPECT_TRUE(well_formed(circuit));

    // The freed slot 0 is the next node's.
    circuit.drop_leaf(b);
    EXPECT_EQ(shape(circuit), "0{L1} 1tu{L0\u00b7M0} 2{M1 | L2} / 0:1->2 1:2->0");
}

TEST(LiftLeaf, ReturnsADroppedLeafToTheRootAndTheTargetKeepsItsValue) {
    ReactiveCircuit<LogProb> circuit = two_terms_over_a();
    const auto before = target_values(circuit);
    circuit.drop_leaf(a);
    EXPECT_TRUE(circuit.update().empty());  // only nodes without tokens were marked
    circuit.lift_leaf(a);
    // Lifted out of both producers: each comes back as a term of its own.
    EXPECT_EQ(shape(circuit), "0t{L1\u00b7L0 | L2\u00b7L0} /");
    EXPECT_TRUE(circuit.dirty().empty());
    EXPECT_TRUE(circuit.update().empty());
    EXPECT_TRUE(close_values(target_values(circuit), before));
}

TEST(LiftLeaf, SplitPartsShareTheProducersMemory) {
    ReactiveCircuit<LogProb> circuit = circuit_of<LogProb>({0.2, 0.3, 0.6}, {{"t", Rows{{a, b}, {c}}}});
    circuit.drop_leaf(b);  // 0t{L0·M0 | L2} 1{L1}
    circuit.update();
    const Vector producer_value = circuit.structure().edge(0);

    circuit.lift_leaf(c);
    // Root 2 above the old root 0. The part holding c was c alone: it returns
    // to the root as a term and is not kept. The other part, node 3, reads
    // node 1 through a new edge that holds node 1's value at once.
    EXPECT_EQ(shape(circuit), "1{L1} 2t{M1 | L2} 3{L0\u00b7M2} / 1:2->3 2:3->1");
    EXPECT_TRUE(circuit.structure().edge(2).shares_storage_with(producer_value));
    EXPECT_EQ(circuit.structure().edge(1)[0], -std::numeric_limits<double>::infinity());
    EXPECT_EQ(circuit.dirty(), (std::unordered_set<std::uint32_t>{2, 3}));
    EXPECT_TRUE(well_formed(circuit));
}

TEST(LiftLeaf, RemovesTheConsumersTermWhenEveryTermHoldsTheLeaf) {
    ReactiveCircuit<LogProb> circuit = circuit_of<LogProb>({0.2, 0.3, 0.6}, {{"t", Rows{{a, b}, {c}}}});
    circuit.update();
    const auto before = target_values(circuit);
    circuit.drop_leaf(a);  // 0t{L1·M0 | L2} 1{L0}
    circuit.update();
    circuit.drop_leaf(b);  // 0t{M0 | L2} 1{L0·L1}
    circuit.update();
    circuit.lift_leaf(a);
    EXPECT_EQ(shape(circuit), "0t{L2 | L0\u00b7M0} 2{L1} / 0:0->2");
    EXPECT_TRUE(well_formed(circuit));
    circuit.update();
    EXPECT_TRUE(close_values(target_values(circuit), before));
}

TEST(LiftLeaf, AConsumerThatReceivesTheLeafIsNotLiftedAgain) {
    ReactiveCircuit<LogProb> circuit = two_terms_over_a();
    circuit.lift_leaf(a);
    circuit.drop_leaf(b);
    // b's node 0 lies below node 2, which comes later in index order and
    // holds b once node 0 is lifted.
    ASSERT_EQ(shape(circuit), "0{L1} 1t{L0\u00b7M0} 2{M1 | L2} / 0:1->2 1:2->0");
    circuit.lift_leaf(b);
    EXPECT_EQ(shape(circuit), "1t{L0\u00b7M0} 2{L2 | L1} / 0:1->2");
}

TEST(LeafMoves, ALeafNoNodeHoldsOnlyResetsTheCaches) {
    ReactiveCircuit<LogProb> circuit = circuit_of<LogProb>({0.2, 0.3, 0.6}, {{"t", Rows{{a, b}}}});
    circuit.update();
    for (auto move : {&ReactiveCircuit<LogProb>::drop_leaf, &ReactiveCircuit<LogProb>::lift_leaf}) {
        const std::string before = shape(circuit);
        ASSERT_TRUE(circuit.layers());
        (circuit.*move)(c);
        EXPECT_EQ(shape(circuit), before);
        EXPECT_FALSE(circuit.layers());
        EXPECT_TRUE(circuit.dirty().empty());
        circuit.update();
    }
}

TEST(LeafMoves, StopWithTheBoundsTextOnAnIndexPastTheLeaves) {
    for (auto move : {&ReactiveCircuit<LogProb>::drop_leaf, &ReactiveCircuit<LogProb>::lift_leaf}) {
        ReactiveCircuit<LogProb> circuit = two_terms_over_a();
        const std::string before = shape(circuit);
        EXPECT_EQ(stop_message([&] { (circuit.*move)(3); }), messages::index_out_of_bounds(3, 3));
        EXPECT_FALSE(circuit.layers());
        EXPECT_EQ(shape(circuit), before);
    }

    auto shared = SharedCircuit<LogProb>::make(1);
    EXPECT_EQ(stop_message([&] { shared.lock()->lift_leaf(0); }), messages::index_out_of_bounds(0, 0));
    EXPECT_EQ(stop_message([&] { shared.lock()->drop_leaf(0); }), messages::poisoned_mutex());
}

TEST(LiftLeaf, StopsOnANodeWhoseTermsDoNotUseTheLeafsColumn) {
    ReactiveCircuit<LogProb> circuit = circuit_of<LogProb>({0.2, 0.3, 0.6}, {{"t", Rows{{a, b}}}});
    test::CircuitAccess::structure(circuit).node(0).ensure_leaf(c);  // a column for c in no term
    EXPECT_TRUE(test::audited(circuit));
    circuit.update_dependencies();
    EXPECT_EQ(stop_message([&] { circuit.lift_leaf(c); }), messages::in_scope_missing());
}

TEST(LiftLeaf, StopsWhenAConsumerReadsTheNodeInNoTerm) {
    ReactiveCircuit<LogProb> circuit = two_terms_over_a();
    circuit.drop_leaf(a);
    test::CircuitAccess::structure(circuit).node(0).replace_term(0, {0});  // the term no longer reads node 1
    EXPECT_TRUE(test::audited(circuit));
    EXPECT_EQ(stop_message([&] { circuit.lift_leaf(a); }), messages::index_out_of_bounds(0, 0));
}

// Random sums of products moved about at random, in each semiring: after every
// move an update must leave each target at the value of the same sums of
// products evaluated flat, and so must every leaf change that follows. Every
// update reports exactly the tokens whose nodes were dirty, through moves,
// adaptations and roots added under new tokens (which take freed slots).
template <class S>
class LeafMovesIn : public ::testing::Test {};

using Semirings = SemiringTypes::apply<::testing::Types>;
TYPED_TEST_SUITE(LeafMovesIn, Semirings);

TYPED_TEST(LeafMovesIn, KeepTargetValuesThroughRandomMovesAndChanges) {
    using S = TypeParam;
    constexpr std::uint32_t leaf_count = 6;
    std::mt19937 random(20240611u + static_cast<unsigned>(S::tag));
    auto below = [&](std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random); };
    auto probability = [&] {
        if (S::tag == SemiringTag::Boolean && below(3) == 0) return 0.0;
        return std::uniform_real_distribution<double>(0.05, 0.95)(random);
    };
    auto random_rows = [&] {
        Rows rows;
        for (std::uint32_t r = 0, n = 1 + below(5); r < n; ++r) {
            std::vector<std::uint32_t> row;
            for (std::uint32_t i = 0; i < leaf_count; ++i) {
                if (below(3) == 0) row.push_back(i);
            }
            rows.push_back(row);
        }
        return rows;
    };

    for (int trial = 0; trial < 60; ++trial) {
        std::map<std::string, Rows> roots;
        for (const char* token : {"/t", "/u"}) {
            if (token[1] == 'u' && below(2) == 0) continue;
            roots[token] = random_rows();
        }
        std::vector<double> probabilities;
        for (std::uint32_t i = 0; i < leaf_count; ++i) probabilities.push_back(probability());
        ReactiveCircuit<S> circuit = circuit_of<S>(probabilities, roots);
        ReactiveCircuit<S> flat = circuit_of<S>(probabilities, roots);
        circuit.update();

        std::string history;
        for (int step = 0; step < 30; ++step) {
            const std::uint32_t leaf = below(leaf_count);
            const std::uint32_t what = below(step % 10 == 9 ? 5 : 3);
            if (what == 0) {
                const Vector value = leaf_input<S>(probability(), circuit.value_size());
                circuit.update_leaf(leaf, value, step + 1.0);
                flat.update_leaf(leaf, value, step + 1.0);
                history += " set" + std::to_string(leaf);
            } else if (what <= 2) {
                (what == 1 ? circuit.drop_leaf(leaf) : circuit.lift_leaf(leaf));
                history += (what == 1 ? " drop" : " lift") + std::to_string(leaf);
                ASSERT_TRUE(well_formed(circuit)) << history;
            } else if (what == 3) {
                const std::string token = "/n" + std::to_string(step);
                const Rows rows = random_rows();
                circuit.add_sum_product(rows, token);
                flat.add_sum_product(rows, token);
                history += " add" + token;
            } else {
                circuit.adapt(circuit.levels_for({1.0 + below(3), 4.0}));
                history += " adapt";
                ASSERT_TRUE(well_formed(circuit)) << history;
            }
            std::set<std::string> dirty_tokens;
            for (const auto& [token, node] : circuit.target_nodes()) {
                if (circuit.dirty().contains(node)) dirty_tokens.insert(token);
            }
            const auto reported = circuit.update();
            std::set<std::string> reported_tokens;
            for (const auto& entry : reported) reported_tokens.insert(entry.first);
            EXPECT_EQ(reported_tokens, dirty_tokens) << history;
            const auto values = target_values(circuit);
            ASSERT_TRUE(close_values(values, target_values(flat))) << history << "\n" << shape(circuit);
            for (const auto& [token, value] : reported) {
                EXPECT_TRUE(close_values({{token, value}}, {{token, values.at(token)}})) << history;
            }
            if (what == 1) {
                EXPECT_TRUE(reported.empty()) << history;
            }
        }
    }
}

}  // namespace
}  // namespace tallo
