#include "language/tallo.h"

#include <cmath>
#include <map>
#include <stop_token>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/cancelled.h"
#include "circuit/messages.h"
#include "eventually.h"
#include "example_model.h"
#include "language/asp.h"
#include "language/asp_program.h"
#include "language/compile_steps.h"
#include "language/messages.h"
#include "stop_message.h"

namespace tallo {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::StartsWith;
using Groups = std::unordered_map<std::string, std::vector<std::string>>;

template <class S>
std::vector<std::string> names_of(Tallo<S>& model) {
    return model.channels().get_names();
}

// Every leaf's first slot in probability space.
template <class S>
std::vector<double> first_slots(Tallo<S>& model) {
    std::vector<double> slots;
    for (const Vector& value : model.channels().get_values()) slots.push_back(value.empty() ? NAN : value[0]);
    return slots;
}

template <class S>
std::size_t product_count(Tallo<S>& model, const std::string& topic) {
    auto circuit = model.circuit().lock();
    return circuit->structure().node(circuit->target_nodes().at(topic)).minterms().size();
}

template <class S>
std::unordered_map<std::string, Vector> update(Tallo<S>& model) {
    return model.circuit().lock()->update();
}

template <class S>
IpcSender sender_of(Tallo<S>& model, std::string_view source) {
    Result<TypedWriter> writer = model.make_writer_for(source);
    EXPECT_TRUE(writer.ok()) << source;
    TypedWriter::Probability& probability = std::get<TypedWriter::Probability>(writer.value().kind);
    return probability.writer.sender().duplicate();
}

void send(const IpcSender& sender, Vector value) { (void)sender.send(IpcMessage{std::move(value), 1.0}); }

// What a number writer sends: 1.0 to every comparison that holds for x.
void send_number(const std::vector<ComparisonTarget>& targets, double x) {
    for (const ComparisonTarget& target : targets) {
        send(target.sender, Vector{(target.is_greater ? x > target.threshold : x < target.threshold) ? 1.0 : 0.0});
    }
}

template <class S>
std::vector<ComparisonTarget> number_targets(Tallo<S>& model, std::string_view source) {
    Result<TypedWriter> writer = model.make_writer_for(source);
    return std::move(std::get<TypedWriter::Number>(writer.value().kind).targets);
}

// Waits (bounded) until the leaf named `name` holds `probability` in slot 0.
template <class S>
bool leaf_reaches(Tallo<S>& model, const std::string& name, double probability) {
    return testing::eventually([&] {
        const std::vector<std::string> names = names_of(model);
        const std::vector<double> values = first_slots(model);
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i] == name) return std::abs(values[i] - probability) < 1e-9;
        }
        return false;
    });
}

const std::vector<std::string> example_leaves = {
    "rain",       "-rain",  "temp_kitchen_gt_30", "-temp_kitchen_gt_30", "sunny", "cloudy", "wet_cause_0",
    "-wet_cause_0", "hot_cause_0(kitchen)", "-hot_cause_0(kitchen)"};

TEST(TalloCompile, ExampleModelHasItsLeavesTablesAndProducts) {
    Tallo<LogProb> model = Tallo<LogProb>::compile(testing::example_model, 1, false);
    EXPECT_EQ(names_of(model), example_leaves);
    const std::vector<double> expected = {0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 0.9, 0.1, 0.7, 0.3};
    const std::vector<double> values = first_slots(model);
    ASSERT_EQ(values.size(), expected.size());
    for (std::size_t i = 0; i < values.size(); ++i) EXPECT_NEAR(values[i], expected[i], 1e-12) << example_leaves[i];

    EXPECT_EQ(model.comparisons(), (ComparisonTable{{"temp(kitchen)", {{30.0, true, "temp_kitchen_gt_30"}}}}));
    EXPECT_EQ(model.parameter_groups(), (Groups{{"wet#0", {"wet_cause_0"}}, {"hot#0", {"hot_cause_0(kitchen)"}}}));
    EXPECT_EQ(model.value_size(), 1u);
    EXPECT_EQ(product_count(model, "/out/alarm"), 11u);
    for (const char* channel : {"/weather/rain", "temp_kitchen_gt_30", "/sky"}) {
        EXPECT_TRUE(model.channels().registered_sender(channel).has_value()) << channel;
    }
}

