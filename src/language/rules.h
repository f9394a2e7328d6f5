#pragma once

// Rule statements: a head atom, an optional probability and an optional body
// of literals, in which every threshold comparison is rewritten into a
// generated atom that a `ComparisonLiteral` remembers.
//
// head [<- P(p)] [if body].
//
// Both records are plain values that own their texts. Parsing is pure apart
// from building the shared expressions at their first use; any number of
// threads may parse at once.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallo {

// One comparison of a body, "atom < threshold" or "atom > threshold".
struct ComparisonLiteral {
    char op;                // '<' or '>'
    std::string atom;       // as written: temp(kitchen), temp(X)
    std::string name;       // the generated atom that replaces the comparison in the body
    double threshold;
    bool parameterized;     // the atom has a variable argument

    // The copy of a parameterized literal for the ground atom `ground`: same
    // predicate, and where both have argument lists, the same length and
    // equal constants (a variable position matches anything, independently
    // of the others). Its atom is `ground`, its name the canonical name of
    // `ground`, and it is no longer parameterized. Nothing when the literal
    // is ground already or does not fit.
    std::optional<ComparisonLiteral> ground_for(std::string_view ground) const;

    friend bool operator==(const ComparisonLiteral&, const ComparisonLiteral&) = default;
};

struct Clause {
    std::optional<double> probability;           // absent for a deterministic rule
    std::string atom;                            // the head, as written
    std::vector<std::string> body;               // literals after the rewrite and the removal of "and"
    std::vector<ComparisonLiteral> comparisons;  // in order of occurrence
    std::string text;                            // the whole statement handed to the parser

    // Nothing when the statement holds no rule. A probability or threshold
    // whose digits are not ASCII (the patterns admit any decimal digit) stops
    // with messages::unwrap_err(messages::invalid_float()).
    static std::optional<Clause> from_str(std::string_view statement);

    // The rule in the answer-set program's syntax: "{head}" for a
    // probabilistic clause, the head otherwise; then " :- " and the body
    // literals joined with ", " when there are any; then ".\n".
    std::string to_asp() const;

    friend bool operator==(const Clause&, const Clause&) = default;
};

}  // namespace tallo
