#include "circuit/reactive_circuit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "circuit/circuit_access.h"
#include "circuit/leaf.h"
#include "circuit/messages.h"
#include "circuit/semiring.h"
#include "circuit/checks.h"
#include "stop_message.h"
#include "tracking/foc_estimator.h"

namespace tallo {
namespace {

using test::same_values;
using testing::stop_message;

using test::inf;

// A circuit with `count` leaves of probability 0.5, each depending on the
// nodes `dependencies`.
template <class S>
ReactiveCircuit<S> circuit_with_leaves(std::uint32_t count, std::vector<std::uint32_t> dependencies = {},
                                       std::uint32_t value_size = 1) {
    ReactiveCircuit<S> circuit(value_size);
    for (std::uint32_t i = 0; i < count; ++i) {
        circuit.add_leaf(Vector{0.5}, 0.0, "leaf" + std::to_string(i));
        test::CircuitAccess::leafs(circuit).back().dependencies = dependencies;
    }
    EXPECT_TRUE(test::audited(circuit));
    return circuit;
}

template <class S>
class LeafUpdate : public ::testing::Test {};

using AllSemirings = SemiringTypes::apply<::testing::Types>;
TYPED_TEST_SUITE(LeafUpdate, AllSemirings);

TYPED_TEST(LeafUpdate, AcceptsOnlyChangesAndMarksTheDependencies) {
    using S = TypeParam;
    ReactiveCircuit<S> circuit = circuit_with_leaves<S>(2, {1, 4, 7});
    test::CircuitAccess::dirty(circuit) = {9};
    EXPECT_TRUE(test::audited(circuit));
    FoCEstimator reference(0.0);  // fed the timestamps of the accepted changes only

    struct Step {
        double probability;
        double timestamp;
        bool accepted;
    };
    // 0.5004 lies within the tolerance of 0.5 in every encoding; 0.0 is a
    // change from 0.5 in all of them.
    const std::vector<Step> steps = {
        {0.5004, 1.0, false}, {0.0, 2.0, true}, {0.5, 3.0, true}, {0.5, 4.0, false}, {0.0, 5.0, true},
    };
    for (const Step& step : steps) {
        const double frequency_before = circuit.leafs()[1].frequency;
        const Vector value_before = circuit.leafs()[1].value;
        circuit.update_leaf(1, Vector{step.probability}, step.timestamp);
        if (step.accepted) {
            EXPECT_EQ(circuit.leafs()[1].frequency, reference.update(step.timestamp)) << "t = " << step.timestamp;
            EXPECT_TRUE(same_values(circuit.leafs()[1].value, S::encode_leaf_vec(Vector{step.probability}, 1, 1)));
            EXPECT_EQ(circuit.dirty(), (std::unordered_set<std::uint32_t>{1, 4, 7, 9}));
        } else {
            EXPECT_EQ(circuit.leafs()[1].frequency, frequency_before) << "t = " << step.timestamp;
            EXPECT_TRUE(same_values(circuit.leafs()[1].value, value_before));
            EXPECT_EQ(circuit.dirty(), (std::unordered_set<std::uint32_t>{9})) << "t = " << step.timestamp;
        }
        test::CircuitAccess::dirty(circuit) = {9};
    }
    EXPECT_TRUE(same_values(circuit.leafs()[0].value, S::encode_leaf_vec(Vector{0.5}, 1, 0)));
}

TYPED_TEST(LeafUpdate, StopsOnAPositionBeyondTheLeaves) {
    using S = TypeParam;
    ReactiveCircuit<S> circuit = circuit_with_leaves<S>(2, {0});
    EXPECT_EQ(stop_message([&] { circuit.update_leaf(2, Vector{0.3}, 1.0); }), messages::index_out_of_bounds(2, 2));
    EXPECT_TRUE(circuit.dirty().empty());
}

struct ToleranceCase {
    Vector stored;
    Vector written;
    bool change;
};

TEST(LeafUpdateChangeTest, DecidesOnTheEncodedValues) {
    const std::vector<ToleranceCase> cases = {
        {{0.1}, {0.1005}, false},
        {{0.1}, {0.1011}, true},
        {{0.5}, {0.5, 0.5}, true},
        {{0.5, 0.5}, {0.5}, true},
    };
    for (const ToleranceCase& c : cases) {
        ReactiveCircuit<Fuzzy> circuit(1);
        circuit.add_leaf(c.stored, 0.0, "x");
        test::CircuitAccess::leafs(circuit)[0].dependencies = {0};
        EXPECT_TRUE(test::audited(circuit));
        circuit.update_leaf(0, c.written, 1.0);
        EXPECT_EQ(!circuit.dirty().empty(), c.change) << "written size " << c.written.size();
        EXPECT_TRUE(same_values(circuit.leafs()[0].value, c.change ? c.written : c.stored));
    }
}

TEST(LeafUpdateChangeTest, ZeroProbabilityInLogSpaceChangesEveryTime) {
    ReactiveCircuit<LogProb> circuit = circuit_with_leaves<LogProb>(1, {3});
    for (double t : {1.0, 2.0, 3.0}) {
        test::CircuitAccess::dirty(circuit).clear();
        circuit.update_leaf(0, Vector{0.0}, t);
        EXPECT_EQ(circuit.dirty().count(3), 1u) << "t = " << t;
        EXPECT_TRUE(same_values(circuit.leafs()[0].value, {-inf}));
    }
    EXPECT_GT(circuit.leafs()[0].frequency, 0.0);  // the estimator saw three changes
}

TEST(LeafUpdateProbGradient, PadsToTheValueSizeAndSeedsTheLeafsOwnIndex) {
    ReactiveCircuit<ProbGradient> circuit(4);
    circuit.add_leaf(Vector{0.2}, 0.0, "w");
    circuit.add_leaf(Vector{0.2}, 0.0, "x");  // index 1: its seed is slot 2
    test::CircuitAccess::leafs(circuit)[1].dependencies = {2};
    EXPECT_TRUE(test::audited(circuit));

    struct Step {
        Vector written;
        Vector stored;
        bool change;
    };
    const std::vector<Step> steps = {
        {{0.7}, {0.7, 0.0, 1.0, 0.0}, true},
        {{0.7, 5.0}, {0.7, 0.0, 1.0, 0.0}, false},  // only the first element counts
        {{0.7, 9.0, 9.0, 9.0, 9.0}, {0.7, 0.0, 1.0, 0.0, 0.0}, true},  // longer than value_size
        {{0.7004}, {0.7004, 0.0, 1.0, 0.0}, true},  // back to four slots: another length
    };
    for (const Step& step : steps) {
        test::CircuitAccess::dirty(circuit).clear();
        circuit.update_leaf(1, step.written, 1.0);
        EXPECT_EQ(circuit.dirty().count(2), step.change ? 1u : 0u) << "written size " << step.written.size();
        EXPECT_TRUE(same_values(circuit.leafs()[1].value, step.stored));
    }
}

TEST(LeafUpdateProbGradient, RefusesAnEmptyValueBeforeLookingAtThePosition) {
    ReactiveCircuit<ProbGradient> circuit = circuit_with_leaves<ProbGradient>(1, {0});
    const std::string out_of_bounds(messages::array_index_out_of_bounds());
    EXPECT_EQ(stop_message([&] { circuit.update_leaf(0, Vector{}, 1.0); }), out_of_bounds);
    EXPECT_EQ(stop_message([&] { circuit.update_leaf(5, Vector{}, 1.0); }), out_of_bounds);
    EXPECT_TRUE(circuit.dirty().empty());
}

TEST(ReactiveCircuitConstruction, RefusesAWidthOfZeroAndBatchesOnlyOutsideProbGradient) {
    EXPECT_EQ(stop_message([] { ReactiveCircuit<LogProb> circuit(0); }), messages::value_size_zero());
    const ReactiveCircuit<Boolean> batched(3);
    EXPECT_EQ(std::pair(batched.value_size(), batched.batch_width()), std::pair(3u, 3u));
    const ReactiveCircuit<ProbGradient> dual(3);
    EXPECT_EQ(std::pair(dual.value_size(), dual.batch_width()), std::pair(3u, 1u));
}

TYPED_TEST(LeafUpdate, AddLeafGivesEachLeafItsPositionAsIndex) {
    using S = TypeParam;
    ReactiveCircuit<S> circuit(2);
    for (std::uint32_t i = 0; i < 3; ++i) EXPECT_EQ(circuit.add_leaf(Vector{0.5}, 1.5, "x"), i);
    for (std::uint32_t i = 0; i < 3; ++i) {
        const Leaf& leaf = circuit.leafs()[i];
        EXPECT_EQ(leaf.index, i);
        EXPECT_EQ(leaf.frequency, 1.5);
        EXPECT_TRUE(leaf.dependencies.empty());
        EXPECT_TRUE(same_values(leaf.value, Leaf::create<S>(Vector{0.5}, 1.5, "x", i).value));
    }
    EXPECT_TRUE(circuit.dirty().empty());
}

// Seeding widens the leaves and every node made after it; once a node
// exists it is refused, so that no node or memory keeps the old width.
TEST(SeedGradients, WidensTheLeavesBeforeAnyNodeAndIsRefusedAfter) {
    ReactiveCircuit<ProbGradient> circuit(1);
    circuit.add_leaf(Vector{0.25}, 0.0, "a");
    circuit.add_leaf(Vector{0.5}, 0.0, "b");
    circuit.seed_gradients();
    EXPECT_EQ(std::pair(circuit.value_size(), circuit.batch_width()), std::pair(3u, 1u));
    EXPECT_TRUE(same_values(circuit.leafs()[0].value, {0.25, 1.0, 0.0}));
    EXPECT_TRUE(same_values(circuit.leafs()[1].value, {0.5, 0.0, 1.0}));
    EXPECT_TRUE(circuit.dirty().empty());

    circuit.add_sum_product({{0}}, "t");
    circuit.connect(0, circuit.add_inner_node({{1}}), 0);
    EXPECT_TRUE(test::audited(circuit));  // every node of the circuit's width
    EXPECT_EQ(circuit.structure().edge(0).size(), 3u);
    EXPECT_TRUE(same_values(circuit.update().at("t"), {0.125, 0.5, 0.25}));

    const std::vector<Leaf> leafs = circuit.leafs();
    EXPECT_EQ(stop_message([&] { circuit.seed_gradients(); }), messages::seeded_after_nodes());
    EXPECT_EQ(circuit.value_size(), 3u);
    for (std::size_t i = 0; i < leafs.size(); ++i) EXPECT_TRUE(same_values(circuit.leafs()[i].value, leafs[i].value));
    EXPECT_TRUE(test::audited(circuit));
}

TEST(SeedGradients, DoesNothingOutsideProbGradient) {
    ReactiveCircuit<LogProb> circuit(2);
    circuit.add_leaf(Vector{0.5, 0.25}, 0.0, "a");
    circuit.add_sum_product({{0}}, "t");
    circuit.seed_gradients();
    EXPECT_EQ(std::pair(circuit.value_size(), circuit.batch_width()), std::pair(2u, 2u));
    EXPECT_TRUE(same_values(circuit.leafs()[0].value, {std::log(0.5), std::log(0.25)}));
}

}  // namespace
}  // namespace tallo
