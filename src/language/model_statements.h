#pragma once

// A model text's statements, classified. A statement is offered to the
// parsers in a fixed order and the first that accepts it wins: categorical
// source, source, target, rule. Statements that none accepts are dropped
// without a message, so classification never fails (apart from the number
// stops of `Clause::from_str`).
#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "language/rules.h"
#include "language/statements.h"

namespace tallo {

using Statement = std::variant<CategoricalSource, Source, Target, Clause>;

// The record of one statement, trimmed first; nothing when it is empty or no
// parser accepts it.
std::optional<Statement> classify_statement(std::string_view statement);

// Every statement of a model, each kind in model order.
struct ModelStatements {
    std::vector<CategoricalSource> categorical_sources;
    std::vector<Source> sources;
    std::vector<Target> targets;
    std::vector<Clause> clauses;
};

// Pre-processes `model_text`, splits it into statements and classifies each.
// Before any is classified, every statement is scanned, in order: one that
// nests its terms deeper than the solver can take stops, and so does one that
// the parsers would read as something else than is written
// (language/statement_scan.h).
ModelStatements parse_model(std::string_view model_text);

}  // namespace tallo
