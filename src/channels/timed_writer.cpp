#include "channels/timed_writer.h"

#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "base/panic.h"
#include "channels/messages.h"

namespace tallo {

Period period_of_frequency(double frequency) {
    const double seconds = 1.0 / frequency;
    if (seconds < 0.0) stop(messages::duration_negative());
    // 2^64 seconds and beyond do not fit; NaN fails the comparison too.
    if (!(seconds < 18446744073709551616.0)) stop(messages::duration_too_big());

    const double whole = std::floor(seconds);
    std::uint64_t secs = static_cast<std::uint64_t>(whole);
    // The fraction is exact (a double minus its floor); scale it to
    // nanoseconds in integers so that the rounding is exact too.
    const double fraction = seconds - whole;
    std::uint64_t nanos = 0;
    if (fraction > 0.0) {
        int exponent = 0;
        const double mantissa = std::frexp(fraction, &exponent);  // fraction = mantissa * 2^exponent, exponent <= 0
        const auto bits = static_cast<std::uint64_t>(std::ldexp(mantissa, 53));  // fraction = bits * 2^(exponent - 53)
        const int shift = 53 - exponent;
        // Below 2^-31 s the fraction is under half a nanosecond.
        if (shift < 120) {
            const unsigned __int128 scaled = static_cast<unsigned __int128>(bits) * 1'000'000'000u;
            const unsigned __int128 one = static_cast<unsigned __int128>(1) << shift;
            unsigned __int128 quotient = scaled >> shift;
            const unsigned __int128 remainder = scaled & (one - 1);
            const unsigned __int128 half = one >> 1;
            if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
            nanos = static_cast<std::uint64_t>(quotient);
        }
    }
    if (nanos == 1'000'000'000u) {
        if (secs == std::numeric_limits<std::uint64_t>::max()) stop(messages::duration_too_big());
        ++secs;
        nanos = 0;
    }
    return Period{secs, static_cast<std::uint32_t>(nanos)};
}

std::optional<std::chrono::steady_clock::time_point> deadline_after(std::chrono::steady_clock::time_point now,
                                                                    Period period) noexcept {
    using Clock = std::chrono::steady_clock;
    using Rep = Clock::duration::rep;
    static_assert(std::is_same_v<Clock::duration::period, std::nano>);
    if (period.seconds > static_cast<std::uint64_t>(std::numeric_limits<Rep>::max())) return std::nullopt;
    Rep total = 0;
    if (__builtin_mul_overflow(static_cast<Rep>(period.seconds), Rep{1'000'000'000}, &total)) return std::nullopt;
    if (__builtin_add_overflow(total, static_cast<Rep>(period.nanos), &total)) return std::nullopt;
    Rep deadline = 0;
    if (__builtin_add_overflow(now.time_since_epoch().count(), total, &deadline)) return std::nullopt;
    return Clock::time_point(Clock::duration(deadline));
}

namespace {

// The sampler's loop; see the header for its contract.
void sample(IpcSender& sender, Receiver<StopSignal>& stop_signal, Period period, const Shared<Vector>& vector) {
    for (;;) {
        Vector copy;
        {
            auto guard = vector.lock();
            copy = *guard;
        }
        const auto now = unix_time_now();
        if (!now) stop(messages::sampler_timestamp_failed());
        (void)sender.send(IpcMessage{std::move(copy), *now});

        const auto deadline = deadline_after(std::chrono::steady_clock::now(), period);
        if (deadline) {
            if (stop_signal.recv_until(*deadline).status != RecvStatus::Timeout) return;
        } else {
            (void)stop_signal.recv();
            return;
        }
    }
}

}  // namespace

TimedIpcWriter::TimedIpcWriter(IpcSender sender, Vector initial, double frequency)
    : vector_(Shared<Vector>::make(std::move(initial))), sender_(std::move(sender)), frequency_(frequency) {}

TimedIpcWriter::TimedIpcWriter(TimedIpcWriter&& other) noexcept
    : vector_(std::exchange(other.vector_, Shared<Vector>())),
      stop_(std::exchange(other.stop_, std::nullopt)),
      handle_(std::exchange(other.handle_, std::nullopt)),
      sender_(std::move(other.sender_)),
      frequency_(other.frequency_) {}

void TimedIpcWriter::start() {
    if (stop_) return;
    Shared<Vector> holder = vector_;
    const Period period = period_of_frequency(frequency_);
    IpcSender sender = sender_.duplicate();
    auto [stop_sender, stop_receiver] = make_channel<StopSignal>();
    stop_.emplace(std::move(stop_sender));
    handle_ = JoinHandle::spawn("timed writer thread", [sender = std::move(sender), receiver = std::move(stop_receiver),
                                                        period, holder = std::move(holder)]() mutable {
        sample(sender, receiver, period, holder);
    });
}

void TimedIpcWriter::release() {
    if (auto stop_sender = std::exchange(stop_, std::nullopt)) {
        (void)stop_sender->send(StopSignal{});  // fails when the sampler has already ended
    }
    bool joined = true;
    if (auto handle = std::exchange(handle_, std::nullopt)) joined = handle->join();
    vector_ = Shared<Vector>();
    sender_.release();
    if (!joined) stop(messages::could_not_join_writer());
}

TimedIpcWriter::~TimedIpcWriter() {
    try {
        release();
    } catch (const Panic& panic) {
        report_stop("timed writer release", panic.message());
    }
}

}  // namespace tallo
