#pragma once

// Reading derivatives out of a ProbGradient circuit and fitting leaf
// probabilities by gradient steps.
//
// In ProbGradient a target's value is a dual number: slot 0 its probability,
// slot 1 + i its derivative with respect to leaf i. Well formed, it has one
// slot more than the circuit has leaves.
//
// Guarantees:
// - `unpack_gradients` leaves out every target whose value is not well
//   formed (a circuit that gained leaves after its targets were computed);
//   the others are reported. Leaves that share a name give one entry, that
//   of the highest index.
// - The fitting steps compute every new probability from the values as they
//   were before the call, then apply them in order through `update_leaf`,
//   so a value within the change tolerance stays as it was and a changed leaf
//   updates its change frequency and marks its dependent nodes dirty. Nothing
//   is evaluated: the next update shows the effect.
// - A new probability is clamped into [0, 1]; a NaN stays NaN.
// - Names in `gradients` or in the selections that match nothing are ignored.
// - The caller holds the circuit's mutex (and, for a model, the model's
//   first) for the whole call; nothing here locks. `source_gradients` reads
//   only the model's statements and needs the model's mutex alone.
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/vector.h"
#include "circuit/semiring.h"
#include "language/asp_program.h"
#include "language/statements.h"

namespace tallo {

// Declared only: the result types above are all that most users of this
// header need, and they should not have to compile the circuit for them.
template <class S>
class ReactiveCircuit;
struct Leaf;

}  // namespace tallo

namespace tallo::gradients {

// A leaf name to a derivative.
using Derivatives = std::unordered_map<std::string, double>;

struct TargetGradients {
    double probability;
    Derivatives gradients;
};

// A target token to its probability and derivatives by leaf name.
using Unpacked = std::unordered_map<std::string, TargetGradients>;

// The targets of an update result, unpacked by the names of `leafs`.
Unpacked unpack_gradients(const std::unordered_map<std::string, Vector>& result, const std::vector<Leaf>& leafs);

// An update of the dirty nodes, with the recomputed targets unpacked.
Unpacked gradient_update(ReactiveCircuit<ProbGradient>& circuit);

// An update of every node, with every well-formed target unpacked.
Unpacked full_gradient_update(ReactiveCircuit<ProbGradient>& circuit);

// One gradient-descent step on the probabilities of the leaves that have a
// derivative in `gradients` and, unless `atoms` is absent, whose name is in
// `atoms`: p - lr * loss * derivative, each leaf on its own.
void fit(ReactiveCircuit<ProbGradient>& circuit, const Derivatives& gradients, double lr, double loss,
         const std::optional<std::vector<std::string>>& atoms, double timestamp);

// One gradient-descent step per parameter group (a group key to the names of
// the cause leaves that share one probability) selected by `parameters`
// (absent: every group). A group's new probability u is computed from its
// first leaf's probability and the sum of its leaves' derivatives; every leaf
// of the group gets u and every complement ("-" and the name) 1 - u. A group
// whose first leaf does not exist is skipped. When leaves share a name, the
// last of them is the one fitted.
void fit_parameters(ReactiveCircuit<ProbGradient>& circuit,
                    const std::unordered_map<std::string, std::vector<std::string>>& parameter_groups,
                    const Derivatives& gradients, double lr, double loss,
                    const std::optional<std::vector<std::string>>& parameters, double timestamp);

// The entries of `gradients` that belong to the source named by `key`, an
// atom or a channel. The first source statement whose atom or channel is the
// key decides: a Probability or Boolean source gives its atom, a Density or
// Number source its comparisons. Failing that, the first categorical source
// on that channel gives its categories. Complements are never among them.
Derivatives source_gradients(const Derivatives& gradients, std::string_view key, const std::vector<Source>& sources,
                             const std::vector<CategoricalSource>& categorical_sources,
                             const ComparisonTable& comparisons);

}  // namespace tallo::gradients
