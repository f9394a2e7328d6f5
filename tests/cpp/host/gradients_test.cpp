#include "host/gradients.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/vector.h"
#include "circuit/leaf.h"
#include "circuit/reactive_circuit.h"
#include "circuit/semiring.h"
#include "language/asp_program.h"
#include "language/statements.h"

namespace tallo::gradients {
namespace {

using Circuit = ReactiveCircuit<ProbGradient>;
using Names = std::optional<std::vector<std::string>>;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// A circuit shaped as a compiled ProbGradient model leaves it: one slot per
// leaf after the probability, every leaf seeded; no nodes yet.
Circuit with_leaves(const std::vector<std::pair<std::string, double>>& leaves) {
    const auto slots = static_cast<std::uint32_t>(leaves.size() + 1);
    Circuit circuit(slots);
    for (std::uint32_t i = 0; i < leaves.size(); ++i) {
        circuit.add_leaf(Vector(slots, leaves[i].second), 0.0, leaves[i].first);
    }
    return circuit;
}

std::vector<double> probabilities(const Circuit& circuit) {
    std::vector<double> out;
    for (const Leaf& leaf : circuit.leafs()) out.push_back(leaf.value[0]);
    return out;
}

void expect_probabilities(const Circuit& circuit, const std::vector<double>& expected, const char* what) {
    const std::vector<double> got = probabilities(circuit);
    ASSERT_EQ(got.size(), expected.size()) << what;
    for (std::size_t i = 0; i < got.size(); ++i) {
        if (std::isnan(expected[i])) {
            EXPECT_TRUE(std::isnan(got[i])) << what << ", leaf " << i;
        } else {
            EXPECT_NEAR(got[i], expected[i], 1e-12) << what << ", leaf " << i;
        }
    }
}

// One fitting step's inputs and the leaf probabilities it leaves.
struct Selection {
    const char* what;
    Derivatives gradients;
    Names names;  // the atoms or parameter groups selected
    std::vector<double> expected;
};

TEST(UnpackGradients, KeysDerivativesByLeafNameAndLeavesOutMisshapenTargets) {
    // Two leaves named "x": the higher index wins.
    Circuit circuit = with_leaves({{"x", 0.1}, {"-x", 0.9}, {"x", 0.2}});
    const std::unordered_map<std::string, Vector> result = {
        {"/ok", Vector{0.25, 1.0, 2.0, 3.0}},
        {"/short", Vector{0.25, 1.0, 2.0}},
        {"/long", Vector{0.25, 1.0, 2.0, 3.0, 4.0}},
    };
    const Unpacked unpacked = unpack_gradients(result, circuit.leafs());
    ASSERT_EQ(unpacked.size(), 1u);
    const TargetGradients& target = unpacked.at("/ok");
    EXPECT_EQ(target.probability, 0.25);
    EXPECT_EQ(target.gradients, (Derivatives{{"x", 3.0}, {"-x", 2.0}}));
}

TEST(GradientUpdate, ReportsTheDerivativesOfTheRecomputedTargets) {
    // P(/t) = a b + c, and P(/u) = b.
    Circuit circuit = with_leaves({{"a", 0.5}, {"b", 0.4}, {"c", 0.2}});
    circuit.add_sum_product({{0, 1}, {2}}, "/t");
    circuit.add_sum_product({{1}}, "/u");
    const Unpacked expected = {
        {"/t", {0.4, {{"a", 0.4}, {"b", 0.5}, {"c", 1.0}}}},
        {"/u", {0.4, {{"a", 0.0}, {"b", 1.0}, {"c", 0.0}}}},
    };
    auto expect_unpacked = [](const Unpacked& got, const Unpacked& want, const char* what) {
        ASSERT_EQ(got.size(), want.size()) << what;
        for (const auto& [token, target] : want) {
            ASSERT_TRUE(got.contains(token)) << what << ": " << token;
            EXPECT_NEAR(got.at(token).probability, target.probability, 1e-12) << what << ": " << token;
            ASSERT_EQ(got.at(token).gradients.size(), target.gradients.size()) << what << ": " << token;
            for (const auto& [name, derivative] : target.gradients) {
                EXPECT_NEAR(got.at(token).gradients.at(name), derivative, 1e-12) << what << ": " << token << " " << name;
            }
        }
    };
    expect_unpacked(gradient_update(circuit), expected, "the first update");
    expect_unpacked(gradient_update(circuit), {}, "nothing dirty");
    expect_unpacked(full_gradient_update(circuit), expected, "a full update");

    // c = 0.2 - 0.5 * 0.2 * 0.5; only /t reads c.
    fit(circuit, {{"c", 0.5}}, 0.5, 0.2, std::nullopt, 1.0);
    expect_unpacked(gradient_update(circuit), {{"/t", {0.35, {{"a", 0.4}, {"b", 0.5}, {"c", 1.0}}}}}, "after a fit");

    // A leaf added after the targets were computed: no vector fits any more.
    circuit.add_leaf(Vector(4, 0.5), 0.0, "late");
    expect_unpacked(full_gradient_update(circuit), {}, "a leaf more");
}

TEST(Fit, StepsEachSelectedLeafAgainstItsDerivativeAndClamps) {
    struct Case {
        const char* what;
        double lr, loss, p, derivative, expected;
    };
    const Case cases[] = {
        {"a plain step", 0.5, 0.2, 0.3, 1.0, 0.2},
        {"below 0 clamps to 0", 1.0, 1.0, 0.3, 0.5, 0.0},
        {"above 1 clamps to 1", 1.0, 1.0, 0.3, -1.0, 1.0},
        {"a NaN derivative gives NaN", 1.0, 1.0, 0.3, nan, nan},
    };
    for (const Case& c : cases) {
        Circuit circuit = with_leaves({{"a", c.p}, {"-a", 1.0 - c.p}});
        fit(circuit, {{"a", c.derivative}}, c.lr, c.loss, std::nullopt, 1.0);
        expect_probabilities(circuit, {c.expected, 1.0 - c.p}, c.what);
    }
}

TEST(Fit, SelectsLeavesByAtomsAndByDerivatives) {
    const Derivatives all = {{"a", 0.1}, {"b", 0.1}, {"-b", -0.1}, {"nothing", 1.0}};
    const std::vector<Selection> cases = {
        {"no atoms: every leaf with a derivative", all, std::nullopt, {0.4, 0.4, 0.6, 0.5}},
        {"atoms pick among them", all, Names{{"b", "c", "nothing"}}, {0.5, 0.4, 0.5, 0.5}},
        {"an empty atoms list selects none", all, Names{std::vector<std::string>{}}, {0.5, 0.5, 0.5, 0.5}},
        {"no derivatives select none", {}, std::nullopt, {0.5, 0.5, 0.5, 0.5}},
    };
    for (const Selection& c : cases) {
        Circuit circuit = with_leaves({{"a", 0.5}, {"b", 0.5}, {"-b", 0.5}, {"c", 0.5}});
        fit(circuit, c.gradients, 1.0, 1.0, c.names, 1.0);
        expect_probabilities(circuit, c.expected, c.what);
    }
}

TEST(Fit, GoesThroughTheLeafUpdate) {
    // Leaf i is read by node i alone, so the dirty set tells which leaves changed.
    Circuit circuit = with_leaves({{"a", 0.5}, {"b", 0.5}});
    circuit.add_sum_product({{0}}, "/a");
    circuit.add_sum_product({{1}}, "/b");
    circuit.update();
    const double frequency_before = circuit.leafs()[1].frequency;
    // "b" moves by less than the change tolerance and stays as it was.
    fit(circuit, {{"a", 0.25}, {"b", CHANGE_EPSILON / 2}}, 1.0, 1.0, std::nullopt, 2.0);

    EXPECT_EQ(circuit.dirty(), (std::unordered_set<std::uint32_t>{0}));
    EXPECT_EQ(circuit.leafs()[1].value[0], 0.5);
    EXPECT_EQ(circuit.leafs()[1].frequency, frequency_before);
    // The new value is a full dual number with the leaf's own seed.
    const Vector& a = circuit.leafs()[0].value;
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0], 0.25);
    EXPECT_EQ(a[1], 1.0);
    EXPECT_EQ(a[2], 0.0);
}

