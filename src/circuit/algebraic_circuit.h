#pragma once

// AlgebraicCircuit: the content of one node of a reactive circuit, a sum of
// product terms over numbered columns. A column reads either a leaf's value
// or the memory on one of the node's outgoing edges (a producer's cached
// value).
//
// Invariants, kept by every operation (the fields are private; the
// operations below are their only writers, const accessors of the same names
// read them, and `audit` checks them):
// - Every term (`minterms` row) is ascending and holds no column twice. A term
//   may be empty: it stands for the semiring's one.
// - `columns[c]` is `ColumnSource::Leaf` of i exactly when `leaf_columns`
//   maps i to c, and `ColumnSource::Memory` of e exactly when `edge_columns`
//   maps e to c: at most one column per leaf and per edge.
// - Column numbers in terms are below `columns.size()`; a column may be used
//   by no term. (`push_minterm` and `replace_term` take the caller's word for
//   this; `audit` reports a term that breaks it.)
// - Columns are numbered in their order of creation and renumbering keeps
//   their relative order, so within a term columns stand in creation order.
// - `value_size`, the width of the node's value, is fixed at construction.
//
// Row numbers are positions in `minterms`; rows go only when the caller
// removes them (`remove_row`, `remove_empty_terms`), and the rows after a
// removed one move down by one.
// The type does not depend on the semiring; only `evaluate` does.
//
// Thread-safety: none of its own. `evaluate` only reads, so any number of
// evaluations may run at once while nothing writes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/panic.h"
#include "base/vector.h"
#include "circuit/leaf.h"
#include "circuit/stable_graph.h"

namespace tallo {

struct EvaluationView;

struct ColumnSource {
    enum Kind : std::uint32_t { Leaf = 0, Memory = 1 } kind;
    std::uint32_t index;  // a leaf's position in `leafs`, or an edge index of `structure`

    friend bool operator==(const ColumnSource&, const ColumnSource&) = default;
};

class AlgebraicCircuit {
public:
    using Term = std::vector<std::uint32_t>;
    using ColumnMap = std::unordered_map<std::uint32_t, std::uint32_t>;

    explicit AlgebraicCircuit(std::uint32_t value_size) : value_size_(value_size) {}

    // Read access to the fields the operations keep consistent.
    const std::vector<Term>& minterms() const { return minterms_; }
    const std::vector<ColumnSource>& columns() const { return columns_; }
    const ColumnMap& leaf_columns() const { return leaf_columns_; }  // leaf index -> column
    const ColumnMap& edge_columns() const { return edge_columns_; }  // edge index -> column
    std::uint32_t value_size() const { return value_size_; }

    // Appends `term`, sorted and without repeats, and returns its row number.
    std::uint32_t push_minterm(Term term) {
        sort_term(term);
        minterms_.push_back(std::move(term));
        return static_cast<std::uint32_t>(minterms_.size() - 1);
    }

    // Puts `term`, sorted and without repeats, in place of the term of `row`.
    // Stops on a row beyond the terms.
    void replace_term(std::uint32_t row, Term term) {
        if (row >= minterms_.size()) stop(messages::index_out_of_bounds(minterms_.size(), row));
        sort_term(term);
        minterms_[row] = std::move(term);
    }

    // Removes the term of `row`; the later rows move down by one. Stops on a
    // row beyond the terms.
    void remove_row(std::uint32_t row) {
        if (row >= minterms_.size()) stop(messages::index_out_of_bounds(minterms_.size(), row));
        minterms_.erase(minterms_.begin() + row);
    }

    // Removes every empty term, keeping the others in their order.
    void remove_empty_terms() {
        std::erase_if(minterms_, [](const Term& term) { return term.empty(); });
    }

    // Inserts `column` into the term of `row` at its sorted place, unless the
    // term holds it already. Stops on a row beyond the terms.
    void add_col_to_minterm(std::uint32_t row, std::uint32_t column) {
        if (row >= minterms_.size()) stop(messages::index_out_of_bounds(minterms_.size(), row));
        Term& term = minterms_[row];
        auto at = std::lower_bound(term.begin(), term.end(), column);
        if (at == term.end() || *at != column) term.insert(at, column);
    }

    // The column that reads leaf `leaf`, created if there is none.
    std::uint32_t ensure_leaf(std::uint32_t leaf) { return column_for(leaf_columns_, ColumnSource::Leaf, leaf); }

