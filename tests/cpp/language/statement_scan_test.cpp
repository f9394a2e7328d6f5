#include "language/statement_scan.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>

#include "language/messages.h"
#include "language/model_statements.h"
#include "stop_message.h"

namespace tallo {
namespace {

std::string repeated(std::string_view piece, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += piece;
    return text;
}

TEST(StatementScan, DepthCountsBracketsAndOperatorsInsideThem) {
    const std::pair<std::string_view, std::size_t> cases[] = {
        {"", 0},
        {"alarm if burglary and not earthquake.", 0},
        // Outside brackets the statement's own syntax counts nothing.
        {"hot <- P(0.7) if temp > -5 and a - b.", 1},
        {"{sunny, cloudy} <- source(\"/sky\", Categorical).", 2},
        {"f(g(h(x))).", 3},
        {"a([{x}]).", 3},
        // An element's operators chain without brackets; commas and
        // semicolons start a new element, which counts afresh.
        {"a(1+1+1).", 3},
        {"a(1+1, 1+1, 1).", 2},
        {"a(1+1; 1).", 2},
        {"a(- - - 1).", 4},
        // A bracket's depth adds to the operators of the element around it,
        // whether they stand before or after it.
        {"a(f(f(x)) + 1 + 1).", 5},
        {"a(1 + 1 + f(f(x))).", 5},
        {"a(f(f(f(x))), 1+1).", 4},
        // Quoted text counts too: the slashes of a topic are operators (as
        // the one of /sky above).
        {"t -> target(\"/out/a/b\").", 4},
        // Brackets that close nothing are ignored; open ones end with the text.
        {")) f(x)", 1},
        {"f(g(h(", 3},
        {"f(x] ]", 1},
    };
    for (const auto& [text, depth] : cases) EXPECT_EQ(scan_statement(text).depth, depth) << text;
}

TEST(StatementScan, DepthStopsCountingOnceTheLimitIsPassed) {
    const std::string deep = repeated("f(", 100'000) + "x" + repeated(")", 100'000);
    EXPECT_EQ(scan_statement(deep, 10).depth, 11u);
    EXPECT_EQ(scan_statement(deep).depth, max_nesting_depth + 1);
    EXPECT_EQ(scan_statement(deep, 100'000).depth, 100'000u);
    // A depth that only the closing brackets reveal is still found.
    const std::string late = "a(" + repeated("f(", 6) + "x" + repeated(")", 6) + "+1+1+1+1+1)";
    EXPECT_EQ(scan_statement(late, 10).depth, 11u);
}

TEST(ParseModel, AStatementAtTheLimitParsesOneDeeperStops) {
    const auto categorical = [](std::size_t depth) {
        // The braces are the first level.
        return "a.\n{" + repeated("f(", depth - 1) + "x" + repeated(")", depth - 1) + ", b} <- source(\"/c\", Categorical).";
    };
    EXPECT_EQ(parse_model(categorical(max_nesting_depth)).categorical_sources.size(), 1u);
    const std::string deeper = categorical(max_nesting_depth + 1);
    EXPECT_EQ(testing::stop_message([&] { parse_model(deeper); }),
              messages::nested_too_deeply(2, max_nesting_depth, deeper.substr(3)));
}

TEST(ParseModel, TheStopShowsTheStatementsBeginningCutAtACharacter) {
    const std::string statement = repeated("é", 30) + repeated("(", 3000) + ".";
    const std::string message = testing::stop_message([&] { parse_model(statement); });
    EXPECT_EQ(message, messages::nested_too_deeply(1, max_nesting_depth, statement));
    EXPECT_TRUE(message.ends_with(": " + repeated("é", 20) + "...")) << message;
    EXPECT_TRUE(messages::nested_too_deeply(1, 5, "f(x).").ends_with(": f(x).")) << "a short statement is shown whole";
}

constexpr auto nested = Misread::NestedTerm;
constexpr auto not_closed = Misread::NotClosed;
constexpr auto empty = Misread::EmptyList;
constexpr auto character = Misread::Character;

std::optional<Misreading> misreading_of(std::string_view statement) { return scan_statement(statement).misreading; }

TEST(StatementScan, AnArgumentListThePatternsCannotReadIsFoundWherever) {
    const std::pair<std::string_view, std::optional<Misreading>> cases[] = {
        // Heads and bodies, which the rule pattern would read from a later
        // position (the fact s; t :- wet, f(a)).
        {"wet(f(a)) if s.", Misreading{nested, "wet(f(a))", ""}},
        {"wet(f(a)) <- P(0.5) if s.", Misreading{nested, "wet(f(a))", ""}},
        {"wet(f(a)).", Misreading{nested, "wet(f(a))", ""}},
        {"t if wet(f(a)).", Misreading{nested, "wet(f(a))", ""}},
        {"t if b and not p(a, g(X)).", Misreading{nested, "p(a, g(X))", ""}},
        {"t if temp(f(a)) > 30.", Misreading{nested, "temp(f(a))", ""}},
        // Sources and targets, which no declaration pattern would accept.
        {R"(temp(f(a)) <- source("/t", Number).)", Misreading{nested, "temp(f(a))", ""}},
        {R"(wet(f(a)) -> target("/t").)", Misreading{nested, "wet(f(a))", ""}},
        // Text in front of a declaration is no exception.
        {R"(f(g(x)) y <- source("/a", Number).)", Misreading{nested, "f(g(x))", ""}},
        // Every kind of bracket; the first such atom; Unicode words; a nested
        // term outranks an earlier other character.
        {"t if p((a, b)) and q(h(c)).", Misreading{nested, "p((a, b))", ""}},
        {"t if p([a]).", Misreading{nested, "p([a])", ""}},
        {"t if p(a, {b}).", Misreading{nested, "p(a, {b})", ""}},
        {"t if é_1(ü(a)).", Misreading{nested, "é_1(ü(a))", ""}},
        {"t if p(a-f(b)).", Misreading{nested, "p(a-f(b))", ""}},
        // A list left open runs to the end: a '.' inside it ended the
        // statement (t if p(a.b). is the statements t if p(a. and b).).
        {"t if p(f(a.", Misreading{nested, "p(f(a.", ""}},
        {"t if p(a.", Misreading{not_closed, "p(a.", ""}},
        {"t if p(1.", Misreading{not_closed, "p(1.", ""}},
        // An empty list, read as p by the body (t :- p) and by nothing in a
        // head (the fact s).
        {"t if p().", Misreading{empty, "p()", ""}},
        {"p() if s.", Misreading{empty, "p()", ""}},
        // Any character other than word characters, white space and commas:
        // the body splits at it (t :- p, a, b), a head or declaration is
        // lost; with a number among the pieces the solver refused it instead.
        {"t if p(a-b).", Misreading{character, "p(a-b)", "-"}},
        {"p(a-b) if s.", Misreading{character, "p(a-b)", "-"}},
        {"t if s and p(a, b-c).", Misreading{character, "p(a, b-c)", "-"}},
        {R"(t if p("a b").)", Misreading{character, R"(p("a b"))", "\""}},
        {"t if p(a+1).", Misreading{character, "p(a+1)", "+"}},
        {"p(-1) <- P(0.5) if s.", Misreading{character, "p(-1)", "-"}},
        {"t if p(1.5).", Misreading{character, "p(1.5)", "."}},
        {"t if p(a;b).", Misreading{character, "p(a;b)", ";"}},
        {"t if p(a:b) and q(c|d).", Misreading{character, "p(a:b)", ":"}},
        {"t if p(a]).", Misreading{character, "p(a]", "]"}},
        {"t if p(a€b).", Misreading{character, "p(a€b)", "€"}},
        {"t if temp(a-b) > 3.", Misreading{character, "temp(a-b)", "-"}},
        {R"(temp(a-b) <- source("/t", Number).)", Misreading{character, "temp(a-b)", "-"}},
        {R"(wet(a-b) -> target("/t").)", Misreading{character, "wet(a-b)", "-"}},
        // The categories of a categorical source are exempt, the text around
        // them is not.
        {R"({f(g(a)), (b), "c-d"} <- source("/c", Categorical).)", std::nullopt},
        {R"(p(f(a)) {a} <- source("/c", Categorical).)", Misreading{nested, "p(f(a))", ""}},
        {R"(p(a-b) {a} <- source("/c", Categorical).)", Misreading{character, "p(a-b)", "-"}},
        // Flat atoms and the statements' own brackets, malformed ones
        // included (the parsers misread or drop those as they always did):
        // the words P, source and target opening a bracket, wherever they
        // stand; what follows their '(' is looked at.
        {R"(rain <- source("/weather/rain", Probability).)", std::nullopt},
        {R"(temp(a, B) -> target("/t").)", std::nullopt},
        {"hot(X) <- P(0.7) if room(X) and temp(X) > -30.5 and level < -2.", std::nullopt},
        {"a <- P(1) if b.", std::nullopt},
        {"a <- P(.5) if b(c).", std::nullopt},
        {"a <- P(0.5 ) if b.", std::nullopt},
        {R"(a <-source(/a, Number).)", std::nullopt},
        {R"(a->target("/t").)", std::nullopt},
        {R"(a => target("/t") and b -> source("/b", Number).)", std::nullopt},
        {"t if P(0.5).", std::nullopt},
        {R"(a <- source("/a", f(x-y)).)", Misreading{character, "f(x-y)", "-"}},
        {"t if xP(0.5).", Misreading{character, "xP(0.5)", "."}},
        {"t if p( a ,b ) and q(c).", std::nullopt},
        {"t if temp>30 and e(U, 1).", std::nullopt},
        // A bracket is nested only inside an argument list, which a word
        // opens; inside any other bracket, atoms are looked at as anywhere.
        {"t if (a(b-c)) and f(a)(b).", Misreading{character, "a(b-c)", "-"}},
        {"t if [f(g(a))].", Misreading{nested, "f(g(a))", ""}},
        {"", std::nullopt},
    };
    for (const auto& [statement, atom] : cases) EXPECT_EQ(misreading_of(statement), atom) << statement;
}

TEST(ParseModel, AnUnreadableAtomStopsNamingTheStatement) {
    const std::string_view model = "s <- source(\"/s\", Boolean).\nwet(f(a)) if s.\nwet -> target(\"/wet\").";
    const Misreading wet{nested, "wet(f(a))", ""};
    EXPECT_EQ(testing::stop_message([&] { parse_model(model); }), messages::cannot_read(2, wet, "wet(f(a)) if s."));

    // Each fault says what is wrong.
    const std::pair<Misreading, std::string_view> faults[] = {
        {wet, "the atom wet(f(a)) holds a nested term;"},
        {{not_closed, "p(a.", ""}, "the atom p(a. is not closed before the statement ends;"},
        {{empty, "p()", ""}, "the atom p() has an empty argument list;"},
        {{Misread::BlankList, "p( )", ""}, "the atom p( ) has an empty argument list;"},
        {{character, "p(a-b)", "-"}, "the atom p(a-b) holds the character '-';"},
    };
    for (const auto& [atom, fault] : faults) {
        EXPECT_EQ(messages::cannot_read(2, atom, "t if x."),
                  "Model statement 2 cannot be read: " + std::string(fault) +
                      " the arguments of an atom can only be words (letters, digits and '_') separated by commas: "
                      "t if x.");
    }

    // A long atom and statement are shown by their beginnings.
    const std::string deep = "t if " + std::string(50, 'p') + "(a-b) and b.";
    const std::string message = testing::stop_message([&] { parse_model(deep); });
    EXPECT_EQ(message, messages::cannot_read(1, {character, std::string_view(deep).substr(5, 55), "-"}, deep));
    EXPECT_TRUE(message.find("the atom " + std::string(40, 'p') + "... holds") != std::string::npos) << message;

    // Deeper than the limit, the nesting check speaks first.
    const std::string too_deep = "t if p(" + std::string(3000, '(') + ").";
    EXPECT_EQ(testing::stop_message([&] { parse_model(too_deep); }),
              messages::nested_too_deeply(1, max_nesting_depth, too_deep));
}

// What the rule pattern reads, unless the scan stops it, is in the comment
// of each group.
TEST(StatementScan, WhatThePatternsWouldMisreadInARuleIsFound) {
    using M = Misread;
    const std::pair<std::string_view, std::optional<Misreading>> cases[] = {
        // A blank between a word and its bracket: t :- p, a, b; the fact
        // rain; t :- rain, not q, sun.
        {"t if p (a-b).", Misreading{M::BlankBeforeBracket, "p ", "("}},
        {"p (a) if rain.", Misreading{M::BlankBeforeBracket, "p ", "("}},
        {"t if rain and not q (sun).", Misreading{M::BlankBeforeBracket, "q ", "("}},
        {"t if q\u3000[a].", Misreading{M::BlankBeforeBracket, "q\u3000", "["}},
        {"a <- P (0.5) if s.", Misreading{M::BlankBeforeBracket, "P ", "("}},
        // Brackets that open no argument list: s; t :- not q, sun;
        // t :- p, a; t :- p(a), b.
        {"[a] if s.", Misreading{M::StrayBracket, "[a]", "["}},
        {"{a} if s.", Misreading{M::StrayBracket, "{a}", "{"}},
        {"t if not q{sun}.", Misreading{M::StrayBracket, "q{sun}", "{"}},
        {"t if p[a].", Misreading{M::StrayBracket, "p[a]", "["}},
        {"t if (c-d).", Misreading{M::StrayBracket, "(c-d)", "("}},
        {"t if (a.", Misreading{M::StrayBracket, "(a.", "("}},
        {"t if a and (b).", Misreading{M::StrayBracket, "(b)", "("}},
        // What follows an argument list directly: t :- p(a), x.
        {"t if p(a)x.", Misreading{M::RunOn, "p(a)", "x"}},
        {"t if p(a)(b).", Misreading{M::RunOn, "p(a)", "("}},
        {"p(a)[b] if s.", Misreading{M::RunOn, "p(a)", "["}},
        // A minus that is no threshold's sign: t :- rain; the head t.
        {"t if -rain.", Misreading{M::Minus, "-rain", ""}},
        {"-t if rain.", Misreading{M::Minus, "-t", ""}},
        {"t if not -rain and s.", Misreading{M::Minus, "-rain", ""}},
        {"a <- -b.", Misreading{M::Minus, "-b", ""}},
        // After a comparison's operator a '-' is a sign, even where the rule
        // does not read a comparison (x < -2. is the fact 2., which the
        // solver refuses).
        {"x < -2.", std::nullopt},
        {"t if x >  -2 and y <-3.", std::nullopt},
        // A threshold that runs on: t :- x_gt_1e3 beside the leaf x_gt_1;
        // x > 1_5 as x > 1.5; t :- x_gt_5(a); t :- x_gt_1_5, 3.
        {"t if x > 1e3.", Misreading{M::Threshold, "x > 1e3", ""}},
        {"t if x > 1_5.", Misreading{M::Threshold, "x > 1_5", ""}},
        {"t if s and temp(k) < -2x and b.", Misreading{M::Threshold, "temp(k) < -2x", ""}},
        {"t if x > 5(a).", Misreading{M::Threshold, "x > 5(", ""}},
        {"t if x > 1.5.3.", Misreading{M::Threshold, "x > 1.5.3", ""}},
        // Atoms beyond ASCII, which the solver reads as none.
        {"t if ü(a).", Misreading{M::NonAscii, "ü(a)", "ü"}},
        {"t if p(ä).", Misreading{M::NonAscii, "p(ä)", "ä"}},
        {"température(X) if s.", Misreading{M::NonAscii, "température(X)", "é"}},
        {"t if ü.", Misreading{M::NonAscii, "ü", "ü"}},
        {"t if temp_é > 3.", Misreading{M::NonAscii, "temp_é", "é"}},
        // Arguments the solver cannot read, in rules as in declarations: the
        // source's leaf is made, every rule using it fails.
        {"t if p( ).", Misreading{M::BlankList, "p( )", ""}},
        {"t if p(,).", Misreading{M::EmptyArgument, "p(,)", ""}},
        {"t if p(a, ).", Misreading{M::EmptyArgument, "p(a, )", ""}},
        {"t if p(a b).", Misreading{M::TwoWords, "p(a b)", "a b"}},
        {"t if p(1e3).", Misreading{M::NotANumber, "p(1e3)", "1e3"}},
        {"t if p(a, 2x).", Misreading{M::NotANumber, "p(a, 2x)", "2x"}},
        {R"(p(1e3) <- source("/p", Probability).)", Misreading{M::NotANumber, "p(1e3)", "1e3"}},
        {R"(p(a b) <- source("/p", Probability).)", Misreading{M::TwoWords, "p(a b)", "a b"}},
        {R"(p(,) -> target("/p").)", Misreading{M::EmptyArgument, "p(,)", ""}},
        {R"(p( ) {a} <- source("/c", Categorical).)", Misreading{M::BlankList, "p( )", ""}},
        // The first by position of these; an unreadable list before any.
        {"t if -a and p (b).", Misreading{M::Minus, "-a", ""}},
        {"t if x > 1e3 and (b).", Misreading{M::Threshold, "x > 1e3", ""}},
        {"[a] if p(b-c).", Misreading{character, "p(b-c)", "-"}},
        // What reads as written stays: the statements' own syntax, negative
        // thresholds, the arrows, arguments that are names, variables or
        // whole numbers, a comparison's atom with its list.
        {"hot(X) <- P(0.7) if room(X) and temp(X) > -30.5 and level < +2.", std::nullopt},
        {"t if temp(a, B) > 30, not p(_c, 10) and q.", std::nullopt},
        {"t if a and (b).", Misreading{M::StrayBracket, "(b)", "("}},
        {"a <- b.", std::nullopt},
        {"t if x > 1.5 and y < 2.", std::nullopt},
        {"t if temp>30.", std::nullopt},
        // A threshold in digits beyond ASCII is the number parser's to stop.
        {"t if x > \u0663.", std::nullopt},
        // Declarations and dropped statements keep their shapes: text in
        // front of a declaration is ignored, and a statement that no form
        // accepts is dropped.
        {R"(p(a)x <- source("/x", Number).)", std::nullopt},
        {R"(p (a) <- source("/p", Probability).)", std::nullopt},
        {R"({x, y} <- source("/c", categorical).)", std::nullopt},
        {R"(rain <- source ("/rain", Probability).)", std::nullopt},
        {R"(ü <- source("/u", Number).)", std::nullopt},
        {R"(-x -> target("/x").)", std::nullopt},
        {"p (a) -x [b]", std::nullopt},
    };
    for (const auto& [statement, found] : cases) EXPECT_EQ(misreading_of(statement), found) << statement;
}

// A word where a declaration has its keyword, before a quoted channel, is
// named as that; only statements that stop today change their text.
TEST(StatementScan, AMisspeltDeclarationKeywordIsNamed) {
    using M = Misread;
    const std::pair<std::string_view, std::optional<Misreading>> cases[] = {
        {R"(rain <- sourse("/weather/rain", Probability).)", Misreading{M::DeclarationKeyword, "sourse", ""}},
        {R"(rain <- Source("/weather/rain", Probability).)", Misreading{M::DeclarationKeyword, "Source", ""}},
        {R"(temp(k) <-src( "/t", Number).)", Misreading{M::DeclarationKeyword, "src", ""}},
        {R"({a, b} <- sorce("/c", Categorical).)", Misreading{M::DeclarationKeyword, "sorce", ""}},
        {R"(wet -> targte("/wet").)", Misreading{M::DeclarationKeyword, "targte", ""}},
        {R"(wet -> source("/wet").)", std::nullopt},
        // Not a declaration's keyword: a rule's quoted argument, no arrow, an
        // argument before the quote, an unquoted channel.
        {R"(t if p("a").)", Misreading{character, R"(p("a"))", "\""}},
        {R"(wet => targte("/wet").)", Misreading{character, R"(targte("/wet"))", "\""}},
        {R"(rain <- sourse(x, "/r").)", Misreading{character, R"(sourse(x, "/r"))", "\""}},
        {R"(rain <- sourse(/r, Number).)", Misreading{character, "sourse(/r, Number)", "/"}},
        // Dropped as always: a misspelt data type or arrow.
        {R"(rain <- source("/r", Probabilty).)", std::nullopt},
        {R"(rain -> source("/r", Probability).)", std::nullopt},
    };
    for (const auto& [statement, found] : cases) EXPECT_EQ(misreading_of(statement), found) << statement;
}

TEST(ParseModel, EachMisreadingStopsSayingWhatIsWrong) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {R"(rain <- sourse("/weather/rain", Probability).)",
         "Model statement 1 cannot be read: the word sourse stands where a declaration has its keyword, "
         R"(source(...) or target(...): rain <- sourse("/weather/rain", Probabil...)"},
        {"t if p(a, ).",
         "Model statement 1 cannot be read: the atom p(a, ) has an empty argument; the arguments of an atom are "
         "names, variables or whole numbers, separated by commas: t if p(a, )."},
        {"t if p(a b).",
         "Model statement 1 cannot be read: the atom p(a b) holds the argument 'a b', which is two words without a "
         "comma between them; the arguments of an atom are names, variables or whole numbers, separated by commas: "
         "t if p(a b)."},
        {"t if p(1e3).",
         "Model statement 1 cannot be read: the atom p(1e3) holds the argument '1e3', which begins with a digit but "
         "is no whole number; the arguments of an atom are names, variables or whole numbers, separated by commas: "
         "t if p(1e3)."},
        {"t if ü(a).",
         "Model statement 1 cannot be read: the atom ü(a) holds the character 'ü'; the solver reads only ASCII "
         "letters, digits and '_' in the atoms of a rule: t if ü(a)."},
        {"t if p (a-b).",
         "Model statement 1 cannot be read: a blank parts 'p' from the '(' after it; an atom's argument list "
         "follows its name directly, as in p(a): t if p (a-b)."},
        {"[a] if s.",
         "Model statement 1 cannot be read: the '[' of [a] opens no argument list; in a rule, a bracket can only "
         "be an atom's '(' directly after its name, as in p(a), or that of P(...): [a] if s."},
        {"t if p(a)x.",
         "Model statement 1 cannot be read: the atom p(a) is directly followed by 'x'; a blank, a comma or the "
         "statement's end follows an atom: t if p(a)x."},
        {"t if -rain.",
         "Model statement 1 cannot be read: the '-' of -rain is no sign of a threshold; the language has no "
         "classical negation and no arithmetic (negation is written not rain): t if -rain."},
        {"t if x > 1e3.",
         "Model statement 1 cannot be read: the comparison x > 1e3 has no threshold the language reads; a "
         "threshold is an integer or a decimal, optionally signed (4, -5, 30.5), and a blank, a comma or the "
         "statement's end follows it: t if x > 1e3."},
    };
    for (const auto& [statement, message] : cases) {
        EXPECT_EQ(testing::stop_message([&] { parse_model(statement); }), message);
    }
    // The statement's number counts every statement before it, dropped ones
    // included.
    EXPECT_EQ(testing::stop_message([&] { parse_model("a <- b c.\nx y z.\nt if -a."); }),
              messages::cannot_read(3, {Misread::Minus, "-a", ""}, "t if -a."));
}

TEST(ParseModel, NestedCategoriesStillParse) {
    const auto model = parse_model("{f(g(a)), b} <- source(\"/c\", Categorical).\nt if f(X).\nt -> target(\"/t\").");
    ASSERT_EQ(model.categorical_sources.size(), 1u);
    EXPECT_EQ(model.categorical_sources[0].categories, (std::vector<std::string>{"f(g(a))", "b"}));
    EXPECT_EQ(model.clauses.size(), 1u);
}

}  // namespace
}  // namespace tallo
