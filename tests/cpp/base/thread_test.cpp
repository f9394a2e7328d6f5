#include "base/thread.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace tallo {
namespace {

constexpr std::size_t mib = std::size_t{1} << 20;

std::size_t own_stack_size() {
    pthread_attr_t attributes;
    EXPECT_EQ(pthread_getattr_np(pthread_self(), &attributes), 0);
    std::size_t size = 0;
    pthread_attr_getstacksize(&attributes, &size);
    pthread_attr_destroy(&attributes);
    return size;
}

TEST(Thread, RunsTheWorkOnItsOwnThreadWithAtLeastTheStackAskedFor) {
    for (const std::size_t asked : {std::size_t{1}, 3 * mib + 5, 64 * mib}) {
        std::optional<std::size_t> size;
        pthread_t ran_on = pthread_self();
        {
            Thread thread(asked, [&](std::stop_token) {
                size = own_stack_size();
                ran_on = pthread_self();
            });
        }
        ASSERT_TRUE(size) << asked;
        EXPECT_GE(*size, asked);
        EXPECT_FALSE(pthread_equal(ran_on, pthread_self())) << asked;
    }
}

TEST(Thread, DestroyingItRequestsAStopAndWaitsForTheWorkToEnd) {
    std::atomic<bool> ended = false;
    {
        Thread thread(least_stack_bytes, [&](std::stop_token stop) {
            std::mutex mutex;
            std::condition_variable_any stopped;
            std::unique_lock lock(mutex);
            // Returns once a stop is requested; bounded, so that a lost stop
            // fails the test instead of hanging it.
            stopped.wait_for(lock, stop, std::chrono::seconds(60), [] { return false; });
            ended = stop.stop_requested();
        });
    }
    EXPECT_TRUE(ended);
}

TEST(Thread, RequestStopReachesTheWorksToken) {
    std::mutex mutex;
    std::condition_variable changed;
    bool saw_stop = false;  // guarded by `mutex`
    Thread thread(least_stack_bytes, [&](std::stop_token stop) {
        std::mutex own;
        std::condition_variable_any wake;
        std::unique_lock wait_lock(own);
        wake.wait_for(wait_lock, stop, std::chrono::seconds(60), [] { return false; });
        const std::lock_guard lock(mutex);
        saw_stop = stop.stop_requested();
        changed.notify_one();
    });
    thread.request_stop();
    thread.request_stop();  // a second request changes nothing
    std::unique_lock lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return saw_stop; }));
}

// The work owns what it shares with the test: the test may stop waiting first.
TEST(StartDetached, RunsTheWorkOnADetachedThreadWithAtLeastTheStackAskedFor) {
    struct Seen {
        std::mutex mutex;
        std::condition_variable changed;
        std::optional<std::size_t> size;  // guarded by `mutex`
        bool detached = false;            // guarded by `mutex`
    };
    auto seen = std::make_shared<Seen>();
    start_detached(3 * mib + 5, [seen] {
        pthread_attr_t attributes;
        int state = PTHREAD_CREATE_JOINABLE;
        if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
            pthread_attr_getdetachstate(&attributes, &state);
            pthread_attr_destroy(&attributes);
        }
        const std::size_t size = own_stack_size();
        const std::lock_guard lock(seen->mutex);
        seen->size = size;
        seen->detached = state == PTHREAD_CREATE_DETACHED;
        seen->changed.notify_one();
    });
    std::unique_lock lock(seen->mutex);
    ASSERT_TRUE(seen->changed.wait_for(lock, std::chrono::seconds(60), [&] { return seen->size.has_value(); }));
    EXPECT_GE(*seen->size, 3 * mib + 5);
    EXPECT_TRUE(seen->detached);
}

TEST(StackSizeForLimit, TheLimitWithinTheLeastAndTheGreatest) {
    const std::pair<rlim_t, std::size_t> cases[] = {
        {0, least_stack_bytes},
        {1 * mib, least_stack_bytes},
        {8 * mib, 8 * mib},
        {16 * mib + 4096, 16 * mib + 4096},
        {64 * mib, 64 * mib},
        {rlim_t{1} << 40, greatest_stack_bytes},
        {RLIM_INFINITY, greatest_stack_bytes},
    };
    static_assert(least_stack_bytes == 8 * mib && greatest_stack_bytes == 64 * mib);
    for (const auto& [limit, size] : cases) EXPECT_EQ(stack_size_for_limit(limit), size) << limit;
}

TEST(StackSizeForLimit, TheProcessLimitIsReadEachTime) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_STACK, &saved), 0);
    rlimit lowered = saved;
    lowered.rlim_cur = std::min<rlim_t>(saved.rlim_max, 12 * mib);
    ASSERT_EQ(setrlimit(RLIMIT_STACK, &lowered), 0);
    EXPECT_EQ(stack_size_for_process_limit(), stack_size_for_limit(lowered.rlim_cur));
    ASSERT_EQ(setrlimit(RLIMIT_STACK, &saved), 0);
    EXPECT_EQ(stack_size_for_process_limit(), stack_size_for_limit(saved.rlim_cur));
}

}  // namespace
}  // namespace tallo
