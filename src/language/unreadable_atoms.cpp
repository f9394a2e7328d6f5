#include "language/unreadable_atoms.h"

#include "base/panic.h"
#include "language/messages.h"
#include "language/patterns.h"

namespace tallo {
namespace {

bool opens(char c) { return c == '(' || c == '[' || c == '{'; }
bool closes(char c) { return c == ')' || c == ']' || c == '}'; }

// The atom of `match`, whose argument list the pattern found unreadable, with
// the fault of that list.
UnreadableAtom describe(std::string_view text, const Regex::Match& match) {
    // The match begins with the atom's word, which its '(' follows.
    const std::size_t start = match.start();
    const std::size_t open = start + match.group("atom")->size();
    std::size_t depth = 0;
    bool nested = false;
    std::optional<std::size_t> end;
    for (std::size_t i = open; i < text.size() && !end; ++i) {
        if (opens(text[i])) {
            nested = nested || depth > 0;
            ++depth;
        } else if (closes(text[i]) && --depth == 0) {
            end = i + 1;
        }
    }
    UnreadableAtom atom{text.substr(start, end.value_or(text.size()) - start), AtomFault::Character, {}};
    if (nested) {
        atom.fault = AtomFault::NestedTerm;
    } else if (!end) {
        atom.fault = AtomFault::NotClosed;
    } else if (const auto character = match.group("character")) {
        atom.character = *character;
    } else {
        atom.fault = AtomFault::Empty;
    }
    return atom;
}

// The first unreadable atom in `text`, searched whole.
std::optional<UnreadableAtom> first_unreadable_atom(std::string_view text) {
    for (std::size_t from = 0; const auto match = patterns::unreadable_atom_regex().find(text, from);) {
        if (match->group("atom")) return describe(text, *match);
        // A probability or declaration part: its own brackets are the
        // statement's syntax, and whatever follows them is looked at.
        from = match->end();
    }
    return std::nullopt;
}

}  // namespace

std::optional<UnreadableAtom> unreadable_atom(std::string_view statement) {
    const auto categorical = patterns::categorical_source_regex().find(statement);
    if (!categorical) return first_unreadable_atom(statement);
    if (auto before = first_unreadable_atom(statement.substr(0, categorical->start()))) return before;
    return first_unreadable_atom(statement.substr(categorical->end()));
}

void check_atoms(std::string_view statement, std::size_t number) {
    if (const auto atom = unreadable_atom(statement)) stop(messages::unreadable_atom(number, *atom, statement));
}

}  // namespace tallo