class FitParameters : public ::testing::Test {
protected:
    // Group "p#0" shares one probability across two groundings; "q#1" has
    // one; "src" is a source and in no group.
    Circuit circuit = with_leaves({{"c1", 0.4},
                                   {"-c1", 0.6},
                                   {"c2", 0.3},
                                   {"-c2", 0.8},
                                   {"d", 0.5},
                                   {"-d", 0.5},
                                   {"src", 0.9},
                                   {"-src", 0.1}});
    std::unordered_map<std::string, std::vector<std::string>> groups = {{"p#0", {"c1", "c2"}}, {"q#1", {"d"}}};
    Derivatives derivatives = {{"c1", 0.1}, {"c2", 0.2}, {"-c1", 5.0}, {"d", -0.3}, {"src", 1.0}};
};

TEST_F(FitParameters, GivesEveryLeafOfAGroupOneValueFromTheSumOfItsDerivatives) {
    // lr * loss = 0.5. "p#0": 0.4 - 0.3 * 0.5 from its first leaf; "q#1":
    // 0.5 + 0.3 * 0.5. Without derivatives a group takes its first leaf's
    // value. Complements get one minus it; sources never change.
    const std::vector<Selection> cases = {
        {"every group", derivatives, std::nullopt, {0.25, 0.75, 0.25, 0.75, 0.65, 0.35, 0.9, 0.1}},
        {"selected groups", derivatives, Names{{"q#1", "r#9"}}, {0.4, 0.6, 0.3, 0.8, 0.65, 0.35, 0.9, 0.1}},
        {"an empty selection", derivatives, Names{std::vector<std::string>{}}, {0.4, 0.6, 0.3, 0.8, 0.5, 0.5, 0.9, 0.1}},
        {"no derivatives", {}, std::nullopt, {0.4, 0.6, 0.4, 0.6, 0.5, 0.5, 0.9, 0.1}},
    };
    for (const Selection& c : cases) {
        Circuit fitted = circuit;
        fit_parameters(fitted, groups, c.gradients, 0.5, 1.0, c.names, 1.0);
        expect_probabilities(fitted, c.expected, c.what);
    }
}

