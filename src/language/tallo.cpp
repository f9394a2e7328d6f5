// The model's member bodies, compiled here once for every semiring.
#include "language/tallo.h"

#include <algorithm>
#include <span>
#include <unordered_set>
#include <utility>

#include "base/cancelled.h"
#include "base/fork_gate.h"
#include "base/messages.h"
#include "base/panic.h"
#include "circuit/leaf.h"
#include "circuit/messages.h"
#include "language/asp.h"
#include "language/compile_steps.h"
#include "language/matching.h"
#include "language/messages.h"
#include "language/model_statements.h"

namespace tallo {

std::optional<Error> compile_refused_here() {
    if (forked_inside_a_section()) return Error{std::string(messages::forked_during_solver_call())};
    return std::nullopt;
}

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
    compiled.clauses_ = std::move(statements.clauses);
    compiled.sources_ = std::move(statements.sources);
    compiled.categorical_sources_ = std::move(statements.categorical_sources);
    compiled.targets_ = std::move(statements.targets);

    if (verbose) verbose::print_model(model);

    compiled.create_source_leaves();
    compiled.create_categorical_leaves();
    compiled.create_ground_head_causes();
    if (verbose) verbose::print_setup(compiled.manager_.circuit().lock()->leafs().size());
    if (compiled.targets_.empty()) return compiled;

    const Target& target = compiled.targets_.front();
    const std::string program = build_asp_program(compiled.sources_, compiled.categorical_sources_, compiled.clauses_,
                                                  compiled.comparisons_, target);
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
std::size_t Tallo<S>::create_leaf(std::string name, double probability) {
    return manager_.create_leaf(std::move(name), slots_of(probability));
}

template <class S>
Vector Tallo<S>::slots_of(double probability) const {
    return Vector(value_size(), probability);
}

template <class S>
void Tallo<S>::create_source_leaves() {
    for (const Source& source : sources_) {
        switch (source.dtype) {
            case DataType::Probability:
            case DataType::Boolean: {
                const std::size_t a = create_leaf(source.atom, 0.0);
                const std::size_t b = create_leaf(complement_name(source.atom), 1.0);
                manager_.read_dual(a, b, source.topic);
                break;
            }
            case DataType::Density:
            case DataType::Number: {
                std::vector<ComparisonEntry> entries;
                for (ComparisonLiteral& comparison : distinct_comparisons(source.atom, clauses_)) {
                    const std::size_t a = create_leaf(comparison.name, 0.0);
                    const std::size_t b = create_leaf(complement_name(comparison.name), 1.0);
                    manager_.read_dual(a, b, comparison.name);
                    entries.push_back({comparison.threshold, comparison.op == '>', std::move(comparison.name)});
                }
                comparisons_.insert_or_assign(source.atom, std::move(entries));
                break;
            }
            case DataType::Categorical:
                stop(messages::unreachable());
        }
    }
}

template <class S>
void Tallo<S>::create_categorical_leaves() {
    for (const CategoricalSource& source : categorical_sources_) {
        std::vector<std::size_t> leaves;
        leaves.reserve(source.categories.size());
        for (const std::string& category : source.categories) leaves.push_back(create_leaf(category, 0.0));
        manager_.read_categorical(source.topic, std::move(leaves));
    }
}

// The cause and its complement, built as a category so that the complement is
// the semiring's own, then re-created in the circuit from probability space.
template <class S>
void Tallo<S>::create_cause_pair(const std::string& cause, double probability, const std::string& group) {
    const Category<S> category = Category<S>::create(cause, slots_of(probability));
    for (const Leaf& leaf : category.leafs) manager_.create_leaf(leaf.name, S::decode(leaf.value));
    parameter_groups_[group].push_back(cause);
}

template <class S>
void Tallo<S>::create_ground_head_causes() {
    CauseCounters counters;
    for (const Clause& clause : clauses_) {
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
    for (const Clause& clause : clauses_) {
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
// with 1.0, and the circuit's `value_size` becomes the leaf count + 1 (its
// batch width stays 1). The values are written as they are: no change test,
// no estimate, nothing marked dirty. Compile seeds before it adds the
// products, as the circuit requires. The other semirings have nothing to seed.
template <class S>
void Tallo<S>::seed_gradients() {
    if constexpr (S::tag == SemiringTag::ProbGradient) manager_.circuit().lock()->seed_gradients();
}

// One product term per clause, handed to the circuit a chunk of the normal
// form at a time; each chunk is freed once the circuit holds its terms, so
// the form and the circuit's terms never both exist whole. The chunks go in
// clause order under one target, which builds the node that one call with
// all terms would build; an empty form still gives the target its node.
template <class S>
void Tallo<S>::add_products(Dnf& dnf, const std::string& topic, const std::stop_token& cancel) {
    const ProductTerms terms(dnf, manager_.get_index_map());
    std::vector<std::vector<std::uint32_t>> batch;
    if (dnf.empty()) {
        manager_.circuit().lock()->add_sum_product(batch, topic);
        return;
    }
    dnf.drain([&](const std::vector<std::span<const Dnf::LiteralId>>& clauses) {
        throw_if_cancelled(cancel);
        batch.clear();
        for (const std::span<const Dnf::LiteralId> clause : clauses) batch.push_back(terms.of(clause));
        manager_.circuit().lock()->add_sum_product(batch, topic);
    });
}

template <class S>
std::vector<ComparisonTarget> Tallo<S>::comparison_targets(const std::string& atom) const {
    std::vector<ComparisonTarget> targets;
    const auto entries = comparisons_.find(atom);
    if (entries == comparisons_.end()) return targets;
    for (const ComparisonEntry& entry : entries->second) {
        std::optional<IpcSender> sender = manager_.registered_sender(entry.name);
        if (!sender) continue;
        targets.push_back(ComparisonTarget{entry.threshold, entry.is_greater, std::move(*sender)});
    }
    return targets;
}

template <class S>
Result<TypedWriter> Tallo<S>::make_writer_for(std::string_view source_name) {
    const auto source = std::find_if(sources_.begin(), sources_.end(),
                                     [source_name](const Source& s) { return s.atom == source_name; });
    if (source == sources_.end()) return Error{messages::source_not_found(source_name)};
    switch (source->dtype) {
        case DataType::Probability:
            return TypedWriter{TypedWriter::Probability{IpcWriter(manager_.get_or_create_sender(source->topic))}};
        case DataType::Boolean:
            return TypedWriter{TypedWriter::Boolean{IpcWriter(manager_.get_or_create_sender(source->topic))}};
        case DataType::Density:
            return TypedWriter{TypedWriter::Density{IpcDensityWriter(comparison_targets(source->atom))}};
        case DataType::Number:
            return TypedWriter{TypedWriter::Number{comparison_targets(source->atom)}};
        case DataType::Categorical:
            break;
    }
    stop(messages::unreachable());
}

TALLO_FOR_EACH_SEMIRING(TALLO_MODEL_TEMPLATES, )

}  // namespace tallo
