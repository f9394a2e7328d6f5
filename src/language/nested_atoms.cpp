#include "language/nested_atoms.h"

#include "base/panic.h"
#include "language/messages.h"
#include "language/patterns.h"

namespace tallo {
namespace {

bool opens(char c) { return c == '(' || c == '[' || c == '{'; }
bool closes(char c) { return c == ')' || c == ']' || c == '}'; }

// The first atom with a nested term in `text`, searched whole.
std::optional<std::string_view> first_nested_atom(std::string_view text) {
    const auto match = patterns::nested_atom_regex().find(text);
    if (!match) return std::nullopt;
    // The match is the atom's word, its '(' and its argument list up to the
    // nested bracket; the atom ends where its '(' is closed.
    std::size_t depth = 0;
    for (std::size_t i = match->start() + match->text().find('('); i < text.size(); ++i) {
        if (opens(text[i])) {
            ++depth;
        } else if (closes(text[i]) && --depth == 0) {
            return text.substr(match->start(), i + 1 - match->start());
        }
    }
    return text.substr(match->start());
}

}  // namespace

std::optional<std::string_view> nested_atom(std::string_view statement) {
    const auto categorical = patterns::categorical_source_regex().find(statement);
    if (!categorical) return first_nested_atom(statement);
    if (auto before = first_nested_atom(statement.substr(0, categorical->start()))) return before;
    return first_nested_atom(statement.substr(categorical->end()));
}

void check_atoms(std::string_view statement, std::size_t number) {
    if (const auto atom = nested_atom(statement)) stop(messages::nested_term_in_atom(number, *atom, statement));
}

}  // namespace tallo
