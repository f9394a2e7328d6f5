#pragma once

// One pass over a statement's brackets, before any parser sees it: how deeply
// the statement nests its terms, and the first place where the statement
// patterns would read something else than is written.
//
// The patterns search unanchored and take an atom's arguments as word
// characters, white space and commas only, so a statement they cannot read is
// not rejected but read from a later position as another statement, half-read,
// or read into a program the solver refuses; each without a word. The scan
// finds such places so that compile can stop and say what is wrong.
//
// Depth. An upper bound of the depth of the trees the solver can build from
// the statement's text, whichever part of it reaches the solver:
// - each bracket, '(', '[' or '{', is one level;
// - inside brackets, each operator character (+ - * / \ ^ & | ~ ? < = > ! @ :)
//   is one level more for its element (the text between two commas or
//   semicolons of one bracket), since a chain such as 1+1+...+1 nests as
//   deeply as it has operators without any bracket;
// - outside every bracket nothing counts: there the statement's own syntax
//   (arrows, comparisons, signs of thresholds) stands;
// - quoted text counts like the rest; a bracket that closes nothing is
//   ignored, and one left open ends with the statement.
// The solver recurses once per level and nothing bounds it, so a statement
// deeper than `max_nesting_depth` stops. Measured on the solver in use, one
// level costs at most about 500 bytes of stack (an arithmetic operator; a
// nested function term 144, a bracket alone 80): a statement at the limit
// needs about 1 MB, an eighth of the 8 MiB a compile thread has at least
// (base/thread.h) and half of the 2 MiB that glibc gives any other thread when
// the stack limit is unlimited; grounding a term at the limit takes well
// under a second.
//
// An atom's argument list is the text after a whole word directly followed by
// '(', up to the bracket that closes that '(' (every kind of bracket nests);
// the words P, source and target directly followed by '(' open the
// statements' own brackets instead, which are not atoms. Its arguments are
// those of matching::args_of. The scan reports the first by position of
// group 1, and when there is none, the first by position of groups 2 and 3:
// 1. In every statement, an argument list that holds another opening bracket
//    (a nested term, p(f(a))), that is never closed (a '.' that ended the
//    statement early: p(a.b)), that is empty (p()), or that holds another
//    character than word characters, white space and commas (p(a-b), p("a"),
//    p(1.5)). When that character is the quote of a channel, after "<-" or
//    "->", the word before the '(' stands where a declaration has source or
//    target: the keyword is misspelt (rain <- sourse("/rain", Probability).).
// 2. In a statement that some form accepts, an argument the solver cannot
//    read: a list of blanks (p( )), an empty argument (p(a, ), p(,)), two
//    words with no comma between them (p(a b)), a word that begins with a
//    digit but is not a whole number (p(1e3)).
// 3. In a statement read as a rule (no declaration form accepts it, the rule
//    pattern does), outside every bracket: a word with a character beyond
//    ASCII (ü(a), p(ä): the solver reads none); a blank between a word other
//    than if, and, not and a bracket after it (p (a)); a bracket that opens
//    no argument list ([a], p[a], q{sun}, (a)); an argument list directly
//    followed by a word character or a bracket (p(a)x, p(a)(b)); a '-'
//    before a word that does not follow '<' or '>' (-rain: there is no
//    classical negation); a comparison's threshold directly followed by a
//    word character, a bracket or a point and a digit (x > 1e3, x > 1_5,
//    which the rule would read as another name).
// The braces of a statement that the categorical source pattern accepts are
// not looked into: their categories reach the solver as written. Statements
// that no form accepts are dropped by the parsers, and only group 1 stops
// them.
//
// Pure apart from building the shared expressions at their first use; safe on
// any thread.
#include <cstddef>
#include <optional>
#include <string_view>

namespace tallo {

inline constexpr std::size_t max_nesting_depth = 2000;

// What the patterns would misread, in the order of the groups above.
enum class Misread {
    // 1: an atom's argument list, in any statement
    NestedTerm,
    NotClosed,
    EmptyList,
    Character,
    DeclarationKeyword,
    // 2: an atom's arguments, in a statement some form accepts
    BlankList,
    EmptyArgument,
    TwoWords,
    NotANumber,
    // 3: the shape of a rule
    NonAscii,
    BlankBeforeBracket,
    StrayBracket,
    RunOn,
    Minus,
    Threshold,
};

struct Misreading {
    Misread what;
    // As written: the atom (NestedTerm to NotANumber, NonAscii, RunOn; from its
    // first character to the bracket that closes its list, or to the end of
    // the text looked at); the word before the '(' (DeclarationKeyword); the
    // word and the blanks after it (BlankBeforeBracket); the bracketed text
    // (StrayBracket); the '-' and its word (Minus); the comparison with what
    // follows its threshold (Threshold).
    std::string_view text;
    // One UTF-8 encoded character (Character, NonAscii, RunOn, and the
    // bracket of BlankBeforeBracket and StrayBracket) or the argument
    // (TwoWords, NotANumber); empty otherwise.
    std::string_view detail;

    bool operator==(const Misreading&) const = default;
};

struct StatementScan {
    // The depth as measured above, or limit + 1 as soon as it is known to
    // exceed the limit; the scan then ends early (so a huge statement costs
    // no more memory than the limit) and reports no misreading.
    std::size_t depth = 0;
    std::optional<Misreading> misreading;

    bool operator==(const StatementScan&) const = default;
};

StatementScan scan_statement(std::string_view statement, std::size_t limit = max_nesting_depth);

// Stops with messages::nested_too_deeply when `statement`, the model's
// statement number `number` (from 1), nests deeper than `max_nesting_depth`,
// and otherwise with messages::cannot_read when the scan finds a misreading.
void check_statement(std::string_view statement, std::size_t number);

}  // namespace tallo
