#include "language/asp_program.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "example_model.h"
#include "language/model_statements.h"

namespace tallo {
namespace {

// The program of a model text, with the comparison table given by hand (the
// compiler builds it from the same clauses).
std::string program_of(std::string_view model, const ComparisonTable& comparisons = {}) {
    const ModelStatements statements = parse_model(model);
    return build_asp_program(statements.sources, statements.categorical_sources, statements.clauses, comparisons,
                             statements.targets.at(0));
}

TEST(AspProgram, ExampleModelGivesItsTwelveLines) {
    const ComparisonTable comparisons{{"temp(kitchen)", {{30.0, true, "temp_kitchen_gt_30"}}}};
    EXPECT_EQ(program_of(testing::example_model, comparisons), testing::example_program);
}

struct ProgramCase {
    const char* what;
    const char* model;
    ComparisonTable comparisons;
    const char* program;
};

TEST(AspProgram, SectionsFollowTheModel) {
    const std::vector<ProgramCase> cases = {
        {"a source no body uses gets no choice",
                    "r <- source(\"/r\", Probability). s <- source(\"/s\", Boolean). t if s. t -> target(\"/t\").",
                    {},
                    "{s}.\nt :- s.\n:- not t.\n"},
        {"negated use, variable use and another constant",
                    "r(a) <- source(\"/r\", Boolean). q(a) <- source(\"/q\", Boolean). n <- source(\"/n\", Boolean)."
                    " t if r(X) and q(b) and not n. t -> target(\"/t\").",
                    {},
                    "{r(a)}.\n{n}.\nt :- r(X), q(b), not n.\n:- not t.\n"},
        {"no clauses: no source choices",
                    "r <- source(\"/r\", Probability). t -> target(\"/t\").", {}, ":- not t.\n"},
        {"comparison on a non-numeric source or matching no source",
                    "b(a) <- source(\"/b\", Boolean). t if b(X) > 3 and z(Y) < 1. t -> target(\"/t\").",
                    {},
                    "t :- tallo_b_gt_3(X), tallo_z_lt_1(Y).\n:- not t.\n"},
        {"one bridging rule per matching source for a repeated comparison",
                    "v(a) <- source(\"/a\", Number). v(b) <- source(\"/b\", Density). v <- source(\"/v\", Number)."
                    " t if v(X) < 2. u if v(Y) < 2. t -> target(\"/t\").",
                    {{"v(a)", {{2.0, false, "v_a_lt_2"}}}, {"v(b)", {{2.0, false, "v_b_lt_2"}}}, {"v", {}}},
                    "{v_a_lt_2}.\n{v_b_lt_2}.\n"
                    "tallo_v_lt_2(a) :- v_a_lt_2.\ntallo_v_lt_2(b) :- v_b_lt_2.\n"
                    "t :- tallo_v_lt_2(X).\nu :- tallo_v_lt_2(Y).\n:- not t.\n"},
        {"variable head whose body holds only sources and comparisons",
                    "s(a) <- source(\"/s\", Boolean). h(X) <- P(0.5) if s(X) and not s(X) and x(X) > 1."
                    " h(a) -> target(\"/t\").",
                    {},
                    "{s(a)}.\n{h_cause_0(X)}.\nh(X) :- h_cause_0(X), s(X), not s(X), tallo_x_gt_1(X).\n"
                    ":- not h(a).\n"},
        {"causes are counted per full head text",
                    "a(1) <- P(0.1). a(2) <- P(0.2). a(1) <- P(0.3). a(X) <- P(0.4) if b(X). a(X) <- P(0.5) if b(X)."
                    " b(1). c <- P(0.6) if b(2). a(1) -> target(\"/t\").",
                    {},
                    "{a_1_cause_0}.\na(1) :- a_1_cause_0.\n"
                    "{a_2_cause_0}.\na(2) :- a_2_cause_0.\n"
                    "{a_1_cause_1}.\na(1) :- a_1_cause_1.\n"
                    "{a_cause_0(X)} :- b(X).\na(X) :- a_cause_0(X), b(X).\n"
                    "{a_cause_1(X)} :- b(X).\na(X) :- a_cause_1(X), b(X).\n"
                    "b(1).\n"
                    "{c_cause_0}.\nc :- c_cause_0, b(2).\n"
                    ":- not a(1).\n"},
        {"only the first target is constrained",
                    "a. a -> target(\"/a\"). b -> target(\"/b\").", {}, "a.\n:- not a.\n"},
    };
    for (const ProgramCase& c : cases) EXPECT_EQ(program_of(c.model, c.comparisons), c.program) << c.what;
}

TEST(AspProgram, CategoricalSourcesAreWrittenAsStoredEvenWhenEmpty) {
    const std::vector<CategoricalSource> categorical{{{"a", "b", "c"}, "/x"}, {{}, "/y"}};
    EXPECT_EQ(build_asp_program({}, categorical, {}, {}, Target{"t", "/t"}),
              "1 { a ; b ; c } 1.\n1 {  } 1.\n:- not t.\n");
}

}  // namespace
}  // namespace tallo
