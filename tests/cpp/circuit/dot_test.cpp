#include "circuit/dot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <unordered_map>

#include "base/messages.h"
#include "base/vector.h"
#include "circuit/algebraic_circuit.h"
#include "circuit/messages.h"
#include "circuit/reactive_circuit.h"
#include "circuit/stable_graph.h"
#include "stop_message.h"

namespace tallo {
namespace {

using CircuitGraph = StableGraph<AlgebraicCircuit, Vector>;
using Tokens = std::unordered_map<std::string, std::uint32_t>;

const std::string HEADER =
    "digraph ReactiveCircuit {\n"
    "    node [color=\"chartreuse3\" margin=0 penwidth=2];\n"
    "    edge [color=\"gray25\" penwidth=2];\n";

// A node over the given leaves (one column each, no terms).
AlgebraicCircuit reading_leaves(std::initializer_list<std::uint32_t> leaves) {
    AlgebraicCircuit node(1);
    for (std::uint32_t leaf : leaves) node.ensure_leaf(leaf);
    return node;
}

TEST(AlgebraicDot, OneRecordFieldPerTerm) {
    struct Case {
        const char* what;
        std::vector<std::vector<std::uint32_t>> terms;
        const char* label;
    };
    // Columns: 0 = L0, 1 = M0, 2 = M1, 3 = L7.
    const Case cases[] = {
        {"one term of both kinds", {{0, 1}}, "{L0\u00b7M0}"},
        {"no terms", {}, "{}"},
        {"an empty term is an empty field", {{0}, {}, {2}}, "{L0 |  | M1}"},
        {"terms in stored order", {{3}, {0, 2, 3}}, "{L7 | L0\u00b7M1\u00b7L7}"},
    };
    for (const Case& c : cases) {
        AlgebraicCircuit node(1);
        node.ensure_leaf(0);
        node.create_memory(0);
        node.create_memory(1);
        node.ensure_leaf(7);
        for (const auto& term : c.terms) node.push_minterm(term);
        EXPECT_EQ(node.to_dot_text(), std::string("digraph AlgebraicCircuit {\n"
                                                  "  node [shape=record];\n"
                                                  "  matrix [label=\"") +
                                          c.label + "\" shape=record];\n}\n")
            << c.what;
    }
}

TEST(AlgebraicDot, ATermColumnBeyondTheColumnsStopsInsteadOfReadingPastThem) {
    AlgebraicCircuit node(1);
    node.ensure_leaf(0);
    node.push_minterm({0, 4});
    EXPECT_EQ(testing::stop_message([&] { (void)node.to_dot_text(); }), messages::index_out_of_bounds(1, 4));
}

TEST(ReactiveDot, MemoryValuesAsStoredWithTwoDecimals) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {0.0, "0.00"},   {-0.6931, "-0.69"}, {0.125, "0.12"},        {0.375, "0.38"},  {0.005, "0.01"},
        {1.0, "1.00"},   {inf, "inf"},       {-inf, "-inf"},         {std::nan(""), "NaN"},
        {-std::nan(""), "NaN"}, {123456.789, "123456.79"},
    };
    for (const Case& c : cases) EXPECT_EQ(dot::memory_value(Vector{c.value, 9.0}), c.text) << c.value;
    EXPECT_EQ(testing::stop_message([] { (void)dot::memory_value(Vector{}); }),
              messages::array_index_out_of_bounds());
}

TEST(ReactiveDot, EmptyCircuitIsTheHeaderAndTheClosingBrace) {
    EXPECT_EQ(dot::reactive_circuit_text(CircuitGraph{}, Tokens{}), HEADER + "}\n");
}

TEST(ReactiveDot, NodesWithTokensAndColumnsThenEdgesWithMemories) {
    CircuitGraph graph;
    const auto root = graph.add_node(AlgebraicCircuit(1));
    const auto producer = graph.add_node(reading_leaves({1}));
    const auto edge = graph.add_edge(root, producer, Vector{std::log(0.5)});
    AlgebraicCircuit& top = graph.node(root);
    top.push_minterm({top.ensure_leaf(0), top.create_memory(edge)});

    EXPECT_EQ(dot::reactive_circuit_text(graph, Tokens{{"/t", root}}),
              HEADER +
                  "    0 [shape=\"circle\" label=\"P(/t) = \u03a3\u03a0\\nL0 M0\"];\n"
                  "    1 [shape=\"circle\" label=\"P() = \u03a3\u03a0\\nL1\"];\n"
                  "    0 -> 1 [label=\"M0=-0.69\" decorate=\"true\"];\n"
                  "}\n");
}

