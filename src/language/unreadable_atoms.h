#pragma once

// Atoms whose argument lists the statement patterns cannot read.
//
// The patterns take the arguments of an atom as word characters, white space
// and commas only, and they search unanchored: a statement whose atom holds
// anything else is not rejected but read from a later position as a
// different statement, or half-read. wet(f(a)) if s. would become the fact
// s, t if p(a-b). the rule t :- p, a, b., and a source or target with such an
// atom would be lost, each without a word. Every statement is therefore
// looked at before the parsers see it, and compile stops at the first that
// holds such an atom.
//
// An argument list is the text after a whole word directly followed by '(',
// up to the bracket that closes that '(' (every kind of bracket nests). It
// cannot be read when it
// - holds another opening bracket ('(', '[' or '{'): a nested term, p(f(a));
// - is never closed, which is how a '.' that ends the statement early shows:
//   p(a.b) is the statement "t if p(a." and another, "b).";
// - is empty: p();
// - holds any other character than word characters, white space and commas,
//   a closing ']' or '}' included: p(a-b), p("a"), p(-1), p(1.5), p(a;b).
// The first of these that applies is the one reported.
//
// What is not an atom is not looked into: the "P(...)" of a probability, and
// the "source(...)" and "target(...)" of a declaration, wherever the words P,
// source and target directly followed by '(' stand (so a malformed
// probability or declaration, such as "wet => target(...)", is left to the
// parsers, which reject or misread it as the language always has; the text
// after its '(' is looked at); and the braces of a statement that the
// categorical source pattern accepts, whose categories reach the solver as
// written and may be any term (the text around them is looked at).
//
// Pure apart from building the shared expressions at their first use; safe on
// any thread.
#include <cstddef>
#include <optional>
#include <string_view>

namespace tallo {

// Why an argument list cannot be read; the order is the order of precedence.
enum class AtomFault { NestedTerm, NotClosed, Empty, Character };

struct UnreadableAtom {
    // The atom as written: from its first character to the bracket that
    // closes its argument list, or to the end of the text looked at when none
    // does.
    std::string_view atom;
    AtomFault fault;
    // For `AtomFault::Character`, the first character the list cannot hold
    // (one UTF-8 encoded character); empty otherwise.
    std::string_view character;

    bool operator==(const UnreadableAtom&) const = default;
};

// The first atom of `statement` whose argument list cannot be read; nothing
// when every one can.
std::optional<UnreadableAtom> unreadable_atom(std::string_view statement);

// Stops with messages::unreadable_atom when `statement`, the model's
// statement number `number` (from 1), holds such an atom.
void check_atoms(std::string_view statement, std::size_t number);

}  // namespace tallo
