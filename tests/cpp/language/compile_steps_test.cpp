#include "language/compile_steps.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "language/model_statements.h"

namespace tallo {
namespace {

std::vector<std::string> comparison_names(std::string_view atom, std::string_view model) {
    std::vector<std::string> names;
    for (const ComparisonLiteral& c : distinct_comparisons(atom, parse_model(model).clauses)) names.push_back(c.name);
    return names;
}

TEST(CompileSteps, NumericSourcesGetTheirDistinctComparisonsInOrderOfFirstAppearance) {
    const char* model =
        "a if temp(X) > 30 and temp(kitchen) < 5. b if temp(kitchen) > 30. c if temp(hall) < 1."
        " d if temp(X, Y) > 2. e if other(X) > 3.";
    EXPECT_EQ(comparison_names("temp(kitchen)", model),
              (std::vector<std::string>{"temp_kitchen_gt_30", "temp_kitchen_lt_5"}));
    EXPECT_EQ(comparison_names("temp(hall)", model), (std::vector<std::string>{"temp_hall_gt_30", "temp_hall_lt_1"}));
    EXPECT_EQ(comparison_names("temp(a, b)", model), (std::vector<std::string>{"temp_a__b_gt_2"}));
    EXPECT_EQ(comparison_names("nothing", model), (std::vector<std::string>{}));
}

TEST(CompileSteps, GroupKeysUseThePredicateAndCauseCountersTheFullHead) {
    EXPECT_EQ(parameter_group_key("a(1)", 0), "a#0");
    EXPECT_EQ(parameter_group_key("wet", 3), "wet#3");
    CauseCounters counters;
    EXPECT_EQ(counters.next("a(1)"), 0u);
    EXPECT_EQ(counters.next("a(2)"), 0u);
    EXPECT_EQ(counters.next("a(1)"), 1u);
}

TEST(CompileSteps, ProductTermsLookLiteralsUpByTextThenBySolverSpelling) {
    const std::unordered_map<std::string, std::size_t> index{
        {"rain", 0}, {"-rain", 1}, {"p(a, b)", 2}, {"-p(a, b)", 3}, {"q(1,2)", 4}, {"q(1, 2)", 5}, {"r( x )", 6},
        {"r(x )", 7}};
    const Dnf dnf{{{"rain", "wet", "-sunny"}, {"-rain", "p(a,b)", "-p(a,b)"}, {"q(1,2)", "r(x)"}, {"sunny"}, {}}};
    // q(1,2) is some leaf's exact name; of the two leaves spelled r(x) the first wins.
    EXPECT_EQ(product_terms(dnf, index),
              (std::vector<std::vector<std::uint32_t>>{{0}, {1, 2, 3}, {4, 6}, {}, {}}));
}

TEST(CompileSteps, SolverSpellingDropsWhiteSpaceOutsideStrings) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"p(a, b)", "p(a,b)"},         {"-f( g(a),\tb )", "-f(g(a),b)"}, {"s(\"a b\", c)", "s(\"a b\",c)"},
        {R"(s("x\" y", z))", R"(s("x\" y",z))"}, {"plain", "plain"},          {"", ""},
    };
    for (const auto& [text, spelled] : cases) EXPECT_EQ(solver_spelling(text), spelled) << text;
}

}  // namespace
}  // namespace tallo
