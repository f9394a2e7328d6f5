#include "base/teardown.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <stop_token>
#include <thread>

#include "eventually.h"
#include "forked_child.h"

namespace tallo {
namespace {

// A Work on the forking thread's stack is the child's to destroy; its entry
// is in the registry the child forgot, so destroying it must leave the
// child's own registry, and the work counted there, as they are: the child's
// teardown still finds its own work and stops it.
TEST(Teardown, AWorkInheritedByAChildIsDestroyedThereWithoutTouchingTheChildsWork) {
    std::optional<teardown::Work> inherited;
    inherited.emplace();
    ASSERT_TRUE(inherited->started());
    const char said = testing::child_answer([&inherited] {
        std::stop_source stop;
        std::atomic<bool> counted{false};
        std::atomic<bool> stopped{false};
        std::thread own([&] {
            const teardown::Work work(stop);
            counted = true;
            stopped = testing::eventually([&] { return stop.stop_requested(); }, std::chrono::seconds(5));
        });
        testing::eventually([&] { return counted.load(); });
        inherited.reset();
        teardown::begin();  // stops the child's own work and waits for it
        own.join();
        return stopped ? 'y' : 'n';
    });
    inherited.reset();
    EXPECT_EQ(said, 'y');
    EXPECT_FALSE(teardown::begun()) << "the child's teardown is its own";
}

}  // namespace
}  // namespace tallo
