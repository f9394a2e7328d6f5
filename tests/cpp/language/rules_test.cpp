#include "language/rules.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/messages.h"
#include "language/matching.h"
#include "language/messages.h"
#include "language/model_statements.h"
#include "stop_message.h"

namespace tallo {
namespace {

using testing::stop_message;
using Texts = std::vector<std::string>;

struct ClauseCase {
    std::string_view statement;
    std::optional<double> probability;
    std::string atom;
    Texts body;
    Texts comparison_names;
};

Texts names_of(const Clause& clause) {
    Texts names;
    for (const auto& comparison : clause.comparisons) names.push_back(comparison.name);
    return names;
}

TEST(Clause, StatementsThatParse) {
    const ClauseCase cases[] = {
        {"alarm.", std::nullopt, "alarm", {}, {}},
        {"burglary <- P(0.1).", 0.1, "burglary", {}, {}},
        {"alarm if burglary and not earthquake.", std::nullopt, "alarm", {"burglary", "not earthquake"}, {}},
        {"alarm <- P(0.9) if burglary.", 0.9, "alarm", {"burglary"}, {}},
        {"hot(X) <- P(0.7) if room(X) and temp(X) > 30.5.", 0.7, "hot(X)",
         {"room(X)", "tallo_temp_gt_30_5(X)"}, {"tallo_temp_gt_30_5(X)"}},
        {"p <- P(1.999).", 1.999, "p", {}, {}},
        // Matching is a search: a malformed probability part is skipped and
        // the rule is read from the leftmost later place that fits.
        {"a <- b.", std::nullopt, "b", {}, {}},
        {"a <- P(1) if b.", std::nullopt, "P(1)", {"b"}, {}},
        {"a <- P(.5) if b.", std::nullopt, "b", {}, {}},
        // "and" goes only as a whole word; commas separate literals as well.
        {"x if band and and_x.", std::nullopt, "x", {"band", "and_x"}, {}},
        {"x if a, b.", std::nullopt, "x", {"a", "b"}, {}},
        {"x if a and b.", std::nullopt, "x", {"a", "b"}, {}},
        // Literals keep their text as written.
        {"x if p(a, b) and not  q.", std::nullopt, "x", {"p(a, b)", "not  q"}, {}},
        // A comparison needs white space around its operator.
        {"x if temp>30.", std::nullopt, "x", {"temp", "30"}, {}},
        {"x if temp > 30 and temp > 30.0.", std::nullopt, "x", {"temp_gt_30", "temp_gt_30"}, {"temp_gt_30", "temp_gt_30"}},
        {"x if temp > 30.50 and temp(kitchen) < +5.", std::nullopt, "x", {"temp_gt_30_5", "temp_kitchen_lt_5"},
         {"temp_gt_30_5", "temp_kitchen_lt_5"}},
        {"x if dist(X, Y) < 2.", std::nullopt, "x", {"tallo_dist_lt_2(X, Y)"}, {"tallo_dist_lt_2(X, Y)"}},
        // An argument-free atom that begins with an uppercase letter is
        // parameterized; the empty "()" of its name is no part of a literal.
        {"x if Temp > 5.", std::nullopt, "x", {"tallo_Temp_gt_5"}, {"tallo_Temp_gt_5()"}},
        // Replacements longer and shorter than the comparison they replace
        // each land on their own comparison.
        {"x if t(a , b ) > 1.0000 and u(kitchen) > 22.25 and c.", std::nullopt, "x",
         {"t_a___b_gt_1", "u_kitchen_gt_22_25", "c"}, {"t_a___b_gt_1", "u_kitchen_gt_22_25"}},
        // Negative thresholds keep each name one literal.
        {"x if temp > -5 and temp(X) < -0.5.", std::nullopt, "x", {"temp_gt_m5", "tallo_temp_lt_m0_5(X)"},
         {"temp_gt_m5", "tallo_temp_lt_m0_5(X)"}},
        // Beyond ASCII.
        {"chaud(X) <- P(0.7) if pièce(X) and température(X) > 30.", 0.7, "chaud(X)",
         {"pièce(X)", "tallo_température_gt_30(X)"}, {"tallo_température_gt_30(X)"}},
        {"x if temp(Ωmega) > 1 and ñu > 2.", std::nullopt, "x", {"tallo_temp_gt_1(Ωmega)", "ñu_gt_2"},
         {"tallo_temp_gt_1(Ωmega)", "ñu_gt_2"}},
        {"e\u0301te\u0301 <- P(0.5).", 0.5, "e\u0301te\u0301", {}, {}},
        // A mark after "and" makes one word of it, so it is no separator.
        {"x if a and\u0301 b.", std::nullopt, "x", {"a", "and\u0301", "b"}, {}},
    };
    for (const auto& c : cases) {
        const auto clause = Clause::from_str(c.statement);
        ASSERT_TRUE(clause) << c.statement;
        EXPECT_EQ(clause->probability, c.probability) << c.statement;
        EXPECT_EQ(clause->atom, c.atom) << c.statement;
        EXPECT_EQ(clause->body, c.body) << c.statement;
        EXPECT_EQ(names_of(*clause), c.comparison_names) << c.statement;
        EXPECT_EQ(clause->text, c.statement);
    }
}

TEST(Clause, StatementsThatAreRejected) {
    for (std::string_view statement : {"", "alarm", "a <- P(.5).", "-.", "(x)."}) {
        EXPECT_EQ(Clause::from_str(statement), std::nullopt) << statement;
    }
}

TEST(Clause, ComparisonLiteralsRecordTheRewrite) {
    const auto clause = Clause::from_str("x if temp(X) > 30.5 and p(a) < -2.");
    ASSERT_TRUE(clause);
    EXPECT_EQ(clause->comparisons, (std::vector<ComparisonLiteral>{
                                       {'>', "temp(X)", "tallo_temp_gt_30_5(X)", 30.5, true},
                                       {'<', "p(a)", "p_a_lt_m2", -2.0, false},
                                   }));
}

TEST(Clause, NumbersOutsideAsciiStop) {
    const std::string expected = messages::unwrap_err(messages::invalid_float());
    for (std::string_view statement :
         {"x <- P(0.\u0663).", "x if t > \u0663.", "x if t > 1\u0663.", "x if t > 1.\u0660 and y."}) {
        EXPECT_EQ(stop_message([&] { Clause::from_str(statement); }), expected) << statement;
    }
}

TEST(Clause, ThresholdsBeyondTheDoubleRangeSaturate) {
    const auto huge = Clause::from_str("x if t > " + std::string(400, '9') + ".");
    ASSERT_TRUE(huge && huge->comparisons.size() == 1);
    EXPECT_EQ(huge->comparisons[0].threshold, std::numeric_limits<double>::infinity());
    EXPECT_EQ(huge->body, Texts{"t_gt_inf"});

    const auto tiny = Clause::from_str("x if t < -0." + std::string(400, '0') + "1.");
    ASSERT_TRUE(tiny && tiny->comparisons.size() == 1);
    EXPECT_EQ(tiny->comparisons[0].threshold, 0.0);
    EXPECT_TRUE(std::signbit(tiny->comparisons[0].threshold));
    EXPECT_EQ(tiny->body, Texts{"t_lt_m0"});
}

TEST(Clause, LongBodiesParseWhole) {
    std::string statement = "x if";
    for (int i = 0; i < 5000; ++i) statement += " a(b, C) and t > -1.5 and";
    statement += " z.";
    const auto clause = Clause::from_str(statement);
    ASSERT_TRUE(clause);
    EXPECT_EQ(clause->body.size(), 10001u);
    EXPECT_EQ(clause->comparisons.size(), 5000u);
    EXPECT_EQ(clause->body[1], "t_gt_m1_5");
    EXPECT_EQ(clause->body.back(), "z");
}

TEST(Clause, ToAsp) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"alarm if burglary and not earthquake.", "alarm :- burglary, not earthquake.\n"},
        {"alarm.", "alarm.\n"},
        {"burglary <- P(0.1).", "{burglary}.\n"},
        {"hot(X) <- P(0.7) if room(X) and temp(X) > 30.5.", "{hot(X)} :- room(X), tallo_temp_gt_30_5(X).\n"},
    };
    for (auto [statement, rule] : cases) EXPECT_EQ(Clause::from_str(statement)->to_asp(), rule) << statement;
}