TEST(TalloCompile, VerboseOutputShowsModelSetupProgramModelsAndCount) {
    ::testing::internal::CaptureStdout();
    Tallo<LogProb>::compile(testing::example_model, 1, true);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string head = std::string("Compiling Tallo from program:\n") + testing::example_model +
                             "\nSetup 8 signals.\nCompiled Tallo for target alarm into ASP:\n" +
                             testing::example_program + "\n";
    ASSERT_THAT(out, StartsWith(head));
    const std::string rest = out.substr(head.size());
    std::size_t models = 0;
    for (std::size_t at = 0; (at = rest.find("Found stable model: [", at)) != std::string::npos; ++at) ++models;
    EXPECT_EQ(models, 11u);
    EXPECT_THAT(rest, ::testing::EndsWith("]\nSolved Tallo into a DNF with 11 clauses\n"));
}

// The example model fed with rain 0.8, a kitchen at 35 degrees and the sky
// cloudy with 0.6: alarm = 1 - (1 - 0.8 * 0.9 * 0.6) * (1 - 0.7) = 0.8296.
// Each semiring reads the same eleven products its own way.
template <class S>
class TalloSemirings : public ::testing::Test {};
using AllSemirings = SemiringTypes::apply<::testing::Types>;
TYPED_TEST_SUITE(TalloSemirings, AllSemirings);

TYPED_TEST(TalloSemirings, ExampleModelFollowsItsSignals) {
    using S = TypeParam;
    const std::map<SemiringTag, double> expected = {
        {SemiringTag::LogProb, 0.8296},  {SemiringTag::MaxProduct, 0.8 * 0.9 * 0.6 * 0.7},
        {SemiringTag::Fuzzy, 0.6},       {SemiringTag::Boolean, 1.0},
        {SemiringTag::ProbGradient, 0.8296},
    };
    Tallo<S> model = Tallo<S>::compile(testing::example_model, 1, false);
    EXPECT_EQ(names_of(model), example_leaves);
    EXPECT_EQ(update(model).at("/out/alarm")[0], 0.0);  // no signal yet: no category holds

    send(sender_of(model, "rain"), Vector{0.8});
    send_number(number_targets(model, "temp(kitchen)"), 35.0);
    send(model.channels().get_or_create_sender("/sky"), Vector{0.4, 0.6});
    // A leaf holds what its semiring makes of a probability (Boolean: 1.0).
    const auto stored = [](double p) { return S::decode(S::encode_leaf_vec(Vector{p}, 1, 0))[0]; };
    ASSERT_TRUE(leaf_reaches(model, "rain", stored(0.8)));
    ASSERT_TRUE(leaf_reaches(model, "temp_kitchen_gt_30", 1.0));
    ASSERT_TRUE(leaf_reaches(model, "cloudy", stored(0.6)));
    const Vector alarm = update(model).at("/out/alarm");
    EXPECT_NEAR(alarm[0], expected.at(S::tag), 1e-9);

    if constexpr (S::tag == SemiringTag::ProbGradient) {
        // One slot per leaf after the probability; the cause of hot(kitchen)
        // decides alone when the kitchen is hot, its complement leaves only
        // the wet road (0.8 * 0.9 * 0.6).
        ASSERT_EQ(alarm.size(), 11u);
        EXPECT_NEAR(alarm[1 + 8], 1.0, 1e-9);
        EXPECT_NEAR(alarm[1 + 9], 0.432, 1e-9);
    }
}

TEST(TalloCompile, ExampleModelFollowsALaterSetting) {
    Tallo<LogProb> model = Tallo<LogProb>::compile(testing::example_model, 1, false);
    const IpcSender rain = sender_of(model, "rain");
    const auto kitchen = number_targets(model, "temp(kitchen)");
    send(rain, Vector{0.5});
    send_number(kitchen, 20.0);
    send(model.channels().get_or_create_sender("/sky"), Vector{0.0, 1.0});
    ASSERT_TRUE(leaf_reaches(model, "cloudy", 1.0));
    ASSERT_TRUE(leaf_reaches(model, "rain", 0.5));
    EXPECT_NEAR(update(model).at("/out/alarm")[0], 0.5 * 0.9, 1e-9);

    send_number(kitchen, 31.0);  // now the hot road opens too
    ASSERT_TRUE(leaf_reaches(model, "temp_kitchen_gt_30", 1.0));
    EXPECT_NEAR(update(model).at("/out/alarm")[0], 1.0 - (1.0 - 0.45) * 0.3, 1e-9);
}

