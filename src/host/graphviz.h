#pragma once

// Rendering circuits through the Graphviz programs `dot` and `gvpack`.
//
// Guarantees:
// - The programs run as child processes (base/child_process.h).
// - The export functions write only files: they create or truncate them, and
//   the first I/O error ends the export with that error, skipping the steps
//   after it; every path is opened before any program runs on it, so a path
//   in a missing directory fails without running a program.
// - Of a Graphviz program only the standard output is used; a program that
//   starts but fails leaves whatever it wrote (often nothing) in the file. A
//   program that cannot be started stops the export with
//   "Failed to run graphviz!: " and the start error; the files written up to
//   then stay.
// - The caller holds the circuit's mutex for the whole export, programs
//   included, so the texts show one state; nothing here locks.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace tallo {

// Declared only: `combined_dot_text` needs the circuit where it is used, and
// the export functions below need nothing of it.
template <class S>
class ReactiveCircuit;

}  // namespace tallo

namespace tallo::graphviz {

// The standard output of the Graphviz `program` run with `arguments`; stops
// when it cannot be started.
std::string run_graphviz(const std::string& program, const std::vector<std::string>& arguments);

// `dot_text` rendered by `dot -Tsvg` into `path`, synced. The DOT text goes
// to `path` + ".dot" when `keep_dot`, else to `path` itself, which `dot` has
// read to its end before its output replaces it.
std::optional<IoError> write_svg(std::string_view dot_text, const std::string& path, bool keep_dot);

// `graphs` (several DOT graphs, one after another) into `path`, merged there
// by `gvpack -u`, then rendered by `dot -Tsvg`; each stage replaces the
// file's contents and is synced.
std::optional<IoError> write_combined_svg(std::string_view graphs, const std::string& path);

// The circuit's DOT text followed by the record text of every live node, in
// ascending node index.
template <class S>
std::string combined_dot_text(const ReactiveCircuit<S>& circuit) {
    std::string graphs = circuit.to_dot_text();
    for (std::uint32_t node : circuit.structure().node_indices()) {
        graphs += circuit.structure().unchecked_node(node).to_dot_text();
    }
    return graphs;
}

}  // namespace tallo::graphviz
