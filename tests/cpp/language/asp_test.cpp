#include "language/asp.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <set>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/cancelled.h"
#include "example_model.h"
#include "language/messages.h"
#include "stop_message.h"

namespace tallo {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using DnfClause = std::vector<std::string>;

bool holds(const DnfClause& clause, const std::string& literal) {
    return std::find(clause.begin(), clause.end(), literal) != clause.end();
}

// Clauses as sets, so that checks do not depend on the solver's order of atoms.
std::multiset<std::set<std::string>> as_sets(const Dnf& dnf) {
    std::multiset<std::set<std::string>> sets;
    for (const DnfClause& clause : dnf.clauses()) sets.emplace(clause.begin(), clause.end());
    return sets;
}

TEST(AspSolve, ExampleProgramHasElevenModelsEachWithTheTargetAndItsCauses) {
    const Dnf dnf = asp::solve(testing::example_program, false);
    ASSERT_EQ(dnf.size(), 11u);
    std::set<std::set<std::string>> distinct;
    for (const DnfClause& clause : dnf.clauses()) {
        EXPECT_TRUE(holds(clause, "room(kitchen)"));
        EXPECT_TRUE(holds(clause, "alarm"));
        EXPECT_FALSE(holds(clause, "-alarm"));
        const bool through_wet = holds(clause, "rain") && holds(clause, "wet_cause_0") && holds(clause, "cloudy");
        const bool through_hot = holds(clause, "temp_kitchen_gt_30") && holds(clause, "hot_cause_0(kitchen)");
        EXPECT_TRUE(through_wet || through_hot);
        // Every clause names every atom once, positively or negatively.
        for (const char* atom : {"rain", "temp_kitchen_gt_30", "sunny", "cloudy", "wet_cause_0"}) {
            EXPECT_NE(holds(clause, atom), holds(clause, std::string("-") + atom)) << atom;
        }
        distinct.emplace(clause.begin(), clause.end());
    }
    EXPECT_EQ(distinct.size(), 11u);
}

TEST(AspSolve, PositiveLiteralsComeBeforeNegativeOnes) {
    for (const DnfClause& clause : asp::solve(testing::example_program, false).clauses()) {
        const auto first_negative =
            std::find_if(clause.begin(), clause.end(), [](const std::string& l) { return l.front() == '-'; });
        EXPECT_TRUE(std::all_of(first_negative, clause.end(), [](const std::string& l) { return l.front() == '-'; }));
    }
}

TEST(AspSolve, SmallProgramsGiveTheirModels) {
    struct Case {
        const char* program;
        std::multiset<std::set<std::string>> clauses;
    };
    const std::vector<Case> cases = {
        {"{a}. t :- a. :- not t.", {{"a", "t"}}},
        {"{a}. {b}. t :- a. :- not t.", {{"a", "t", "-b"}, {"a", "b", "t"}}},
        {"{a}. t :- a. :- not t. :- a.", {}},
        {"t. :- not t.", {{"t"}}},
        // A false atom written with '-' (classical negation) loses its '-'.
        {"{-a}. t. :- -a.", {{"t", "a"}}},
        {"p(a, b). t. :- not t.", {{"p(a,b)", "t"}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(as_sets(asp::solve(c.program, false)), c.clauses) << c.program;
    }
}

TEST(AspSolve, VerboseModeAnnouncesEachModel) {
    ::testing::internal::CaptureStdout();
    const Dnf dnf = asp::solve("{a}. {b}. t :- a. :- not t.", true);
    const std::string out = ::testing::internal::GetCapturedStdout();
    std::string expected;
    for (const DnfClause& clause : dnf.clauses()) expected += "Found stable model: " + asp::quoted_list(clause) + "\n";
    EXPECT_EQ(out, expected);
    EXPECT_THAT(out, HasSubstr("Found stable model: [\""));
}

TEST(AspSolve, RejectedProgramsStopWithTheStepAndTheSolversMessage) {
    struct Case {
        const char* program;
        std::string_view fixed;
        const char* call;
    };
    const std::vector<Case> cases = {
        {"p(.", messages::clingo_add_failed(), "clingo_control_add"},
        {"a b.", messages::clingo_add_failed(), "clingo_control_add"},
        {"p(X) :- q.", messages::clingo_ground_failed(), "clingo_control_ground"},
    };
    for (const Case& c : cases) {
        const std::string message = testing::stop_message([&] { asp::solve(c.program, false); });
        EXPECT_THAT(message, StartsWith(std::string(c.fixed) + ": " + c.call + " failed with clingo error code 1 ("))
            << c.program;
        // The solver's own last message closes the description.
        EXPECT_THAT(message, ::testing::Not(::testing::EndsWith("no message"))) << c.program;
    }
}

TEST(AspSolve, ProgramWithNulCharacterIsNotHandedToTheSolver) {
    const std::string program("a.\0b.", 5);
    EXPECT_THAT(testing::stop_message([&] { asp::solve(program, false); }),
                StartsWith(std::string(messages::clingo_add_failed()) + ": "));
}

// n free choices, all 2^n combinations stable models.
std::string free_choices(int n) {
    std::string program;
    for (int i = 0; i < n; ++i) program += "{c" + std::to_string(i) + "}.\n";
    return program;
}

TEST(AspSolve, ARequestedStopCancelsTheSolveWhereverItArrives) {
    // Requested before the call: the solve ends after grounding.
    std::stop_source before;
    before.request_stop();
    EXPECT_THROW(asp::solve(free_choices(3), false, before.get_token()), Cancelled);

    // Requested from another thread while the solver enumerates 2^40 models:
    // the search is interrupted (or, on a slow start, the solve ends after
    // grounding); either way the solve ends with Cancelled, not a partial form.
    // The pause only steers which of the two paths is taken.
    std::stop_source during;
    auto solving = std::async(std::launch::async, [&] { return asp::solve(free_choices(40), false, during.get_token()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    during.request_stop();
    ASSERT_EQ(solving.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_THROW(solving.get(), Cancelled);

    // A token that is never stopped changes nothing.
    std::stop_source unused;
    EXPECT_EQ(asp::solve(free_choices(3), false, unused.get_token()).size(), 8u);
}

TEST(Dnf, GetVariableRemovesOneLeadingMinus) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"rain", "rain"}, {"-rain", "rain"}, {"--x", "-x"}, {"-", ""}, {"", ""}, {"a-b", "a-b"},
    };
    for (const auto& [literal, variable] : cases) EXPECT_EQ(Dnf::get_variable(literal), variable) << literal;
}

TEST(Dnf, RemoveDeletesBothSignsOfTheVariableAndKeepsEmptyClauses) {
    Dnf dnf{{{"a", "t", "-b"}, {"t"}, {"-t", "b", "tt"}, {"-t"}}};
    dnf.remove("t");
    EXPECT_EQ(dnf, (Dnf{{{"a", "-b"}, {}, {"b", "tt"}, {}}}));
    const Dnf before = dnf;
    dnf.remove("nowhere");
    EXPECT_EQ(dnf, before);
}

// More literals than one chunk holds, and one clause larger than a chunk.
TEST(Dnf, ClausesSpanningManyChunksKeepTheirOrderThroughRemoveAndDrain) {
    std::vector<std::vector<std::string>> clauses;
    for (int c = 0; c < 3000; ++c) {
        std::vector<std::string>& clause = clauses.emplace_back();
        for (int l = 0; l < 10; ++l) clause.push_back((c + l) % 3 ? "x" + std::to_string((c * 7 + l) % 50) : "-t");
    }
    clauses.emplace_back(40000, "big");
    clauses.emplace_back();
    Dnf dnf(clauses);
    EXPECT_EQ(dnf.size(), clauses.size());
    EXPECT_EQ(dnf.clauses(), clauses);

    dnf.remove("t");
    for (auto& clause : clauses) std::erase(clause, "-t");
    EXPECT_EQ(dnf.clauses(), clauses);

    std::vector<std::vector<std::string>> drained;
    dnf.drain([&](const std::vector<std::span<const Dnf::LiteralId>>& chunk) {
        for (const auto ids : chunk) {
            std::vector<std::string>& clause = drained.emplace_back();
            for (const Dnf::LiteralId id : ids) clause.push_back(dnf.text(id));
        }
    });
    EXPECT_EQ(drained, clauses);
    EXPECT_TRUE(dnf.empty());
    EXPECT_TRUE(dnf.clauses().empty());
}

TEST(Dnf, QuotedListEscapesLikeADebugList) {
    const std::vector<std::pair<DnfClause, std::string>> cases = {
        {{}, "[]"},
        {{"rain", "-sunny"}, R"(["rain", "-sunny"])"},
        {{R"(p("x"))"}, R"x(["p(\"x\")"])x"},
        {{"a\\b"}, R"(["a\\b"])"},
        {{"l\n\t\r"}, R"(["l\n\t\r"])"},
        {{std::string("\x01\x7f", 2)}, R"(["\u{1}\u{7f}"])"},
        {{"caf\xc3\xa9"}, "[\"caf\xc3\xa9\"]"},
    };
    for (const auto& [clause, text] : cases) EXPECT_EQ(asp::quoted_list(clause), text);
}

}  // namespace
}  // namespace tallo
