#pragma once

// Signal messages and the writers that send them.
//
// Guarantees:
// - An `IpcMessage` carries its `Vector` by value; sending it moves the vector
//   (or shares its storage), never copying elements.
// - A writer's `write` never blocks and never fails on a channel that nobody
//   reads any more: the message is dropped silently.
// - A write without a timestamp reads the wall clock once; a clock before the
//   UNIX epoch stops the write with "Acquiring UNIX timestamp failed!". A
//   given timestamp is sent unchanged, NaN and negative ones included.
// - Writers hold nothing but their senders and take no lock of their own; they
//   may be used from any thread.
#include <optional>
#include <utility>
#include <vector>

#include "base/vector.h"
#include "channels/channel.h"
#include "channels/distribution.h"

namespace tallo {

struct IpcMessage {
    Vector value;
    double timestamp;  // seconds since the UNIX epoch
};

using IpcSender = Sender<IpcMessage>;
using IpcReceiver = Receiver<IpcMessage>;

// The wall clock as seconds since the UNIX epoch: whole seconds plus
// nanoseconds / 1e9. Nothing when the clock reads before the epoch.
std::optional<double> unix_time_now() noexcept;

// The given timestamp, or the wall clock when none is given (stopping with
// "Acquiring UNIX timestamp failed!" before the epoch).
double timestamp_or_now(std::optional<double> timestamp);

class IpcWriter {
public:
    explicit IpcWriter(IpcSender sender) noexcept : sender_(std::move(sender)) {}

    // Sends (value, timestamp) on the writer's channel; the value is consumed.
    void write(Vector value, std::optional<double> timestamp);

    const IpcSender& sender() const noexcept { return sender_; }

private:
    IpcSender sender_;
};

// One threshold comparison of a numeric source and the channel of its leaves.
struct ComparisonTarget {
    double threshold;
    bool is_greater;  // the signal above the threshold
    IpcSender sender;
};

class IpcDensityWriter {
public:
    explicit IpcDensityWriter(std::vector<ComparisonTarget> targets) noexcept : targets_(std::move(targets)) {}

    // Sends, for every target in order, P(X <= threshold) per slot (its
    // complement for a greater-than target), all with one timestamp.
    void write(const VectorDistribution& distribution, std::optional<double> timestamp);

    const std::vector<ComparisonTarget>& targets() const noexcept { return targets_; }

private:
    std::vector<ComparisonTarget> targets_;
};

}  // namespace tallo