TEST(TalloCompile, ModelsWithoutTargetOrWithSeveralCompileTheFirstOnly) {
    Tallo<LogProb> none = Tallo<LogProb>::compile("r <- source(\"/r\", Probability). t if r.", 1, false);
    EXPECT_EQ(names_of(none), (std::vector<std::string>{"r", "-r"}));
    EXPECT_TRUE(none.circuit().lock()->target_nodes().empty());
    EXPECT_TRUE(update(none).empty());

    Tallo<LogProb> two = Tallo<LogProb>::compile("a. b. a -> target(\"/a\"). b -> target(\"/b\").", 1, false);
    EXPECT_EQ(two.targets().size(), 2u);
    const auto values = update(two);
    EXPECT_EQ(values.size(), 1u);
    EXPECT_EQ(values.at("/a")[0], 1.0);
}

TEST(TalloCompile, EmptyModelHasNothingAndSaysSo) {
    ::testing::internal::CaptureStdout();
    Tallo<LogProb> model = Tallo<LogProb>::compile("", 1, true);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Compiling Tallo from program:\n\nSetup 0 signals.\n");
    EXPECT_TRUE(names_of(model).empty());
    EXPECT_TRUE(update(model).empty());
}

TEST(TalloCompile, TargetValueFollowsTheShapeOfTheSolution) {
    struct Case {
        const char* what;
        const char* model;
        double value;
    };
    const std::vector<Case> cases = {
        {"no model satisfies the target: no products, the semiring's zero",
         "r <- source(\"/r\", Probability). t if r and not r. t -> target(\"/t\").", 0.0},
        {"a product without leaves: the semiring's one", "t. t -> target(\"/t\").", 1.0},
    };
    for (const Case& c : cases) {
        Tallo<LogProb> model = Tallo<LogProb>::compile(c.model, 1, false);
        EXPECT_EQ(update(model).at("/t")[0], c.value) << c.what;
    }
}

// The solver writes p(a,b) for the source declared as p(a, b); its leaves keep
// the declared names and still take part in the products.
TEST(TalloCompile, SourcesSpelledWithSpacesTakePartInTheProducts) {
    Tallo<LogProb> model =
        Tallo<LogProb>::compile("p(a, b) <- source(\"/p\", Probability). t if p(a, b). t -> target(\"/t\").", 1, false);
    EXPECT_EQ(names_of(model), (std::vector<std::string>{"p(a, b)", "-p(a, b)"}));
    EXPECT_EQ(update(model).at("/t")[0], 0.0);
    send(sender_of(model, "p(a, b)"), Vector{0.2});
    ASSERT_TRUE(leaf_reaches(model, "p(a, b)", 0.2));
    EXPECT_NEAR(update(model).at("/t")[0], 0.2, 1e-12);
}

TEST(TalloCompile, RepeatedHeadsShareOrSplitTheirParameterGroups) {
    Tallo<LogProb> model = Tallo<LogProb>::compile(
        "a(1) <- P(0.1). a(2) <- P(0.2). a(1) <- P(0.3). b(X) <- P(0.4) if c(X). b(Y) <- P(0.5) if c(Y)."
        " c(1). t if a(1) and b(1). t -> target(\"/t\").",
        1, false);
    EXPECT_EQ(model.parameter_groups(), (Groups{{"a#0", {"a_1_cause_0", "a_2_cause_0"}},
                                               {"a#1", {"a_1_cause_1"}},
                                               {"b#0", {"b_cause_0(1)"}}}));
    const std::vector<std::string> names = names_of(model);
    EXPECT_THAT(names, ElementsAre("a_1_cause_0", "-a_1_cause_0", "a_2_cause_0", "-a_2_cause_0", "a_1_cause_1",
                                   "-a_1_cause_1", "b_cause_0(1)", "-b_cause_0(1)"));
    // The later clause's probability applies to the shared base.
    EXPECT_NEAR(first_slots(model)[6], 0.5, 1e-12);
    // t holds when one of a(1)'s causes and b(1)'s cause hold.
    EXPECT_NEAR(update(model).at("/t")[0], (1.0 - 0.9 * 0.7) * 0.5, 1e-9);
}

TEST(TalloCompile, NumericSourcesGetOneLeafPairPerDistinctComparison) {
    Tallo<LogProb> model = Tallo<LogProb>::compile(
        "v <- source(\"/v\", Number). v <- source(\"/v2\", Density). w <- source(\"/w\", Number)."
        " a if v > 1. b if v > 1 and v < 0.5. a -> target(\"/a\").",
        2, false);
    EXPECT_EQ(names_of(model), (std::vector<std::string>{"v_gt_1", "-v_gt_1", "v_lt_0_5", "-v_lt_0_5", "v_gt_1",
                                                         "-v_gt_1", "v_lt_0_5", "-v_lt_0_5"}));
    EXPECT_EQ(model.comparisons().at("v"),
              (std::vector<ComparisonEntry>{{1.0, true, "v_gt_1"}, {0.5, false, "v_lt_0_5"}}));
    EXPECT_TRUE(model.comparisons().at("w").empty());
    for (const Vector& value : model.channels().get_values()) EXPECT_EQ(value.size(), 2u);
    // Both sources share the channels of their comparisons' names; the
    // second read replaced the first sender.
    EXPECT_EQ(number_targets(model, "v").size(), 2u);
    EXPECT_TRUE(number_targets(model, "w").empty());
}

