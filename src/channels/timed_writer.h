#pragma once

// TimedIpcWriter: a sampler thread that sends the current contents of a
// shared vector on one signal channel, once at start and then once per
// period, until the writer is released.
//
// Guarantees:
// - Construction starts nothing and cannot fail. `start` starts the sampler
//   at most once; a frequency without a valid period stops `start` with one
//   of the two conversion texts and leaves the writer unstarted.
// - The sampler takes the vector's mutex only to copy the vector (which
//   shares its storage) and sends outside it, so every sample is one
//   consistent vector and a later `set` never changes a sample already taken.
// - The next deadline is taken after each send: samples are one period plus
//   one cycle apart, not on a fixed grid. A period of zero sends back to back.
// - `release` signals the sampler, waits for it (at most one cycle of copy and
//   send) and releases the vector holder, then the sender. It stops with
//   "Could not join with writer thread!" when the sampler had stopped (a
//   poisoned vector mutex, a clock before the epoch). Releasing a writer that
//   was never started does not block. The destructor releases too and, since
//   it cannot stop, reports that failure on standard error instead.
// - The shared vector outlives the writer while any other holder has it.
// - Move-only. `start` and `release` run on the caller's thread; the writer
//   itself is used by one thread at a time.
#include <chrono>
#include <cstdint>
#include <optional>

#include "base/poisonable.h"
#include "base/vector.h"
#include "channels/channel.h"
#include "channels/ipc.h"
#include "channels/join_handle.h"

namespace tallo {

// A duration of whole nanoseconds, as long as 2^64 seconds.
struct Period {
    std::uint64_t seconds;
    std::uint32_t nanos;  // below 1e9

    friend bool operator==(const Period&, const Period&) = default;
};

// 1 / frequency seconds, rounded to the nearest nanosecond (ties to even).
// Stops with "cannot convert float seconds to Duration: value is negative"
// for a negative reciprocal, and with "...: value is either too big or NaN"
// for a NaN or infinite one or one of 2^64 seconds or more. A frequency of
// +inf or -inf gives a period of zero.
Period period_of_frequency(double frequency);

// `now + period`, or nothing when that overflows the clock.
std::optional<std::chrono::steady_clock::time_point> deadline_after(std::chrono::steady_clock::time_point now,
                                                                    Period period) noexcept;

// The message of a timed writer's stop channel.
struct StopSignal {};

class TimedIpcWriter {
public:
    TimedIpcWriter(IpcSender sender, Vector initial, double frequency);
    TimedIpcWriter(TimedIpcWriter&& other) noexcept;
    TimedIpcWriter& operator=(TimedIpcWriter&&) = delete;
    TimedIpcWriter(const TimedIpcWriter&) = delete;
    TimedIpcWriter& operator=(const TimedIpcWriter&) = delete;
    ~TimedIpcWriter();

    void start();
    void release();

    // The sampled vector; the host's SharedVector holds the same handle.
    const Shared<Vector>& vector() const noexcept { return vector_; }
    bool is_started() const noexcept { return stop_.has_value(); }

private:
    // Fields in the order they are released.
    Shared<Vector> vector_;
    std::optional<Sender<StopSignal>> stop_;  // present once started
    std::optional<JoinHandle> handle_;        // present while a sampler runs
    IpcSender sender_;
    double frequency_;
};

}  // namespace tallo
