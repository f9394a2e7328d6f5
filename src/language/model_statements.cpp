#include "language/model_statements.h"

#include "language/matching.h"
#include "language/statement_scan.h"
#include "language/unicode.h"

namespace tallo {

std::optional<Statement> classify_statement(std::string_view statement) {
    statement = unicode::trim(statement);
    if (statement.empty()) return std::nullopt;
    if (auto categorical = CategoricalSource::from_str(statement)) return Statement(std::move(*categorical));
    if (auto source = Source::from_str(statement)) return Statement(std::move(*source));
    if (auto target = Target::from_str(statement)) return Statement(std::move(*target));
    if (auto clause = Clause::from_str(statement)) return Statement(std::move(*clause));
    return std::nullopt;
}

ModelStatements parse_model(std::string_view model_text) {
    ModelStatements model;
    const std::vector<std::string> statements = matching::split_statements(prepare_model_text(model_text));
    for (std::size_t i = 0; i < statements.size(); ++i) check_statement(statements[i], i + 1);
    for (const std::string& statement : statements) {
        auto record = classify_statement(statement);
        if (!record) continue;
        std::visit(
            [&](auto&& parsed) {
                using Kind = std::decay_t<decltype(parsed)>;
                if constexpr (std::is_same_v<Kind, CategoricalSource>) {
                    model.categorical_sources.push_back(std::move(parsed));
                } else if constexpr (std::is_same_v<Kind, Source>) {
                    model.sources.push_back(std::move(parsed));
                } else if constexpr (std::is_same_v<Kind, Target>) {
                    model.targets.push_back(std::move(parsed));
                } else {
                    model.clauses.push_back(std::move(parsed));
                }
            },
            *record);
    }
    return model;
}

}  // namespace tallo
