#include "channels/timed_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "channels/messages.h"
#include "helpers.h"

namespace tallo {
namespace {

using testing::in_ms;
using testing::stop_message;

constexpr double kInfiniteFrequency = std::numeric_limits<double>::infinity();

struct PeriodCase {
    double frequency;
    Period expected;
};

TEST(PeriodOfFrequency, RoundsTheReciprocalToTheNearestNanosecond) {
    const std::vector<PeriodCase> cases{
        {10.0, {0, 100'000'000}},
        {0.5, {2, 0}},
        {3.0, {0, 333'333'333}},
        {1.5, {0, 666'666'667}},
        {1024.0, {0, 976'562}},  // 976562.5 ns exactly: the tie goes to the even neighbour
        {1e10, {0, 0}},          // 0.1 ns
        {kInfiniteFrequency, {0, 0}},
        {-kInfiniteFrequency, {0, 0}},
        {1e-19, {10'000'000'000'000'000'000ull, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(period_of_frequency(c.frequency), c.expected) << c.frequency;
}

TEST(PeriodOfFrequency, RefusesFrequenciesWithoutAPeriod) {
    const std::string negative(messages::duration_negative());
    const std::string too_big(messages::duration_too_big());
    const std::vector<std::pair<double, std::string>> cases{
        {0.0, too_big},   {1e-20, too_big},   {std::ldexp(1.0, -64), too_big}, {std::nan(""), too_big},
        {-1.0, negative}, {-0.0, negative},   {-1e-20, negative},
    };
    for (const auto& [frequency, text] : cases) {
        EXPECT_EQ(stop_message([&] { period_of_frequency(frequency); }), text) << frequency;
    }
}

TEST(DeadlineAfter, IsAbsentWhenTheClockWouldOverflow) {
    const auto now = std::chrono::steady_clock::now();
    EXPECT_EQ(deadline_after(now, {1, 500}), now + std::chrono::seconds(1) + std::chrono::nanoseconds(500));
    EXPECT_FALSE(deadline_after(now, {std::numeric_limits<std::uint64_t>::max(), 0}).has_value());
    EXPECT_FALSE(deadline_after(now, {std::uint64_t{1} << 62, 0}).has_value());
}

// A timed writer on a fresh channel, with the channel's receiver at hand.
struct Sampled {
    explicit Sampled(double frequency, Vector initial = Vector{0.25}) {
        auto [sender, receiver] = make_channel<IpcMessage>();
        writer.emplace(std::move(sender), std::move(initial), frequency);
        samples.emplace(std::move(receiver));
    }
    Received<IpcMessage> next(int ms = 5000) { return samples->recv_until(in_ms(ms)); }

    std::optional<TimedIpcWriter> writer;
    std::optional<IpcReceiver> samples;
};

TEST(TimedIpcWriter, SendsTheFirstSampleAtOnceThenOncePerPeriod) {
    Sampled sampled(50.0);  // 20 ms
    const double before = *unix_time_now();
    sampled.writer->start();
    std::vector<double> stamps;
    for (int i = 0; i < 3; ++i) {
        auto received = sampled.next();
        ASSERT_EQ(received.status, RecvStatus::Message);
        EXPECT_EQ(received.message->value, (Vector{0.25}));
        stamps.push_back(received.message->timestamp);
    }
    EXPECT_GE(stamps[0], before) << "each sample carries the wall-clock time it was taken";
    for (int i = 1; i < 3; ++i) EXPECT_GE(stamps[i] - stamps[i - 1], 0.019) << "at least one period apart";
    sampled.writer->release();
}

TEST(TimedIpcWriter, StartingTwiceStartsOneSampler) {
    Sampled sampled(1e-3);  // one sample, then a wait of 1000 s
    sampled.writer->start();
    sampled.writer->start();
    EXPECT_EQ(sampled.next().status, RecvStatus::Message);
    EXPECT_EQ(sampled.next(100).status, RecvStatus::Timeout) << "a second sampler would have sent at once";
    sampled.writer->release();  // ends the long wait at once
    EXPECT_EQ(sampled.next().status, RecvStatus::Disconnected) << "the sampler let go of its sender";
}

TEST(TimedIpcWriter, NextSampleCarriesTheVectorSetSinceOfAnyLength) {
    Sampled sampled(200.0);
    sampled.writer->start();
    ASSERT_EQ(sampled.next().status, RecvStatus::Message);
    const Shared<Vector> shared = sampled.writer->vector();
    *shared.lock() = Vector{0.5, 0.75, 1.0};
    bool seen = false;
    while (!seen) {
        auto received = sampled.next();
        ASSERT_EQ(received.status, RecvStatus::Message);
        seen = received.message->value == Vector{0.5, 0.75, 1.0};
        if (!seen) {
            EXPECT_EQ(received.message->value, (Vector{0.25})) << "samples are whole vectors";
        }
    }
    sampled.writer.reset();
    EXPECT_EQ(*shared.lock(), (Vector{0.5, 0.75, 1.0})) << "the vector outlives the writer";
}

TEST(TimedIpcWriter, PeriodZeroSendsBackToBack) {
    for (double frequency : {kInfiniteFrequency, -kInfiniteFrequency}) {
        Sampled sampled(frequency);
        sampled.writer->start();
        for (int i = 0; i < 100; ++i) ASSERT_EQ(sampled.next().status, RecvStatus::Message) << frequency;
        sampled.writer->release();
    }
}

TEST(TimedIpcWriter, BadFrequencyStopsStartAndLeavesTheWriterUnstarted) {
    Sampled sampled(0.0);
    EXPECT_EQ(stop_message([&] { sampled.writer->start(); }), messages::duration_too_big());
    EXPECT_FALSE(sampled.writer->is_started());
    EXPECT_EQ(sampled.writer->vector().use_count(), 1) << "no sampler holds the vector";
    sampled.writer->release();
    EXPECT_EQ(sampled.next().status, RecvStatus::Disconnected) << "nothing was sent";
}

TEST(TimedIpcWriter, ReleasingAWriterNeverStartedDoesNotBlock) {
    Sampled sampled(10.0);
    sampled.writer.reset();
    EXPECT_EQ(sampled.next().status, RecvStatus::Disconnected);
}

TEST(TimedIpcWriter, ReleasingAfterTheSamplerStoppedReportsIt) {
    Sampled sampled(10.0);
    EXPECT_THROW(
        {
            auto guard = sampled.writer->vector().lock();
            stop("poison the vector");
        },
        Panic);
    sampled.writer->start();  // the sampler stops at its first copy
    EXPECT_EQ(stop_message([&] { sampled.writer->release(); }), messages::could_not_join_writer());
    EXPECT_FALSE(sampled.writer->is_started());
    EXPECT_EQ(sampled.next().status, RecvStatus::Disconnected);
    EXPECT_EQ(stop_message([&] { sampled.writer->release(); }), "<no stop>") << "a released writer stays released";
}

}  // namespace
}  // namespace tallo
