#include "circuit/node_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <unordered_set>
#include <vector>

namespace tallo {
namespace {

std::vector<std::uint32_t> members(const NodeSet& set) { return {set.begin(), set.end()}; }

TEST(NodeSet, HoldsEachIndexOnceInTheOrderOfFirstInsertion) {
    NodeSet set;
    EXPECT_TRUE(set.insert(7));
    EXPECT_TRUE(set.insert(0));
    EXPECT_FALSE(set.insert(7));
    const std::vector<std::uint32_t> more{3, 0, 1000, 3};
    set.insert(more.begin(), more.end());
    EXPECT_EQ(members(set), (std::vector<std::uint32_t>{7, 0, 3, 1000}));
    EXPECT_EQ(set.size(), 4u);
    EXPECT_TRUE(set.contains(1000));
    EXPECT_EQ(set.count(3), 1u);
    EXPECT_FALSE(set.contains(4));
    EXPECT_FALSE(set.contains(1001)) << "an index past every one inserted";
}

TEST(NodeSet, ClearedItHoldsNothingAndFillsAgain) {
    NodeSet set{5, 2, 9};
    set.clear();
    EXPECT_TRUE(set.empty());
    for (std::uint32_t n : {5u, 2u, 9u}) EXPECT_FALSE(set.contains(n)) << n;
    EXPECT_TRUE(set.insert(9));
    EXPECT_EQ(members(set), std::vector<std::uint32_t>{9});
}

TEST(NodeSet, SwapExchangesMembers) {
    NodeSet a{1, 2};
    NodeSet b{3};
    a.swap(b);
    EXPECT_EQ(members(a), std::vector<std::uint32_t>{3});
    EXPECT_EQ(members(b), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_FALSE(a.contains(1));
    EXPECT_FALSE(b.contains(3));
}

TEST(NodeSet, EqualityIgnoresInsertionOrder) {
    const NodeSet set{4, 1, 8};
    EXPECT_EQ(set, (NodeSet{8, 4, 1}));
    EXPECT_NE(set, (NodeSet{8, 4}));
    EXPECT_NE(set, (NodeSet{8, 4, 2}));
    EXPECT_EQ(set, (std::unordered_set<std::uint32_t>{1, 4, 8}));
    EXPECT_NE(set, (std::unordered_set<std::uint32_t>{1, 4, 9}));
    NodeSet assigned;
    assigned = {8, 1, 4};
    EXPECT_EQ(assigned, set);
}

}  // namespace
}  // namespace tallo
