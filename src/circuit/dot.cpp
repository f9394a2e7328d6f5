#include "circuit/dot.h"

#include <cmath>
#include <string_view>

#include <fmt/format.h>

#include "base/messages.h"
#include "base/panic.h"
#include "circuit/messages.h"

namespace tallo {

namespace dot {

std::string column_label(ColumnSource source) {
    return fmt::format("{}{}", source.kind == ColumnSource::Leaf ? 'L' : 'M', source.index);
}

std::string memory_value(const Vector& memory) {
    if (memory.empty()) stop(messages::array_index_out_of_bounds());
    const double first = memory[0];
    // fmt writes "nan" (and "-nan"); the label shows any not-a-number alike.
    if (std::isnan(first)) return "NaN";
    return fmt::format("{:.2f}", first);
}

std::string reactive_circuit_text(const StableGraph<AlgebraicCircuit, Vector>& structure,
                                  const std::unordered_map<std::string, std::uint32_t>& target_nodes) {
    std::string text =
        "digraph ReactiveCircuit {\n"
        "    node [color=\"chartreuse3\" margin=0 penwidth=2];\n"
        "    edge [color=\"gray25\" penwidth=2];\n";
    for (std::uint32_t n : structure.node_indices()) {
        std::string tokens;
        for (const auto& [token, node] : target_nodes) {
            if (node == n) tokens += token;
        }
        std::string columns;
        for (const ColumnSource& source : structure.unchecked_node(n).columns()) {
            if (!columns.empty()) columns += ' ';
            columns += column_label(source);
        }
        fmt::format_to(std::back_inserter(text), "    {} [shape=\"circle\" label=\"P({}) = \u03a3\u03a0\\n{}\"];\n", n,
                       tokens, columns);
    }
    for (std::uint32_t e : structure.edge_indices()) {
        fmt::format_to(std::back_inserter(text), "    {} -> {} [label=\"M{}={}\" decorate=\"true\"];\n",
                       structure.source(e), structure.target(e), e, memory_value(structure.unchecked_edge(e)));
    }
    text += "}\n";
    return text;
}

}  // namespace dot

std::string AlgebraicCircuit::to_dot_text() const {
    std::string text =
        "digraph AlgebraicCircuit {\n"
        "  node [shape=record];\n"
        "  matrix [label=\"{";
    for (std::size_t row = 0; row < minterms_.size(); ++row) {
        if (row != 0) text += " | ";
        const auto& term = minterms_[row];
        for (std::size_t i = 0; i < term.size(); ++i) {
            if (i != 0) text += "\u00b7";
            const std::uint32_t column = term[i];
            if (column >= columns_.size()) stop(messages::index_out_of_bounds(columns_.size(), column));
            text += dot::column_label(columns_[column]);
        }
    }
    text += "}\" shape=record];\n}\n";
    return text;
}

}  // namespace tallo
