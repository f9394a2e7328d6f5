#pragma once

// Solving an answer-set program into a disjunctive normal form.
//
// `asp::solve` hands one program to a fresh solver control, enumerates every
// stable model and returns one clause per model: the model's true atoms as
// they are, then its false atoms with a leading '-', each in the solver's
// order and its syntax (arguments separated by "," without a space). Clauses
// come in the order the solver reports the models.
//
// Every failure stops with the fixed text of the failing step (language
// messages.h), followed by ": " and the solver's own description where it gave
// one. The control is released on every path. Nothing of the solver survives
// a call, and calls share no state of our own.
#include <string>
#include <string_view>
#include <vector>

namespace tallo {

struct Dnf {
    std::vector<std::vector<std::string>> clauses;

    // The literal without its first character when that is '-', else the
    // literal itself. Only one '-' goes: "--x" gives "-x".
    static std::string_view get_variable(std::string_view literal) noexcept;

    // Deletes from every clause every literal whose variable is `variable`,
    // keeping the order of the rest. Clauses left empty stay.
    void remove(std::string_view variable);

    friend bool operator==(const Dnf&, const Dnf&) = default;
};

namespace asp {

// Every stable model of `program`. When `verbose`, prints one line per model,
// "Found stable model: " and the clause as a quoted list.
Dnf solve(std::string_view program, bool verbose);

// The clause as the verbose line shows it: ["rain", "-sunny"], each literal
// in double quotes with '"' and '\' escaped by a backslash and control
// characters escaped.
std::string quoted_list(const std::vector<std::string>& literals);

}  // namespace asp
}  // namespace tallo
