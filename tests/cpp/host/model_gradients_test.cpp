// The gradient steps on compiled models: the names of causes, complements
// and comparisons as the compiler makes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "circuit/semiring.h"
#include "host/gradients.h"
#include "language/tallo.h"

namespace tallo::gradients {
namespace {

using Model = Tallo<ProbGradient>;

std::unordered_map<std::string, double> probabilities(Model& model) {
    std::unordered_map<std::string, double> out;
    auto circuit = model.circuit().lock();
    for (const Leaf& leaf : circuit->leafs()) out[leaf.name] = leaf.value[0];
    return out;
}

TEST(ModelGradients, FitParametersMovesEveryGroundingOfAGroupTogether) {
    Model model = Model::compile(R"(
        a <- source("/a", Probability).
        r(x). r(y).
        w <- P(0.9) if a.
        q(X) <- P(0.4) if r(X) and a.
        t if w.
        t if q(X).
        t -> target("/t").
    )", 1, false);
    auto groups = model.parameter_groups();
    for (auto& [key, names] : groups) std::sort(names.begin(), names.end());
    EXPECT_EQ(groups, (std::unordered_map<std::string, std::vector<std::string>>{
                          {"w#0", {"w_cause_0"}}, {"q#0", {"q_cause_0(x)", "q_cause_0(y)"}}}));

    // q#0: 0.4 - (0.1 + 0.3) * 0.5 for both groundings; w#0 is not selected.
    const Derivatives derivatives = {{"q_cause_0(x)", 0.1}, {"q_cause_0(y)", 0.3}, {"w_cause_0", 1.0}, {"a", 1.0}};
    fit_parameters(*model.circuit().lock(), model.parameter_groups(), derivatives, 0.5, 1.0,
                   std::vector<std::string>{"q#0"}, 1.0);
    auto after = probabilities(model);
    EXPECT_NEAR(after["q_cause_0(x)"], 0.2, 1e-12);
    EXPECT_NEAR(after["q_cause_0(y)"], 0.2, 1e-12);
    EXPECT_NEAR(after["-q_cause_0(x)"], 0.8, 1e-12);
    EXPECT_NEAR(after["-q_cause_0(y)"], 0.8, 1e-12);
    EXPECT_NEAR(after["w_cause_0"], 0.9, 1e-12);
    EXPECT_EQ(after["a"], 0.0);
    EXPECT_EQ(after["-a"], 1.0);
}

TEST(ModelGradients, SourceGradientsFollowTheCompiledLeafNames) {
    Model model = Model::compile(R"(
        rain <- source("/rain", Probability).
        temp <- source("/temp", Number).
        {sunny, cloudy} <- source("/sky", Categorical).
        hot <- P(0.5) if temp > 30.
        out if rain. out if hot. out if sunny.
        out -> target("/out").
    )", 1, false);
    const Unpacked unpacked = full_gradient_update(*model.circuit().lock());
    ASSERT_TRUE(unpacked.contains("/out"));
    const Derivatives& all = unpacked.at("/out").gradients;
    auto of = [&](std::string_view key) {
        return source_gradients(all, key, model.sources(), model.categorical_sources(), model.comparisons());
    };
    auto picked = [&](std::vector<std::string> names) {
        Derivatives out;
        for (const std::string& name : names) out[name] = all.at(name);
        return out;
    };
    EXPECT_EQ(of("rain"), picked({"rain"}));
    EXPECT_EQ(of("/rain"), picked({"rain"}));
    EXPECT_EQ(of("temp"), picked({"temp_gt_30"}));
    EXPECT_EQ(of("/temp"), picked({"temp_gt_30"}));
    EXPECT_EQ(of("/sky"), picked({"sunny", "cloudy"}));
}

}  // namespace
}  // namespace tallo::gradients
