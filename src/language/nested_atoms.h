#pragma once

// Atoms with nested terms, which the statement patterns cannot read.
//
// The patterns take the arguments of an atom as words only, and they search
// unanchored: a statement whose atom holds a nested term is not rejected but
// read from a later position as a different statement. wet(f(a)) if s.
// would become the fact s, t if wet(f(a)). the rule t :- wet, f(a)., and a
// source or target with such an atom would be lost, each without a word.
// Every statement is therefore looked at before the parsers see it, and
// compile stops at the first that holds such an atom.
//
// An atom with a nested term is a whole word directly followed by '(' whose
// argument list holds another opening bracket ('(', '[' or '{') before any
// bracket closes: p(f(a)), p((a, b)), p([a]). Only brackets count; the flat
// atoms that read today (p, p(a, B), a comparison such as temp(X) > -5, the
// "P(0.5)" of a probability, the "source(...)" and "target(...)" of a
// declaration) have none in their argument lists.
//
// The categories of a categorical source are the one place where any term
// reads as written (they reach the solver unchanged), so the braces of a
// statement that the categorical source pattern accepts are not looked into;
// the text around them is.
//
// Pure apart from building the shared expressions at their first use; safe on
// any thread.
#include <cstddef>
#include <optional>
#include <string_view>

namespace tallo {

// The first atom of `statement` with a nested term, as written: from its
// first character to the bracket that closes its argument list, or to the end
// of the statement when none does. Nothing when the statement holds none.
std::optional<std::string_view> nested_atom(std::string_view statement);

// Stops with messages::nested_term_in_atom when `statement`, the model's
// statement number `number` (from 1), holds an atom with a nested term.
void check_atoms(std::string_view statement, std::size_t number);

}  // namespace tallo
