#pragma once

// Reader threads: the one consumer of a signal channel, writing each message
// into leaves of a shared reactive circuit.
//
// Guarantees:
// - Messages are applied in arrival order, each under one lock of the circuit
//   taken for that message alone, so an update sees all of a message's leaf
//   changes or none. Complements are computed before the lock is taken, and a
//   categorical reader copies its blocks before it too: the lock covers only
//   the leaf writes.
// - A reader never re-evaluates the circuit; `leaf::update` decides what is a
//   change and marks the dependent nodes dirty.
// - A message for a leaf that the circuit does not hold (an index not below
//   the leaf count when the message arrives) is dropped whole, without a stop:
//   it neither writes outside the leaf list nor poisons the circuit. Since
//   leaves are only ever appended, later messages reach the leaf once it
//   exists.
// - A reader ends when its channel reports disconnection (drained, every
//   sender gone), releasing its receiver and its circuit holder. On a poisoned
//   circuit, or when `leaf::update` stops, it ends with the stop reported on
//   standard error; no exception ever leaves the thread.
// - Readers are detached: the manager keeps a record and never joins them.
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

// The record of one started reader thread. Releasing the last holder of
// `handle` detaches the thread.
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

// Every message's vector (or its complement) goes to one leaf.
template <class S>
void run_single(IpcReceiver& receiver, const SharedCircuit<S>& circuit, std::uint32_t leaf, bool invert) {
    while (auto message = receiver.recv()) {
        Vector value = invert ? complement(std::move(message->value)) : std::move(message->value);
        auto guard = circuit.lock();
        ReactiveCircuit<S>& c = *guard;
        if (leaf >= c.leafs.size()) continue;
        leaf::update<S>(c, leaf, std::move(value), message->timestamp);
    }
}

// Every message's vector goes to leaf a and its complement to leaf b, both
// under one lock.
template <class S>
void run_dual(IpcReceiver& receiver, const SharedCircuit<S>& circuit, std::size_t a, std::size_t b) {
    while (auto message = receiver.recv()) {
        Vector inverse = complement(Vector(message->value.view()));
        auto guard = circuit.lock();
        ReactiveCircuit<S>& c = *guard;
        if (a >= c.leafs.size() || b >= c.leafs.size()) continue;
        leaf::update<S>(c, static_cast<std::uint32_t>(a), std::move(message->value), message->timestamp);
        leaf::update<S>(c, static_cast<std::uint32_t>(b), std::move(inverse), message->timestamp);
    }
}

// Category i of `leaves` gets elements i*value_size .. (i+1)*value_size - 1 of
// every message; a block that does not fit is skipped and its leaf keeps its
// value, as does every later one.
template <class S>
void run_categorical(IpcReceiver& receiver, const std::vector<std::size_t>& leaves, const SharedCircuit<S>& circuit,
                     std::size_t value_size) {
    std::vector<Vector> blocks;  // reused: one allocation per block and message
    while (auto message = receiver.recv()) {
        const Vector& v = message->value;
        blocks.clear();
        for (std::size_t i = 0, start = 0; i < leaves.size(); ++i, start += value_size) {
            if (start > v.size() || v.size() - start < value_size) break;  // this block and every later one
            blocks.emplace_back(v.view().subspan(start, value_size));
        }
        auto guard = circuit.lock();
        ReactiveCircuit<S>& c = *guard;
        bool all_present = true;
        for (std::size_t leaf : leaves) all_present = all_present && leaf < c.leafs.size();
        if (!all_present) continue;
        for (std::size_t i = 0; i < blocks.size(); ++i) {
            leaf::update<S>(c, static_cast<std::uint32_t>(leaves[i]), std::move(blocks[i]), message->timestamp);
        }
    }
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
                                    std::size_t value_size) {
    return JoinHandle::spawn(reader::kRole, [receiver = std::move(receiver), leaves = std::move(leaves),
                                             circuit = std::move(circuit), value_size]() mutable {
        reader::run_categorical<S>(receiver, leaves, circuit, value_size);
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
