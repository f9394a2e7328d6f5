#include "base/fork_gate.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tallo {
namespace {

// What a child forked now says of itself: 1 when it counts as forked inside a
// section, 0 when not. The child only reads a flag, writes it to a pipe and
// leaves; its exit status is not used, as a sanitizer's exit report (the
// parent's threads, which the child lacks) may replace it.
int child_marked() {
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    const pid_t child = fork();
    if (child == 0) {
        const char answer = forked_inside_a_section() ? '1' : '0';
        [[maybe_unused]] const ssize_t written = write(ends[1], &answer, 1);
        _exit(0);
    }
    close(ends[1]);
    char answer = '?';
    EXPECT_EQ(read(ends[0], &answer, 1), 1);
    close(ends[0]);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, 0), child);
    return answer == '1' ? 1 : answer == '0' ? 0 : -1;
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

TEST(ForkGate, AForkWaitsForAShortSectionAndTheChildIsNotMarked) {
    std::atomic<bool> ending{false};
    std::thread section = thread_in_section([&] {
        std::this_thread::sleep_for(fork_wait_limit / 4);
        ending = true;  // still inside: a fork that waited returns after this
    });
    EXPECT_EQ(child_marked(), 0);
    EXPECT_TRUE(ending) << "the fork did not wait for the section";
    section.join();
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

}  // namespace
}  // namespace tallo
