#include "circuit/algebraic_circuit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/messages.h"
#include "circuit/checks.h"
#include "circuit/circuit_access.h"
#include "circuit/messages.h"
#include "circuit/reactive_circuit.h"
#include "circuit/semiring.h"
#include "stop_message.h"

namespace tallo {
namespace {

using test::same_values;
using testing::stop_message;
using Terms = std::vector<std::vector<std::uint32_t>>;
using Map = std::map<std::uint32_t, std::uint32_t>;

constexpr ColumnSource leaf(std::uint32_t i) { return {ColumnSource::Leaf, i}; }
constexpr ColumnSource memory(std::uint32_t e) { return {ColumnSource::Memory, e}; }

Map sorted(const std::unordered_map<std::uint32_t, std::uint32_t>& map) { return Map(map.begin(), map.end()); }

// The type's invariants (sorted duplicate-free terms over existing columns,
// columns and maps that mirror each other one to one), by its own audit.
::testing::AssertionResult sound(const AlgebraicCircuit& circuit) {
    if (auto broken = circuit.audit()) return ::testing::AssertionFailure() << *broken;
    return ::testing::AssertionSuccess();
}

// A circuit made from rows of leaf indices, as the reactive circuit makes its nodes.
AlgebraicCircuit from_rows(const Terms& rows, std::uint32_t value_size = 1) {
    AlgebraicCircuit circuit(value_size);
    for (const auto& row : rows) circuit.push_leaf_row(row);
    return circuit;
}

TEST(AlgebraicCircuit, PushMintermSortsDropsRepeatsAndReturnsTheRow) {
    AlgebraicCircuit circuit(1);
    EXPECT_EQ(circuit.push_minterm({}), 0u);
    EXPECT_EQ(circuit.push_minterm({3, 1, 3, 2}), 1u);
    EXPECT_EQ(circuit.minterms(), (Terms{{}, {1, 2, 3}}));
}

TEST(AlgebraicCircuit, RowsOfLeavesCreateColumnsInOrderOfFirstAppearance) {
    AlgebraicCircuit circuit = from_rows({{2, 0}, {0, 5}});
    EXPECT_EQ(circuit.columns(), (std::vector<ColumnSource>{leaf(2), leaf(0), leaf(5)}));
    EXPECT_EQ(circuit.minterms(), (Terms{{0, 1}, {1, 2}}));
    EXPECT_EQ(sorted(circuit.leaf_columns()), (Map{{2, 0}, {0, 1}, {5, 2}}));
    EXPECT_EQ(circuit.ensure_leaf(0), 1u) << "an existing column is reused";

    EXPECT_EQ(circuit.create_memory(7), 3u);
    EXPECT_EQ(circuit.create_memory(7), 3u);
    EXPECT_EQ(circuit.ensure_leaf(7), 4u) << "leaf 7 and edge 7 are different sources";
    EXPECT_TRUE(sound(circuit));
}

TEST(AlgebraicCircuit, AddColToMintermKeepsTheTermSorted) {
    AlgebraicCircuit circuit(1);
    for (std::uint32_t i = 0; i < 6; ++i) circuit.ensure_leaf(i);
    circuit.push_minterm({1, 3});
    circuit.push_minterm({});

    circuit.add_col_to_minterm(0, 3);
    EXPECT_EQ(circuit.minterms()[0], (std::vector<std::uint32_t>{1, 3})) << "already there";
    circuit.add_col_to_minterm(0, 2);
    circuit.add_col_to_minterm(0, 5);
    circuit.add_col_to_minterm(0, 0);
    circuit.add_col_to_minterm(1, 4);
    EXPECT_EQ(circuit.minterms(), (Terms{{0, 1, 2, 3, 5}, {4}}));
    EXPECT_TRUE(sound(circuit));

    EXPECT_EQ(stop_message([&] { circuit.add_col_to_minterm(2, 0); }), messages::index_out_of_bounds(2, 2));
}

TEST(AlgebraicCircuit, RowOperationsKeepTermsSortedAndRenumberLaterRows) {
    AlgebraicCircuit circuit(1);
    for (std::uint32_t i = 0; i < 4; ++i) circuit.ensure_leaf(i);
    circuit.push_minterm({0});
    circuit.push_minterm({});
    circuit.push_minterm({1, 2});
    circuit.push_minterm({});

    circuit.replace_term(0, {3, 1, 3});
    EXPECT_EQ(circuit.minterms(), (Terms{{1, 3}, {}, {1, 2}, {}})) << "sorted, without repeats";
    circuit.remove_row(2);
    EXPECT_EQ(circuit.minterms(), (Terms{{1, 3}, {}, {}}));
    circuit.remove_empty_terms();
    EXPECT_EQ(circuit.minterms(), (Terms{{1, 3}}));
    EXPECT_TRUE(sound(circuit));

    EXPECT_EQ(stop_message([&] { circuit.replace_term(1, {0}); }), messages::index_out_of_bounds(1, 1));
    EXPECT_EQ(stop_message([&] { circuit.remove_row(1); }), messages::index_out_of_bounds(1, 1));
    EXPECT_EQ(circuit.minterms(), (Terms{{1, 3}})) << "a refused row operation changes nothing";
}

// replace_term, like push_minterm, takes the caller's word for its columns;
// the audit names the term that reads past them.
TEST(AlgebraicCircuit, AuditReportsATermOverAMissingColumn) {
    AlgebraicCircuit circuit(1);
    circuit.ensure_leaf(0);
    circuit.push_minterm({0});
    circuit.push_minterm({0});
    circuit.replace_term(1, {0, 4});
    EXPECT_EQ(circuit.audit(), "row 1 reads a missing column");
}

TEST(AlgebraicCircuit, RemoveColInnerRenumbersAndKeepsEmptiedTerms) {
    AlgebraicCircuit circuit(1);
    circuit.ensure_leaf(2);
    circuit.ensure_leaf(0);
    circuit.ensure_leaf(5);
    circuit.push_minterm({0, 1});
    circuit.push_minterm({1});

    circuit.remove_col_inner(1);
    EXPECT_EQ(circuit.columns(), (std::vector<ColumnSource>{leaf(2), leaf(5)}));
    EXPECT_EQ(sorted(circuit.leaf_columns()), (Map{{2, 0}, {5, 1}}));
    EXPECT_EQ(circuit.minterms(), (Terms{{0}, {}}));
    EXPECT_TRUE(sound(circuit));

    EXPECT_EQ(stop_message([&] { circuit.remove_col_inner(2); }), messages::index_out_of_bounds(2, 2));
}

TEST(AlgebraicCircuit, RemovingAMemoryColumnRenumbersBothMaps) {
    AlgebraicCircuit circuit(1);
    circuit.create_memory(4);  // 0
    circuit.ensure_leaf(1);    // 1
    circuit.create_memory(9);  // 2
    circuit.ensure_leaf(3);    // 3
    circuit.push_minterm({0, 1, 2, 3});
    circuit.push_minterm({2});

    circuit.remove_col_inner(0);
    EXPECT_EQ(circuit.columns(), (std::vector<ColumnSource>{leaf(1), memory(9), leaf(3)}));
    EXPECT_EQ(sorted(circuit.edge_columns()), (Map{{9, 1}}));
    EXPECT_EQ(sorted(circuit.leaf_columns()), (Map{{1, 0}, {3, 2}}));
    EXPECT_EQ(circuit.minterms(), (Terms{{0, 1, 2}, {1}}));
    EXPECT_TRUE(sound(circuit));
}

TEST(AlgebraicCircuit, RemapMemoryPointsTheColumnAtTheNewEdge) {
    AlgebraicCircuit circuit(1);
    circuit.ensure_leaf(0);
    circuit.create_memory(3);
    circuit.remap_memory(1, 3, 8);
    EXPECT_EQ(circuit.columns()[1], memory(8));
    EXPECT_EQ(sorted(circuit.edge_columns()), (Map{{8, 1}}));
    EXPECT_TRUE(sound(circuit));

    EXPECT_EQ(stop_message([&] { circuit.remap_memory(2, 8, 9); }), messages::index_out_of_bounds(2, 2));
    EXPECT_EQ(circuit.columns()[1], memory(8)) << "a refused remap changes nothing";
}

TEST(AlgebraicCircuit, MintermsContainingColListsRowsAscending) {
    AlgebraicCircuit circuit = from_rows({{0, 1}, {1}, {2}, {1, 2}});
    EXPECT_EQ(circuit.minterms_containing_col(1), (std::vector<std::uint32_t>{0, 1, 3}));
    EXPECT_EQ(circuit.minterms_containing_col(0), (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(circuit.minterms_containing_col(9), std::vector<std::uint32_t>{});
}

TEST(AlgebraicCircuit, SplitSeparatesTheTermsThatHoldTheLeaf) {
    struct Case {
        const char* name;
        Terms rows;  // of leaf indices
        std::uint32_t leaf;
        std::optional<Terms> in_scope, out_of_scope;
        std::vector<ColumnSource> in_columns, out_columns;
    };
    const Case cases[] = {
        {"no column for the leaf", {{0, 1}}, 4, std::nullopt, std::nullopt, {}, {}},
        {"every term holds it", {{0, 1}, {0}}, 0, Terms{{0, 1}, {0}}, std::nullopt, {leaf(0), leaf(1)}, {}},
        {"both parts renumbered",
         {{3, 1}, {2}, {1, 2}, {}},
         1,
         Terms{{0, 1}, {1, 2}},
         Terms{{0}, {}},
         {leaf(3), leaf(1), leaf(2)},
         {leaf(2)}},
    };
    for (const Case& c : cases) {
        AlgebraicCircuit circuit = from_rows(c.rows, 3);
        auto [in_scope, out_of_scope] = circuit.split(c.leaf);
        ASSERT_EQ(in_scope.has_value(), c.in_scope.has_value()) << c.name;
        ASSERT_EQ(out_of_scope.has_value(), c.out_of_scope.has_value()) << c.name;
        if (in_scope) {
            EXPECT_EQ(in_scope->minterms(), *c.in_scope) << c.name;
            EXPECT_EQ(in_scope->columns(), c.in_columns) << c.name;
            EXPECT_EQ(in_scope->value_size(), 3u);
            EXPECT_TRUE(sound(*in_scope)) << c.name;
        }
        if (out_of_scope) {
            EXPECT_EQ(out_of_scope->minterms(), *c.out_of_scope) << c.name;
            EXPECT_EQ(out_of_scope->columns(), c.out_columns) << c.name;
            EXPECT_TRUE(sound(*out_of_scope)) << c.name;
        }
    }
}

TEST(AlgebraicCircuit, SplitByALeafThatNoTermUsesPutsEverythingOutOfScope) {
    AlgebraicCircuit circuit = from_rows({{1}});
    circuit.ensure_leaf(0);
    auto [in_scope, out_of_scope] = circuit.split(0);
    EXPECT_FALSE(in_scope);
    ASSERT_TRUE(out_of_scope);
    EXPECT_EQ(out_of_scope->columns(), (std::vector<ColumnSource>{leaf(1)}));
    EXPECT_EQ(out_of_scope->minterms(), (Terms{{0}}));
}

TEST(AlgebraicCircuit, SubCircuitKeepsOnlyTheColumnsItsTermsUse) {
    AlgebraicCircuit circuit(2);
    circuit.ensure_leaf(10);
    circuit.create_memory(20);
    circuit.ensure_leaf(11);
    circuit.ensure_leaf(12);
    circuit.create_memory(21);

    auto part = circuit.sub_circuit({{1, 4}});
    ASSERT_TRUE(part);
    EXPECT_EQ(part->columns(), (std::vector<ColumnSource>{memory(20), memory(21)}));
    EXPECT_EQ(sorted(part->edge_columns()), (Map{{20, 0}, {21, 1}}));
    EXPECT_TRUE(part->leaf_columns().empty());
    EXPECT_EQ(part->minterms(), (Terms{{0, 1}}));
    EXPECT_EQ(part->value_size(), 2u);
    EXPECT_TRUE(sound(*part));

    EXPECT_FALSE(circuit.sub_circuit({}));
    auto empty_term = circuit.sub_circuit({{}});
    ASSERT_TRUE(empty_term);
    EXPECT_TRUE(empty_term->columns().empty());
    EXPECT_EQ(empty_term->minterms(), (Terms{{}}));
}

// push_minterm trusts its caller; a term naming a column that does not exist
// must not make later operations read past the columns.
TEST(AlgebraicCircuit, SubCircuitRefusesATermOverAMissingColumn) {
    AlgebraicCircuit circuit(1);
    circuit.ensure_leaf(0);
    circuit.push_minterm({0, 6});
    EXPECT_EQ(stop_message([&] { circuit.sub_circuit(circuit.minterms()); }), messages::index_out_of_bounds(1, 6));
    EXPECT_EQ(stop_message([&] { circuit.split(0); }), messages::index_out_of_bounds(1, 6));
}

// ---- evaluation ----

template <class S>
class EvaluateIn : public ::testing::Test {};
using Semirings = SemiringTypes::apply<::testing::Types>;
TYPED_TEST_SUITE(EvaluateIn, Semirings);

TYPED_TEST(EvaluateIn, NoTermsIsZeroAndReadsNothing) {
    using S = TypeParam;
    ReactiveCircuit<S> circuit(3);
    AlgebraicCircuit node(3);
    node.ensure_leaf(9);       // no such leaf
    node.create_memory(4);     // no such edge
    EXPECT_TRUE(same_values(node.template evaluate<S>(circuit.evaluation_view()), S::zero(3))) << S::name;
}

TYPED_TEST(EvaluateIn, AnEmptyTermIsOne) {
    using S = TypeParam;
    ReactiveCircuit<S> circuit(3);
    AlgebraicCircuit node(3);
    node.push_minterm({});
    EXPECT_TRUE(same_values(node.template evaluate<S>(circuit.evaluation_view()), S::one(3))) << S::name;
}

TYPED_TEST(EvaluateIn, EveryColumnIsResolvedEvenIfNoTermUsesIt) {
    using S = TypeParam;
    ReactiveCircuit<S> circuit(1);
    test::CircuitAccess::add_encoded_leaf(circuit, Vector{1.0}, "a");
    circuit.add_sum_product({{}}, "t");
    circuit.add_sum_product({{}}, "p");
    circuit.connect(0, 1, 0);
    test::CircuitAccess::structure(circuit).remove_edge(0);
    EXPECT_TRUE(test::audited(circuit));

    AlgebraicCircuit missing_edge = circuit.structure().node(0);  // its memory column names the removed edge
    missing_edge.replace_term(0, {});
    EXPECT_EQ(stop_message([&] { missing_edge.template evaluate<S>(circuit.evaluation_view()); }), messages::unwrap_none());

    AlgebraicCircuit missing_leaf(1);
    missing_leaf.ensure_leaf(0);
    missing_leaf.ensure_leaf(3);
    missing_leaf.push_minterm({0});
    EXPECT_EQ(stop_message([&] { missing_leaf.template evaluate<S>(circuit.evaluation_view()); }), messages::index_out_of_bounds(1, 3));

    AlgebraicCircuit missing_column(1);
    missing_column.ensure_leaf(0);
    missing_column.push_minterm({0, 2});
    EXPECT_EQ(stop_message([&] { missing_column.template evaluate<S>(circuit.evaluation_view()); }), messages::index_out_of_bounds(1, 2));
}

// Two terms [leaf 0] and [leaf 1], leaf values given as stored, in a circuit
// of `value_size`.
struct EvaluateCase {
    SemiringTag tag;
    std::uint32_t value_size;
    Vector leaf0, leaf1;
    Vector expected;  // empty: the evaluation stops with `stop`
    std::string stop;
};

TEST(AlgebraicCircuitEvaluate, SumsTermsAndChecksColumnLengths) {
    const double l2 = std::log(0.2), l3 = std::log(0.3);
    const EvaluateCase cases[] = {
        {SemiringTag::LogProb, 1, {l2}, {l3}, {std::log(0.5)}, ""},
        {SemiringTag::MaxProduct, 1, {l2}, {l3}, {l3}, ""},
        {SemiringTag::Fuzzy, 1, {0.2}, {0.3}, {0.3}, ""},
        {SemiringTag::Boolean, 2, {1.0, 0.0}, {0.0, 0.0}, {1.0, 0.0}, ""},
        {SemiringTag::LogProb, 2, {l2}, {l3, l2}, {std::log(0.5), std::log(0.4)}, ""},  // one element serves both slots
        {SemiringTag::LogProb, 3, {l2, l2}, {l3, l3, l3}, {}, messages::broadcast(2, 3)},
        {SemiringTag::Fuzzy, 2, {0.2}, {0.3, 0.3}, {}, std::string(messages::unequal_dimensions())},
        {SemiringTag::Boolean, 1, {1.0, 1.0}, {1.0}, {}, std::string(messages::unequal_dimensions())},
        {SemiringTag::ProbGradient, 3, {0.2, 1.0, 0.0, 7.0}, {0.3, 0.0, 1.0}, {0.5, 1.0, 1.0}, ""},  // extra slot ignored
        {SemiringTag::ProbGradient, 3, {0.2, 1.0}, {0.3, 0.0, 1.0}, {}, std::string(messages::array_index_out_of_bounds())},
    };
    for (const EvaluateCase& c : cases) {
        dispatch(c.tag, [&]<class S>() {
            ReactiveCircuit<S> circuit(c.value_size);
            test::CircuitAccess::add_encoded_leaf(circuit, c.leaf0, "a");
            test::CircuitAccess::add_encoded_leaf(circuit, c.leaf1, "b");
            AlgebraicCircuit node = from_rows({{0}, {1}}, c.value_size);
            if (c.stop.empty()) {
                EXPECT_TRUE(same_values(node.template evaluate<S>(circuit.evaluation_view()), c.expected)) << S::name;
            } else {
                EXPECT_EQ(stop_message([&] { node.template evaluate<S>(circuit.evaluation_view()); }), c.stop) << S::name;
            }
        });
    }
}

TEST(AlgebraicCircuitEvaluate, MultipliesLeavesAndMemoriesOfATerm) {
    ReactiveCircuit<Fuzzy> circuit(2);
    circuit.add_leaf(Vector{0.7, 0.2}, 0.0, "a");  // Fuzzy stores probabilities as they are
    circuit.add_leaf(Vector{0.4, 0.9}, 0.0, "b");
    circuit.add_sum_product({{0}}, "t");
    circuit.add_sum_product({}, "p");
    circuit.connect(0, 1, 0);
    test::CircuitAccess::structure(circuit).edge(0) = Vector{0.5, 0.5};
    AlgebraicCircuit& node = test::CircuitAccess::structure(circuit).node(0);
    node.push_leaf_row({1});
    EXPECT_TRUE(test::audited(circuit));
    EXPECT_TRUE(same_values(node.evaluate<Fuzzy>(circuit.evaluation_view()), {0.5, 0.9}));  // max(min(0.7, 0.5), 0.4), max(min(0.2, 0.5), 0.9)
}

}  // namespace
}  // namespace tallo
