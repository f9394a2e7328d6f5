#include "language/asp_program.h"

#include <cstdint>
#include <set>

#include <fmt/format.h>

#include "base/panic.h"
#include "language/matching.h"
#include "language/messages.h"
#include "language/output.h"

namespace tallo {
namespace {

// The literal without every leading "not ".
std::string_view strip_negation(std::string_view literal) {
    constexpr std::string_view negation = "not ";
    while (literal.starts_with(negation)) literal.remove_prefix(negation.size());
    return literal;
}

// True when some body literal refers to the source atom: the same text, or the
// same predicate with a variable argument (r(X) may stand for r(a)).
bool used_in_some_body(const std::string& atom, const std::vector<Clause>& clauses) {
    const std::string_view predicate = matching::predicate_of(atom);
    for (const Clause& clause : clauses) {
        for (const std::string& literal : clause.body) {
            const std::string_view stripped = strip_negation(literal);
            if (stripped == atom) return true;
            if (matching::predicate_of(stripped) == predicate && matching::has_variable_arg(stripped)) return true;
        }
    }
    return false;
}

void write_source_choices(std::string& program, const std::vector<Source>& sources,
                          const std::vector<Clause>& clauses, const ComparisonTable& comparisons) {
    for (const Source& source : sources) {
        switch (source.dtype) {
            case DataType::Probability:
            case DataType::Boolean:
                if (used_in_some_body(source.atom, clauses)) program += fmt::format("{{{}}}.\n", source.atom);
                break;
            case DataType::Density:
            case DataType::Number:
                if (const auto found = comparisons.find(source.atom); found != comparisons.end()) {
                    for (const ComparisonEntry& entry : found->second) program += fmt::format("{{{}}}.\n", entry.name);
                }
                break;
            case DataType::Categorical:
                stop(messages::unreachable());
        }
    }
}

void write_categorical_choices(std::string& program, const std::vector<CategoricalSource>& categorical_sources) {
    for (const CategoricalSource& source : categorical_sources) {
        program += fmt::format("1 {{ {} }} 1.\n", fmt::join(source.categories, " ; "));
    }
}

// One rule per parameterized comparison and concrete numeric source it fits:
// the parameterized predicate over the source's arguments holds when the
// source's own comparison atom does. Each distinct rule is written once.
void write_bridging_rules(std::string& program, const std::vector<Source>& sources,
                          const std::vector<Clause>& clauses) {
    std::set<std::string, std::less<>> written;
    for (const Clause& clause : clauses) {
        for (const ComparisonLiteral& literal : clause.comparisons) {
            if (!literal.parameterized) continue;
            const std::string predicate = matching::parameterized_comparison_predicate(
                matching::predicate_of(literal.atom), literal.op, literal.threshold);
            for (const Source& source : sources) {
                if (source.dtype != DataType::Density && source.dtype != DataType::Number) continue;
                const auto ground = literal.ground_for(source.atom);
                if (!ground) continue;
                const auto args = matching::args_of(source.atom);
                if (!args) continue;
                std::string rule = fmt::format("{}({}) :- {}.\n", predicate, fmt::join(*args, ", "), ground->name);
                if (written.insert(rule).second) program += rule;
            }
        }
    }
}

// A cause choice may only be conditioned on literals the solver can derive
// from rules: sources and generated comparison atoms are free choices of their
// own and would only multiply the models.
std::vector<std::string_view> cause_conditions(const Clause& clause,
                                               const std::set<std::string, std::less<>>& source_predicates) {
    std::vector<std::string_view> conditions;
    for (const std::string& literal : clause.body) {
        const std::string_view stripped = strip_negation(literal);
        if (source_predicates.contains(matching::predicate_of(stripped))) continue;
        if (stripped.starts_with("tallo_")) continue;
        conditions.push_back(literal);
    }
    return conditions;
}

void write_clauses(std::string& program, const std::vector<Source>& sources, const std::vector<Clause>& clauses) {
    const auto source_predicates = matching::source_predicates(sources);
    std::unordered_map<std::string, std::uint32_t> counters;
    for (const Clause& clause : clauses) {
        if (!clause.probability) {
            program += clause.to_asp();
            continue;
        }
        std::uint32_t& k = counters[clause.atom];
        std::string cause;  // the cause atom as the rule's body uses it
        if (!matching::has_variable_arg(clause.atom)) {
            cause = matching::cause_atom_name(clause.atom, k);
            program += fmt::format("{{{}}}.\n", cause);
        } else {
            const auto args = matching::args_of(clause.atom);
            cause = fmt::format("{}({})", matching::cause_atom_base_name(clause.atom, k),
                                args ? fmt::format("{}", fmt::join(*args, ", ")) : std::string());
            const auto conditions = cause_conditions(clause, source_predicates);
            if (conditions.empty()) {
                program += fmt::format("{{{}}}.\n", cause);
            } else {
                program += fmt::format("{{{}}} :- {}.\n", cause, fmt::join(conditions, ", "));
            }
        }
        program += fmt::format("{} :- {}", clause.atom, cause);
        for (const std::string& literal : clause.body) program += fmt::format(", {}", literal);
        program += ".\n";
        ++k;
    }
}

}  // namespace

std::string build_asp_program(const std::vector<Source>& sources,
                              const std::vector<CategoricalSource>& categorical_sources,
                              const std::vector<Clause>& clauses, const ComparisonTable& comparisons,
                              const Target& target) {
    std::string program;
    write_source_choices(program, sources, clauses, comparisons);
    write_categorical_choices(program, categorical_sources);
    write_bridging_rules(program, sources, clauses);
    write_clauses(program, sources, clauses);
    program += fmt::format(":- not {}.\n", target.atom);
    return program;
}

void print_asp_program(const Target& target, std::string_view program) {
    print_out(fmt::format("Compiled Tallo for target {} into ASP:\n{}\n", target.atom, program));
}

}  // namespace tallo
