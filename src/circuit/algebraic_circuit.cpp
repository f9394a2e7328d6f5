#include "circuit/algebraic_circuit.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "base/messages.h"
#include "base/panic.h"
#include "base/vector.h"
#include "circuit/leaf.h"
#include "circuit/semiring.h"
#include "circuit/stable_graph.h"

namespace tallo {

void AlgebraicCircuit::remap_memory(std::uint32_t column, std::uint32_t old_edge, std::uint32_t new_edge) {
    if (column >= columns_.size()) stop(messages::index_out_of_bounds(columns_.size(), column));
    columns_[column] = ColumnSource{ColumnSource::Memory, new_edge};
    edge_columns_.erase(old_edge);
    edge_columns_[new_edge] = column;
}

std::vector<std::uint32_t> AlgebraicCircuit::minterms_containing_col(std::uint32_t column) const {
    std::vector<std::uint32_t> rows;
    for (std::uint32_t row = 0; row < minterms_.size(); ++row) {
        if (std::binary_search(minterms_[row].begin(), minterms_[row].end(), column)) rows.push_back(row);
    }
    return rows;
}

void AlgebraicCircuit::remove_col_inner(std::uint32_t column) {
    if (column >= columns_.size()) stop(messages::index_out_of_bounds(columns_.size(), column));
    const ColumnSource source = columns_[column];
    (source.kind == ColumnSource::Leaf ? leaf_columns_ : edge_columns_).erase(source.index);
    columns_.erase(columns_.begin() + column);
    for (Term& term : minterms_) {
        auto at = std::lower_bound(term.begin(), term.end(), column);
        if (at != term.end() && *at == column) at = term.erase(at);
        for (; at != term.end(); ++at) --*at;
    }
    for (auto* map : {&leaf_columns_, &edge_columns_}) {
        for (auto& entry : *map) {
            if (entry.second > column) --entry.second;
        }
    }
}

std::pair<std::optional<AlgebraicCircuit>, std::optional<AlgebraicCircuit>> AlgebraicCircuit::split(std::uint32_t leaf) const {
    auto found = leaf_columns_.find(leaf);
    if (found == leaf_columns_.end()) return {};
    std::vector<Term> in_scope, out_of_scope;
    for (const Term& term : minterms_) {
        bool holds = std::binary_search(term.begin(), term.end(), found->second);
        (holds ? in_scope : out_of_scope).push_back(term);
    }
    return {sub_circuit(in_scope), sub_circuit(out_of_scope)};
}

std::optional<AlgebraicCircuit> AlgebraicCircuit::sub_circuit(const std::vector<Term>& terms) const {
    if (terms.empty()) return std::nullopt;
    std::vector<std::uint32_t> used;
    for (const Term& term : terms) used.insert(used.end(), term.begin(), term.end());
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    if (!used.empty() && used.back() >= columns_.size()) {
        stop(messages::index_out_of_bounds(columns_.size(), used.back()));
    }

    AlgebraicCircuit part(value_size_);
    for (std::uint32_t old_column : used) {
        const ColumnSource source = columns_[old_column];
        const auto column = static_cast<std::uint32_t>(part.columns_.size());
        part.columns_.push_back(source);
        (source.kind == ColumnSource::Leaf ? part.leaf_columns_ : part.edge_columns_)[source.index] = column;
    }
    part.minterms_.reserve(terms.size());
    for (const Term& term : terms) {
        Term renumbered;
        renumbered.reserve(term.size());
        for (std::uint32_t old_column : term) {
            auto at = std::lower_bound(used.begin(), used.end(), old_column);
            renumbered.push_back(static_cast<std::uint32_t>(at - used.begin()));
        }
        part.minterms_.push_back(std::move(renumbered));
    }
    return part;
}

template <class S, std::size_t Slots, bool Exact>
void AlgebraicCircuit::sum_terms(const std::span<const double>* values, const double* one, double* product,
               typename S::Sum& sum) const {
    // With a fixed width the running product is a local array, which the
    // compiler keeps in registers across the column multiplications.
    double local[Slots == 0 ? 1 : Slots];
    double* const running_data = Slots != 0 ? local : product;
    const std::size_t slots = Slots != 0 ? Slots : value_size_;
    const std::span<double> running(running_data, slots);
    const std::size_t column_count = columns_.size();
    for (const Term& term : minterms_) {
        for (std::size_t i = 0; i < slots; ++i) running_data[i] = one[i];
        for (std::uint32_t c : term) {
            if (c >= column_count) stop(messages::index_out_of_bounds(column_count, c));
            if constexpr (Exact) {
                S::mul(running, std::span<const double>(values[c].data(), slots));
            } else {
                S::mul(running, values[c]);
            }
        }
        sum.add(std::span<const double>(running_data, slots));
    }
}


std::optional<std::string> AlgebraicCircuit::audit() const {
    for (std::size_t row = 0; row < minterms_.size(); ++row) {
        const Term& term = minterms_[row];
        for (std::size_t i = 0; i < term.size(); ++i) {
            if (term[i] >= columns_.size()) return fmt::format("row {} reads a missing column", row);
            if (i > 0 && term[i - 1] >= term[i]) return fmt::format("row {} is not strictly ascending", row);
        }
    }
    std::size_t leaves = 0;
    for (std::uint32_t c = 0; c < columns_.size(); ++c) {
        const ColumnSource source = columns_[c];
        const ColumnMap& map = source.kind == ColumnSource::Leaf ? leaf_columns_ : edge_columns_;
        leaves += source.kind == ColumnSource::Leaf ? 1 : 0;
        const auto found = map.find(source.index);
        if (found == map.end() || found->second != c) return fmt::format("column {} is not in its map", c);
    }
    if (leaves != leaf_columns_.size() || columns_.size() - leaves != edge_columns_.size()) {
        return "a map holds an entry without its column";
    }
    return std::nullopt;
}


template <class S>
Vector AlgebraicCircuit::evaluate(const EvaluationView& view) const {
    if (minterms_.empty()) return S::zero(value_size_);

    // Most nodes have few columns: resolve them into a stack array. Wide
    // nodes use a buffer of the thread's own that only ever grows, so that
    // evaluations on the worker pool do not allocate (and do not meet in the
    // allocator) once warm.
    constexpr std::size_t INLINE_COLUMNS = 32;
    std::array<std::span<const double>, INLINE_COLUMNS> inline_values;
    std::span<const double>* values = inline_values.data();
    if (columns_.size() > INLINE_COLUMNS) {
        thread_local std::vector<std::span<const double>> wide_values;
        if (wide_values.size() < columns_.size()) wide_values.resize(columns_.size());
        values = wide_values.data();
    }
    const std::span<const Leaf> leafs = view.leafs;
    bool exact = true;  // every value has value_size elements
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        const ColumnSource source = columns_[c];
        if (source.kind == ColumnSource::Leaf) {
            if (source.index >= leafs.size()) stop(messages::index_out_of_bounds(leafs.size(), source.index));
            values[c] = leafs[source.index].value.view();
        } else {
            const Vector* memory = view.structure.find_edge(source.index);
            if (!memory) stop(messages::not_live());
            values[c] = memory->view();
        }
        exact = exact && values[c].size() == value_size_;
    }

    const Vector one = S::one(value_size_);
    Vector product(value_size_);
    typename S::Sum sum(value_size_);
    // Most values have one slot: spelling that width out as a constant lets
    // the compiler drop the semiring's slot loops for it. Values of another
    // width than the node's take the path on which `mul` checks each.
    if (!exact) {
        sum_terms<S, 0, false>(values, one.data(), product.mutable_data(), sum);
    } else if (value_size_ == 1) {
        sum_terms<S, 1, true>(values, one.data(), product.mutable_data(), sum);
    } else {
        sum_terms<S, 0, true>(values, one.data(), product.mutable_data(), sum);
    }
    return sum.finish();
}

#define TALLO_EVALUATE_TEMPLATES(S, extern_) template Vector AlgebraicCircuit::evaluate<S>(const EvaluationView&) const;
TALLO_FOR_EACH_SEMIRING(TALLO_EVALUATE_TEMPLATES, )

}  // namespace tallo
