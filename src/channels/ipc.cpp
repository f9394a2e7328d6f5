#include "channels/ipc.h"

#include <chrono>
#include <string>

#include "base/panic.h"
#include "channels/messages.h"

namespace tallo {

std::optional<double> unix_time_now() noexcept {
    using namespace std::chrono;
    const auto since_epoch = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    if (since_epoch < 0) return std::nullopt;
    const auto seconds = since_epoch / 1'000'000'000;
    const auto nanos = since_epoch % 1'000'000'000;
    return static_cast<double>(seconds) + static_cast<double>(nanos) / 1e9;
}

double timestamp_or_now(std::optional<double> timestamp) {
    if (timestamp) return *timestamp;
    const auto now = unix_time_now();
    if (!now) stop(messages::unix_timestamp_failed());
    return *now;
}

void IpcWriter::write(Vector value, std::optional<double> timestamp) {
    const double t = timestamp_or_now(timestamp);
    // A channel without a receiver discards the message.
    (void)sender_.send(IpcMessage{std::move(value), t});
}

void IpcDensityWriter::write(const VectorDistribution& distribution, std::optional<double> timestamp) {
    const double t = timestamp_or_now(timestamp);
    for (const ComparisonTarget& target : targets_) {
        Vector p = distribution.cdf(target.threshold);
        if (target.is_greater) {
            for (double& element : p.mutable_view()) element = 1.0 - element;
        }
        (void)target.sender.send(IpcMessage{std::move(p), t});
    }
}

}  // namespace tallo
