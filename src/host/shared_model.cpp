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

// The first of `sources` whose topic is `channel`, or null.
template <class Statement>
const Statement* with_topic(const std::vector<Statement>& sources, const std::string& channel) {
    const auto found =
        std::find_if(sources.begin(), sources.end(), [&](const Statement& s) { return s.topic == channel; });
    return found == sources.end() ? nullptr : &*found;
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

Result<SharedModel> SharedModel::compile(SemiringTag tag, const std::string& model, std::uint32_t value_size,
                                         bool verbose, std::stop_token cancel) {
    if (std::optional<Error> refused = compile_refused_here()) return *std::move(refused);
    return dispatch(tag, [&]<class S>() {
        return SharedModel(
            Shared<Models>::make(std::in_place_type<Tallo<S>>, Tallo<S>::compile(model, value_size, verbose, cancel)));
    });
}

RCVariant SharedModel::circuit() const {
    return with_model([](auto& model) { return RCVariant(model.circuit()); });
}

void SharedModel::read(std::uint32_t leaf, const std::string& channel, bool invert) const {
    with_model([&](auto& model) { model.channels().read(leaf, channel, invert); });
}

Result<SourceWriter> SharedModel::make_writer(const std::string& channel) const {
    return with_model([&](auto& model) -> Result<SourceWriter> {
        const Source* source = with_topic(model.sources(), channel);
        if (!source) return Error{messages::no_source_with_channel(channel)};
        return with_width(model, model.make_writer_for(source->atom));
    });
}

Result<SourceWriter> SharedModel::make_writer_for(const std::string& source_name) const {
    return with_model([&](auto& model) { return with_width(model, model.make_writer_for(source_name)); });
}

Result<TypedWriter> SharedModel::make_categorical_writer(const std::string& channel) const {
    return with_model([&](auto& model) -> Result<TypedWriter> {
        const CategoricalSource* source = with_topic(model.categorical_sources(), channel);
        if (!source) return Error{messages::no_categorical_source_with_channel(channel)};
        const std::size_t n_categories = source->categories.size();
        // What the source's reader splits a message by: one entry per
        // category per batch slot (one slot in ProbGradient).
        const std::size_t batch_width = model.circuit().lock()->batch_width();
        IpcWriter writer(model.channels().get_or_create_sender(channel));
        return TypedWriter{TypedWriter::Categorical{std::move(writer), n_categories, batch_width}};
    });
}

Shared<Vector> SharedModel::make_timed_writer(const std::string& channel, double frequency) const {
    return with_model([&](auto& model) { return model.channels().make_timed_writer(channel, frequency); });
}

void SharedModel::stop_timed_writers() const {
    with_model([](auto& model) { model.channels().stop_timed_writers(); });
}

std::vector<std::string> SharedModel::names() const {
    return with_model([](auto& model) { return model.channels().get_names(); });
}

std::vector<double> SharedModel::frequencies() const {
    return with_model([](auto& model) { return model.channels().get_frequencies(); });
}

std::vector<Vector> SharedModel::values() const {
    return with_model([](auto& model) { return model.channels().get_values(); });
}

Result<gradients::Derivatives> SharedModel::source_gradients(const gradients::Derivatives& gradients,
                                                             const std::string& key) const {
    return with_gradient_model("source_gradients", [&](Tallo<ProbGradient>& model) {
        return Result<gradients::Derivatives>(gradients::source_gradients(
            gradients, key, model.sources(), model.categorical_sources(), model.comparisons()));
    });
}

ParameterGroups SharedModel::parameter_groups() const {
    return with_model([](auto& model) { return model.parameter_groups(); });
}

std::optional<Error> SharedModel::fit_parameters(const gradients::Derivatives& gradients, double lr, double loss,
                                                 const std::optional<std::vector<std::string>>& parameters,
                                                 double timestamp) const {
    return with_gradient_model("fit_parameters", [&](Tallo<ProbGradient>& model) {
        gradients::fit_parameters(*model.circuit().lock(), model.parameter_groups(), gradients, lr, loss, parameters,
                                  timestamp);
        return std::optional<Error>();
    });
}

}  // namespace tallo::host
