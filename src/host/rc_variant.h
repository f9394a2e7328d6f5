#pragma once

// RCVariant: one shared reactive circuit together with the tag of its
// semiring, as a Python `ReactiveCircuit` object holds it.
// for_prob_gradient: how a gradient operation of a circuit or of a model
// (shared_model.h) refuses any semiring but ProbGradient.
//
// Guarantees:
// - The tag always names the semiring of the held handle: it is the handle's
//   position in the variant, fixed at construction and read without any lock.
// - Copies share the one circuit (each copy is one more holder of its handle).
// - Every operation locks the circuit's mutex for its own duration and nothing
//   else; a stop while it is held poisons the circuit, and every later
//   operation stops with the poisoned-mutex text. Operations touch no Python
//   object, so callers run them with the interpreter lock released.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "base/result.h"
#include "base/vector.h"
#include "circuit/reactive_circuit.h"
#include "circuit/semiring.h"
#include "host/gradients.h"
#include "host/messages.h"

namespace tallo::host {

// What f returns given the ProbGradient alternative of `held`, a variant of
// one Of<S> per semiring; when it holds another semiring's, the refusal of
// `operation` with the requires-ProbGradient text, and f is not called. The
// one refusal of every gradient operation of a circuit or a model.
template <template <class> class Of, class Variant, class F>
auto for_prob_gradient(std::string_view operation, Variant& held, F&& f)
    -> decltype(f(std::get<Of<ProbGradient>>(held))) {
    auto* gradient = std::get_if<Of<ProbGradient>>(&held);
    if (!gradient) return Error{messages::requires_prob_gradient(operation)};
    return f(*gradient);
}

using TokenValues = std::unordered_map<std::string, Vector>;
using SumProduct = std::vector<std::vector<std::uint32_t>>;

class RCVariant {
public:
    template <class S>
    explicit RCVariant(SharedCircuit<S> circuit) : handle_(std::move(circuit)) {}

    // A new, empty LogProb circuit (stops on a value_size of 0).
    static RCVariant create(std::uint32_t value_size);

    // A new LogProb circuit of one node built from the rows.
    static RCVariant from_sum_product(std::uint32_t value_size, const SumProduct& sum_product,
                                      const std::string& target_token);

    // The variant's alternatives follow the semiring list, so the position
    // of the held handle is its semiring's tag.
    SemiringTag tag() const noexcept { return static_cast<SemiringTag>(handle_.index()); }

    // Calls f(handle) with the handle of the circuit's semiring.
    template <class F>
    decltype(auto) visit(F&& f) const {
        return dispatch(tag(), [&]<class S>() -> decltype(auto) { return f(std::get<SharedCircuit<S>>(handle_)); });
    }

    // Appends a leaf built from the probabilities; returns its index.
    std::uint32_t add_leaf(Vector probabilities, double initial_timestamp, std::string name) const;

    // Feeds a new value into leaf `index`; an unchanged value marks nothing.
    void update_leaf(std::uint32_t index, Vector value, double timestamp) const;

    void add_sum_product(const SumProduct& sum_product, const std::string& target_token) const;

    // Recomputes the dirty nodes; the decoded values of the recomputed targets.
    TokenValues update() const;

    // Recomputes every node; the decoded values of every target.
    TokenValues full_update() const;

    // ProbGradient circuits only; any other semiring is refused with the
    // method's text and nothing is locked or changed.
    // `update` and `full_update`, with the targets' derivatives by leaf name
    // (gradients.h).
    Result<gradients::Unpacked> gradient_update() const;
    Result<gradients::Unpacked> full_gradient_update() const;
    // One gradient-descent step on the leaves' probabilities (gradients.h).
    std::optional<Error> fit(const gradients::Derivatives& gradients, double lr, double loss,
                             const std::optional<std::vector<std::string>>& atoms, double timestamp) const;

    // Moves leaf `index` one memory edge toward the roots, or away from them.
    void lift_leaf(std::uint32_t index) const;
    void drop_leaf(std::uint32_t index) const;

    // Moves every leaf to the level of its change frequency's bin among
    // `boundaries`, printing the levels.
    void adapt(const std::vector<double>& boundaries) const;

    // The DOT text, or the SVG rendered by Graphviz, into `path` (graphviz.h),
    // with the circuit's mutex held throughout; the first I/O error.
    std::optional<IoError> to_dot(const std::string& path) const;
    std::optional<IoError> to_svg(const std::string& path, bool keep_dot) const;
    std::optional<IoError> to_combined_svg(const std::string& path) const;

private:
    SemiringTypes::map<std::variant, SharedCircuit> handle_;
};

}  // namespace tallo::host
