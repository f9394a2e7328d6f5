#pragma once

// The few Unicode facts the rule language needs, over UTF-8 text.
//
// - Texts are UTF-8. Every function that walks characters stops with
//   messages::invalid_utf8 at the first byte that does not start a valid
//   scalar value (overlong forms, surrogates and values above U+10FFFF
//   included), so no reader walks past a text's end.
// - White space is Unicode's White_Space property; the same table builds the
//   "\s" class of the statement patterns, so trimming and matching agree.
// - Pure functions; safe on any thread.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tallo::unicode {

// The code point ranges of Unicode's White_Space property, inclusive.
inline constexpr std::array<std::pair<char32_t, char32_t>, 10> white_space_ranges{{
    {0x09, 0x0D},
    {0x20, 0x20},
    {0x85, 0x85},
    {0xA0, 0xA0},
    {0x1680, 0x1680},
    {0x2000, 0x200A},
    {0x2028, 0x2029},
    {0x202F, 0x202F},
    {0x205F, 0x205F},
    {0x3000, 0x3000},
}};

bool is_white_space(char32_t c) noexcept;

// Unicode's Uppercase property (A, É, Ω, Ⓐ; not a, ß, 1, _).
bool is_uppercase(char32_t c);

// Unicode's Alphabetic property or a numeric general category (Nd, Nl, No).
bool is_alphanumeric(char32_t c);

// What "\w" of the statement patterns takes: a letter, mark, decimal digit or
// connector punctuation (L, M, Nd, Pc); in ASCII the letters, digits and '_'.
bool is_word_character(char32_t c);

// Decodes the scalar value starting at byte `at` of `text` and moves `at`
// past it. `at` must be below text.size().
char32_t decode(std::string_view text, std::size_t& at);

// Appends the UTF-8 form of `c` to `out`.
void encode(char32_t c, std::string& out);

// Stops unless the whole of `text` is valid UTF-8.
void validate(std::string_view text);

// `text` without the white space at both ends.
std::string_view trim(std::string_view text);

// The pieces of `text` between the commas, each trimmed, empty ones kept.
std::vector<std::string_view> split_commas_trimmed(std::string_view text);

}  // namespace tallo::unicode
