#include "language/regex.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "language/messages.h"
#include "stop_message.h"
#include "language/unicode.h"

namespace tallo {
namespace {

using testing::stop_message;

std::optional<std::string> first_match(std::string_view pattern, std::string_view subject) {
    const Regex regex(pattern);
    const auto match = regex.find(subject);
    if (!match) return std::nullopt;
    return std::string(match->text());
}

struct SemanticsCase {
    const char* what;
    const char* pattern;
    const char* subject;
    std::optional<std::string> match;
};

// Where PCRE2's own Unicode classes would give another answer, the row says so.
TEST(Regex, ClassesHaveTheStatedUnicodeMeaning) {
    const SemanticsCase cases[] = {
        {"letters beyond ASCII are word characters", R"(\w+)", "température", "température"},
        {"a combining mark is a word character (not in PCRE2's \\w)", R"(\w+)", "e\u0301t\u00e9", "e\u0301t\u00e9"},
        {"connector punctuation is a word character (not in PCRE2's \\w)", R"(\w+)", "a\u203Fb", "a\u203Fb"},
        {"a superscript digit is no word character (PCRE2's \\w takes it)", R"(\w+)", "a\u00B2b", "a"},
        {"a letter-like number is no word character (PCRE2's \\w takes it)", R"(\w+)", "\u216B", std::nullopt},
        {"any decimal digit is a digit", R"(\d+)", "\u0663\u0660", "\u0663\u0660"},
        {"a superscript digit is no digit", R"(\d)", "\u00B2", std::nullopt},
        {"ideographic space is white space", R"(a\sb)", "a\u3000b", "a\u3000b"},
        {"next line is white space", R"(a\sb)", "a\u0085b", "a\u0085b"},
        {"the Mongolian vowel separator is not (PCRE2's \\s takes it)", R"(a\sb)", "a\u180Eb", std::nullopt},
        {"a zero-width space is not white space", R"(a\sb)", "a\u200Bb", std::nullopt},
        {"no boundary between a letter and a word", R"(\bx\b)", "\u00E9x", std::nullopt},
        {"no boundary before a mark (PCRE2's \\b sees one)", R"(\band\b)", "and\u0301", std::nullopt},
        {"a boundary after a non-word number", R"(\bx\b)", "\u00B2x", "x"},
        {"negated classes follow", R"(\W+)", "a\u00B2\u216Bb", "\u00B2\u216B"},
        {"inside a bracket class too", R"([^\s]+)", "a\u180Eb c", "a\u180Eb"},
        {"a ']' first in a class is a member", R"([]\w]+)", "]e\u0301", "]e\u0301"},
        {"'.' does not match a line feed", R"(a.b)", "a\nb", std::nullopt},
        {"'.' matches a carriage return", R"(a.b)", "a\rb", "a\rb"},
        {"'.' matches one whole character", R"(^.$)", "\u00E9", "\u00E9"},
        {"leftmost-first prefers the first alternative", R"(a|ab)", "ab", "a"},
        {"the search is unanchored and leftmost", R"(b+)", "aabbbab", "bbb"},
    };
    for (const auto& c : cases) EXPECT_EQ(first_match(c.pattern, c.subject), c.match) << c.what;
}

TEST(Regex, NamedGroupsReportTheirTextOrAbsence) {
    const Regex regex(R"((?<word>\w+)(?<tail>!)?)");
    const auto match = regex.find(" héllo.");
    ASSERT_TRUE(match);
    EXPECT_EQ(match->start(), 1u);
    EXPECT_EQ(match->group("word"), "héllo");
    EXPECT_EQ(match->group("tail"), std::nullopt);
}

TEST(Regex, FindAllIsNonOverlappingAndAdvancesPastEmptyMatches) {
    const auto texts = [](std::string_view pattern, std::string_view subject) {
        std::vector<std::string> out;
        for (const auto& match : Regex(pattern).find_all(subject)) out.emplace_back(match.text());
        return out;
    };
    EXPECT_EQ(texts("aa", "aaaaa"), (std::vector<std::string>{"aa", "aa"}));
    // An empty match moves on by one character, never into the middle of one.
    EXPECT_EQ(texts("x*", "é"), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(Regex(R"(\band\b)").replace_all("band and and_x and", " "), "band   and_x  ");
}

TEST(Regex, InvalidUtf8StopsWithItsPosition) {
    EXPECT_EQ(stop_message([] { Regex("a").find("ok\xC3("); }), messages::invalid_utf8(2));
    EXPECT_EQ(stop_message([] { Regex("a").find_all("\xFF"); }), messages::invalid_utf8(0));
}

TEST(Regex, APatternThatDoesNotCompileStops) {
    EXPECT_TRUE(stop_message([] { Regex("(unclosed"); }).starts_with("called `Result::unwrap()` on an `Err` value: "));
}

TEST(Unicode, CharacterProperties) {
    for (char32_t c : {U'A', U'Z', U'É', U'Ω', U'Ⓐ'}) EXPECT_TRUE(unicode::is_uppercase(c)) << std::uint32_t(c);
    for (char32_t c : {U'a', U'ß', U'1', U'_', U'ω'}) EXPECT_FALSE(unicode::is_uppercase(c)) << std::uint32_t(c);
    for (char32_t c : {U'a', U'9', U'é', U'²', U'Ⅻ', U'٣'}) EXPECT_TRUE(unicode::is_alphanumeric(c)) << std::uint32_t(c);
    for (char32_t c : {U'_', U'‿', U'(', U' ', U'-'}) EXPECT_FALSE(unicode::is_alphanumeric(c)) << std::uint32_t(c);
    for (char32_t c : {U'\t', U'\r', U' ', U'\u00A0', U'\u2029', U'\u3000'}) EXPECT_TRUE(unicode::is_white_space(c));
    for (char32_t c : {U'\u180E', U'\u200B', U'x', U'\uFEFF'}) EXPECT_FALSE(unicode::is_white_space(c));
}

TEST(Unicode, TrimRemovesUnicodeWhiteSpaceAtBothEnds) {
    EXPECT_EQ(unicode::trim("\u3000 a b\u00A0\t"), "a b");
    EXPECT_EQ(unicode::trim(" \u2003 "), "");
    EXPECT_EQ(unicode::trim("é\u200B"), "é\u200B");
}

TEST(Unicode, MalformedSequencesStopAtTheirFirstByte) {
    const std::pair<std::string_view, std::size_t> cases[] = {
        {"ab\xC0\x80", 2},         // overlong NUL
        {"\xED\xA0\x80", 0},       // a surrogate
        {"a\xE2\x82", 1},          // cut short at the end
        {"\xF4\x90\x80\x80", 0},   // above U+10FFFF
        {"x\x80", 1},              // a lone continuation byte
        {"\xE2(\xA1", 0},          // a continuation byte missing
    };
    for (auto [text, at] : cases) {
        EXPECT_EQ(stop_message([&] { unicode::validate(text); }), messages::invalid_utf8(at)) << at;
    }
    EXPECT_EQ(stop_message([] { unicode::trim("a\x80"); }), messages::invalid_utf8(1));
}

}  // namespace
}  // namespace tallo
