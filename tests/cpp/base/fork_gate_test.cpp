#include "base/fork_gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "forked_child.h"

namespace tallo {
namespace {

using testing::child_answer;

// What a child forked now says of itself: 1 when it counts as forked inside a
// section, 0 when not.
int child_marked() {
    const char said = child_answer([] { return forked_inside_a_section() ? '1' : '0'; });
    return said == '1' ? 1 : said == '0' ? 0 : -1;
}

// A thread that opens a section and runs `inside` in it; returns once the
// section is open.
template <class F>
std::thread thread_in_section(F inside) {
    std::atomic<bool> opened{false};
    std::thread section([&opened, inside = std::move(inside)] {
        const ForkWaits open;
        opened = true;
        inside();
    });
    while (!opened) std::this_thread::yield();
    return section;
}

// Whether a fork waits for a section of another thread that closes soon: the
// section sets `ending` just before it closes, so a fork that waited returns
// after that; and the child is not marked.
bool fork_waits_for_a_short_section() {
    std::atomic<bool> ending{false};
    std::thread section = thread_in_section([&] {
        std::this_thread::sleep_for(fork_wait_limit / 4);
        ending = true;  // still inside: a fork that waited returns after this
    });
    const int marked = child_marked();
    const bool waited = ending;
    section.join();
    return waited && marked == 0;
}

TEST(ForkGate, AForkWaitsForAShortSectionAndTheChildIsNotMarked) {
    EXPECT_TRUE(fork_waits_for_a_short_section());
    EXPECT_FALSE(forked_inside_a_section());
}

TEST(ForkGate, AChildForkedWhileASectionOutlastsTheWaitIsMarked) {
    std::atomic<bool> release{false};
    std::thread section = thread_in_section([&] {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    EXPECT_EQ(child_marked(), 1);
    release = true;
    section.join();
    EXPECT_EQ(child_marked(), 0) << "with no section open, a child is not marked";
    EXPECT_FALSE(forked_inside_a_section()) << "the parent is never marked";
}

// The forking thread's own section is not waited for (the wait would run out
// on itself and mark the child), however deeply it nests.
TEST(ForkGate, AForkFromInsideTheForkingThreadsOwnSectionsDoesNotMarkTheChild) {
    {
        const ForkWaits outer;
        EXPECT_EQ(child_marked(), 0);
        const ForkWaits inner;
        EXPECT_EQ(child_marked(), 0);
    }
    EXPECT_EQ(child_marked(), 0);
}

// A section that opens an inner one while a fork waits for it goes on: the
// inner one is part of it, not a new section the fork keeps shut (which would
// leave the fork waiting the whole limit on the outer one).
TEST(ForkGate, ASectionNestingWhileAForkWaitsEndsTheWaitAndTheChildIsNotMarked) {
    std::atomic<bool> ending{false};
    std::thread section = thread_in_section([&] {
        std::this_thread::sleep_for(fork_wait_limit / 4);
        {
            const ForkWaits inner;
        }
        ending = true;
    });
    EXPECT_EQ(child_marked(), 0);
    EXPECT_TRUE(ending) << "the fork did not wait for the section";
    section.join();
}

// In a child forked from inside a section, that section closes in the child;
// the child's gate must still count right, so that its own forks wait for
// its other threads' sections.
TEST(ForkGate, AChildForkedInsideItsOwnSectionWaitsForItsThreadsSectionsWhenItForks) {
    std::optional<ForkWaits> open;
    open.emplace();
    const char said = child_answer([&open] {
        open.reset();
        return fork_waits_for_a_short_section() ? 'y' : 'n';
    });
    open.reset();
    EXPECT_EQ(said, 'y');
}

}  // namespace
}  // namespace tallo
