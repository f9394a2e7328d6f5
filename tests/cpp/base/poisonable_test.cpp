#include "base/poisonable.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/messages.h"

namespace tallo {
namespace {

std::string stop_message(auto&& operation) {
    try {
        operation();
    } catch (const Panic& panic) {
        return panic.message();
    }
    return "<no stop>";
}

TEST(Poisonable, LockGivesTheValue) {
    auto shared = Shared<int>::make(41);
    {
        auto guard = shared.lock();
        *guard += 1;
    }
    EXPECT_EQ(*shared.lock(), 42);
    EXPECT_FALSE(shared.is_poisoned());
}

TEST(Poisonable, AStopWhileHoldingTheLockPoisonsIt) {
    auto shared = Shared<int>::make(0);
    EXPECT_EQ(stop_message([&] {
                  auto guard = shared.lock();
                  *guard = 7;
                  stop("broken");
              }),
              "broken");
    EXPECT_TRUE(shared.is_poisoned());
    EXPECT_EQ(stop_message([&] { shared.lock(); }), messages::poisoned_mutex());
    EXPECT_EQ(stop_message([&] { shared.lock(); }), messages::poisoned_mutex()) << "poisoning is permanent";
}

TEST(Poisonable, AnyExceptionPoisons) {
    auto shared = Shared<int>::make(0);
    EXPECT_THROW(
        {
            auto guard = shared.lock();
            throw std::runtime_error("other");
        },
        std::runtime_error);
    EXPECT_TRUE(shared.is_poisoned());
}

TEST(Poisonable, AStopAfterTheLockIsReleasedDoesNotPoison) {
    auto shared = Shared<int>::make(0);
    EXPECT_EQ(stop_message([&] {
                  { auto guard = shared.lock(); }
                  stop("later");
              }),
              "later");
    EXPECT_FALSE(shared.is_poisoned());
}

TEST(Poisonable, TakingTheLockDuringUnwindingDoesNotPoisonByItself) {
    auto shared = Shared<int>::make(0);
    struct LocksInDestructor {
        Shared<int>& s;
        ~LocksInDestructor() { auto guard = s.lock(); }
    };
    EXPECT_THROW(
        {
            LocksInDestructor locker{shared};
            throw std::runtime_error("unwinding");
        },
        std::runtime_error);
    EXPECT_FALSE(shared.is_poisoned());
}

TEST(Poisonable, PoisoningSpreadsToTheOuterLock) {
    auto model = Shared<int>::make(0);
    auto circuit = Shared<int>::make(0);
    stop_message([&] {
        auto guard = circuit.lock();
        stop("inner");
    });
    EXPECT_EQ(stop_message([&] {
                  auto outer = model.lock();
                  auto inner = circuit.lock();
              }),
              messages::poisoned_mutex());
    EXPECT_TRUE(model.is_poisoned());
}

}  // namespace
}  // namespace tallo
