#pragma once

// Declaration statements of the rule language: sources, categorical sources
// and targets, and the pre-processing of a model text.
//
// A statement either parses or is rejected; a rejection carries no message.
// The records are plain values that own their texts. Parsing is pure apart
// from building the shared statement expressions at their first use, so any
// number of threads may parse at once.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallo {

// The data type of a source, one byte, in this order. A class around the
// enumeration so that it can carry `from_str`; it converts to the enumeration,
// so `switch` and `==` work on it as on the plain values.
class DataType {
public:
    enum Value : std::uint8_t {
        Probability = 0,
        Density = 1,
        Number = 2,
        Boolean = 3,
        Categorical = 4,
    };

    constexpr DataType(Value value) noexcept : value_(value) {}
    constexpr operator Value() const noexcept { return value_; }

    // The five keywords, whole and case-sensitive: "Probability", "Density",
    // "Number", "Boolean", "Categorical".
    static std::optional<DataType> from_str(std::string_view keyword);
    std::string_view keyword() const noexcept;

private:
    Value value_;
};
static_assert(sizeof(DataType) == 1);

// atom <- source("/topic", Dtype). Source statements admit the first four
// data types only, so a parsed `Source` never holds `Categorical`.
struct Source {
    std::string atom;   // as written: rain, temp(kitchen)
    std::string topic;  // without the quotes: /weather/rain
    DataType dtype;

    static std::optional<Source> from_str(std::string_view statement);
    friend bool operator==(const Source&, const Source&) = default;
};

// atom -> target("/topic").
struct Target {
    std::string atom;
    std::string topic;

    static std::optional<Target> from_str(std::string_view statement);
    friend bool operator==(const Target&, const Target&) = default;
};

// {a, b, ...} <- source("/topic", Categorical).
struct CategoricalSource {
    std::vector<std::string> categories;  // in the order written, trimmed, empty ones left out
    std::string topic;

    static std::optional<CategoricalSource> from_str(std::string_view statement);
    friend bool operator==(const CategoricalSource&, const CategoricalSource&) = default;
};

// The model text as one line: each line cut at its first '#', trimmed of
// Unicode white space, empty lines dropped, the rest joined with single
// spaces. A line feed ends a line; a carriage return right before it belongs
// to the line end. Stops with messages::invalid_utf8 on text that is not UTF-8.
std::string prepare_model_text(std::string_view model_text);

}  // namespace tallo
