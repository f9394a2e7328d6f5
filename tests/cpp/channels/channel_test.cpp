#include "channels/channel.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "helpers.h"

namespace tallo {
namespace {

using testing::in_ms;

TEST(Channel, DeliversOneSendersMessagesInOrderThenDisconnectsAfterDraining) {
    auto [sender, receiver] = make_channel<int>();
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(sender.send(i).has_value());
    sender.release();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(receiver.recv(), i) << "queued messages outlive the last sender";
    EXPECT_FALSE(receiver.recv().has_value());
    EXPECT_FALSE(receiver.recv().has_value()) << "disconnection is final";
}

TEST(Channel, RecvTakenServesOnlyTheBatchAlreadyReceived) {
    auto [sender, receiver] = make_channel<int>();
    EXPECT_FALSE(receiver.recv_taken().has_value()) << "nothing received yet, and it does not wait";
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(sender.send(i).has_value());
    EXPECT_EQ(receiver.recv(), 0);
    EXPECT_FALSE(sender.send(3).has_value());
    EXPECT_EQ(receiver.recv_taken(), 1);
    EXPECT_EQ(receiver.recv_taken(), 2);
    EXPECT_FALSE(receiver.recv_taken().has_value()) << "3 was sent after the batch was taken";
    EXPECT_EQ(receiver.recv(), 3);
}

TEST(Channel, DisconnectsOnlyWhenEveryDuplicateIsReleased) {
    auto [sender, receiver] = make_channel<int>();
    Sender<int> second = sender.duplicate();
    {
        Sender<int> third = second.duplicate();
        EXPECT_TRUE(third.same_channel(sender));
        EXPECT_FALSE(third.send(3).has_value());
    }
    sender.release();
    EXPECT_EQ(receiver.recv(), 3);
    EXPECT_EQ(receiver.recv_until(in_ms(20)).status, RecvStatus::Timeout) << "one duplicate is still live";
    Sender<int> moved = std::move(second);
    EXPECT_TRUE(second.send(9).has_value()) << "a moved-from sender sends nothing";
    moved.release();
    EXPECT_EQ(receiver.recv_until(in_ms(5000)).status, RecvStatus::Disconnected);
}

TEST(Channel, ReceiveWithDeadline) {
    auto [sender, receiver] = make_channel<int>();
    EXPECT_EQ(receiver.recv_until(in_ms(10)).status, RecvStatus::Timeout);
    EXPECT_EQ(receiver.recv_until(std::chrono::steady_clock::now() - std::chrono::seconds(1)).status,
              RecvStatus::Timeout)
        << "a deadline already passed";
    ASSERT_FALSE(sender.send(7).has_value());
    auto received = receiver.recv_until(std::chrono::steady_clock::now() - std::chrono::seconds(1));
    EXPECT_EQ(received.status, RecvStatus::Message) << "a queued message is taken even after the deadline";
    EXPECT_EQ(received.message, 7);
    sender.release();
    EXPECT_EQ(receiver.recv_until(in_ms(5000)).status, RecvStatus::Disconnected);
}

TEST(Channel, SendAfterTheReceiverIsReleasedGivesTheMessageBack) {
    auto [sender, receiver] = make_channel<std::unique_ptr<int>>();
    EXPECT_TRUE(sender.is_connected());
    receiver.release();
    EXPECT_FALSE(sender.is_connected());
    auto returned = sender.send(std::make_unique<int>(42));
    ASSERT_TRUE(returned.has_value());
    ASSERT_NE(*returned, nullptr);
    EXPECT_EQ(**returned, 42);
}

TEST(Channel, ReleasingTheReceiverDiscardsQueuedMessages) {
    auto token = std::make_shared<int>(0);
    auto [sender, receiver] = make_channel<std::shared_ptr<int>>();
    for (int i = 0; i < 3; ++i) ASSERT_FALSE(sender.send(token).has_value());
    EXPECT_EQ(receiver.recv(), token);  // takes a batch into the receiver's buffer
    ASSERT_FALSE(sender.send(token).has_value());
    EXPECT_EQ(token.use_count(), 4);
    receiver.release();
    EXPECT_EQ(token.use_count(), 1) << "the taken batch and the queue are both discarded";
}

TEST(Channel, BlockedReceiverWakesOnSendAndOnDisconnection) {
    auto [sender, receiver] = make_channel<int>();
    std::vector<std::optional<int>> got;
    std::thread reader([&, &receiver = receiver] {
        for (;;) {
            auto message = receiver.recv();
            got.push_back(message);
            if (!message) return;
        }
    });
    ASSERT_FALSE(sender.send(1).has_value());
    ASSERT_FALSE(sender.send(2).has_value());
    sender.release();
    reader.join();
    EXPECT_EQ(got, (std::vector<std::optional<int>>{1, 2, std::nullopt}));
}

TEST(Channel, ManySendersKeepEachSendersOrderAndLoseNothing) {
    constexpr int kSenders = 4;
    constexpr int kEach = 20000;
    auto [sender, receiver] = make_channel<std::pair<int, int>>();
    std::vector<std::thread> writers;
    for (int w = 0; w < kSenders; ++w) {
        writers.emplace_back([w, mine = sender.duplicate()] {
            for (int i = 0; i < kEach; ++i) ASSERT_FALSE(mine.send({w, i}).has_value());
        });
    }
    sender.release();
    std::vector<int> next(kSenders, 0);
    int total = 0;
    while (auto message = receiver.recv()) {
        auto [w, i] = *message;
        EXPECT_EQ(i, next[w]) << "sender " << w;
        next[w] = i + 1;
        ++total;
    }
    for (auto& writer : writers) writer.join();
    EXPECT_EQ(total, kSenders * kEach);
}

}  // namespace
}  // namespace tallo