    // Appends the term of a row of leaf indices: each index mapped through
    // `ensure_leaf` in the row's order (so new columns follow the leaves'
    // first appearance), then `push_minterm`. Returns the row number.
    std::uint32_t push_leaf_row(const std::vector<std::uint32_t>& leaves) {
        Term term;
        term.reserve(leaves.size());
        for (std::uint32_t leaf : leaves) term.push_back(ensure_leaf(leaf));
        return push_minterm(std::move(term));
    }

    // The column that reads the memory on edge `edge`, created if there is none.
    std::uint32_t create_memory(std::uint32_t edge) { return column_for(edge_columns_, ColumnSource::Memory, edge); }

    // Points `column` at the memory of `new_edge` in place of `old_edge`.
    // Stops on a column beyond the columns.
    void remap_memory(std::uint32_t column, std::uint32_t old_edge, std::uint32_t new_edge);

    // The rows whose terms hold `column`, ascending.
    std::vector<std::uint32_t> minterms_containing_col(std::uint32_t column) const;

    // Deletes `column` from `columns`, its map and every term, and moves every
    // higher column down by one. Terms left empty stay; rows keep their
    // numbers. Stops on a column beyond the columns.
    void remove_col_inner(std::uint32_t column);

    // The terms that hold leaf `leaf` (in scope) and the others (out of
    // scope), each as a sub-circuit; both absent when no column reads the
    // leaf. The in-scope part keeps the leaf's column.
    std::pair<std::optional<AlgebraicCircuit>, std::optional<AlgebraicCircuit>> split(std::uint32_t leaf) const;

    // A new circuit of the given terms (in their order) over only the columns
    // they use, renumbered in ascending order; absent when `terms` is empty.
    // Stops on a column number beyond the columns.
    std::optional<AlgebraicCircuit> sub_circuit(const std::vector<Term>& terms) const;

    // The node's value in semiring S: the sum over the terms of the product
    // of their columns' values, read from the owning circuit's leaves and
    // edge memories through `view`. Every column is resolved once, used or
    // not; a circuit without terms is S's zero and reads nothing. Allocates
    // its product and sum once per call (nothing when value_size is 1) and
    // writes nothing but its own vectors and its thread's column buffer.
    //
    // Stops on a leaf column beyond the leaves or a column number beyond the
    // columns (the bounds text), on a memory column whose edge is not live
    // (the unwrap text), and on a column value whose length S's `mul` refuses.
    // Compiled for every semiring in circuit/algebraic_circuit.cpp.
    template <class S>
    Vector evaluate(const EvaluationView& view) const;

    // The DOT text of the terms as a record-shaped table, one field per term
    // (circuit/dot.cpp).
    std::string to_dot_text() const;

    // The first broken invariant of the list above, described; absent when
    // every one holds (circuit/algebraic_circuit.cpp). For tests.
    std::optional<std::string> audit() const;

private:
    // Adds every term's product into `sum`. `product` and `one` have
    // value_size slots; `Slots` is that number when it is known at compile
    // time, else 0. With `Exact`, every column value has value_size elements
    // (the caller checked them all), so each is handed to `mul` at that width
    // and `mul`'s length checks fold away; otherwise each value is handed as
    // it is, and `mul` checks it.
    template <class S, std::size_t Slots, bool Exact>
    void sum_terms(const std::span<const double>* values, const double* one, double* product,
                   typename S::Sum& sum) const;

    static void sort_term(Term& term) {
        std::sort(term.begin(), term.end());
        term.erase(std::unique(term.begin(), term.end()), term.end());
    }

    std::uint32_t column_for(ColumnMap& map, ColumnSource::Kind kind, std::uint32_t index) {
        auto [entry, added] = map.try_emplace(index, static_cast<std::uint32_t>(columns_.size()));
        if (added) columns_.push_back(ColumnSource{kind, index});
        return entry->second;
    }

    std::vector<Term> minterms_;
    std::vector<ColumnSource> columns_;
    ColumnMap leaf_columns_;
    ColumnMap edge_columns_;
    std::uint32_t value_size_;
};

// What a node's evaluation reads of the circuit that owns it, and nothing
// else: the leaves (for their values) and the graph whose edges hold the
// memories. Valid while the circuit is not changed.
struct EvaluationView {
    std::span<const Leaf> leafs;
    const StableGraph<AlgebraicCircuit, Vector>& structure;
};

}  // namespace tallo
