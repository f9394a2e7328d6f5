#pragma once

// Reader threads: the one consumer of a signal channel, writing each message
// into leaves of a shared reactive circuit.
//
// Guarantees:
// - Messages are applied whole and in arrival order, so an update sees all of
//   a message's leaf changes or none. A reader that finds several messages
//   already received applies a run of at most `kMaxRun` of them under one lock
//   of the circuit (each still one change per leaf for the estimator), so an
//   update waits for at most that many. Complements are computed before the
//   lock is taken, and a categorical reader copies its blocks before it too:
//   the lock covers only the leaf writes.
// - A reader never re-evaluates the circuit; `update_leaf` decides what is a
//   change and marks the dependent nodes dirty.
// - A message for a leaf that the circuit does not hold (an index not below
//   the leaf count when the message arrives) is dropped whole, without a stop:
//   it neither writes outside the leaf list nor poisons the circuit. Since
//   leaves are only ever appended, later messages reach the leaf once it
//   exists.
// - A reader ends when its channel reports disconnection (drained, every
//   sender gone), releasing its receiver and its circuit holder. On a poisoned
//   circuit, or when `update_leaf` stops, it ends with the stop reported on
//   standard error; no exception ever leaves the thread.
// - Readers are detached as they start: the manager keeps a record and never
//   joins them, and a reader that ends gives its thread back at once.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/vector.h"
#include "channels/ipc.h"
#include "channels/join_handle.h"
#include "circuit/leaf.h"
#include "circuit/reactive_circuit.h"
#include "circuit/semiring.h"

