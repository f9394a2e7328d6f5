#include "channels/writers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/vector.h"
#include "channels/channel.h"
#include "channels/distribution.h"
#include "channels/ipc.h"
#include "channels/messages.h"

namespace tallo {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

std::vector<double> elements(const Vector& v) { return {v.begin(), v.end()}; }

// The next message of `receiver`, waiting at most a second.
IpcMessage next(IpcReceiver& receiver) {
    auto received = receiver.recv_until(std::chrono::steady_clock::now() + std::chrono::seconds(1));
    EXPECT_TRUE(received.message.has_value());
    return received.message ? std::move(*received.message) : IpcMessage{Vector(), nan};
}

TEST(WriteNumbers, ComparesStrictlyPerTargetAndNanNeverHolds) {
    auto [above_sender, above] = make_channel<IpcMessage>();
    auto [below_sender, below] = make_channel<IpcMessage>();
    std::vector<ComparisonTarget> targets;
    targets.push_back({3.0, true, std::move(above_sender)});
    targets.push_back({3.0, false, std::move(below_sender)});

    write_numbers(targets, Vector{1.0, 5.0, nan, 3.0}, 2.0);

    IpcMessage greater = next(above);
    EXPECT_EQ(elements(greater.value), (std::vector<double>{0.0, 1.0, 0.0, 0.0}));
    EXPECT_EQ(greater.timestamp, 2.0);
    IpcMessage less = next(below);
    EXPECT_EQ(elements(less.value), (std::vector<double>{1.0, 0.0, 0.0, 0.0}));
    EXPECT_EQ(less.timestamp, 2.0);
}

TEST(WriteNumbers, TargetWithoutReaderDoesNotKeepTheOthersFromTheirMessage) {
    auto [gone_sender, gone] = make_channel<IpcMessage>();
    auto [live_sender, live] = make_channel<IpcMessage>();
    gone.release();
    std::vector<ComparisonTarget> targets;
    targets.push_back({0.0, true, std::move(gone_sender)});
    targets.push_back({0.0, true, std::move(live_sender)});

    write_numbers(targets, Vector{1.0}, std::nullopt);

    IpcMessage message = next(live);
    EXPECT_EQ(elements(message.value), std::vector<double>{1.0});
    EXPECT_GT(message.timestamp, 1.0e9);  // the wall clock, read once
}

struct DistributionCase {
    std::string name;
    std::vector<std::vector<double>> rows;
    VectorDistribution::Tag tag;  // when accepted
    std::string refusal;          // empty when accepted
};

class DistributionOf : public ::testing::TestWithParam<DistributionCase> {};

TEST_P(DistributionOf, SelectsByFoldedNameAndChecksRows) {
    const DistributionCase& c = GetParam();
    std::vector<Vector> rows;
    for (const auto& row : c.rows) rows.emplace_back(std::span<const double>(row));
    Result<VectorDistribution, ValueError> chosen = distribution_of(c.name, std::move(rows));
    if (c.refusal.empty()) {
        ASSERT_TRUE(chosen) << chosen.error().message;
        EXPECT_EQ(chosen.value().tag(), c.tag);
    } else {
        ASSERT_FALSE(chosen);
        EXPECT_EQ(chosen.error().message, c.refusal);
    }
}

using Tag = VectorDistribution::Tag;

INSTANTIATE_TEST_SUITE_P(
    Cases, DistributionOf,
    ::testing::Values(
        DistributionCase{"normal", {{0.0}, {1.0}}, Tag::Normal, ""},
        DistributionCase{"NORMAL", {{0.0}, {1.0}}, Tag::Normal, ""},
        DistributionCase{"LogNormal", {{0.0}, {1.0}, {7.0}}, Tag::LogNormal, ""},
        DistributionCase{"Uniform", {{0.0, 1.0}, {2.0}}, Tag::Uniform, ""},
        DistributionCase{"normal", {{0.0}}, Tag::Normal, std::string(messages::normal_rows())},
        DistributionCase{"lognormal", {}, Tag::Normal, std::string(messages::lognormal_rows())},
        DistributionCase{"exponential", {}, Tag::Normal, std::string(messages::exponential_rows())},
        DistributionCase{"uniform", {{0.0}}, Tag::Normal, std::string(messages::uniform_rows())},
        DistributionCase{"Gamma", {}, Tag::Normal, messages::unknown_distribution("gamma")},
        DistributionCase{"normal ", {{0.0}, {1.0}}, Tag::Normal, messages::unknown_distribution("normal ")},
        // only ASCII letters are folded
        DistributionCase{"NÖRMAL", {{0.0}, {1.0}}, Tag::Normal, messages::unknown_distribution("nÖrmal")}));

TEST(DistributionOfRows, ExponentialUsesOnlyItsFirstRow) {
    auto chosen = distribution_of("exponential", {Vector{1.0}, Vector{9.0}});
    const auto& exponential = std::get<VectorDistribution::Exponential>(chosen.value().variant());
    EXPECT_EQ(elements(exponential.rates), std::vector<double>{1.0});
}

}  // namespace
}  // namespace tallo
