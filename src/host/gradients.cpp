#include "host/gradients.h"

#include <cstdint>
#include <unordered_set>
#include <utility>

#include "base/messages.h"
#include "base/panic.h"
#include "circuit/leaf.h"
#include "circuit/reactive_circuit.h"

namespace tallo::gradients {

namespace {

using Pending = std::vector<std::pair<std::uint32_t, double>>;

// The probability a leaf holds: the first slot of its dual number.
double probability_of(const Leaf& leaf) {
    if (leaf.value.empty()) stop(messages::index_out_of_bounds(0, 0));
    return leaf.value[0];
}

// p - step, clamped into [0, 1]; a NaN passes both comparisons unchanged.
double stepped(double p, double step) {
    double u = p - step;
    if (u < 0.0) u = 0.0;
    if (u > 1.0) u = 1.0;
    return u;
}

// The selection of `names`, or none when every name is selected.
std::optional<std::unordered_set<std::string>> selection(const std::optional<std::vector<std::string>>& names) {
    if (!names) return std::nullopt;
    return std::unordered_set<std::string>(names->begin(), names->end());
}

bool selected(const std::optional<std::unordered_set<std::string>>& selection, const std::string& name) {
    return !selection || selection->contains(name);
}

// Each pending probability as a host would write it, in the circuit's one
// batch slot; the leaf pads it to a dual number of `value_size` slots.
void apply(ReactiveCircuit<ProbGradient>& circuit, const Pending& pending, double timestamp) {
    for (const auto& [leaf, probability] : pending) {
        circuit.update_leaf(leaf, Vector(circuit.batch_width(), probability), timestamp);
    }
}

}  // namespace

Unpacked unpack_gradients(const std::unordered_map<std::string, Vector>& result, const std::vector<Leaf>& leafs) {
    const std::size_t n = leafs.size();
    Unpacked unpacked;
    for (const auto& [token, value] : result) {
        if (value.size() != n + 1) continue;
        Derivatives derivatives;
        derivatives.reserve(n);
        for (std::size_t i = 0; i < n; ++i) derivatives.insert_or_assign(leafs[i].name, value[1 + i]);
        unpacked.insert_or_assign(token, TargetGradients{value[0], std::move(derivatives)});
    }
    return unpacked;
}

Unpacked gradient_update(ReactiveCircuit<ProbGradient>& circuit) {
    return unpack_gradients(circuit.update(), circuit.leafs());
}

Unpacked full_gradient_update(ReactiveCircuit<ProbGradient>& circuit) {
    circuit.invalidate();
    return gradient_update(circuit);
}

void fit(ReactiveCircuit<ProbGradient>& circuit, const Derivatives& gradients, double lr, double loss,
         const std::optional<std::vector<std::string>>& atoms, double timestamp) {
    const double t = lr * loss;
    const auto chosen = selection(atoms);
    Pending pending;
    for (std::uint32_t i = 0; i < circuit.leafs().size(); ++i) {
        const Leaf& leaf = circuit.leafs()[i];
        if (!selected(chosen, leaf.name)) continue;
        auto derivative = gradients.find(leaf.name);
        if (derivative == gradients.end()) continue;
        pending.emplace_back(i, stepped(probability_of(leaf), t * derivative->second));
    }
    apply(circuit, pending, timestamp);
}

void fit_parameters(ReactiveCircuit<ProbGradient>& circuit,
                    const std::unordered_map<std::string, std::vector<std::string>>& parameter_groups,
                    const Derivatives& gradients, double lr, double loss,
                    const std::optional<std::vector<std::string>>& parameters, double timestamp) {
    const double f = lr * loss;
    std::unordered_map<std::string, std::uint32_t> index;
    for (std::uint32_t i = 0; i < circuit.leafs().size(); ++i) index.insert_or_assign(circuit.leafs()[i].name, i);

    const auto chosen = selection(parameters);
    Pending pending;
    for (const auto& [key, names] : parameter_groups) {
        if (!selected(chosen, key) || names.empty()) continue;
        double g = -0.0;
        for (const std::string& name : names) {
            if (auto derivative = gradients.find(name); derivative != gradients.end()) g += derivative->second;
        }
        auto first = index.find(names.front());
        if (first == index.end()) continue;
        const double u = stepped(probability_of(circuit.leafs()[first->second]), g * f);
        const double c = 1.0 - u;
        for (const std::string& name : names) {
            if (auto leaf = index.find(name); leaf != index.end()) pending.emplace_back(leaf->second, u);
            if (auto complement = index.find(complement_name(name)); complement != index.end()) {
                pending.emplace_back(complement->second, c);
            }
        }
    }
    apply(circuit, pending, timestamp);
}

namespace {

// The leaf names of the source named by `key`, in stored order.
std::vector<std::string> source_leaf_names(std::string_view key, const std::vector<Source>& sources,
                                           const std::vector<CategoricalSource>& categorical_sources,
                                           const ComparisonTable& comparisons) {
    for (const Source& source : sources) {
        if (source.atom != key && source.topic != key) continue;
        switch (source.dtype) {
            case DataType::Probability:
            case DataType::Boolean:
                return {source.atom};
            case DataType::Density:
            case DataType::Number: {
                std::vector<std::string> names;
                if (auto entries = comparisons.find(source.atom); entries != comparisons.end()) {
                    for (const ComparisonEntry& entry : entries->second) names.push_back(entry.name);
                }
                return names;
            }
            case DataType::Categorical:  // parsed sources never hold it; categories are their own statements
                return {};
        }
    }
    for (const CategoricalSource& source : categorical_sources) {
        if (source.topic == key) return source.categories;
    }
    return {};
}

}  // namespace

Derivatives source_gradients(const Derivatives& gradients, std::string_view key, const std::vector<Source>& sources,
                             const std::vector<CategoricalSource>& categorical_sources,
                             const ComparisonTable& comparisons) {
    Derivatives picked;
    for (const std::string& name : source_leaf_names(key, sources, categorical_sources, comparisons)) {
        if (auto derivative = gradients.find(name); derivative != gradients.end()) picked.insert(*derivative);
    }
    return picked;
}

}  // namespace tallo::gradients
