#pragma once

// The parts of compiling a model that do not depend on the semiring: which
// comparisons a numeric source gets, the keys of parameter groups, the
// product terms of a disjunctive normal form, and the verbose lines.
//
// Pure functions apart from the prints; safe on any thread.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "language/asp.h"
#include "language/rules.h"
#include "language/statements.h"

namespace tallo {

// The distinct comparisons of the numeric source `atom`, in order of first
// appearance over the clauses: a parameterized comparison contributes its copy
// grounded for the atom when it fits, a ground one itself when its atom is
// `atom` exactly. A name met before is skipped.
std::vector<ComparisonLiteral> distinct_comparisons(std::string_view atom, const std::vector<Clause>& clauses);

// "{predicate}#{k}": the key under which a probabilistic clause with the head
// `head` and cause number k groups its cause leaves.
std::string parameter_group_key(std::string_view head, std::uint32_t k);

// Cause numbers: the k-th probabilistic clause with the same full head text
// gets k. `next` hands out the number for `head` and counts it.
class CauseCounters {
public:
    std::uint32_t next(const std::string& head) { return counters_[head]++; }

private:
    std::unordered_map<std::string, std::uint32_t> counters_;
};

// The text of an atom or literal without the white space outside its quoted
// strings: p(a, b) gives p(a,b), the way the solver writes atoms.
std::string solver_spelling(std::string_view text);

// The product terms of a normal form: per clause, the indices of the leaves
// that its literals name, in literal order; a literal that names no leaf is
// left out. Each distinct literal is looked up once, by its exact text.
//
// The solver writes an atom without the spaces the model may have put in it
// (a source declared as p(a, b) comes back as p(a,b)). A literal that no leaf
// names exactly is therefore looked up once more among the leaves whose names
// are spelled differently by the solver, the first such leaf winning;
// otherwise such a source would silently take no part in the products, and
// a target that depends on it would come out certain.
class ProductTerms {
public:
    ProductTerms(const Dnf& dnf, const std::unordered_map<std::string, std::size_t>& index_map);

    // The product term of a clause of the form given to the constructor.
    std::vector<std::uint32_t> of(std::span<const Dnf::LiteralId> clause) const;

private:
    static constexpr std::int64_t no_leaf = -1;
    std::vector<std::int64_t> leaf_of_;  // by literal id
};

// The product term of every clause, in order.
std::vector<std::vector<std::uint32_t>> product_terms(const Dnf& dnf,
                                                      const std::unordered_map<std::string, std::size_t>& index_map);

namespace verbose {

// "Compiling Tallo from program:" and the model text as passed, each ending
// with a line feed.
void print_model(std::string_view model);

// "Setup {} signals."
void print_setup(std::size_t leaf_count);

// "Solved Tallo into a DNF with {} clauses"
void print_solved(std::size_t clause_count);

}  // namespace verbose
}  // namespace tallo
