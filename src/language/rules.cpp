#include "language/rules.h"

#include <charconv>
#include <cstddef>
#include <limits>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "base/messages.h"
#include "base/panic.h"
#include "language/matching.h"
#include "language/messages.h"
#include "language/patterns.h"

namespace tallo {
namespace {

// Reads a number of the form the patterns admit ("[+-]?digits[.digits]").
// Any digit outside ASCII stops. Without an exponent a value can only leave
// the double range upwards when its integral part is huge, giving ±infinity,
// or downwards when it is nothing but a tiny fraction, giving ±0.
double parse_number(std::string_view text) {
    std::string_view digits = text;
    if (digits.starts_with('+')) digits.remove_prefix(1);
    double value = 0.0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (end != digits.data() + digits.size() || error == std::errc::invalid_argument) {
        stop(messages::unwrap_err(messages::invalid_float()));
    }
    if (error == std::errc::result_out_of_range) {
        const bool negative = digits.starts_with('-');
        const std::string_view magnitude = digits.substr(negative ? 1 : 0);
        const std::size_t integral_end = magnitude.find('.');
        const bool huge = magnitude.substr(0, integral_end).find_first_not_of('0') != std::string_view::npos;
        value = huge ? std::numeric_limits<double>::infinity() : 0.0;
        if (negative) value = -value;
    }
    return value;
}

// The body literal that replaces a comparison: the canonical name of a ground
// atom, or the parameterized predicate applied to the atom's own arguments.
std::string comparison_name(std::string_view atom, char op, double threshold, bool parameterized) {
    if (!parameterized) return matching::canonical_comparison_name(atom, op, threshold);
    const auto args = matching::args_of(atom);
    return fmt::format("{}({})",
                       matching::parameterized_comparison_predicate(matching::predicate_of(atom), op, threshold),
                       args ? fmt::format("{}", fmt::join(*args, ", ")) : std::string());
}

}  // namespace

std::optional<ComparisonLiteral> ComparisonLiteral::ground_for(std::string_view ground) const {
    if (!parameterized) return std::nullopt;
    if (matching::predicate_of(atom) != matching::predicate_of(ground)) return std::nullopt;
    const auto own = matching::args_of(atom);
    const auto given = matching::args_of(ground);
    if (own && given) {
        if (own->size() != given->size()) return std::nullopt;
        for (std::size_t i = 0; i < own->size(); ++i) {
            if (!matching::is_variable((*own)[i]) && (*own)[i] != (*given)[i]) return std::nullopt;
        }
    }
    ComparisonLiteral grounded = *this;
    grounded.atom = std::string(ground);
    grounded.name = matching::canonical_comparison_name(ground, op, threshold);
    grounded.parameterized = false;
    return grounded;
}

std::optional<Clause> Clause::from_str(std::string_view statement) {
    const auto match = patterns::clause_regex().find(statement);
    if (!match) return std::nullopt;
    const std::string_view body = match->group("body").value_or(std::string_view());

    Clause clause;
    // Every comparison is found in the body as written; `shift` carries the
    // growth of the rewritten copy so far, so each replacement lands on its
    // own comparison.
    std::string rewritten(body);
    std::ptrdiff_t shift = 0;
    for (const auto& comparison : patterns::comparison_literal_regex().find_all(body)) {
        std::string atom(*comparison.group("comp_atom"));
        const char op = comparison.group("comp_op")->front();
        const double threshold = parse_number(*comparison.group("comp_threshold"));
        const bool parameterized = matching::has_variable_arg(atom);
        std::string name = comparison_name(atom, op, threshold, parameterized);

        const auto length = static_cast<std::ptrdiff_t>(comparison.end() - comparison.start());
        rewritten.replace(static_cast<std::size_t>(static_cast<std::ptrdiff_t>(comparison.start()) + shift),
                          static_cast<std::size_t>(length), name);
        shift += static_cast<std::ptrdiff_t>(name.size()) - length;
        clause.comparisons.push_back({op, std::move(atom), std::move(name), threshold, parameterized});
    }
    clause.body = matching::get_literals(patterns::and_keyword_regex().replace_all(rewritten, " "));
    if (const auto probability = match->group("probability")) clause.probability = parse_number(*probability);
    clause.atom = std::string(*match->group("atom"));
    clause.text = std::string(statement);
    return clause;
}

std::string Clause::to_asp() const {
    std::string rule = probability ? fmt::format("{{{}}}", atom) : atom;
    if (!body.empty()) rule += fmt::format(" :- {}", fmt::join(body, ", "));
    rule += ".\n";
    return rule;
}

}  // namespace tallo
