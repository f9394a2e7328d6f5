#pragma once

// Leaf: one input of a reactive circuit. Category: a leaf and its complement.
//
// A leaf holds its value in its semiring's encoding, the estimate of how
// often that value changes, and the nodes to recompute when it does.
//
// Guarantees:
// - `dependencies` is a `std::vector` kept ascending, each node index once;
//   the circuit recomputes it, and `leaf::update` only reads it.
// - `leaf::update` is the only way a signal changes a leaf. A value that the
//   change test finds unchanged costs one encoding and one comparison and
//   touches nothing else: not the value, the estimator, the frequency or the
//   dirty set.
// - An accepted change stores the value first, then asks the estimator (a
//   stop there leaves the new value stored and no node marked), then marks
//   every dependency dirty.
// - A value's length is not checked against the circuit's `value_size`; the
//   evaluation that reads it decides.
// - Nothing here locks: `leaf::update` runs under the circuit's mutex, held by
//   its caller. Construction touches no shared state.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/messages.h"
#include "base/panic.h"
#include "base/vector.h"
#include "circuit/semiring.h"
#include "tracking/foc_estimator.h"

namespace tallo {

template <class S>
class ReactiveCircuit;

// The name of the complement of the leaf or literal named `name`: "-{}".
inline std::string complement_name(std::string_view name) { return "-" + std::string(name); }

struct Leaf {
    Vector value;  // in the semiring's encoding; shared, copy-on-write
    FoCEstimator estimator;
    std::string name;  // need not be unique
    double frequency;  // the latest estimate; the initial timestamp until the first change
    std::uint32_t index;  // the position in the circuit's `leafs`; the seed slot 1 + index in ProbGradient
    std::vector<std::uint32_t> dependencies;  // ascending node indices, each once

    // A leaf whose value is the encoding of the probabilities `value`; in
    // ProbGradient the dual number of `value`'s own length with the seed of
    // `index` (a one-element vector has no room for it). Stops on an empty
    // vector in ProbGradient.
    template <class S>
    static Leaf create(Vector value, double initial_timestamp, std::string name, std::uint32_t index) {
        const std::size_t length = value.size();
        Vector encoded = S::encode_leaf_vec(value, length, index);
        return create_encoded(std::move(encoded), initial_timestamp, std::move(name), index);
    }

    // A leaf whose value is `value` itself, taken to be encoded already.
    static Leaf create_encoded(Vector value, double initial_timestamp, std::string name, std::uint32_t index) {
        return Leaf{std::move(value), FoCEstimator(initial_timestamp), std::move(name), initial_timestamp, index, {}};
    }
};

namespace leaf {

// Feeds the probabilities `value`, observed at `timestamp`, into the leaf at
// `position` of `circuit`. In ProbGradient only the first probability counts:
// it is stored as a dual number of at least `value_size` slots with the seed
// of the leaf's own `index`. Stops on a position beyond the leaves (and, in
// ProbGradient, on an empty value, checked first).
template <class S>
void update(ReactiveCircuit<S>& circuit, std::uint32_t position, Vector value, double timestamp) {
    std::size_t length = value.size();
    if constexpr (S::tag == SemiringTag::ProbGradient) {
        if (value.empty()) stop(std::string(messages::array_index_out_of_bounds()));
        length = std::max<std::size_t>(length, circuit.value_size);
    }
    if (position >= circuit.leafs.size()) stop(messages::index_out_of_bounds(circuit.leafs.size(), position));
    Leaf& target = circuit.leafs[position];

    Vector encoded = S::encode_leaf_vec(value, length, target.index);
    if (is_unchanged(target.value, encoded)) return;

    target.value = std::move(encoded);
    target.frequency = target.estimator.update(timestamp);
    circuit.dirty.insert(target.dependencies.begin(), target.dependencies.end());
}

}  // namespace leaf

// A category leaf (position 0) and its complement (position 1, named "-" and
// the category's name). Both start with frequency 0.0 and no dependencies;
// in ProbGradient the complement is a plain 1 - p without a seed.
template <class S>
struct Category {
    std::string name;
    std::vector<Leaf> leafs;

    static Category create(std::string name, const Vector& probabilities) {
        std::vector<Leaf> leafs;
        leafs.reserve(2);
        leafs.push_back(Leaf::create<S>(probabilities, 0.0, name, 0));
        leafs.push_back(Leaf::create_encoded(S::complement(probabilities), 0.0, complement_name(name), 1));
        return Category{std::move(name), std::move(leafs)};
    }
};

}  // namespace tallo
