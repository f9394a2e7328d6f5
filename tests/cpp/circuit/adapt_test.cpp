#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "circuit/circuit_access.h"
#include "circuit/clustering.h"
#include "circuit/reactive_circuit.h"
#include "restructure_fixture.h"
#include "stop_message.h"

namespace tallo {
namespace {

using test::circuit_of;
using test::close_values;
using test::leaf_levels;
using test::Rows;
using test::shape;
using test::target_values;
using test::well_formed;
using testing::stop_message;
using Levels = std::vector<std::set<std::uint32_t>>;

// An adaptation as the host runs it: the levels, printed, then the moves.
template <class S>
void adapt_printing(ReactiveCircuit<S>& circuit, const std::vector<double>& boundaries) {
    std::vector<std::uint32_t> levels = circuit.levels_for(boundaries);
    clustering::print_levels(levels);
    circuit.adapt(std::move(levels));
}

// Four leaves in two terms under one root, frequencies set by hand.
class Adapt : public ::testing::Test {
protected:
    void SetUp() override {
        circuit_.update();
        before_ = target_values(circuit_);
    }

    void set_frequencies(const std::vector<double>& frequencies) {
        for (std::size_t i = 0; i < frequencies.size(); ++i) test::CircuitAccess::leafs(circuit_)[i].frequency = frequencies[i];
        EXPECT_TRUE(test::audited(circuit_));
    }

    // Adapts, returns the printed line, and checks that the target kept its
    // value through the next update.
    std::string adapt(const std::vector<double>& boundaries) {
        ::testing::internal::CaptureStdout();
        adapt_printing(circuit_, boundaries);
        std::string printed = ::testing::internal::GetCapturedStdout();
        EXPECT_TRUE(well_formed(circuit_));
        circuit_.update();
        EXPECT_TRUE(close_values(target_values(circuit_), before_));
        return printed;
    }

    ReactiveCircuit<LogProb> circuit_ =
        circuit_of<LogProb>({0.2, 0.3, 0.6, 0.9}, {{"t", Rows{{0, 1}, {2, 3}, {1, 3}}}});
    std::map<std::string, Vector> before_;
};

TEST_F(Adapt, MovesEachLeafToTheLevelOfItsFrequencysBin) {
    set_frequencies({0.5, 2.5, 10, 0.2});
    EXPECT_EQ(adapt({1, 2, 3}), "[2, 1, 0, 2]\n");
    EXPECT_EQ(circuit_.partition(), (std::vector<std::uint32_t>{2, 1, 0, 2}));
    EXPECT_EQ(leaf_levels(circuit_), (Levels{{2}, {1}, {0}, {2}}));

    // The same frequencies again: the same line, and nothing moves.
    const std::string settled = shape(circuit_);
    EXPECT_EQ(adapt({1, 2, 3}), "[2, 1, 0, 2]\n");
    EXPECT_EQ(shape(circuit_), settled);

    // From the stored levels to the new ones: leaf 0 is lifted twice, leaves 1
    // and 2 are dropped once, leaf 3 stays.
    set_frequencies({10, 0.5, 2.5, 0.2});
    EXPECT_EQ(adapt({1, 2, 3}), "[0, 2, 1, 2]\n");
    EXPECT_EQ(circuit_.partition(), (std::vector<std::uint32_t>{0, 2, 1, 2}));
    EXPECT_EQ(leaf_levels(circuit_), (Levels{{0}, {2}, {1}, {2}}));
}

TEST_F(Adapt, OneOccupiedBinLeavesEveryLeafAtTheRoot) {
    const std::string flat = shape(circuit_);
    set_frequencies({0.5, 2.5, 10, 0.2});
    EXPECT_EQ(adapt({}), "[0, 0, 0, 0]\n");  // no boundaries: one bin
    set_frequencies({1.2, 1.3, 1.9, 1.5});
    EXPECT_EQ(adapt({1, 2, 3}), "[0, 0, 0, 0]\n");
    EXPECT_EQ(shape(circuit_), flat);
    EXPECT_EQ(circuit_.partition(), (std::vector<std::uint32_t>{0, 0, 0, 0}));
}

TEST_F(Adapt, ALeafAddedSinceTheLastAdaptationStartsFromTheRoot) {
    set_frequencies({5, 5, 5, 5});
    adapt({1, 2, 3});
    ASSERT_EQ(circuit_.add_leaf(Vector{0.5, 0.5}, 0.0, "late"), 4u);
    circuit_.add_sum_product({{4}}, "t");
    circuit_.update_dependencies();
    circuit_.update();
    before_ = target_values(circuit_);

    set_frequencies({5, 5, 5, 5, 0.5});
    EXPECT_EQ(adapt({1, 2, 3}), "[0, 0, 0, 0, 1]\n");
    EXPECT_EQ(leaf_levels(circuit_), (Levels{{0}, {0}, {0}, {0}, {1}}));
}

TEST(AdaptWithoutLeaves, StopsBeforePrintingAnything) {
    ReactiveCircuit<LogProb> circuit(1);
    ::testing::internal::CaptureStdout();
    const std::string message = stop_message([&] { adapt_printing(circuit, {1, 2}); });
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(message, messages::unwrap_none());
    EXPECT_TRUE(circuit.partition().empty());
}

}  // namespace
}  // namespace tallo