TEST(ReactiveDot, TokensRunTogetherAndColumnlessLabelsEndAfterTheLineBreak) {
    CircuitGraph graph;
    graph.add_node(AlgebraicCircuit(1));
    const std::string text = dot::reactive_circuit_text(graph, Tokens{{"/a", 0}, {"/b\"\\", 0}});
    const std::string either[] = {
        HEADER + "    0 [shape=\"circle\" label=\"P(/a/b\"\\) = \u03a3\u03a0\\n\"];\n}\n",
        HEADER + "    0 [shape=\"circle\" label=\"P(/b\"\\/a) = \u03a3\u03a0\\n\"];\n}\n",
    };
    EXPECT_TRUE(text == either[0] || text == either[1]) << text;
}

TEST(ReactiveDot, RemovedSlotsLeaveGapsAndReusedSlotsShowTheirNewOccupant) {
    CircuitGraph graph;
    for (std::uint32_t leaf = 0; leaf < 3; ++leaf) graph.add_node(reading_leaves({leaf}));
    graph.add_edge(0, 1, Vector{0.25});
    graph.add_edge(0, 2, Vector{0.75});
    graph.remove_node(1);  // takes edge 0 with it

    EXPECT_EQ(dot::reactive_circuit_text(graph, Tokens{}),
              HEADER +
                  "    0 [shape=\"circle\" label=\"P() = \u03a3\u03a0\\nL0\"];\n"
                  "    2 [shape=\"circle\" label=\"P() = \u03a3\u03a0\\nL2\"];\n"
                  "    0 -> 2 [label=\"M1=0.75\" decorate=\"true\"];\n"
                  "}\n");

    graph.add_node(reading_leaves({5}));
    graph.add_edge(2, 1, Vector{-std::numeric_limits<double>::infinity()});
    EXPECT_EQ(dot::reactive_circuit_text(graph, Tokens{}),
              HEADER +
                  "    0 [shape=\"circle\" label=\"P() = \u03a3\u03a0\\nL0\"];\n"
                  "    1 [shape=\"circle\" label=\"P() = \u03a3\u03a0\\nL5\"];\n"
                  "    2 [shape=\"circle\" label=\"P() = \u03a3\u03a0\\nL2\"];\n"
                  "    2 -> 1 [label=\"M0=-inf\" decorate=\"true\"];\n"
                  "    0 -> 2 [label=\"M1=0.75\" decorate=\"true\"];\n"
                  "}\n");
}

TEST(ReactiveCircuitDot, ShowsNewMemoriesAsZeroUntilTheUpdateAndWritesTheTextToAFile) {
    ReactiveCircuit<LogProb> circuit(1);
    circuit.add_leaf(Vector{0.3}, 0.0, "a");
    circuit.add_leaf(Vector{0.5}, 0.0, "b");
    circuit.add_sum_product({{0, 1}}, "/t");
    circuit.drop_leaf(1);
    const std::string nodes =
        "    0 [shape=\"circle\" label=\"P(/t) = \u03a3\u03a0\\nL0 M0\"];\n"
        "    1 [shape=\"circle\" label=\"P() = \u03a3\u03a0\\nL1\"];\n";
    EXPECT_EQ(circuit.to_dot_text(), HEADER + nodes + "    0 -> 1 [label=\"M0=-inf\" decorate=\"true\"];\n}\n");
    circuit.update();
    const std::string text = HEADER + nodes + "    0 -> 1 [label=\"M0=-0.69\" decorate=\"true\"];\n}\n";
    EXPECT_EQ(circuit.to_dot_text(), text);
    EXPECT_EQ(circuit.structure().node(0).to_dot_text(),
              "digraph AlgebraicCircuit {\n"
              "  node [shape=record];\n"
              "  matrix [label=\"{L0\u00b7M0}\" shape=record];\n"
              "}\n");

    std::string dir = (std::filesystem::temp_directory_path() / "tallo-dot-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    const std::filesystem::path path = std::filesystem::path(dir) / "circuit.dot";
    std::ofstream(path) << "an older and much longer text that must not survive\n";
    EXPECT_FALSE(circuit.to_dot(path.string()));
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), text);

    const std::optional<IoError> error = circuit.to_dot((std::filesystem::path(dir) / "missing" / "c.dot").string());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->message, "No such file or directory (os error 2)");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(dir) / "missing"));
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tallo
