#pragma once

// Tallo<S>: a compiled model in the semiring S.
//
// `compile` parses a model text, creates every leaf of the model's circuit
// and starts the reader threads that feed them, has the answer-set program of
// the first target solved, creates the cause leaves that the solution names,
// and hands one product term per stable model to the circuit under the first
// target's channel name.
//
// Leaves are created in this order, each value with `value_size` slots:
// 1. per source in model order: a Probability or Boolean source's atom (0.0)
//    and its complement "-atom" (1.0); per distinct comparison of a Density
//    or Number source, its name (0.0) and "-name" (1.0);
// 2. per categorical source, one leaf per category (0.0), no complements;
// 3. per probabilistic clause with a ground head: its cause (p) and "-cause"
//    (the semiring's complement of p);
// 4. after solving, per cause literal of a variable head in order of first
//    occurrence in the solution: the literal (p) and "-literal".
// In ProbGradient every leaf value is then seeded with its derivative slot,
// and the circuit's `value_size` becomes the leaf count + 1; its batch width
// stays 1. The circuit owns both widths; the model and its manager ask it.
//
// Guarantees:
// - A stop during compile drops everything built so far; no model results.
//   So does a cancellation: a stop requested through compile's token ends it
//   with `Cancelled` (base/cancelled.h) at the next step, model or chunk of
//   product terms; grounding, which the solver cannot break off, runs to its
//   end first.
// - After compile the statement lists, `comparisons` and `parameter_groups`
//   do not change, and are read through their const accessors; the model's
//   manager owns the shared circuit and the senders, which writers reach only
//   through `make_writer_for` and the manager's own operations (`channels`).
// - No lock of its own: the owner serialises calls. compile takes the
//   circuit's lock only for short spans and holds no other lock meanwhile.
//
// The member bodies are compiled once per semiring, in language/tallo.cpp.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/poisonable.h"
#include "base/result.h"
#include "base/vector.h"
#include "channels/ipc.h"
#include "channels/manager.h"
#include "circuit/reactive_circuit.h"
#include "circuit/semiring.h"
#include "language/asp_program.h"
#include "language/rules.h"
#include "language/statements.h"
#include "language/typed_writer.h"

namespace tallo {

class Dnf;

// A parameter-group key ("{head predicate}#{cause number}") to the positive
// cause leaves that share one probability, in creation order.
using ParameterGroupTable = std::unordered_map<std::string, std::vector<std::string>>;

// The refusal of every compile in this process, when it has one: a process
// forked while another thread of its parent was inside the solver library
// cannot use the solver (language/clingo_api.h), and this gives
// `messages::forked_during_solver_call()` there. A host asks before it
// compiles, to hand the refusal back as an error; `compile` itself stops with
// the same text.
std::optional<Error> compile_refused_here();

template <class S>
class Tallo {
public:
    // Compiles `model` with the batch width `value_size`; every failure stops.
    static Tallo compile(std::string_view model, std::uint32_t value_size, bool verbose,
                         std::stop_token cancel = {});

    // The writer of the first source whose atom is `source_name`, or the
    // error "Source '{}' not found". A numeric source's writer feeds every
    // comparison of that atom that has a registered channel.
    Result<TypedWriter> make_writer_for(std::string_view source_name);

    const std::vector<Clause>& clauses() const noexcept { return clauses_; }
    const std::vector<Source>& sources() const noexcept { return sources_; }
    const std::vector<CategoricalSource>& categorical_sources() const noexcept { return categorical_sources_; }
    const std::vector<Target>& targets() const noexcept { return targets_; }  // only the first is compiled
    // key: the atom of a Density or Number source
    const ComparisonTable& comparisons() const noexcept { return comparisons_; }
    const ParameterGroupTable& parameter_groups() const noexcept { return parameter_groups_; }

    // The slots of a stored value, as the circuit holds it (leaf count + 1 in
    // a compiled ProbGradient model).
    std::size_t value_size() const { return manager_.value_size(); }

    // The shared circuit of the model's leaves and its target's node.
    const SharedCircuit<S>& circuit() const noexcept { return manager_.circuit(); }

    // The model's channels: its manager (channels/manager.h), the one door
    // through which the host starts readers and timed writers, gets senders
    // and reads the leaves. Its leaf and reader creation for statements is
    // compile's; the manager cannot be replaced (it is not assignable).
    Manager<S>& channels() noexcept { return manager_; }
    const Manager<S>& channels() const noexcept { return manager_; }

private:
    explicit Tallo(SharedCircuit<S> circuit) : manager_(std::move(circuit)) {}

    // A leaf of `value_size` slots, each `probability`.
    std::size_t create_leaf(std::string name, double probability);
    Vector slots_of(double probability) const;
    void create_source_leaves();
    void create_categorical_leaves();
    void create_cause_pair(const std::string& cause, double probability, const std::string& group);
    void create_ground_head_causes();
    void create_variable_head_causes(const Dnf& dnf);
    void seed_gradients();
    void add_products(Dnf& dnf, const std::string& topic, const std::stop_token& cancel);
    std::vector<ComparisonTarget> comparison_targets(const std::string& atom) const;

    std::vector<Clause> clauses_;
    std::vector<Source> sources_;
    std::vector<CategoricalSource> categorical_sources_;
    std::vector<Target> targets_;
    Manager<S> manager_;
    ComparisonTable comparisons_;
    ParameterGroupTable parameter_groups_;
};

}  // namespace tallo

// Compiled once per semiring, in language/tallo.cpp.
#define TALLO_MODEL_TEMPLATES(S, extern_) extern_ template class Tallo<S>;

namespace tallo {
TALLO_FOR_EACH_SEMIRING(TALLO_MODEL_TEMPLATES, extern)
}  // namespace tallo
