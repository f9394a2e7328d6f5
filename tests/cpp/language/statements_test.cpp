#include "language/statements.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "language/matching.h"
#include "language/messages.h"
#include "language/model_statements.h"
#include "stop_message.h"

namespace tallo {
namespace {

using Texts = std::vector<std::string>;

TEST(PrepareModelText, CommentsLinesAndWhiteSpace) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""},
        {"# only a comment\n\n   \n\t# another\n", ""},
        {"a. # first\r\nb.\r\n", "a. b."},
        {"  x  \n\u3000y\u00A0\n", "x y"},
        {"p <- source(\"/a#b\", Number).", "p <- source(\"/a"},
        {"no line feed at the end", "no line feed at the end"},
        {"a\r\n\r\nb", "a b"},
    };
    for (auto [model, prepared] : cases) EXPECT_EQ(prepare_model_text(model), prepared) << model;
}

TEST(PrepareModelText, InvalidUtf8Stops) {
    EXPECT_EQ(testing::stop_message([] { prepare_model_text("a.\n\xC3"); }), messages::invalid_utf8(3));
}

TEST(SplitStatements, APointEndsAStatementUnlessAnAsciiDigitFollows) {
    const std::pair<std::string_view, Texts> cases[] = {
        {"", {}},
        {"a. b.", {"a.", "b."}},
        {"b <- P(0.25).", {"b <- P(0.25)."}},
        {"x if t > 30.5 and y. z.", {"x if t > 30.5 and y.", "z."}},
        {"a.b", {"a."}},
        {"a statement left open", {}},
        {"a.. b.", {"a.", ".", "b."}},
        {"v1.2.", {"v1.2."}},
        {"a.\u0663.", {"a.", "\u0663."}},
    };
    for (const auto& [text, statements] : cases) EXPECT_EQ(matching::split_statements(text), statements) << text;
}

TEST(DataType, KeywordsAreWholeAndCaseSensitive) {
    const std::pair<std::string_view, std::optional<DataType>> cases[] = {
        {"Probability", DataType::Probability}, {"Density", DataType::Density},
        {"Number", DataType::Number},           {"Boolean", DataType::Boolean},
        {"Categorical", DataType::Categorical}, {"probability", std::nullopt},
        {"Number ", std::nullopt},              {"", std::nullopt},
    };
    for (auto [keyword, dtype] : cases) EXPECT_EQ(DataType::from_str(keyword), dtype) << keyword;
    EXPECT_EQ(static_cast<int>(DataType::Boolean), 3);
    EXPECT_EQ(DataType(DataType::Density).keyword(), "Density");
}

TEST(Source, StatementsThatParse) {
    const std::pair<std::string_view, Source> cases[] = {
        {R"(rain <- source("/weather/rain", Probability).)", {"rain", "/weather/rain", DataType::Probability}},
        {R"(temp(kitchen) <- source("/sensors/kitchen/temp", Number).)",
         {"temp(kitchen)", "/sensors/kitchen/temp", DataType::Number}},
        {R"(door_open <- source("/house/door", Boolean).)", {"door_open", "/house/door", DataType::Boolean}},
        {R"(d(a, b) <- source("/s_1/2x", Density).)", {"d(a, b)", "/s_1/2x", DataType::Density}},
        // A search: text in front of the declaration is ignored.
        {R"(x y <- source("/a", Number).)", {"y", "/a", DataType::Number}},
        {"température <- source(\"/capteurs/salle_à_manger\",\u3000Boolean).",
         {"température", "/capteurs/salle_à_manger", DataType::Boolean}},
    };
    for (const auto& [statement, source] : cases) EXPECT_EQ(Source::from_str(statement), source) << statement;
}

TEST(Source, StatementsThatAreRejected) {
    const std::string_view cases[] = {
        R"(rain <- source(/weather/rain, Probability).)",  // channel not quoted
        R"(rain <- source("/a",Probability).)",            // no white space after the comma
        R"(rain <- source("/a", Probability ).)",          // white space before ')'
        R"(rain <- source("/a", Categorical).)",
        R"(rain <- source("/a", probability).)",
        R"(rain <- source("a", Boolean).)",                // no leading '/'
        R"(rain <- source("/a//b", Boolean).)",            // an empty segment
        R"(rain <- source("/a/", Boolean).)",              // a trailing '/'
        R"(rain <- source("/a-b", Boolean).)",
        R"(rain<-source("/a", Boolean).)",
        R"(rain <- source("/a", Boolean))",                // no final '.'
    };
    for (auto statement : cases) EXPECT_EQ(Source::from_str(statement), std::nullopt) << statement;
}

