#pragma once

// The answer-set program of a parsed model.
//
// The program is written in five sections, in this order: the free choices of
// the sources (only those some rule body uses) and of their comparisons, the
// "exactly one" choices of the categorical sources, the rules that bridge a
// comparison with a variable to the comparison atoms of concrete sources, the
// rules themselves (a probabilistic rule gets a cause atom chosen freely), and
// the constraint that keeps only the models in which the target holds. Every
// line ends with a line feed. Atom texts are copied from the model unchanged;
// the generated names (comparisons, causes) come from `matching`, the same
// functions that name the compiled model's leaves, which is what lets the
// solver's answer be mapped back onto leaves.
//
// Causes are numbered per full head text: the k-th probabilistic rule with the
// head a(1) gets cause number k, independently of rules with the head a(2).
//
// Pure; safe on any thread.
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "language/rules.h"
#include "language/statements.h"

namespace tallo {

// One threshold comparison of a numeric source: its threshold, whether the
// operator is '>' (false for '<'), and its generated name, which names both
// the comparison's leaf and the channel that feeds it.
struct ComparisonEntry {
    double threshold;
    bool is_greater;
    std::string name;

    friend bool operator==(const ComparisonEntry&, const ComparisonEntry&) = default;
};

// The atom of a Density or Number source to its comparisons, in order of
// first appearance.
using ComparisonTable = std::unordered_map<std::string, std::vector<ComparisonEntry>>;

// The program for `target` (the model's first target). Stops with
// "internal error: entered unreachable code" for a source of the data type
// Categorical, which the parser never produces.
std::string build_asp_program(const std::vector<Source>& sources,
                              const std::vector<CategoricalSource>& categorical_sources,
                              const std::vector<Clause>& clauses, const ComparisonTable& comparisons,
                              const Target& target);

// The verbose print of a program: "Compiled Tallo for target {atom} into
// ASP:", then the program and one more line feed.
void print_asp_program(const Target& target, std::string_view program);

}  // namespace tallo