TEST(ComparisonLiteral, GroundFor) {
    const auto literal = [](std::string_view body) { return Clause::from_str("x if " + std::string(body) + ".")->comparisons.at(0); };
    struct Case {
        std::string_view literal;
        std::string_view ground;
        std::optional<std::string> name;
    };
    const Case cases[] = {
        {"temp(X) > 30.5", "temp(kitchen)", "temp_kitchen_gt_30_5"},
        {"temp(X) > 30.5", "temp(a, b)", std::nullopt},
        {"temp(X) > 30.5", "pressure(kitchen)", std::nullopt},
        {"temp(X) > 30.5", "temp", "temp_gt_30_5"},  // no argument list: nothing to compare
        {"dist(X, home) < 2", "dist(car, home)", "dist_car__home_lt_2"},
        {"dist(X, home) < 2", "dist(car, work)", std::nullopt},
        {"dist(X, X) < 2", "dist(a, b)", "dist_a__b_lt_2"},  // positions match independently
        {"temp(kitchen) > 1", "temp(kitchen)", std::nullopt},  // already ground
    };
    for (const auto& c : cases) {
        const ComparisonLiteral source = literal(c.literal);
        const auto grounded = source.ground_for(c.ground);
        ASSERT_EQ(grounded.has_value(), c.name.has_value()) << c.literal << " for " << c.ground;
        if (!grounded) continue;
        EXPECT_EQ(*grounded, (ComparisonLiteral{source.op, std::string(c.ground), *c.name, source.threshold, false}));
    }
}

