#pragma once

// The statement expressions of the rule language, and the pieces they are
// assembled from.
//
// Each expression is built once per process, at its first use (a
// function-local static: threads that need it meanwhile wait for that one
// build), and shared read-only afterwards. All are searched, never anchored:
// a pattern may match anywhere in a statement and the leftmost match is the
// one used. "\w", "\s", "\d", "\b" carry the Unicode meanings that `Regex`
// documents.
#include <string_view>

#include "language/regex.h"

namespace tallo::patterns {

// A word, optionally followed by a parenthesised list of word characters,
// white space and commas (no nesting).
inline constexpr std::string_view ATOM_PATTERN = R"re((?<atom>\w+(\([\w\s,]+\))?))re";
// "P(", 0 or 1, a point, one or more digits, ")".
inline constexpr std::string_view PROBABILITY_PATTERN = R"re(P\((?<probability>[01][.]\d+)\))re";
// The rest of a rule.
inline constexpr std::string_view BODY_PATTERN = R"re((?<body>.+))re";
// A quoted channel name: one or more segments, each a '/' and word characters.
inline constexpr std::string_view TOPIC_PATTERN = R"re("(?<topic>(?:\/\w+)+)")re";
// The data types a source statement admits.
inline constexpr std::string_view DTYPE_PATTERN = R"re((?<dtype>Probability|Density|Number|Boolean))re";

// atom <- source("/topic", Dtype).
const Regex& source_regex();
// atom -> target("/topic").
const Regex& target_regex();
// {a, b, ...} <- source("/topic", Categorical).
const Regex& categorical_source_regex();
// head [<- P(p)] [if body].
const Regex& clause_regex();
// atom < number, atom > number (white space on both sides of the operator).
const Regex& comparison_literal_regex();
// The word "and" standing alone.
const Regex& and_keyword_regex();
// An atom, optionally preceded by "not" and white space.
const Regex& literal_regex();

}  // namespace tallo::patterns
