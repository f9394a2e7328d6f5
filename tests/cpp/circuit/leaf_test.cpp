#include "circuit/leaf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/messages.h"
#include "circuit/messages.h"
#include "circuit/semiring.h"
#include "circuit/checks.h"
#include "stop_message.h"

namespace tallo {
namespace {

using test::same_values;
using testing::stop_message;

using test::inf;

TEST(LeafCreate, EncodesTheProbabilitiesAndStartsWithoutDependencies) {
    const Leaf leaf = Leaf::create<LogProb>(Vector{0.5}, 0.0, "a", 3);
    EXPECT_TRUE(same_values(leaf.value, {std::log(0.5)}));
    EXPECT_EQ(leaf.name, "a");
    EXPECT_EQ(leaf.frequency, 0.0);
    EXPECT_EQ(leaf.index, 3u);
    EXPECT_TRUE(leaf.dependencies.empty());

    Leaf later = Leaf::create<Fuzzy>(Vector{0.5}, 7.5, "b", 0);
    EXPECT_EQ(later.frequency, 7.5);  // the initial timestamp, until the first change
    EXPECT_EQ(later.estimator.update(100.0), 0.0);
}

TEST(LeafCreate, EncodedValueIsStoredAsGiven) {
    EXPECT_TRUE(same_values(Leaf::create_encoded(Vector{-0.7}, 0.0, "a", 0).value, {-0.7}));
    const Vector wide{-0.7, -0.1, 2.0};
    EXPECT_TRUE(Leaf::create_encoded(wide, 0.0, "a", 0).value.shares_storage_with(wide));
}

TEST(LeafCreate, ProbGradientSeedsWhereTheVectorHasRoom) {
    EXPECT_TRUE(same_values(Leaf::create<ProbGradient>(Vector{0.3}, 0.0, "a", 0).value, {0.3}));
    EXPECT_TRUE(same_values(Leaf::create<ProbGradient>(Vector{0.3, 0.9, 0.9}, 0.0, "a", 1).value, {0.3, 0.0, 1.0}));
    EXPECT_EQ(stop_message([] { Leaf::create<ProbGradient>(Vector{}, 0.0, "a", 0); }),
              messages::array_index_out_of_bounds());
}

struct CategoryCase {
    SemiringTag tag;
    Vector probabilities;
    Vector category;
    Vector complement;
};

TEST(CategoryCreate, PairsALeafWithItsComplement) {
    const std::vector<CategoryCase> cases = {
        {SemiringTag::LogProb, {0.2}, {std::log(0.2)}, {std::log(0.8)}},
        {SemiringTag::MaxProduct, {0.2, 1.0}, {std::log(0.2), 0.0}, {std::log(0.8), -inf}},
        {SemiringTag::Fuzzy, {0.2, 0.6}, {0.2, 0.6}, {0.8, 0.4}},
        {SemiringTag::Boolean, {0.2}, {1.0}, {0.0}},
        {SemiringTag::Boolean, {0.0}, {0.0}, {1.0}},
        {SemiringTag::ProbGradient, {0.2}, {0.2}, {0.8}},
        {SemiringTag::ProbGradient, {0.2, 0.0}, {0.2, 1.0}, {0.8, 1.0}},  // the complement has no seed
    };
    for (const CategoryCase& c : cases) {
        dispatch(c.tag, [&]<class S>() {
            const Category<S> category = Category<S>::create("rain", c.probabilities);
            EXPECT_EQ(category.name, "rain");
            ASSERT_EQ(category.leafs.size(), 2u);
            const Leaf& leaf = category.leafs[0];
            const Leaf& complement = category.leafs[1];
            EXPECT_EQ(leaf.name, "rain");
            EXPECT_EQ(complement.name, "-rain");
            EXPECT_EQ(leaf.index, 0u);
            EXPECT_EQ(complement.index, 1u);
            EXPECT_TRUE(same_values(leaf.value, c.category)) << S::name;
            EXPECT_TRUE(same_values(complement.value, c.complement)) << S::name;
            for (const Leaf& l : category.leafs) {
                EXPECT_EQ(l.frequency, 0.0);
                EXPECT_TRUE(l.dependencies.empty());
            }
        });
    }
}

}  // namespace
}  // namespace tallo