TEST_F(FitParameters, ClampsAndSkipsGroupsWithoutTheirFirstLeaf) {
    groups = {{"p#0", {"c1", "c2"}}, {"gone#0", {"ghost", "d"}}, {"empty#0", {}}};
    fit_parameters(circuit, groups, {{"c1", -10.0}, {"d", 1.0}}, 1.0, 1.0, std::nullopt, 1.0);
    expect_probabilities(circuit, {1.0, 0.0, 1.0, 0.0, 0.5, 0.5, 0.9, 0.1}, "clamped to 1, complements to 0");
}

TEST_F(FitParameters, ReadsAndFitsTheLastLeafOfARepeatedName) {
    Circuit repeated = with_leaves({{"c", 0.2}, {"-c", 0.8}, {"c", 0.6}, {"-c", 0.4}});
    fit_parameters(repeated, {{"p#0", {"c"}}}, {{"c", 0.2}}, 1.0, 1.0, std::nullopt, 1.0);
    expect_probabilities(repeated, {0.2, 0.8, 0.4, 0.6}, "the later pair");
}

TEST(SourceGradients, PicksTheLeavesOfTheSourceThatAnAtomOrChannelNames) {
    const std::vector<Source> sources = {
        {"a", "/in/a", DataType::Probability},
        {"flag", "/in/flag", DataType::Boolean},
        {"temp", "/in/temp", DataType::Number},
        {"dens", "/in/dens", DataType::Density},  // no comparison uses it
        {"x", "/shared", DataType::Probability},
        {"a", "/in/again", DataType::Boolean},
    };
    const std::vector<CategoricalSource> categorical = {
        {{"red", "green", "blue"}, "/in/color"},
        {{"green"}, "/shared"},
    };
    const ComparisonTable comparisons = {
        {"temp", {{30.0, true, "temp_gt_30"}, {10.0, false, "temp_lt_10"}}},
    };
    const Derivatives gradients = {{"a", 1.0},          {"-a", 2.0},         {"flag", 3.0},
                                   {"temp_gt_30", 4.0}, {"temp_lt_10", 5.0}, {"-temp_gt_30", 6.0},
                                   {"red", 7.0},        {"green", 8.0},      {"x", 9.0}};
    struct Case {
        const char* key;
        Derivatives expected;
    };
    const std::vector<Case> cases = {
        {"a", {{"a", 1.0}}},
        {"/in/a", {{"a", 1.0}}},
        {"/in/again", {{"a", 1.0}}},
        {"/in/flag", {{"flag", 3.0}}},
        {"temp", {{"temp_gt_30", 4.0}, {"temp_lt_10", 5.0}}},
        {"/in/temp", {{"temp_gt_30", 4.0}, {"temp_lt_10", 5.0}}},
        {"dens", {}},
        {"/in/color", {{"red", 7.0}, {"green", 8.0}}},  // "blue" has no derivative
        {"red", {}},                                     // a category is no key
        {"/shared", {{"x", 9.0}}},                       // a source comes before a categorical source
        {"/in", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(source_gradients(gradients, c.key, sources, categorical, comparisons), c.expected) << c.key;
    }
}

}  // namespace
}  // namespace tallo::gradients
