#include "language/nesting.h"

#include <gtest/gtest.h>

#include <cstddef>
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

TEST(NestingDepth, BracketsAndOperatorsInsideThemAreLevels) {
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
    for (const auto& [text, depth] : cases) EXPECT_EQ(nesting_depth(text), depth) << text;
}

TEST(NestingDepth, StopsCountingOnceTheLimitIsPassed) {
    const std::string deep = repeated("f(", 100'000) + "x" + repeated(")", 100'000);
    EXPECT_EQ(nesting_depth(deep, 10), 11u);
    EXPECT_EQ(nesting_depth(deep), max_nesting_depth + 1);
    EXPECT_EQ(nesting_depth(deep, 100'000), 100'000u);
    // A depth that only the closing brackets reveal is still found.
    const std::string late = "a(" + repeated("f(", 6) + "x" + repeated(")", 6) + "+1+1+1+1+1)";
    EXPECT_EQ(nesting_depth(late, 10), 11u);
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

}  // namespace
}  // namespace tallo
