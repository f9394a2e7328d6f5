#pragma once

// Leaf: one input of a reactive circuit. Category: a leaf and its complement.
//
// A leaf holds its value in its semiring's encoding, the estimate of how
// often that value changes, and the nodes to recompute when it does.
//
// Guarantees:
// - `dependencies` is a `std::vector` kept ascending, each node index once;
//   the circuit recomputes it, and `ReactiveCircuit::update_leaf` only reads
//   it.
// - A signal changes a leaf only through `ReactiveCircuit::update_leaf`
//   (circuit/reactive_circuit.h), which owns the change test, the estimate
//   and the marking of dependencies.
// - A value's length is not checked against the circuit's `value_size`; the
//   evaluation that reads it decides.
// - Nothing here locks. Construction touches no shared state.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/vector.h"
#include "circuit/semiring.h"
#include "tracking/foc_estimator.h"

namespace tallo {

// The name of the complement of the leaf or literal named `name`: "-{}".
inline std::string complement_name(std::string_view name) { return "-" + std::string(name); }

struct Leaf {
    Vector value;  // in the semiring's encoding; shared, copy-on-write
    FoCEstimator estimator;
    std::string name;  // need not be unique
    double frequency;  // the latest estimate; the initial timestamp until the first change
    std::uint32_t index;  // the position in the circuit's `leafs` (given by its `add_leaf`); seed slot 1 + index
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

// Compiled once per semiring, in circuit/leaf.cpp.
#define TALLO_CATEGORY_TEMPLATES(S, extern_) extern_ template struct Category<S>;

namespace tallo {
TALLO_FOR_EACH_SEMIRING(TALLO_CATEGORY_TEMPLATES, extern)
}  // namespace tallo
