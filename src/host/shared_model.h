#pragma once

// SharedModel: the handle through which a Python `Tallo` object reaches one
// compiled model, behind the model's mutex, with the operations of the class.
//
// Guarantees:
// - The model is held as the alternative of its semiring in a variant whose
//   alternatives follow the semiring list: its position is the model's tag,
//   inside the model's mutex with the model, and never changes.
// - Every operation holds the model's mutex for its whole duration, and the
//   circuit's mutex (taken after it) only while it reads or changes the
//   circuit. A stop while the model's mutex is held poisons it, so that every
//   later operation stops with the poisoned-mutex text.
// - Operations touch no Python object: callers run them with the interpreter
//   lock released (except `circuit`, which is short and takes no other lock).
// - Refusals the host is meant to see come back as `Error` values with their
//   fixed texts; broken invariants stop.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "base/poisonable.h"
#include "base/result.h"
#include "base/vector.h"
#include "circuit/semiring.h"
#include "host/gradients.h"
#include "host/rc_variant.h"
#include "language/tallo.h"
#include "language/typed_writer.h"

namespace tallo::host {

// A parameter-group key to the names of its cause leaves.
using ParameterGroups = ParameterGroupTable;

// A writer for one source, with the number of slots a boolean write fills:
// 1, except in Fuzzy and Boolean models with more than one batch slot, whose
// leaves take one element per slot and are given that many.
struct SourceWriter {
    TypedWriter writer;
    std::size_t boolean_width;
};

class SharedModel {
public:
    // The semiring named by `name` ("logprob" when absent) after ASCII
    // lower-casing, or the unknown-semiring error with the lower-cased name.
    static Result<SemiringTag> semiring_named(const std::optional<std::string>& name);

    // A new model compiled from `model` in the semiring `tag`, whose mutex this
    // handle is the only holder of, or the refusal of every compile in this
    // process (`compile_refused_here`, language/tallo.h). Every failure of
    // compilation stops; a stop requested through `cancel` ends it with
    // `Cancelled`.
    static Result<SharedModel> compile(SemiringTag tag, const std::string& model, std::uint32_t value_size, bool verbose,
                               std::stop_token cancel = {});

    // A new holder of the model's circuit, with the model's tag.
    RCVariant circuit() const;

    // Starts a reader that feeds `leaf` from a new channel named `channel`.
    void read(std::uint32_t leaf, const std::string& channel, bool invert) const;

    // The writer of the first source whose topic is `channel`.
    Result<SourceWriter> make_writer(const std::string& channel) const;

    // The writer of the first source whose atom is `source_name`.
    Result<SourceWriter> make_writer_for(const std::string& source_name) const;

    // The writer of the first categorical source whose topic is `channel`.
    Result<TypedWriter> make_categorical_writer(const std::string& channel) const;

    // Starts a timed writer on `channel`; the vector it samples.
    Shared<Vector> make_timed_writer(const std::string& channel, double frequency) const;

    void stop_timed_writers() const;

    // Per leaf, in leaf-index order.
    std::vector<std::string> names() const;
    std::vector<double> frequencies() const;
    std::vector<Vector> values() const;  // in probability space

    // The entries of `gradients` for the source that `key` names, an atom or a
    // channel (gradients.h). ProbGradient models only; any other semiring is
    // refused with the "source_gradients" text.
    Result<gradients::Derivatives> source_gradients(const gradients::Derivatives& gradients,
                                                    const std::string& key) const;

    // A copy of the model's parameter groups, in every semiring.
    ParameterGroups parameter_groups() const;

    // One gradient-descent step per selected parameter group, under the
    // model's mutex and then the circuit's (gradients.h). ProbGradient models
    // only; any other semiring is refused with the "fit_parameters" text.
    std::optional<Error> fit_parameters(const gradients::Derivatives& gradients, double lr, double loss,
                                        const std::optional<std::vector<std::string>>& parameters,
                                        double timestamp) const;

private:
    // One alternative per semiring, in the order of the semiring list.
    using Models = SemiringTypes::map<std::variant, Tallo>;

    explicit SharedModel(Shared<Models> model) : model_(std::move(model)) {}

    // Calls f(model) with the model's mutex held.
    template <class F>
    decltype(auto) with_model(F&& f) const {
        auto guard = model_.lock();
        Models& models = *guard;
        return dispatch(static_cast<SemiringTag>(models.index()),
                        [&]<class S>() -> decltype(auto) { return f(std::get<Tallo<S>>(models)); });
    }

    // Calls f(model) with the model's mutex held when it is a ProbGradient
    // model, else refuses `operation` (for_prob_gradient) with it held.
    template <class F>
    auto with_gradient_model(std::string_view operation, F&& f) const {
        auto guard = model_.lock();
        return for_prob_gradient<Tallo>(operation, *guard, std::forward<F>(f));
    }

    Shared<Models> model_;
};

}  // namespace tallo::host
