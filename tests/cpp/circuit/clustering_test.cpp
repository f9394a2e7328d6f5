#include "circuit/clustering.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "base/memory.h"
#include "circuit/messages.h"
#include "stop_message.h"

namespace tallo {
namespace {

TEST(Partitioning, LevelsByOccupiedBinHighestFirst) {
    const double inf = std::numeric_limits<double>::infinity();
    const double max = std::numeric_limits<double>::max();
    struct Case {
        const char* what;
        std::vector<double> values;
        std::vector<double> boundaries;
        std::vector<std::uint32_t> levels;
    };
    const Case cases[] = {
        {"bins 0, 2, 3 ranked without gaps", {0.5, 2.5, 10, 0.2}, {1, 2, 3}, {2, 1, 0, 2}},
        {"no boundaries: one bin", {0.5, 1e300, 0.0}, {}, {0, 0, 0}},
        {"a value on a boundary falls in that boundary's bin", {1.0, 2.0, 1.5}, {1, 2, 3}, {1, 0, 0}},
        {"only bins 0 and 3 occupied", {0.5, 7.0}, {1, 2, 3}, {1, 0}},
        {"above the last boundary and infinity share the last bin", {4.0, inf, max, 0.0}, {1, 2, 3}, {0, 0, 0, 1}},
        {"one shared bin", {1.2, 1.3, 1.9}, {1, 2, 3}, {0, 0, 0}},
        {"negative values fall in bin 0", {-5.0, 0.5, 1.5}, {1, 2}, {1, 1, 0}},
        {"not-a-number falls in the last bin", {std::nan(""), 0.5, 1.5}, {1, 2}, {0, 2, 1}},
        {"no values", {}, {1, 2}, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(clustering::partitioning(c.values, c.boundaries), c.levels) << c.what;
    }
}

TEST(EqualWidthBoundaries, UpperEdgesOfEachBin) {
    EXPECT_EQ(clustering::equal_width_boundaries(0.5, 3), (std::vector<double>{0.5, 1.0, 1.5}));
    EXPECT_TRUE(clustering::equal_width_boundaries(1.0, 0).empty());
}

// The largest count the host can pass: its boundaries take 32 GiB, which is
// refused before the allocation (which the sanitizer's allocator would abort
// on) wherever the machine has less than 64 GiB.
TEST(EqualWidthBoundaries, RefusesBinsWhoseBoundariesTheMachineCannotHold) {
    constexpr std::uint32_t bins = std::numeric_limits<std::uint32_t>::max();
    const std::size_t bytes = std::size_t{bins} * sizeof(double);
    if (physical_memory() / 2 >= bytes) GTEST_SKIP() << "the machine could hold the boundaries";
    EXPECT_EQ(testing::stop_message([] { clustering::equal_width_boundaries(1.0, bins); }),
              messages::too_many_bins(bins, bytes, physical_memory()));
}

}  // namespace
}  // namespace tallo
