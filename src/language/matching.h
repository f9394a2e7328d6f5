#pragma once

// Statement splitting and the naming functions of the rule language. Every
// generated name (comparison atoms, cause atoms) has its one definition here;
// the answer-set program and the compiled model's leaves and channels use the
// same functions, so their names always agree.
//
// Terms:
// - the predicate of an atom is its text before the first '(', or the whole
//   text when it has none;
// - a variable argument begins with a Unicode uppercase letter; an empty
//   argument or one that begins with '_', a digit or a lowercase letter is a
//   constant.
//
// Pure functions; safe on any thread.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "language/statements.h"

namespace tallo::matching {

// The statements of a pre-processed model text, each trimmed and ending with
// its '.'. A '.' ends a statement unless an ASCII digit follows it (so 0.25
// stays inside its statement); text after the last statement end is dropped.
std::vector<std::string> split_statements(std::string_view text);

// The predicate of an atom.
std::string_view predicate_of(std::string_view atom);

// The predicates of the atoms of all sources, whatever their data type.
std::set<std::string, std::less<>> source_predicates(const std::vector<Source>& sources);

// True when the argument is a variable: it begins with an uppercase letter.
bool is_variable(std::string_view argument);

// The trimmed arguments strictly between the first '(' and the last ')', split
// at every ',' (empty pieces kept); nothing when the atom lacks either
// parenthesis. Stops with messages::bad_slice when the last ')' comes before
// the first '('.
std::optional<std::vector<std::string>> args_of(std::string_view atom);

// True when some argument (the text after the first '(' up to the last
// character, split at ',' and trimmed) is a variable; for an atom without '(',
// true when the atom itself begins with an uppercase letter. Stops with
// messages::bad_slice when the first '(' is the last character.
bool has_variable_arg(std::string_view atom);

// Every character that is neither alphabetic nor numeric becomes '_', then
// leading and trailing '_' are removed: temp(a, b) gives temp_a__b.
std::string sanitize(std::string_view text);

// The threshold as the shortest decimal text that reads back as the same
// double, without exponent and without a fractional part when integral, with
// '.' replaced by '_': 30 gives "30", 30.5 "30_5", 0.25 "0_25". From 2^53 on
// the shortest digits are padded with zeros: 1e23 gives
// "100000000000000000000000", not the binary value's exact digits.
//
// A negative threshold writes its minus sign as the letter 'm': -2 gives "m2",
// -0.5 "m0_5". A '-' inside a name would split the comparison into two body
// literals and is not allowed inside an atom of the answer-set program, while
// "m" keeps every comparison name one identifier; no non-negative threshold
// text begins with 'm', so the names of different thresholds never meet.
std::string threshold_text(double threshold);

// "{sanitized atom}_{lt|gt}_{threshold text}": temp(kitchen), '>', 30.5 give
// temp_kitchen_gt_30_5. "lt" for '<', "gt" for any other operator.
std::string canonical_comparison_name(std::string_view atom, char op, double threshold);

// "tallo_{predicate}_{lt|gt}_{threshold text}", the predicate as given:
// temp, '>', 30.5 give tallo_temp_gt_30_5.
std::string parameterized_comparison_predicate(std::string_view predicate, char op, double threshold);

// "{sanitized atom}_cause_{k}": fire(kitchen), 1 give fire_kitchen_cause_1.
std::string cause_atom_name(std::string_view atom, std::uint32_t k);

// "{sanitized predicate}_cause_{k}": hot(X), 0 give hot_cause_0.
std::string cause_atom_base_name(std::string_view atom, std::uint32_t k);

// The literals of a rule body: the text of every literal match, in order and
// unchanged; whatever lies between them is dropped.
std::vector<std::string> get_literals(std::string_view body);

}  // namespace tallo::matching
