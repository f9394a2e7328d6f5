#pragma once

// The fixed texts of the language front end. Code and tests cite them from
// here; the texts every subsystem shares are in base/messages.h.
#include <cstddef>
#include <string>
#include <string_view>

#include "language/statement_scan.h"

namespace tallo::messages {

// The number parser's description of a probability or threshold that the
// statement patterns admit but that is not written in ASCII decimal digits
// (the patterns' "\d" admits every Unicode decimal digit). A parse stops with
// `unwrap_err` of this text.
std::string_view invalid_float();

// "begin <= end ({} <= {}) when slicing `{}`": an atom whose parentheses are
// in an order that the statement patterns never produce.
std::string bad_slice(std::size_t begin, std::size_t end, std::string_view text);

// "invalid UTF-8 in model text at byte {}". Texts from the host are always
// valid UTF-8; this guards callers that hand in raw bytes.
std::string invalid_utf8(std::size_t at);

// "regular expression search failed: {}", with the engine's own message,
// for a search that exceeds the engine's match limits.
std::string regex_search_failed(std::string_view engine_message);

// "Model statement {number} is nested too deeply: its terms go more than
// {limit} levels deep (each bracket, and each operator inside brackets, is a
// level): {beginning}", the beginning being the statement's first 40 bytes
// (cut at a character boundary) and "..." when there is more.
std::string nested_too_deeply(std::size_t number, std::size_t limit, std::string_view statement);

// "Model statement {number} cannot be read: {what is wrong}: {beginning}",
// the statement shown like the beginning above (first 40 bytes, "..." when
// there is more), and so is every piece of it named in between. What is
// wrong, by the kind of misreading (the atom as {atom}):
// - the argument lists that no pattern reads: "the atom {atom} {fault}; the
//   arguments of an atom can only be words (letters, digits and '_')
//   separated by commas", the fault one of "holds a nested term", "is not
//   closed before the statement ends", "has an empty argument list" (a list
//   of blanks too) and "holds the character '{character}'";
// - a misspelt declaration keyword: "the word {word} stands where a
//   declaration has its keyword, source(...) or target(...)";
// - arguments the solver cannot read, each ending "; the arguments of an atom
//   are names, variables or whole numbers, separated by commas": "the atom
//   {atom} has an empty argument", "... holds the argument '{argument}',
//   which is two words without a comma between them", "... holds the argument
//   '{argument}', which begins with a digit but is no whole number";
// - the shapes of a rule that the rule pattern reads as something else than
//   written, each saying what would be read and how to write it.
std::string cannot_read(std::size_t number, const Misreading& misreading, std::string_view statement);

// The stops of solving an answer-set program. Each is followed by ": " and the
// description of the solver's error where the solver reported one.
std::string_view clingo_control_failed();        // "Failed creating Clingo control."
std::string_view clingo_add_failed();            // "Failed to add ASP to Clingo."
std::string_view clingo_ground_failed();         // "Failed to ground the ASP with Clingo."
std::string_view clingo_solve_handle_failed();   // "Failed retrieving solve handle from Clingo control."
std::string_view clingo_resume_failed();         // "Failed resume on solve handle."
std::string_view clingo_positive_symbols_failed();       // "Failed to retrieve positive symbols in the model."
std::string_view clingo_complementary_symbols_failed();  // "Failed to retrieve complementary symbols in the model."
std::string_view clingo_close_failed();          // "Failed to close solve handle."
// A compile in a process forked while another thread of its parent was inside
// the solver library: the library's locks may be held there for good.
std::string_view forked_during_solver_call();
// "Error: {}": the next model could not be had; the solver error's description
// in place of the placeholder.
std::string clingo_model_failed(std::string_view description);

// A ProbGradient model compiled with a batch width other than 1:
// "ProbGradient does not support batching (value_size must be 1, got {})".
std::string prob_gradient_batching(std::size_t value_size);

// A writer asked for a name that is no source's atom: "Source '{}' not found".
std::string source_not_found(std::string_view name);

// The internal-error stop of a branch that a parsed model cannot reach.
std::string_view unreachable();  // "internal error: entered unreachable code"

}  // namespace tallo::messages
