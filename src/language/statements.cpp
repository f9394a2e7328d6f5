#include "language/statements.h"

#include <array>

#include "language/patterns.h"
#include "language/unicode.h"

namespace tallo {
namespace {

constexpr std::array<std::string_view, 5> keywords{"Probability", "Density", "Number", "Boolean", "Categorical"};

}  // namespace

std::optional<DataType> DataType::from_str(std::string_view keyword) {
    for (std::size_t i = 0; i < keywords.size(); ++i) {
        if (keywords[i] == keyword) return DataType(static_cast<Value>(i));
    }
    return std::nullopt;
}

std::string_view DataType::keyword() const noexcept { return keywords[value_]; }

std::optional<Source> Source::from_str(std::string_view statement) {
    const auto match = patterns::source_regex().find(statement);
    if (!match) return std::nullopt;
    // The pattern admits only the four keywords of sources, so the lookup holds.
    return Source{std::string(*match->group("atom")), std::string(*match->group("topic")),
                  *DataType::from_str(*match->group("dtype"))};
}

std::optional<Target> Target::from_str(std::string_view statement) {
    const auto match = patterns::target_regex().find(statement);
    if (!match) return std::nullopt;
    return Target{std::string(*match->group("atom")), std::string(*match->group("topic"))};
}

std::optional<CategoricalSource> CategoricalSource::from_str(std::string_view statement) {
    const auto match = patterns::categorical_source_regex().find(statement);
    if (!match) return std::nullopt;
    CategoricalSource source{{}, std::string(*match->group("topic"))};
    for (std::string_view category : unicode::split_commas_trimmed(*match->group("categories"))) {
        if (!category.empty()) source.categories.emplace_back(category);
    }
    return source;
}

std::string prepare_model_text(std::string_view model_text) {
    unicode::validate(model_text);
    std::string prepared;
    while (!model_text.empty()) {
        const std::size_t feed = model_text.find('\n');
        std::string_view line = model_text.substr(0, feed);
        if (feed == std::string_view::npos) {
            model_text = {};
        } else {
            model_text.remove_prefix(feed + 1);
            if (line.ends_with('\r')) line.remove_suffix(1);
        }
        line = unicode::trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        if (!prepared.empty()) prepared += ' ';
        prepared += line;
    }
    return prepared;
}

}  // namespace tallo