TEST(TalloCompile, NegativeThresholdsWorkEndToEnd) {
    Tallo<LogProb> model =
        Tallo<LogProb>::compile("t(a) <- source(\"/t\", Number). cold if t(X) < -5. cold -> target(\"/c\").", 1, false);
    EXPECT_EQ(names_of(model), (std::vector<std::string>{"t_a_lt_m5", "-t_a_lt_m5"}));
    const auto targets = number_targets(model, "t(a)");
    send_number(targets, -7.5);
    ASSERT_TRUE(leaf_reaches(model, "t_a_lt_m5", 1.0));
    EXPECT_EQ(update(model).at("/c")[0], 1.0);
    send_number(targets, -2.0);
    ASSERT_TRUE(leaf_reaches(model, "t_a_lt_m5", 0.0));
    EXPECT_EQ(update(model).at("/c")[0], 0.0);
}

TEST(TalloCompile, BatchWidthOfEveryLeaf) {
    Tallo<Fuzzy> model = Tallo<Fuzzy>::compile(testing::example_model, 3, false);
    EXPECT_EQ(model.value_size(), 3u);
    EXPECT_EQ(model.circuit().lock()->batch_width(), 3u);
    for (const Vector& value : model.channels().get_values()) EXPECT_EQ(value.size(), 3u);
    EXPECT_EQ(update(model).at("/out/alarm").size(), 3u);
}

TEST(TalloCompile, ProbGradientSeedsOneDerivativeSlotPerLeaf) {
    Tallo<ProbGradient> model = Tallo<ProbGradient>::compile(testing::example_model, 1, false);
    const std::size_t n = example_leaves.size();
    EXPECT_EQ(model.value_size(), n + 1);
    EXPECT_EQ(model.circuit().lock()->batch_width(), 1u) << "the derivative slots are no batch";
    const std::vector<Vector> values = model.channels().get_values();
    ASSERT_EQ(values.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
        Vector expected(n + 1, 0.0);
        expected.mutable_data()[0] = values[i][0];
        expected.mutable_data()[1 + i] = 1.0;
        EXPECT_EQ(values[i], expected) << example_leaves[i];
    }
}

TEST(TalloCompile, BatchWidthsThatCannotBeCompiledStopBeforeAnythingExists) {
    EXPECT_EQ(testing::stop_message([] { Tallo<ProbGradient>::compile(testing::example_model, 2, false); }),
              messages::prob_gradient_batching(2));
    EXPECT_EQ(testing::stop_message([] { Tallo<ProbGradient>::compile("", 0, false); }),
              messages::prob_gradient_batching(0));
    EXPECT_EQ(testing::stop_message([] { Tallo<LogProb>::compile(testing::example_model, 0, false); }),
              messages::value_size_zero());
}

TEST(TalloCompile, SolverFailuresStopTheCompilation) {
    struct Case {
        const char* model;
        std::string prefix;
    };
    const std::vector<Case> cases = {
        // A category name that the solver's syntax refuses.
        {"{a b, c} <- source(\"/x\", Categorical). t. t -> target(\"/t\").",
         std::string(messages::clingo_add_failed()) + ": clingo_control_add failed"},
        // A cause choice whose variable nothing binds.
        {"h(X) <- P(0.5). h(a) -> target(\"/t\").",
         std::string(messages::clingo_ground_failed()) + ": clingo_control_ground failed"},
    };
    for (const Case& c : cases) {
        EXPECT_THAT(testing::stop_message([&] { Tallo<LogProb>::compile(c.model, 1, false); }), StartsWith(c.prefix))
            << c.model;
    }
}

