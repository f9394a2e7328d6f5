#include "channels/ipc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <vector>

#include "helpers.h"

namespace tallo {
namespace {

using testing::in_ms;

std::vector<IpcMessage> drain(IpcReceiver& receiver) {
    std::vector<IpcMessage> messages;
    for (;;) {
        auto received = receiver.recv_until(in_ms(5000));
        if (received.status != RecvStatus::Message) break;
        messages.push_back(std::move(*received.message));
    }
    return messages;
}

TEST(IpcWriter, SendsTheValueWithoutCopyingAndTimestampsAsGiven) {
    auto [sender, receiver] = make_channel<IpcMessage>();
    IpcWriter writer(std::move(sender));
    const Vector value{0.1, 0.2, 0.3};
    writer.write(value, -5.0);
    writer.write(Vector{0.4}, std::numeric_limits<double>::quiet_NaN());
    writer.write(Vector{0.5}, 1.5);
    writer = IpcWriter(make_channel<IpcMessage>().first);  // releases the only sender

    const auto messages = drain(receiver);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_TRUE(messages[0].value.shares_storage_with(value)) << "the elements are not copied";
    EXPECT_EQ(messages[0].timestamp, -5.0);
    EXPECT_TRUE(std::isnan(messages[1].timestamp));
    EXPECT_EQ(messages[1].value, (Vector{0.4}));
    EXPECT_EQ(messages[2].timestamp, 1.5);
}

TEST(IpcWriter, WithoutTimestampTakesTheWallClock) {
    auto [sender, receiver] = make_channel<IpcMessage>();
    IpcWriter writer(std::move(sender));
    const double before = *unix_time_now();
    writer.write(Vector{1.0}, std::nullopt);
    const double after = *unix_time_now();
    auto received = receiver.recv_until(in_ms(5000));
    ASSERT_EQ(received.status, RecvStatus::Message);
    EXPECT_GE(received.message->timestamp, before);
    EXPECT_LE(received.message->timestamp, after);
    EXPECT_GT(before, 1.5e9) << "seconds since 1970, not since boot";
}

TEST(IpcWriter, WriteWithoutReceiverReturnsNormally) {
    auto [sender, receiver] = make_channel<IpcMessage>();
    receiver.release();
    IpcWriter writer(std::move(sender));
    writer.write(Vector{0.5}, 1.0);
    writer.write(Vector{0.5}, std::nullopt);
    EXPECT_FALSE(writer.sender().is_connected());
}

TEST(IpcDensityWriter, SendsOneProbabilityPerTargetInOrderWithOneTimestamp) {
    std::vector<ComparisonTarget> targets;
    std::vector<IpcReceiver> receivers;
    for (auto [threshold, is_greater] : {std::pair{1.0, true}, std::pair{3.0, false}, std::pair{2.0, true}}) {
        auto [sender, receiver] = make_channel<IpcMessage>();
        targets.push_back({threshold, is_greater, std::move(sender)});
        receivers.push_back(std::move(receiver));
    }
    IpcDensityWriter writer(std::move(targets));
    writer.write(VectorDistribution::Uniform{{0.0, 2.0}, {4.0, 6.0}}, std::nullopt);

    const std::vector<Vector> expected{{0.75, 1.0}, {0.75, 0.25}, {0.5, 1.0}};
    double timestamp = 0.0;
    for (std::size_t i = 0; i < receivers.size(); ++i) {
        auto received = receivers[i].recv_until(in_ms(5000));
        ASSERT_EQ(received.status, RecvStatus::Message) << "target " << i;
        EXPECT_EQ(received.message->value, expected[i]) << "target " << i;
        if (i == 0) timestamp = received.message->timestamp;
        EXPECT_EQ(received.message->timestamp, timestamp) << "target " << i;
    }
}

TEST(IpcDensityWriter, AFailedSendDoesNotStopTheOtherTargets) {
    auto [gone, gone_receiver] = make_channel<IpcMessage>();
    gone_receiver.release();
    auto [live, live_receiver] = make_channel<IpcMessage>();
    std::vector<ComparisonTarget> targets;
    targets.push_back({0.0, false, std::move(gone)});
    targets.push_back({0.0, false, std::move(live)});
    IpcDensityWriter writer(std::move(targets));
    writer.write(VectorDistribution::Normal{{0.0}, {1.0}}, 7.0);
    auto received = live_receiver.recv_until(in_ms(5000));
    ASSERT_EQ(received.status, RecvStatus::Message);
    EXPECT_EQ(received.message->value, (Vector{0.5000000005}));
    EXPECT_EQ(received.message->timestamp, 7.0);
}

}  // namespace
}  // namespace tallo
