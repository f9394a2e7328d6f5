#include "host/shared_model.h"

#include <algorithm>
#include <string_view>

#include "base/ascii.h"
#include "host/messages.h"

namespace tallo::host {

namespace {

// A semiring's name with '_' before every capital but the first, lower-cased:
// "MaxProduct" gives "max_product", a spelling hosts may use besides
// the name run together.
std::string words_joined(std::string_view name) {
    std::string joined;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (i > 0 && name[i] >= 'A' && name[i] <= 'Z') joined += '_';
        joined += name[i];
    }
    return ascii_lower(std::move(joined));
}

template <class S>
std::size_t boolean_width_of(const Tallo<S>& model) {
    constexpr bool one_element_per_slot = S::tag == SemiringTag::Fuzzy || S::tag == SemiringTag::Boolean;
    return one_element_per_slot ? model.circuit().lock()->batch_width() : 1;
}

template <class S>
Result<SourceWriter> with_width(const Tallo<S>& model, Result<TypedWriter> writer) {
    if (!writer) return writer.error();
    return SourceWriter{std::move(writer).value(), boolean_width_of(model)};
}

}  // namespace

Result<SemiringTag> SharedModel::semiring_named(const std::optional<std::string>& name) {
    const std::string folded = ascii_lower(name.value_or(std::string(LogProb::name)));
    for (std::size_t i = 0; i < SemiringTypes::names.size(); ++i) {
        const std::string_view known = SemiringTypes::names[i];
        if (folded == ascii_lower(std::string(known)) || folded == words_joined(known)) {
            return static_cast<SemiringTag>(i);  // a position in the list is its tag
        }
    }
    return Error{messages::unknown_semiring(folded)};
}

SharedModel SharedModel::compile(SemiringTag tag, const std::string& model, std::uint32_t value_size, bool verbose,
                                 std::stop_token cancel) {
    return dispatch(tag, [&]<class S>() {
        return SharedModel(
            Shared<TalloVariant>::make(TalloVariant(Tallo<S>::compile(model, value_size, verbose, cancel))));
    });
}

RCVariant SharedModel::circuit() const {
    return with_model([](auto& model) { return RCVariant(model.circuit()); });
}

void SharedModel::read(std::uint32_t leaf, const std::string& channel, bool invert) const {
    with_model([&](auto& model) { model.read(leaf, channel, invert); });
}

Result<SourceWriter> SharedModel::make_writer(const std::string& channel) const {
    return with_model([&](auto& model) -> Result<SourceWriter> {
        const auto& sources = model.sources();
        const auto source = std::find_if(sources.begin(), sources.end(),
                                         [&](const Source& s) { return s.topic == channel; });
        if (source == sources.end()) return Error{messages::no_source_with_channel(channel)};
        return with_width(model, model.make_writer_for(source->atom));
    });
}

Result<SourceWriter> SharedModel::make_writer_for(const std::string& source_name) const {
    return with_model([&](auto& model) { return with_width(model, model.make_writer_for(source_name)); });
}

Result<TypedWriter> SharedModel::make_categorical_writer(const std::string& channel) const {
    return with_model([&](auto& model) -> Result<TypedWriter> {
        const auto& sources = model.categorical_sources();
        const auto source = std::find_if(sources.begin(), sources.end(),
                                         [&](const CategoricalSource& s) { return s.topic == channel; });
        if (source == sources.end()) return Error{messages::no_categorical_source_with_channel(channel)};
        const std::size_t n_categories = source->categories.size();
        // What the source's reader splits a message by: one entry per
        // category per batch slot (one slot in ProbGradient).
        const std::size_t batch_width = model.circuit().lock()->batch_width();
        IpcWriter writer(model.get_or_create_sender(channel));
        return TypedWriter{TypedWriter::Categorical{std::move(writer), n_categories, batch_width}};
    });
}

Shared<Vector> SharedModel::make_timed_writer(const std::string& channel, double frequency) const {
    return with_model([&](auto& model) { return model.make_timed_writer(channel, frequency); });
}

void SharedModel::stop_timed_writers() const {
    with_model([](auto& model) { model.stop_timed_writers(); });
}

std::vector<std::string> SharedModel::names() const {
    return with_model([](auto& model) { return model.get_names(); });
}

std::vector<double> SharedModel::frequencies() const {
    return with_model([](auto& model) { return model.get_frequencies(); });
}

std::vector<Vector> SharedModel::values() const {
    return with_model([](auto& model) { return model.get_values(); });
}

Result<gradients::Derivatives> SharedModel::source_gradients(const gradients::Derivatives& gradients,
                                                             const std::string& key) const {
    return with_model([&]<class S>(Tallo<S>& model) -> Result<gradients::Derivatives> {
        if constexpr (S::tag != SemiringTag::ProbGradient) {
            return Error{messages::requires_prob_gradient("source_gradients")};
        } else {
            return gradients::source_gradients(gradients, key, model.sources(), model.categorical_sources(),
                                               model.comparisons());
        }
    });
}

ParameterGroups SharedModel::parameter_groups() const {
    return with_model([](auto& model) { return model.parameter_groups(); });
}

std::optional<Error> SharedModel::fit_parameters(const gradients::Derivatives& gradients, double lr, double loss,
                                                 const std::optional<std::vector<std::string>>& parameters,
                                                 double timestamp) const {
    return with_model([&]<class S>(Tallo<S>& model) -> std::optional<Error> {
        if constexpr (S::tag != SemiringTag::ProbGradient) {
            return Error{messages::requires_prob_gradient("fit_parameters")};
        } else {
            gradients::fit_parameters(*model.circuit().lock(), model.parameter_groups(), gradients, lr, loss,
                                      parameters, timestamp);
            return std::nullopt;
        }
    });
}

}  // namespace tallo::host
