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
// and the model's and the circuit's `value_size` become the leaf count + 1.
//
// Guarantees:
// - A stop during compile drops everything built so far; no model results.
//   So does a cancellation: a stop requested through compile's token ends it
//   with `Cancelled` (base/cancelled.h) at the next step, model or chunk of
//   product terms; grounding, which the solver cannot break off, runs to its
//   end first.
// - After compile the statement lists, `comparisons` and `parameter_groups`
//   do not change; `manager` owns the shared circuit and the senders, which
//   writers reach only through `make_writer_for` (or the manager).
// - No lock of its own: the owner serialises calls. compile takes the
//   circuit's lock only for short spans and holds no other lock meanwhile.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/cancelled.h"
#include "base/messages.h"
#include "base/panic.h"
#include "base/result.h"
#include "base/vector.h"
#include "channels/ipc.h"
#include "channels/manager.h"
#include "circuit/leaf.h"
#include "circuit/messages.h"
#include "circuit/reactive_circuit.h"
#include "circuit/semiring.h"
#include "language/asp.h"
#include "language/asp_program.h"
#include "language/compile_steps.h"
#include "language/matching.h"
#include "language/messages.h"
#include "language/model_statements.h"
#include "language/rules.h"
#include "language/statements.h"
#include "language/typed_writer.h"

namespace tallo {

template <class S>
class Tallo {
public:
    std::vector<Clause> clauses;
    std::vector<Source> sources;
    std::vector<CategoricalSource> categorical_sources;
    std::vector<Target> targets;  // only the first is compiled
    Manager<S> manager;
    ComparisonTable comparisons;  // key: the atom of a Density or Number source
    // key: "{head predicate}#{cause number}"; value: the positive cause leaves
    // that share one probability, in creation order
    std::unordered_map<std::string, std::vector<std::string>> parameter_groups;
    std::size_t value_size;

    // Compiles `model` with the batch width `value_size`; every failure stops.
    static Tallo compile(std::string_view model, std::uint32_t value_size, bool verbose,
                         std::stop_token cancel = {});

    // The writer of the first source whose atom is `source_name`, or the
    // error "Source '{}' not found". A numeric source's writer feeds every
    // comparison of that atom that has a registered channel.
    Result<TypedWriter> make_writer_for(std::string_view source_name);

private:
    explicit Tallo(SharedCircuit<S> circuit) : manager(std::move(circuit)), value_size(1) {}

