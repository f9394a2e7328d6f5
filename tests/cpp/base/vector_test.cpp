#include "base/vector.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace tallo {
namespace {

TEST(Vector, CopySharesStorageUntilTheFirstWrite) {
    Vector a{1.0, 2.0, 3.0};
    Vector b = a;
    EXPECT_TRUE(a.shares_storage_with(b));
    EXPECT_EQ(a.data(), b.data()) << "reading must not copy";

    b.mutable_data()[0] = 9.0;
    EXPECT_FALSE(a.shares_storage_with(b));
    EXPECT_EQ(a, (Vector{1.0, 2.0, 3.0}));
    EXPECT_EQ(b, (Vector{9.0, 2.0, 3.0}));
}

TEST(Vector, WriteToUniqueStorageKeepsIt) {
    Vector a(4, 0.5);
    const double* before = a.data();
    a.mutable_data()[3] = 1.0;
    EXPECT_EQ(before, a.data());
    EXPECT_EQ(a, (Vector{0.5, 0.5, 0.5, 1.0}));
}

TEST(Vector, DroppingOneHolderLeavesTheOtherIntact) {
    Vector b;
    {
        Vector a{4.0, 5.0};
        b = a;
    }
    EXPECT_TRUE(b.is_unique());
    EXPECT_EQ(b, (Vector{4.0, 5.0}));
}

TEST(Vector, OneElementVectorsAreIndependentValues) {
    Vector a{0.25};
    Vector b = a;
    b.mutable_data()[0] = 0.75;
    EXPECT_EQ(a[0], 0.25);
    EXPECT_EQ(b[0], 0.75);
}

TEST(Vector, MoveLeavesTheSourceEmpty) {
    Vector a{1.0, 2.0};
    Vector b = std::move(a);
    EXPECT_EQ(a.size(), 0u);  // NOLINT(bugprone-use-after-move): moved-from state is specified
    EXPECT_EQ(b.size(), 2u);
}

TEST(Vector, EqualityComparesLengthAndElements) {
    EXPECT_EQ(Vector{}, Vector{});
    EXPECT_NE((Vector{1.0}), (Vector{1.0, 1.0}));
    EXPECT_NE((Vector{1.0, 2.0}), (Vector{1.0, 3.0}));
}

TEST(Vector, CopiesAcrossThreadsKeepTheCountRight) {
    Vector shared(16, 1.0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([shared] {
            for (int i = 0; i < 1000; ++i) {
                Vector copy = shared;
                ASSERT_EQ(copy[15], 1.0);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_TRUE(shared.is_unique());
}

}  // namespace
}  // namespace tallo
