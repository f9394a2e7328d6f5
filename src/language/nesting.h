#pragma once

// How deeply a statement nests its terms, and the limit on it.
//
// The solver recurses once per level of a term's tree, on the thread that
// compiles, and nothing in it bounds that recursion: a term nested deeply
// enough ends the process with a stack overflow, and long before that its
// grounding takes seconds that cannot be broken off. Every statement is
// therefore measured before any parser sees it, and compile stops when one
// nests deeper than `max_nesting_depth`.
//
// The measure is an upper bound of the depth of the trees the solver can build
// from the statement's text, whichever part of it reaches the solver:
// - each bracket, '(', '[' or '{', is one level;
// - inside brackets, each operator character (+ - * / \ ^ & | ~ ? < = > ! @ :)
//   is one level more for its element (the text between two commas or
//   semicolons of one bracket), since a chain such as 1+1+...+1 nests as
//   deeply as it has operators without any bracket;
// - outside every bracket nothing counts: there the statement's own syntax
//   (arrows, comparisons, signs of thresholds) stands, and the parsers pass
//   only flat atoms from there to the solver;
// - quoted text counts like the rest; a bracket that closes nothing is
//   ignored, and one left open ends with the statement.
//
// The limit. Measured on the solver in use, with a program of each form run
// on a thread whose stack is painted: one level costs at most about 500 bytes
// of stack (an arithmetic operator; a nested function term 144, a bracket
// alone 80), so a statement at the limit needs about 1 MB. That is an eighth
// of the 8 MiB a compile thread has at least (base/thread.h), and half of the
// 2 MiB that glibc gives any other thread when the stack limit is unlimited,
// should a compile have to run on a host's thread; grounding a term at the
// limit takes well under a second.
//
// Pure; safe on any thread.
#include <cstddef>
#include <string_view>

namespace tallo {

inline constexpr std::size_t max_nesting_depth = 2000;

// The depth of `statement` as measured above, or `limit` + 1 as soon as it is
// known to exceed `limit` (the scan then ends early, so a huge statement
// costs no more memory than the limit).
std::size_t nesting_depth(std::string_view statement, std::size_t limit = max_nesting_depth);

// Stops with messages::nested_too_deeply when `statement`, the model's
// statement number `number` (from 1), nests deeper than `max_nesting_depth`.
void check_nesting(std::string_view statement, std::size_t number);

}  // namespace tallo
