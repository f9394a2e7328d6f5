#include "language/unreadable_atoms.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "language/messages.h"
#include "language/model_statements.h"
#include "language/nesting.h"
#include "stop_message.h"

namespace tallo {
namespace {

constexpr auto nested = AtomFault::NestedTerm;
constexpr auto not_closed = AtomFault::NotClosed;
constexpr auto empty = AtomFault::Empty;
constexpr auto character = AtomFault::Character;

TEST(UnreadableAtom, AnArgumentListThePatternsCannotReadIsFoundWherever) {
    const std::pair<std::string_view, std::optional<UnreadableAtom>> cases[] = {
        // Heads and bodies, which the rule pattern would read from a later
        // position (the fact s; t :- wet, f(a)).
        {"wet(f(a)) if s.", UnreadableAtom{"wet(f(a))", nested, ""}},
        {"wet(f(a)) <- P(0.5) if s.", UnreadableAtom{"wet(f(a))", nested, ""}},
        {"wet(f(a)).", UnreadableAtom{"wet(f(a))", nested, ""}},
        {"t if wet(f(a)).", UnreadableAtom{"wet(f(a))", nested, ""}},
        {"t if b and not p(a, g(X)).", UnreadableAtom{"p(a, g(X))", nested, ""}},
        {"t if temp(f(a)) > 30.", UnreadableAtom{"temp(f(a))", nested, ""}},
        // Sources and targets, which no declaration pattern would accept.
        {R"(temp(f(a)) <- source("/t", Number).)", UnreadableAtom{"temp(f(a))", nested, ""}},
        {R"(wet(f(a)) -> target("/t").)", UnreadableAtom{"wet(f(a))", nested, ""}},
        // Text in front of a declaration is no exception.
        {R"(f(g(x)) y <- source("/a", Number).)", UnreadableAtom{"f(g(x))", nested, ""}},
        // Every kind of bracket; the first such atom; Unicode words; a nested
        // term outranks an earlier other character.
        {"t if p((a, b)) and q(h(c)).", UnreadableAtom{"p((a, b))", nested, ""}},
        {"t if p([a]).", UnreadableAtom{"p([a])", nested, ""}},
        {"t if p(a, {b}).", UnreadableAtom{"p(a, {b})", nested, ""}},
        {"t if é_1(ü(a)).", UnreadableAtom{"é_1(ü(a))", nested, ""}},
        {"t if p(a-f(b)).", UnreadableAtom{"p(a-f(b))", nested, ""}},
        // A list left open runs to the end: a '.' inside it ended the
        // statement (t if p(a.b). is the statements t if p(a. and b).).
        {"t if p(f(a.", UnreadableAtom{"p(f(a.", nested, ""}},
        {"t if p(a.", UnreadableAtom{"p(a.", not_closed, ""}},
        {"t if p(1.", UnreadableAtom{"p(1.", not_closed, ""}},
        // An empty list, read as p by the body (t :- p) and by nothing in a
        // head (the fact s).
        {"t if p().", UnreadableAtom{"p()", empty, ""}},
        {"p() if s.", UnreadableAtom{"p()", empty, ""}},
        // Any character other than word characters, white space and commas:
        // the body splits at it (t :- p, a, b), a head or declaration is
        // lost; with a number among the pieces the solver refused it instead.
        {"t if p(a-b).", UnreadableAtom{"p(a-b)", character, "-"}},
        {"p(a-b) if s.", UnreadableAtom{"p(a-b)", character, "-"}},
        {"t if s and p(a, b-c).", UnreadableAtom{"p(a, b-c)", character, "-"}},
        {R"(t if p("a b").)", UnreadableAtom{R"(p("a b"))", character, "\""}},
        {"t if p(a+1).", UnreadableAtom{"p(a+1)", character, "+"}},
        {"p(-1) <- P(0.5) if s.", UnreadableAtom{"p(-1)", character, "-"}},
        {"t if p(1.5).", UnreadableAtom{"p(1.5)", character, "."}},
        {"t if p(a;b).", UnreadableAtom{"p(a;b)", character, ";"}},
        {"t if p(a:b) and q(c|d).", UnreadableAtom{"p(a:b)", character, ":"}},
        {"t if p(a]).", UnreadableAtom{"p(a]", character, "]"}},
        {"t if p(a€b).", UnreadableAtom{"p(a€b)", character, "€"}},
        {"t if temp(a-b) > 3.", UnreadableAtom{"temp(a-b)", character, "-"}},
        {R"(temp(a-b) <- source("/t", Number).)", UnreadableAtom{"temp(a-b)", character, "-"}},
        {R"(wet(a-b) -> target("/t").)", UnreadableAtom{"wet(a-b)", character, "-"}},
        // The categories of a categorical source are exempt, the text around
        // them is not.
        {R"({f(g(a)), (b), "c-d"} <- source("/c", Categorical).)", std::nullopt},
        {R"(p(f(a)) {a} <- source("/c", Categorical).)", UnreadableAtom{"p(f(a))", nested, ""}},
        {R"(p(a-b) {a} <- source("/c", Categorical).)", UnreadableAtom{"p(a-b)", character, "-"}},
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
        {R"(a <- source("/a", f(x-y)).)", UnreadableAtom{"f(x-y)", character, "-"}},
        {"t if xP(0.5).", UnreadableAtom{"xP(0.5)", character, "."}},
        {"t if p( a ,b ) and q(,).", std::nullopt},
        {"t if temp>30 and é(Ü, 1).", std::nullopt},
        // A bracket is nested only inside an argument list, which a word opens.
        {"t if (a(b)) and f(a)(b) and (c-d).", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [statement, atom] : cases) EXPECT_EQ(unreadable_atom(statement), atom) << statement;
}

TEST(ParseModel, AnUnreadableAtomStopsNamingTheStatement) {
    const std::string_view model = "s <- source(\"/s\", Boolean).\nwet(f(a)) if s.\nwet -> target(\"/wet\").";
    const UnreadableAtom wet{"wet(f(a))", nested, ""};
    EXPECT_EQ(testing::stop_message([&] { parse_model(model); }), messages::unreadable_atom(2, wet, "wet(f(a)) if s."));

    // Each fault says what is wrong.
    const std::pair<UnreadableAtom, std::string_view> faults[] = {
        {wet, "the atom wet(f(a)) holds a nested term;"},
        {{"p(a.", not_closed, ""}, "the atom p(a. is not closed before the statement ends;"},
        {{"p()", empty, ""}, "the atom p() has an empty argument list;"},
        {{"p(a-b)", character, "-"}, "the atom p(a-b) holds the character '-';"},
    };
    for (const auto& [atom, fault] : faults) {
        EXPECT_EQ(messages::unreadable_atom(2, atom, "t if x."),
                  "Model statement 2 cannot be read: " + std::string(fault) +
                      " the arguments of an atom can only be words (letters, digits and '_') separated by commas: "
                      "t if x.");
    }

    // A long atom and statement are shown by their beginnings.
    const std::string deep = "t if " + std::string(50, 'p') + "(a-b) and b.";
    const std::string message = testing::stop_message([&] { parse_model(deep); });
    EXPECT_EQ(message, messages::unreadable_atom(1, {std::string_view(deep).substr(5, 55), character, "-"}, deep));
    EXPECT_TRUE(message.find("the atom " + std::string(40, 'p') + "... holds") != std::string::npos) << message;

    // Deeper than the limit, the nesting check speaks first.
    const std::string too_deep = "t if p(" + std::string(3000, '(') + ").";
    EXPECT_EQ(testing::stop_message([&] { parse_model(too_deep); }),
              messages::nested_too_deeply(1, max_nesting_depth, too_deep));
}

TEST(ParseModel, NestedCategoriesStillParse) {
    const auto model = parse_model("{f(g(a)), b} <- source(\"/c\", Categorical).\nt if f(X).\nt -> target(\"/t\").");
    ASSERT_EQ(model.categorical_sources.size(), 1u);
    EXPECT_EQ(model.categorical_sources[0].categories, (std::vector<std::string>{"f(g(a))", "b"}));
    EXPECT_EQ(model.clauses.size(), 1u);
}

}  // namespace
}  // namespace tallo