    // A leaf of `value_size` slots, each `probability`.
    std::size_t create_leaf(std::string name, double probability) {
        return manager.create_leaf(std::move(name), slots_of(probability));
    }
    Vector slots_of(double probability) const;
    void create_source_leaves();
    void create_categorical_leaves();
    void create_cause_pair(const std::string& cause, double probability, const std::string& group);
    void create_ground_head_causes();
    void create_variable_head_causes(const Dnf& dnf);
    void seed_gradients();
    void add_products(Dnf& dnf, const std::string& topic, const std::stop_token& cancel);
    std::vector<ComparisonTarget> comparison_targets(const std::string& atom) const;
};

template <class S>
Tallo<S> Tallo<S>::compile(std::string_view model, std::uint32_t value_size, bool verbose, std::stop_token cancel) {
    if constexpr (S::tag == SemiringTag::ProbGradient) {
        if (value_size != 1) stop(messages::prob_gradient_batching(value_size));
    }
    // A batch width of 0 would leave every leaf value empty and every later
    // signal of one slot at odds with them; refuse it before anything exists.
    if (value_size == 0) stop(messages::value_size_zero());

    Tallo compiled(SharedCircuit<S>::make(value_size));
    ModelStatements statements = parse_model(model);
    compiled.clauses = std::move(statements.clauses);
    compiled.sources = std::move(statements.sources);
    compiled.categorical_sources = std::move(statements.categorical_sources);
    compiled.targets = std::move(statements.targets);

    compiled.value_size = value_size;
    if (verbose) verbose::print_model(model);

    compiled.create_source_leaves();
    compiled.create_categorical_leaves();
    compiled.create_ground_head_causes();
    if (verbose) verbose::print_setup(compiled.manager.circuit.lock()->leafs().size());
    if (compiled.targets.empty()) return compiled;

    const Target& target = compiled.targets.front();
    const std::string program = build_asp_program(compiled.sources, compiled.categorical_sources, compiled.clauses,
                                                  compiled.comparisons, target);
    if (verbose) print_asp_program(target, program);
    throw_if_cancelled(cancel);
    Dnf dnf = asp::solve(program, verbose, cancel);
    dnf.remove(target.atom);
    if (verbose) verbose::print_solved(dnf.size());

    compiled.create_variable_head_causes(dnf);
    compiled.seed_gradients();
    compiled.add_products(dnf, target.topic, cancel);
    return compiled;
}

template <class S>
Vector Tallo<S>::slots_of(double probability) const {
    try {
        return Vector(value_size, probability);
    } catch (const std::bad_alloc&) {
        stop(messages::allocation_failed(value_size * sizeof(double)));
    }
}

template <class S>
void Tallo<S>::create_source_leaves() {
    for (const Source& source : sources) {
        switch (source.dtype) {
            case DataType::Probability:
            case DataType::Boolean: {
                const std::size_t a = create_leaf(source.atom, 0.0);
                const std::size_t b = create_leaf(complement_name(source.atom), 1.0);
                manager.read_dual(a, b, source.topic);
                break;
            }
            case DataType::Density:
            case DataType::Number: {
                std::vector<ComparisonEntry> entries;
                for (ComparisonLiteral& comparison : distinct_comparisons(source.atom, clauses)) {
                    const std::size_t a = create_leaf(comparison.name, 0.0);
                    const std::size_t b = create_leaf(complement_name(comparison.name), 1.0);
                    manager.read_dual(a, b, comparison.name);
                    entries.push_back({comparison.threshold, comparison.op == '>', std::move(comparison.name)});
                }
                comparisons.insert_or_assign(source.atom, std::move(entries));
                break;
            }
            case DataType::Categorical:
                stop(messages::unreachable());
        }
    }
}

template <class S>
void Tallo<S>::create_categorical_leaves() {
    for (const CategoricalSource& source : categorical_sources) {
        std::vector<std::size_t> leaves;
        leaves.reserve(source.categories.size());
        for (const std::string& category : source.categories) leaves.push_back(create_leaf(category, 0.0));
        manager.read_categorical(source.topic, std::move(leaves));
    }
}

// The cause and its complement, built as a category so that the complement is
// the semiring's own, then re-created in the circuit from probability space.
template <class S>
void Tallo<S>::create_cause_pair(const std::string& cause, double probability, const std::string& group) {
    const Category<S> category = Category<S>::create(cause, slots_of(probability));
    for (const Leaf& leaf : category.leafs) manager.create_leaf(leaf.name, S::decode(leaf.value));
    parameter_groups[group].push_back(cause);
}

template <class S>
void Tallo<S>::create_ground_head_causes() {
    CauseCounters counters;
    for (const Clause& clause : clauses) {
        if (!clause.probability || matching::has_variable_arg(clause.atom)) continue;
        const std::uint32_t k = counters.next(clause.atom);
        create_cause_pair(matching::cause_atom_name(clause.atom, k), *clause.probability,
                          parameter_group_key(clause.atom, k));
    }
}

// A variable head's causes are named by the solver: each ground instance of
// the cause atom that the solution mentions becomes a pair of leaves.
template <class S>
void Tallo<S>::create_variable_head_causes(const Dnf& dnf) {
    struct Cause {
        double probability;
        std::string group;
    };
    std::unordered_map<std::string, Cause> causes;  // key: the cause atom's base name
    CauseCounters counters;
    for (const Clause& clause : clauses) {
        if (!clause.probability || !matching::has_variable_arg(clause.atom)) continue;
        const std::uint32_t k = counters.next(clause.atom);
        causes.insert_or_assign(matching::cause_atom_base_name(clause.atom, k),
                                Cause{*clause.probability, parameter_group_key(clause.atom, k)});
    }
    if (causes.empty()) return;

    // Each literal is looked at once, at its first occurrence; `seen` joins
    // the literals of one atom (x, -x, --x).
    std::vector<bool> met(dnf.literal_count());
    std::unordered_set<std::string> seen;
    dnf.for_each_clause([&](std::span<const Dnf::LiteralId> literals) {
        for (const Dnf::LiteralId literal : literals) {
            if (met[literal]) continue;
            met[literal] = true;
            std::string_view atom = dnf.text(literal);
            while (atom.starts_with('-')) atom.remove_prefix(1);
            // A base holds no '(', so the atom matches the base before its '(' or none.
            const auto found = causes.find(std::string(matching::predicate_of(atom)));
            if (found == causes.end() || !seen.emplace(atom).second) continue;
            create_cause_pair(std::string(atom), found->second.probability, found->second.group);
        }
    });
}

// ProbGradient: every leaf gets one derivative slot per leaf, its own seeded
// with 1.0. The values are written as they are: no change test, no estimate,
// nothing marked dirty. The other semirings only take the lock.
template <class S>
void Tallo<S>::seed_gradients() {
    if constexpr (S::tag != SemiringTag::ProbGradient) {
        (void)manager.circuit.lock();
    } else {
        const std::size_t n = manager.circuit.lock()->leafs().size();
        value_size = n + 1;
        manager.circuit.lock()->seed_gradients();
    }
}

// One product term per clause, handed to the circuit a chunk of the normal
// form at a time; each chunk is freed once the circuit holds its terms, so
// the form and the circuit's terms never both exist whole. The chunks go in
// clause order under one target, which builds the node that one call with
// all terms would build; an empty form still gives the target its node.
template <class S>
void Tallo<S>::add_products(Dnf& dnf, const std::string& topic, const std::stop_token& cancel) {
    const ProductTerms terms(dnf, manager.get_index_map());
    std::vector<std::vector<std::uint32_t>> batch;
    if (dnf.empty()) {
        manager.circuit.lock()->add_sum_product(batch, topic);
        return;
    }
    dnf.drain([&](const std::vector<std::span<const Dnf::LiteralId>>& clauses) {
        throw_if_cancelled(cancel);
        batch.clear();
        for (const std::span<const Dnf::LiteralId> clause : clauses) batch.push_back(terms.of(clause));
        manager.circuit.lock()->add_sum_product(batch, topic);
    });
}

template <class S>
std::vector<ComparisonTarget> Tallo<S>::comparison_targets(const std::string& atom) const {
    std::vector<ComparisonTarget> targets;
    const auto entries = comparisons.find(atom);
    if (entries == comparisons.end()) return targets;
    for (const ComparisonEntry& entry : entries->second) {
        const auto sender = manager.senders.find(entry.name);
        if (sender == manager.senders.end()) continue;
        targets.push_back(ComparisonTarget{entry.threshold, entry.is_greater, sender->second.duplicate()});
    }
    return targets;
}

template <class S>
Result<TypedWriter> Tallo<S>::make_writer_for(std::string_view source_name) {
    const auto source = std::find_if(sources.begin(), sources.end(),
                                     [source_name](const Source& s) { return s.atom == source_name; });
    if (source == sources.end()) return Error{messages::source_not_found(source_name)};
    switch (source->dtype) {
        case DataType::Probability:
            return TypedWriter{TypedWriter::Probability{IpcWriter(manager.get_or_create_sender(source->topic))}};
        case DataType::Boolean:
            return TypedWriter{TypedWriter::Boolean{IpcWriter(manager.get_or_create_sender(source->topic))}};
        case DataType::Density:
            return TypedWriter{TypedWriter::Density{IpcDensityWriter(comparison_targets(source->atom))}};
        case DataType::Number:
            return TypedWriter{TypedWriter::Number{comparison_targets(source->atom)}};
        case DataType::Categorical:
            break;
    }
    stop(messages::unreachable());
}

}  // namespace tallo

// Compiled once per semiring, in language/instantiations.cpp.
#define TALLO_MODEL_TEMPLATES(S, extern_) extern_ template class Tallo<S>;

namespace tallo {
TALLO_FOR_EACH_SEMIRING(TALLO_MODEL_TEMPLATES, extern)
}  // namespace tallo
