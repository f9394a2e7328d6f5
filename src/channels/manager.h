#pragma once

// Manager<S>: a compiled model's registry of named signal channels, the
// reader threads that feed the leaves of its shared circuit, and its timed
// writers.
//
// Guarantees:
// - One sender per channel name. `read`, `read_dual` and `read_categorical`
//   always create a new channel and register its sender under the name,
//   releasing the one registered before; writers made earlier keep the old
//   sender and feed the old reader, which ends once the last of them is gone.
//   `get_or_create_sender` and `make_timed_writer` hand out duplicates of the
//   registered sender; for a name that has none they register a channel whose
//   receiver is released at once, so whatever is sent through it is lost, also
//   after a later read of that name.
// - The manager keeps no receiver: each receiver lives only in its reader
//   thread. Readers are never joined: each is detached as it starts, so an
//   ended reader holds no thread. Their records only grow.
// - Every operation that reads the circuit takes its lock once and releases it
//   before returning; a poisoned circuit stops it with the poisoned-mutex text.
// - Teardown: the timed writers are stopped and joined in the order made; then
//   the fields are released in declaration order: the circuit holder, the
//   reader records (the threads were detached at their start), the timed
//   writers, the senders.
//   Releasing the senders ends every reader whose channel has no other live
//   sender, after it has drained its queue; readers whose channels still have
//   senders held by writers keep running, and keep the circuit alive.
// - No lock of its own: the owning model serialises every call (during
//   compilation only the compiling thread reaches it).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/panic.h"
#include "base/poisonable.h"
#include "base/vector.h"
#include "channels/channel.h"
#include "channels/ipc.h"
#include "channels/messages.h"
#include "channels/readers.h"
#include "channels/timed_writer.h"
#include "circuit/leaf.h"
#include "circuit/reactive_circuit.h"
#include "circuit/semiring.h"

namespace tallo {

template <class S>
class Manager {
public:
    explicit Manager(SharedCircuit<S> circuit) : circuit(std::move(circuit)) {}
    Manager(Manager&&) noexcept = default;
    Manager& operator=(Manager&&) = delete;
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;
    ~Manager() { teardown(); }

    // Appends a leaf built from `value` (probability space) with the initial
    // timestamp 0.0; returns its index.
    std::size_t create_leaf(std::string name, Vector value) {
        auto guard = circuit.lock();
        ReactiveCircuit<S>& c = *guard;
        const std::size_t index = c.leafs().size();
        c.add_leaf(Leaf::create<S>(std::move(value), 0.0, std::move(name), static_cast<std::uint32_t>(index)));
        return index;
    }

    // Starts a reader that writes every message (or its complement) into
    // `leaf`. The index is not checked here; the reader drops messages for a
    // leaf that does not exist.
    void read(std::uint32_t leaf, const std::string& channel, bool invert) {
        IpcReceiver receiver = register_channel(channel);
        auto handle = start_single_reader<S>(std::move(receiver), circuit, leaf, invert);
        readers.push_back(record(channel, std::move(handle)));
    }

    // Starts a reader that writes every message into `a` and its complement
    // into `b`.
    void read_dual(std::size_t a, std::size_t b, const std::string& channel) {
        IpcReceiver receiver = register_channel(channel);
        auto handle = start_dual_reader<S>(std::move(receiver), circuit, a, b);
        dual_readers.push_back(record(channel, std::move(handle)));
    }

    // Starts a reader that splits every message into consecutive blocks of the
    // circuit's current value_size, one per leaf in order.
    void read_categorical(const std::string& channel, std::vector<std::size_t> leaves) {
        IpcReceiver receiver = register_channel(channel);
        const std::size_t size = value_size();
        auto handle = start_categorical_reader<S>(std::move(receiver), std::move(leaves), circuit, size);
        categorical_readers.push_back(record(channel, std::move(handle)));
    }

    // A duplicate of the sender registered under `channel`, registering a
    // channel without receiver first when there is none.
    IpcSender get_or_create_sender(const std::string& channel) {
        auto found = senders.find(channel);
        if (found == senders.end()) {
            auto [sender, receiver] = make_channel<IpcMessage>();
            receiver.release();
            found = senders.emplace(channel, std::move(sender)).first;
        }
        return found->second.duplicate();
    }

    std::size_t value_size() { return circuit.lock()->value_size(); }

    // Starts a timed writer on `channel`. Its initial vector is the decoded
    // value of the first leaf named like the channel without one leading '/',
    // or zeros of the circuit's value_size. Returns the sampled vector.
    Shared<Vector> make_timed_writer(const std::string& channel, double frequency) {
        IpcSender sender = get_or_create_sender(channel);
        Vector initial = initial_vector(channel);
        TimedIpcWriter writer(std::move(sender), std::move(initial), frequency);
        Shared<Vector> vector = writer.vector();
        writer.start();  // a bad frequency stops here; the writer is released unstored
        timed_writers.push_back(std::move(writer));
        return vector;
    }

