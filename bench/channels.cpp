// Signal throughput and latency through channels and reader threads, beside
// this machine's floor for waking a blocked thread, measured in one run.
//
//   build/release/bench/bench_channels [messages]
//
// Every figure is taken the same way: the measuring thread starts a clock,
// triggers the work and polls for its effect with a short gap between looks
// (so that it seldom contends for the lock the reader needs).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include "channels/ipc.h"
#include "channels/manager.h"
#include "circuit/reactive_circuit.h"
#include "circuit/semiring.h"
#include "tracking/foc_estimator.h"

namespace {

using namespace tallo;
using Clock = std::chrono::steady_clock;

constexpr auto kPollGap = std::chrono::nanoseconds(300);
// A burst takes most of a millisecond; its poll looks seldom, so that it
// hardly ever takes the circuit's lock while the reader wants it (each such
// collision puts a thread to sleep). The end of a burst is seen at most one
// gap late.
constexpr auto kBurstPollGap = std::chrono::microseconds(25);
constexpr auto kIdle = std::chrono::microseconds(300);  // lets the other thread fall asleep

// Busy-waits `gap` without touching shared state.
void pause_for(Clock::duration gap) {
    const auto until = Clock::now() + gap;
    while (Clock::now() < until) {
    }
}

template <class F>
void poll_until(F&& condition, Clock::duration gap = kPollGap) {
    while (!condition()) pause_for(gap);
}

double median_us(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double us_since(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// The floor: a thread blocked on a condition variable, woken and answering
// through an atomic flag.
class Sleeper {
public:
    Sleeper() : thread_([this] { run(); }) {}
    ~Sleeper() {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        ready_.notify_one();
        thread_.join();
    }

    // One wake-up, from the notification until the answer is seen.
    double wake_us() {
        const int round = ++round_;
        const auto start = Clock::now();
        {
            std::lock_guard lock(mutex_);
            go_ = true;
        }
        ready_.notify_one();
        poll_until([&] { return answered_.load(std::memory_order_acquire) == round; });
        return us_since(start);
    }

private:
    void run() {
        std::unique_lock lock(mutex_);
        for (int round = 1;; ++round) {
            ready_.wait(lock, [&] { return go_ || quit_; });
            if (quit_) return;
            go_ = false;
            answered_.store(round, std::memory_order_release);
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    bool go_ = false;
    bool quit_ = false;
    int round_ = 0;
    std::atomic<int> answered_{0};
    std::thread thread_;  // last: starts once the rest is built
};

// One model-like circuit: `leaves` leaves, each read on its own channel and
// by one node of its own, so that every change also marks a node dirty.
struct Model {
    explicit Model(int leaves) : circuit(SharedCircuit<LogProb>::make(1)), manager(circuit) {
        for (int i = 0; i < leaves; ++i) {
            const auto leaf = static_cast<std::uint32_t>(manager.create_leaf(fmt::format("leaf{}", i), Vector{0.5}));
            circuit.lock()->add_sum_product({{leaf}}, fmt::format("/out{}", i));
            manager.read(leaf, fmt::format("/leaf{}", i), false);
        }
    }

    double leaf(int i) const { return std::exp(circuit.lock()->leafs()[static_cast<std::size_t>(i)].value[0]); }

    SharedCircuit<LogProb> circuit;
    Manager<LogProb> manager;
};

// Median wake-up floor and median send -> leaf latency, sampled in turns so
// that both see the same load on the machine. Each sample starts with the
// other thread asleep.
std::pair<double, double> floor_and_latency_us(int samples) {
    Sleeper sleeper;
    Model model(1);
    IpcWriter writer(model.manager.get_or_create_sender("/leaf0"));
    std::vector<double> floors;
    std::vector<double> latencies;
    for (int round = 0; round < samples; ++round) {
        std::this_thread::sleep_for(kIdle);
        floors.push_back(sleeper.wake_us());

        const double value = round % 2 == 0 ? 0.25 : 0.75;
        std::this_thread::sleep_for(kIdle);
        const auto start = Clock::now();
        writer.write(Vector{value}, 1.0 + round);
        poll_until([&] { return std::abs(model.leaf(0) - value) < 1e-9; });
        latencies.push_back(us_since(start));
    }
    return {median_us(std::move(floors)), median_us(std::move(latencies))};
}

// Messages per second from `writers` threads, each sending bursts of `burst`
// messages on its own channel into one leaf of one circuit and waiting for
// the burst's last message to land before the next burst. Every message is a
// change of its leaf.
double leaf_throughput(int writers, long messages_each, int burst) {
    Model model(writers);
    std::vector<IpcWriter> senders;
    for (int w = 0; w < writers; ++w) senders.emplace_back(model.manager.get_or_create_sender(fmt::format("/leaf{}", w)));
    std::atomic<int> started{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([&, w] {
            started.fetch_add(1);
            while (!go.load(std::memory_order_acquire)) {
            }
            double timestamp = 1.0;
            for (long sent = 0, round = 0; sent < messages_each; ++round) {
                const long n = std::min<long>(burst, messages_each - sent);
                // Alternate 0.25 / 0.75 and end on a marker that differs from
                // the previous burst's, so the poll cannot see an old one.
                const double marker = round % 2 == 0 ? 0.4 : 0.6;
                for (long i = 0; i + 1 < n; ++i) senders[w].write(Vector{i % 2 == 0 ? 0.25 : 0.75}, timestamp += 1e-3);
                senders[w].write(Vector{marker}, timestamp += 1e-3);
                poll_until([&] { return std::abs(model.leaf(w) - marker) < 1e-9; }, kBurstPollGap);
                sent += n;
            }
        });
    }
    while (started.load() != writers) {
    }
    const auto start = Clock::now();
    go.store(true, std::memory_order_release);
    for (auto& thread : threads) thread.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return static_cast<double>(messages_each) * writers / seconds;
}

// The channel alone: one writer, one receiving thread that only counts.
double channel_throughput(long messages, int burst) {
    auto [sender, receiver] = make_channel<IpcMessage>();
    std::atomic<long> received{0};
    std::thread reader([&, receiver = std::move(receiver)]() mutable {
        long count = 0;
        while (receiver.recv()) received.store(++count, std::memory_order_release);
    });
    const auto start = Clock::now();
    for (long sent = 0; sent < messages;) {
        const long n = std::min<long>(burst, messages - sent);
        for (long i = 0; i < n; ++i) (void)sender.send(IpcMessage{Vector{0.5}, 1.0});
        sent += n;
        poll_until([&] { return received.load(std::memory_order_acquire) == sent; }, kBurstPollGap);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    sender.release();
    reader.join();
    return static_cast<double>(messages) / seconds;
}

// The practical ceiling of a reader: `update_leaf` with a changed value in a
// loop on this thread, no channel and no lock.
double bare_leaf_update_rate(long updates) {
    ReactiveCircuit<LogProb> circuit(1);
    circuit.add_leaf(Vector{0.5}, 0.0, "leaf");
    circuit.add_sum_product({{0}}, "/out");  // the node the changes mark
    double timestamp = 1.0;
    const auto start = Clock::now();
    for (long i = 0; i < updates; ++i) circuit.update_leaf(0, Vector{i % 2 == 0 ? 0.25 : 0.75}, timestamp += 1e-3);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return static_cast<double>(updates) / seconds;
}

// One writer sending `messages` changes at full speed, without waiting, into
// one reader and leaf; the last one is a marker. Returns the time the writer
// took to send them all and the time until the marker was in the leaf.
std::pair<double, double> sustained_seconds(long messages) {
    Model model(1);
    IpcWriter writer(model.manager.get_or_create_sender("/leaf0"));
    double timestamp = 1.0;
    const auto start = Clock::now();
    for (long i = 0; i + 1 < messages; ++i) writer.write(Vector{i % 2 == 0 ? 0.25 : 0.75}, timestamp += 1e-3);
    writer.write(Vector{0.4}, timestamp += 1e-3);
    const double sent = std::chrono::duration<double>(Clock::now() - start).count();
    poll_until([&] { return std::abs(model.leaf(0) - 0.4) < 1e-9; }, kBurstPollGap);
    const double landed = std::chrono::duration<double>(Clock::now() - start).count();
    return {sent, landed};
}

// The change-frequency estimator alone: one step per change, rising
// timestamps, on this thread.
double estimator_rate(long steps) {
    FoCEstimator estimator(0.0);
    double timestamp = 1.0;
    const auto start = Clock::now();
    for (long i = 0; i < steps; ++i) {
        double frequency = estimator.update(timestamp += 1e-3);
        benchmark::DoNotOptimize(frequency);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return static_cast<double>(steps) / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const long messages = argc > 1 ? std::atol(argv[1]) : 2'000'000;
    const int samples = 2000;
    const int burst = 1000;

    const auto [floor, latency] = floor_and_latency_us(samples);
    const double channel = channel_throughput(messages, burst);
    const double estimator = estimator_rate(messages);
    const double bare = bare_leaf_update_rate(messages);
    const double one = leaf_throughput(1, messages, burst);
    const auto [sent, landed] = sustained_seconds(messages);
    const double eight = leaf_throughput(8, messages / 4, burst);

    fmt::print("{:<58} {:>14}\n", "measure", "figure");
    fmt::print("{:<58} {:>11.1f} us\n", "wake-up floor: condition variable, median", floor);
    fmt::print("{:<58} {:>11.1f} us\n", "send -> leaf latency, median", latency);
    fmt::print("{:<58} {:>12.2f}x\n", "  latency / floor (goal <= 2)", latency / floor);
    fmt::print("{:<58} {:>11.2f} M/s\n", fmt::format("channel alone, bursts of {}", burst), channel / 1e6);
    fmt::print("{:<58} {:>11.2f} M/s\n", fmt::format("1 writer -> 1 reader -> 1 leaf, bursts of {} (goal >= 5)", burst),
               one / 1e6);
    fmt::print("{:<58} {:>11.2f} M/s\n", "estimator step (FoCEstimator::update)", estimator / 1e6);
    fmt::print("{:<58} {:>11.2f} M/s\n", "bare update_leaf with a changed value (the ceiling)", bare / 1e6);
    fmt::print("{:<58} {:>12.2f}x\n", "  1 reader / bare update_leaf", one / bare);
    fmt::print("{:<58} {:>11.2f} M/s\n", "full-speed writer, no waiting: send rate", messages / sent / 1e6);
    fmt::print("{:<58} {:>11.2f} M/s\n", "  reader: every message in the leaf", messages / landed / 1e6);
    fmt::print("{:<58} {:>12.2f}x\n", "  all in the leaf / sent (goal <= 2)", landed / sent);
    fmt::print("{:<58} {:>11.2f} M/s\n", "8 writers -> 8 channels -> 1 circuit, total", eight / 1e6);
    fmt::print("{:<58} {:>12.2f}x\n", "  8 channels / 1 channel", eight / one);
    return 0;
}