TEST(Target, StatementsThatParseAndAreRejected) {
    const std::pair<std::string_view, std::optional<Target>> cases[] = {
        {R"(alarm -> target("/out/alarm").)", Target{"alarm", "/out/alarm"}},
        {R"(hot(kitchen) -> target("/out/hot").)", Target{"hot(kitchen)", "/out/hot"}},
        {R"(alarm -> target(/out/alarm).)", std::nullopt},
        {R"(alarm->target("/out").)", std::nullopt},
        {R"(alarm <- target("/out").)", std::nullopt},
    };
    for (const auto& [statement, target] : cases) EXPECT_EQ(Target::from_str(statement), target) << statement;
}

TEST(CategoricalSource, CategoriesAreTrimmedAndEmptyOnesLeftOut) {
    const std::pair<std::string_view, std::optional<CategoricalSource>> cases[] = {
        {R"({sunny, cloudy, rainy} <- source("/sky", Categorical).)", CategoricalSource{{"sunny", "cloudy", "rainy"}, "/sky"}},
        {R"({a, , b ,} <- source("/c", Categorical).)", CategoricalSource{{"a", "b"}, "/c"}},
        {R"({light rain,(heavy)} <- source("/c", Categorical).)", CategoricalSource{{"light rain", "(heavy)"}, "/c"}},
        {"{\u3000ciel\u00A0} <- source(\"/c\", Categorical).", CategoricalSource{{"ciel"}, "/c"}},
        {R"({ , } <- source("/c", Categorical).)", CategoricalSource{{}, "/c"}},
        {R"({} <- source("/c", Categorical).)", std::nullopt},
        {R"({a} <- source("/c", Probability).)", std::nullopt},
        {R"(a <- source("/c", Categorical).)", std::nullopt},
    };
    for (const auto& [statement, source] : cases) EXPECT_EQ(CategoricalSource::from_str(statement), source) << statement;
}

TEST(ParseModel, ClassifiesEachStatementInModelOrder) {
    const auto model = parse_model(R"(
        # sensors
        rain <- source("/weather/rain", Probability).  # the first
        {sunny, cloudy} <- source("/sky",
                                  Categorical). temp <- source("/t", Number).
        rain <- source("/weather/rain2", Boolean).
        wet if rain and
               temp > 20.
        x <- source("/c", Categorical).
        a <- source(/a, Number).
        wet -> target("/out/wet").
        dry <- P(0.25)
    )");
    EXPECT_EQ(model.categorical_sources, (std::vector<CategoricalSource>{{{"sunny", "cloudy"}, "/sky"}}));
    // Both declarations of rain are kept, in order.
    EXPECT_EQ(model.sources, (std::vector<Source>{{"rain", "/weather/rain", DataType::Probability},
                                                  {"temp", "/t", DataType::Number},
                                                  {"rain", "/weather/rain2", DataType::Boolean}}));
    EXPECT_EQ(model.targets, (std::vector<Target>{{"wet", "/out/wet"}}));
    // Malformed declarations are no rules either; the last statement has no end.
    ASSERT_EQ(model.clauses.size(), 1u);
    EXPECT_EQ(model.clauses[0].text, "wet if rain and temp > 20.");
    EXPECT_EQ(model.clauses[0].body, (Texts{"rain", "temp_gt_20"}));
}

TEST(ParseModel, AnEmptyOrCommentOnlyModelHasNoStatements) {
    for (std::string_view text : {"", "  \n# nothing\n\r\n"}) {
        const auto model = parse_model(text);
        EXPECT_TRUE(model.sources.empty() && model.categorical_sources.empty() && model.targets.empty() &&
                    model.clauses.empty());
    }
    EXPECT_EQ(classify_statement(" \u3000 "), std::nullopt);
}

}  // namespace
}  // namespace tallo