// The products reach the circuit a chunk of the normal form at a time; the
// node is the one that all of them in one call build.
TEST(TalloCompile, ProductsOfManyChunksBuildTheNodeOfOneCall) {
    std::string model;
    for (int i = 0; i < 12; ++i) model += fmt::format("s{} <- source(\"/s/{}\", Probability).\n", i, i);
    for (int i = 0; i < 12; ++i) model += fmt::format("t if s{}.\n", i);
    model += "t if not s0.\nt -> target(\"/t\").\n";
    auto compiled = Tallo<LogProb>::compile(model, 1, false);

    Dnf dnf = asp::solve(build_asp_program(compiled.sources(), compiled.categorical_sources(), compiled.clauses(),
                                           compiled.comparisons(), compiled.targets().front()),
                         false);
    dnf.remove("t");
    const auto products = product_terms(dnf, compiled.channels().get_index_map());
    auto circuit = compiled.circuit().lock();
    ReactiveCircuit<LogProb> whole(1);
    for (const Leaf& leaf : circuit->leafs()) whole.add_leaf(LogProb::decode(leaf.value), 0.0, leaf.name);
    whole.add_sum_product(products, "/t");

    ASSERT_EQ(circuit->target_nodes(), whole.target_nodes());
    const AlgebraicCircuit& node = circuit->structure().node(circuit->target_nodes().at("/t"));
    const AlgebraicCircuit& expected = whole.structure().node(whole.target_nodes().at("/t"));
    EXPECT_EQ(node.minterms().size(), 4096u);
    EXPECT_EQ(node.minterms(), expected.minterms());
    EXPECT_EQ(node.columns(), expected.columns());
    for (std::size_t leaf = 0; leaf < whole.leafs().size(); ++leaf) {
        EXPECT_EQ(circuit->leafs()[leaf].dependencies, whole.leafs()[leaf].dependencies) << leaf;
    }
    EXPECT_EQ(circuit->dirty(), whole.dirty());
}

TEST(TalloCompile, ARequestedStopCancelsTheCompilation) {
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(Tallo<LogProb>::compile(testing::example_model, 1, false, stop.get_token()), Cancelled);
    // Nothing of it is left behind that a later compile would meet.
    auto compiled = Tallo<LogProb>::compile(testing::example_model, 1, false);
    EXPECT_EQ(product_count(compiled, "/out/alarm"), 11u);
}

TEST(TalloWriters, WriterKindFollowsTheSourceDataType) {
    Tallo<LogProb> model = Tallo<LogProb>::compile(
        "p <- source(\"/p\", Probability). b <- source(\"/b\", Boolean). d <- source(\"/d\", Density)."
        " n <- source(\"/n\", Number). {x, y} <- source(\"/c\", Categorical). t if d > 2 and d < 1 and p and b.",
        1, false);
    struct Case {
        const char* source;
        std::size_t kind;
    };
    for (const Case& c : std::vector<Case>{{"p", 0}, {"d", 1}, {"n", 2}, {"b", 3}}) {
        Result<TypedWriter> writer = model.make_writer_for(c.source);
        ASSERT_TRUE(writer.ok()) << c.source;
        EXPECT_EQ(writer.value().kind.index(), c.kind) << c.source;
    }
    Result<TypedWriter> writer = model.make_writer_for("d");
    const auto& density = std::get<TypedWriter::Density>(writer.value().kind).writer.targets();
    ASSERT_EQ(density.size(), 2u);
    EXPECT_EQ(density[0].threshold, 2.0);
    EXPECT_TRUE(density[0].is_greater);
    EXPECT_EQ(density[1].threshold, 1.0);
    EXPECT_FALSE(density[1].is_greater);
    EXPECT_TRUE(std::get<TypedWriter::Number>(model.make_writer_for("n").value().kind).targets.empty());

    // Lookup is by atom only: topics, comparison names and categories are no sources.
    for (const char* name : {"/p", "d_gt_2", "x", "missing"}) {
        Result<TypedWriter> writer = model.make_writer_for(name);
        ASSERT_FALSE(writer.ok()) << name;
        EXPECT_EQ(writer.error().message, messages::source_not_found(name));
    }
}

TEST(TalloWriters, FirstSourceOfAnAtomDecidesAndWriterFeedsItsReader) {
    Tallo<LogProb> model = Tallo<LogProb>::compile(
        "r <- source(\"/first\", Probability). r <- source(\"/second\", Probability). t if r."
        " t -> target(\"/t\").",
        1, false);
    EXPECT_EQ(names_of(model), (std::vector<std::string>{"r", "-r", "r", "-r"}));
    send(sender_of(model, "r"), Vector{0.25});
    ASSERT_TRUE(leaf_reaches(model, "r", 0.25));  // the first leaf named r is fed by /first
    EXPECT_NEAR(update(model).at("/t")[0], 0.25, 1e-12);
}

}  // namespace
}  // namespace tallo
