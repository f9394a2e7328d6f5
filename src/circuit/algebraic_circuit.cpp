#include "circuit/algebraic_circuit.h"

#include <fmt/format.h>

namespace tallo {

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

}  // namespace tallo
