#include "language/nested_atoms.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "language/messages.h"
#include "language/model_statements.h"
#include "language/nesting.h"
#include "stop_message.h"

namespace tallo {
namespace {

TEST(NestedAtom, AnArgumentListThatHoldsABracketIsFoundWherever) {
    const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
        // Heads and bodies, which the rule pattern would read from a later
        // position (the fact s; t :- wet, f(a)).
        {"wet(f(a)) if s.", "wet(f(a))"},
        {"wet(f(a)) <- P(0.5) if s.", "wet(f(a))"},
        {"wet(f(a)).", "wet(f(a))"},
        {"t if wet(f(a)).", "wet(f(a))"},
        {"t if b and not p(a, g(X)).", "p(a, g(X))"},
        {"t if temp(f(a)) > 30.", "temp(f(a))"},
        // Sources and targets, which no declaration pattern would accept.
        {R"(temp(f(a)) <- source("/t", Number).)", "temp(f(a))"},
        {R"(wet(f(a)) -> target("/t").)", "wet(f(a))"},
        // Text in front of a declaration is no exception.
        {R"(f(g(x)) y <- source("/a", Number).)", "f(g(x))"},
        // Every kind of bracket; the first such atom; Unicode words; an
        // argument list left open runs to the end.
        {"t if p((a, b)) and q(h(c)).", "p((a, b))"},
        {"t if p([a]).", "p([a])"},
        {"t if p(a, {b}).", "p(a, {b})"},
        {"t if é_1(ü(a)).", "é_1(ü(a))"},
        {"t if p(f(a.", "p(f(a."},
        // The categories of a categorical source are exempt, the text around
        // them is not.
        {R"({f(g(a)), (b)} <- source("/c", Categorical).)", std::nullopt},
        {R"(p(f(a)) {a} <- source("/c", Categorical).)", "p(f(a))"},
        // Flat atoms and the statements' own brackets.
        {R"(rain <- source("/weather/rain", Probability).)", std::nullopt},
        {R"(temp(a, B) -> target("/t").)", std::nullopt},
        {"hot(X) <- P(0.7) if room(X) and temp(X) > -30.5.", std::nullopt},
        {"a <- P(1) if b.", std::nullopt},
        // A bracket is nested only inside an argument list, which a word opens.
        {"t if (a(b)) and f(a)(b).", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [statement, atom] : cases) EXPECT_EQ(nested_atom(statement), atom) << statement;
}

TEST(ParseModel, AnAtomWithANestedTermStopsNamingTheStatement) {
    const std::string_view model = "s <- source(\"/s\", Boolean).\nwet(f(a)) if s.\nwet -> target(\"/wet\").";
    EXPECT_EQ(testing::stop_message([&] { parse_model(model); }),
              messages::nested_term_in_atom(2, "wet(f(a))", "wet(f(a)) if s."));
    EXPECT_EQ(messages::nested_term_in_atom(2, "wet(f(a))", "wet(f(a)) if s."),
              "Model statement 2 cannot be read: the atom wet(f(a)) holds a nested term, and the arguments of an "
              "atom can only be words, numbers and variables: wet(f(a)) if s.");

    // A long atom and statement are shown by their beginnings.
    const std::string deep = "t if " + std::string(50, 'p') + "(f(a)) and b.";
    const std::string message = testing::stop_message([&] { parse_model(deep); });
    EXPECT_EQ(message, messages::nested_term_in_atom(1, deep.substr(5, 56), deep));
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