namespace tallo {

// The record of one started reader thread. The manager detaches the thread
// as it records it, so `handle` holds no thread.
struct IpcReader {
    std::string channel;
    std::shared_ptr<JoinHandle> handle;
};

// 1 - v per element, written over v's own storage when nobody shares it.
inline Vector complement(Vector v) {
    for (double& element : v.mutable_view()) element = 1.0 - element;
    return v;
}

namespace reader {

inline constexpr const char* kRole = "reader thread";

// The most messages applied under one lock of the circuit: enough to spread
// the lock's cost, few enough that an update waits for little.
inline constexpr std::size_t kMaxRun = 32;

// Receives in runs: one message waited for, then up to kMaxRun - 1 more that
// arrived with it. `prepare(message, slot)` readies each message outside the
// circuit's lock; `apply(circuit, slot)` writes one message's leaves, all of
// the run's in arrival order under one lock. Slots are reused from run to run,
// so what they hold keeps its capacity.
template <class S, class Slot, class Prepare, class Apply>
void run_in_runs(IpcReceiver& receiver, const SharedCircuit<S>& circuit, Prepare prepare, Apply apply) {
    std::vector<Slot> slots(kMaxRun);
    while (auto message = receiver.recv()) {
        std::size_t count = 0;
        prepare(std::move(*message), slots[count++]);
        while (count < kMaxRun) {
            auto more = receiver.recv_taken();
            if (!more) break;
            prepare(std::move(*more), slots[count++]);
        }
        auto guard = circuit.lock();
        ReactiveCircuit<S>& c = *guard;
        for (std::size_t i = 0; i < count; ++i) apply(c, slots[i]);
    }
}

// Every message's vector (or its complement) goes to one leaf.
template <class S>
void run_single(IpcReceiver& receiver, const SharedCircuit<S>& circuit, std::uint32_t leaf, bool invert) {
    run_in_runs<S, IpcMessage>(
        receiver, circuit,
        [invert](IpcMessage&& message, IpcMessage& slot) {
            slot.value = invert ? complement(std::move(message.value)) : std::move(message.value);
            slot.timestamp = message.timestamp;
        },
        [leaf](ReactiveCircuit<S>& c, IpcMessage& slot) {
            if (leaf >= c.leafs().size()) return;
            c.update_leaf(leaf, std::move(slot.value), slot.timestamp);
        });
}

// Every message's vector goes to leaf a and its complement to leaf b, both
// under one lock.
template <class S>
void run_dual(IpcReceiver& receiver, const SharedCircuit<S>& circuit, std::size_t a, std::size_t b) {
    struct Slot {
        IpcMessage message;
        Vector inverse;
    };
    run_in_runs<S, Slot>(
        receiver, circuit,
        [](IpcMessage&& message, Slot& slot) {
            slot.inverse = complement(Vector(message.value.view()));
            slot.message = std::move(message);
        },
        [a, b](ReactiveCircuit<S>& c, Slot& slot) {
            if (a >= c.leafs().size() || b >= c.leafs().size()) return;
            const double timestamp = slot.message.timestamp;
            c.update_leaf(static_cast<std::uint32_t>(a), std::move(slot.message.value), timestamp);
            c.update_leaf(static_cast<std::uint32_t>(b), std::move(slot.inverse), timestamp);
        });
}

// Category i of `leaves` gets elements i*batch_width .. (i+1)*batch_width - 1
// of every message, `batch_width` being the circuit's when the reader started;
// a block that does not fit is skipped and its leaf keeps its value, as does
// every later one.
template <class S>
void run_categorical(IpcReceiver& receiver, const std::vector<std::size_t>& leaves, const SharedCircuit<S>& circuit,
                     std::size_t batch_width) {
    struct Slot {
        std::vector<Vector> blocks;  // reused: one allocation per block and message
        double timestamp = 0.0;
    };
    run_in_runs<S, Slot>(
        receiver, circuit,
        [&leaves, batch_width](IpcMessage&& message, Slot& slot) {
            const Vector& v = message.value;
            slot.blocks.clear();
            for (std::size_t i = 0, start = 0; i < leaves.size(); ++i, start += batch_width) {
                if (start > v.size() || v.size() - start < batch_width) break;  // this block and every later one
                slot.blocks.emplace_back(v.view().subspan(start, batch_width));
            }
            slot.timestamp = message.timestamp;
        },
        [&leaves](ReactiveCircuit<S>& c, Slot& slot) {
            bool all_present = true;
            for (std::size_t leaf : leaves) all_present = all_present && leaf < c.leafs().size();
            if (!all_present) return;
            for (std::size_t i = 0; i < slot.blocks.size(); ++i) {
                c.update_leaf(static_cast<std::uint32_t>(leaves[i]), std::move(slot.blocks[i]), slot.timestamp);
            }
        });
}

}  // namespace reader

// Starts the reader thread of each kind; the thread owns what it is given.
template <class S>
JoinHandle start_single_reader(IpcReceiver receiver, SharedCircuit<S> circuit, std::uint32_t leaf, bool invert) {
    return JoinHandle::spawn(reader::kRole, [receiver = std::move(receiver), circuit = std::move(circuit), leaf,
                                             invert]() mutable { reader::run_single<S>(receiver, circuit, leaf, invert); });
}

template <class S>
JoinHandle start_dual_reader(IpcReceiver receiver, SharedCircuit<S> circuit, std::size_t a, std::size_t b) {
    return JoinHandle::spawn(reader::kRole, [receiver = std::move(receiver), circuit = std::move(circuit), a,
                                             b]() mutable { reader::run_dual<S>(receiver, circuit, a, b); });
}

template <class S>
JoinHandle start_categorical_reader(IpcReceiver receiver, std::vector<std::size_t> leaves, SharedCircuit<S> circuit,
                                    std::size_t batch_width) {
    return JoinHandle::spawn(reader::kRole, [receiver = std::move(receiver), leaves = std::move(leaves),
                                             circuit = std::move(circuit), batch_width]() mutable {
        reader::run_categorical<S>(receiver, leaves, circuit, batch_width);
    });
}

}  // namespace tallo

// Compiled once per semiring, in channels/instantiations.cpp.
#define TALLO_READER_TEMPLATES(S, extern_)                                                                       \
    extern_ template JoinHandle start_single_reader<S>(IpcReceiver, SharedCircuit<S>, std::uint32_t, bool);     \
    extern_ template JoinHandle start_dual_reader<S>(IpcReceiver, SharedCircuit<S>, std::size_t, std::size_t); \
    extern_ template JoinHandle start_categorical_reader<S>(IpcReceiver, std::vector<std::size_t>,             \
                                                            SharedCircuit<S>, std::size_t);

namespace tallo {
TALLO_FOR_EACH_SEMIRING(TALLO_READER_TEMPLATES, extern)
}  // namespace tallo