    // Releases every timed writer in the order made, each stopping and joining
    // its sampler. Stops with "Could not join with writer thread!" after all of
    // them if any sampler had stopped.
    void stop_timed_writers() {
        std::vector<TimedIpcWriter> writers = std::exchange(timed_writers, {});
        bool joined = true;
        for (TimedIpcWriter& writer : writers) {
            try {
                writer.release();
            } catch (const Panic&) {
                joined = false;
            }
        }
        if (!joined) stop(messages::could_not_join_writer());
    }

    std::vector<std::string> get_names() {
        auto guard = circuit.lock();
        std::vector<std::string> names;
        names.reserve(guard->leafs().size());
        for (const Leaf& leaf : guard->leafs()) names.push_back(leaf.name);
        return names;
    }

    // Every leaf's value in probability space.
    std::vector<Vector> get_values() {
        auto guard = circuit.lock();
        std::vector<Vector> values;
        values.reserve(guard->leafs().size());
        for (const Leaf& leaf : guard->leafs()) values.push_back(S::decode(leaf.value));
        return values;
    }

    std::vector<double> get_frequencies() {
        auto guard = circuit.lock();
        std::vector<double> frequencies;
        frequencies.reserve(guard->leafs().size());
        for (const Leaf& leaf : guard->leafs()) frequencies.push_back(leaf.frequency);
        return frequencies;
    }

    // Leaf name to index; a name carried by several leaves maps to the lowest.
    std::unordered_map<std::string, std::size_t> get_index_map() {
        std::vector<std::string> names = get_names();
        std::unordered_map<std::string, std::size_t> map;
        map.reserve(names.size());
        for (std::size_t i = 0; i < names.size(); ++i) map.try_emplace(std::move(names[i]), i);
        return map;
    }

    // Fields in declaration order, which is the order teardown releases them.
    SharedCircuit<S> circuit;
    std::vector<IpcReader> readers;
    std::vector<IpcReader> dual_readers;
    std::vector<IpcReader> categorical_readers;
    std::vector<TimedIpcWriter> timed_writers;
    std::unordered_map<std::string, IpcSender> senders;

private:
    // A new channel whose sender replaces the one registered under `channel`.
    IpcReceiver register_channel(const std::string& channel) {
        auto [sender, receiver] = make_channel<IpcMessage>();
        senders.insert_or_assign(channel, std::move(sender));
        return std::move(receiver);
    }

    // Nothing joins a reader, so its thread is detached at once: a reader that
    // ends (its channel replaced by a later read of the name) gives its thread
    // back then, not at the manager's teardown.
    static IpcReader record(const std::string& channel, JoinHandle handle) {
        handle.detach();
        return IpcReader{channel, std::make_shared<JoinHandle>(std::move(handle))};
    }

    Vector initial_vector(std::string_view channel) {
        if (!channel.empty() && channel.front() == '/') channel.remove_prefix(1);
        auto guard = circuit.lock();
        const ReactiveCircuit<S>& c = *guard;
        const auto found = std::find_if(c.leafs().begin(), c.leafs().end(),
                                        [channel](const Leaf& leaf) { return leaf.name == channel; });
        if (found != c.leafs().end()) return S::decode(found->value);
        return Vector(c.value_size());
    }

    // Detaches before it releases: every field is moved out and reset first,
    // then what it held is dropped in declaration order.
    void teardown() noexcept {
        try {
            stop_timed_writers();
        } catch (const Panic& panic) {
            report_stop("channel manager teardown", panic.message());
        }
        auto held_circuit = std::move(circuit);
        auto held_readers = std::move(readers);
        auto held_dual_readers = std::move(dual_readers);
        auto held_categorical_readers = std::move(categorical_readers);
        auto held_timed_writers = std::move(timed_writers);
        auto held_senders = std::move(senders);
        circuit = SharedCircuit<S>();
        readers.clear();
        dual_readers.clear();
        categorical_readers.clear();
        timed_writers.clear();
        senders.clear();

        held_circuit = SharedCircuit<S>();
        held_readers.clear();
        held_dual_readers.clear();
        held_categorical_readers.clear();
        held_timed_writers.clear();
        held_senders.clear();
    }
};

}  // namespace tallo

// Compiled once per semiring, in channels/instantiations.cpp.
#define TALLO_MANAGER_TEMPLATES(S, extern_) extern_ template class Manager<S>;

namespace tallo {
TALLO_FOR_EACH_SEMIRING(TALLO_MANAGER_TEMPLATES, extern)
}  // namespace tallo