TEST(Matching, ArgsOf) {
    const std::pair<std::string_view, std::optional<Texts>> cases[] = {
        {"temp", std::nullopt},
        {"p(a, b)", Texts{"a", "b"}},
        {"p( a ,, )", Texts{"a", "", ""}},
        {"p()", Texts{""}},
        {"p(a)(b)", Texts{"a)(b"}},
        {"p(a", std::nullopt},
    };
    for (const auto& [atom, args] : cases) EXPECT_EQ(matching::args_of(atom), args) << atom;
    EXPECT_EQ(stop_message([] { matching::args_of(")("); }), messages::bad_slice(2, 0, ")("));
}

TEST(Matching, HasVariableArg) {
    const std::pair<std::string_view, bool> cases[] = {
        {"temp", false},        {"Temp", true},         {"Ωmega", true},         {"", false},
        {"p(a, X)", true},      {"p(_x, 1, a)", false}, {"p( Y )", true},        {"p()", false},
        {"p(a, Éclair)", true}, {"p(ω)", false},        {"p(,X)", true},
    };
    for (auto [atom, variable] : cases) EXPECT_EQ(matching::has_variable_arg(atom), variable) << atom;
    EXPECT_EQ(stop_message([] { matching::has_variable_arg("p("); }), messages::bad_slice(2, 1, "p("));
}

TEST(Matching, Sanitize) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"__x__", "x"},          {"temp(a, b)", "temp_a__b"}, {"température(salle)", "température_salle"},
        {"x²", "x²"},            {"\u216B_x", "\u216B_x"},    {"___", ""},
        {"", ""},                {"a-b.c", "a_b_c"},
    };
    for (auto [text, sanitized] : cases) EXPECT_EQ(matching::sanitize(text), sanitized) << text;
}

TEST(Matching, ThresholdText) {
    const std::pair<double, std::string> cases[] = {
        {30.0, "30"},   {30.5, "30_5"},  {0.25, "0_25"},         {-2.0, "m2"},
        {-0.5, "m0_5"}, {1e21, "1000000000000000000000"},          {0.1 + 0.2, "0_30000000000000004"},
        {std::numeric_limits<double>::infinity(), "inf"},
        // from 2^53 on: the shortest round-trip digits, padded with zeros
        {9007199254740992.0, "9007199254740992"},                  {12345678901234567890.0, "12345678901234567000"},
        {1e23, "100000000000000000000000"},                        {-1e23, "m100000000000000000000000"},
        {1.7976931348623157e308, "17976931348623157" + std::string(292, '0')},
    };
    for (auto [threshold, text] : cases) EXPECT_EQ(matching::threshold_text(threshold), text) << threshold;
    const std::string smallest = matching::threshold_text(std::numeric_limits<double>::denorm_min());
    EXPECT_TRUE(smallest.starts_with("0_000") && smallest.ends_with("5") && smallest.find('e') == std::string::npos);
}

TEST(Matching, GeneratedNames) {
    EXPECT_EQ(matching::canonical_comparison_name("temp(kitchen)", '>', 30.5), "temp_kitchen_gt_30_5");
    EXPECT_EQ(matching::canonical_comparison_name("temp", '<', -5), "temp_lt_m5");
    EXPECT_EQ(matching::parameterized_comparison_predicate("temp", '>', 30.5), "tallo_temp_gt_30_5");
    EXPECT_EQ(matching::parameterized_comparison_predicate("t_é", '<', 2), "tallo_t_é_lt_2");
    EXPECT_EQ(matching::cause_atom_name("alarm", 0), "alarm_cause_0");
    EXPECT_EQ(matching::cause_atom_name("fire(kitchen)", 1), "fire_kitchen_cause_1");
    EXPECT_EQ(matching::cause_atom_base_name("hot(X)", 0), "hot_cause_0");
    EXPECT_EQ(matching::cause_atom_base_name("alarm", 4294967295u), "alarm_cause_4294967295");
}

TEST(Matching, GetLiteralsKeepsOnlyLiteralText) {
    EXPECT_EQ(matching::get_literals("a, not b | p(x, y) ; q(Z)?? not"),
              (Texts{"a", "not b", "p(x, y)", "q(Z)", "not"}));
    EXPECT_EQ(matching::get_literals(" ,;- "), Texts{});
}

TEST(Matching, SourcePredicates) {
    const std::vector<Source> sources{{"temp(kitchen)", "/t/k", DataType::Number},
                                      {"rain", "/r", DataType::Probability},
                                      {"temp(hall)", "/t/h", DataType::Density}};
    EXPECT_EQ(matching::source_predicates(sources), (std::set<std::string, std::less<>>{"rain", "temp"}));
}

TEST(ParseModel, ParsesTheSameOnManyThreadsAtOnce) {
    const std::string model =
        "t(X) <- source(\"/t\", Number). {a, b} <- source(\"/c\", Categorical).\n"
        "hot(X) <- P(0.7) if room(X) and t(X) > 30.5 and not cold. hot -> target(\"/o\").\n";
    const auto expected = parse_model(model).clauses;
    std::vector<std::thread> threads;
    std::vector<int> mismatches(8, 0);
    for (std::size_t i = 0; i < mismatches.size(); ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 200; ++round) mismatches[i] += parse_model(model).clauses != expected;
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(8, 0));
}

}  // namespace
}  // namespace tallo
