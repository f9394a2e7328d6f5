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
//
// The member bodies are compiled once per semiring, in channels/manager.cpp.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/poisonable.h"
#include "base/vector.h"
#include "channels/ipc.h"
#include "channels/join_handle.h"
#include "channels/readers.h"
#include "channels/timed_writer.h"
#include "circuit/reactive_circuit.h"
#include "circuit/semiring.h"

namespace tallo {

template <class S>
class Manager {
public:
    explicit Manager(SharedCircuit<S> circuit) : circuit_(std::move(circuit)) {}
    Manager(Manager&&) noexcept = default;
    Manager& operator=(Manager&&) = delete;
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;
    ~Manager();

    // Appends a leaf built from `value` (probability space) with the initial
    // timestamp 0.0; returns its index.
    std::size_t create_leaf(std::string name, Vector value);

    // Starts a reader that writes every message (or its complement) into
    // `leaf`. The index is not checked here; the reader drops messages for a
    // leaf that does not exist.
    void read(std::uint32_t leaf, const std::string& channel, bool invert);

    // Starts a reader that writes every message into `a` and its complement
    // into `b`.
    void read_dual(std::size_t a, std::size_t b, const std::string& channel);

    // Starts a reader that splits every message into consecutive blocks of the
    // circuit's batch width (as it is now), one per leaf in order.
    void read_categorical(const std::string& channel, std::vector<std::size_t> leaves);

    // A duplicate of the sender registered under `channel`, registering a
    // channel without receiver first when there is none.
    IpcSender get_or_create_sender(const std::string& channel);

    // A duplicate of the sender registered under `channel`, or none; registers
    // nothing.
    std::optional<IpcSender> registered_sender(const std::string& channel) const;

    // The circuit's `value_size`, the slots of a stored value: the circuit
    // owns it, the manager asks.
    std::size_t value_size() const;

    // Starts a timed writer on `channel`. Its initial vector is the decoded
    // value of the first leaf named like the channel without one leading '/',
    // or zeros of the circuit's value_size. Returns the sampled vector.
    Shared<Vector> make_timed_writer(const std::string& channel, double frequency);

    // Releases every timed writer in the order made, each stopping and joining
    // its sampler. Stops with "Could not join with writer thread!" after all of
    // them if any sampler had stopped.
    void stop_timed_writers();

    // The timed writers made and not yet stopped.
    std::size_t timed_writer_count() const noexcept { return timed_writers_.size(); }

    // The records of the readers started by `read`, in the order started.
    const std::vector<IpcReader>& single_readers() const noexcept { return readers_; }

    // The shared circuit the readers feed.
    const SharedCircuit<S>& circuit() const noexcept { return circuit_; }

    std::vector<std::string> get_names() const;

    // Every leaf's value in probability space.
    std::vector<Vector> get_values() const;

    std::vector<double> get_frequencies() const;

    // Leaf name to index; a name carried by several leaves maps to the lowest.
    std::unordered_map<std::string, std::size_t> get_index_map() const;

private:
    // A new channel whose sender replaces the one registered under `channel`.
    IpcReceiver register_channel(const std::string& channel);

    // Nothing joins a reader, so its thread is detached at once: a reader that
    // ends (its channel replaced by a later read of the name) gives its thread
    // back then, not at the manager's teardown.
    static IpcReader record(const std::string& channel, JoinHandle handle);

    Vector initial_vector(std::string_view channel) const;

    // Detaches before it releases: every field is moved out and reset first,
    // then what it held is dropped in declaration order.
    void teardown() noexcept;

    // Fields in declaration order, which is the order teardown releases them.
    SharedCircuit<S> circuit_;
    std::vector<IpcReader> readers_;
    std::vector<IpcReader> dual_readers_;
    std::vector<IpcReader> categorical_readers_;
    std::vector<TimedIpcWriter> timed_writers_;
    std::unordered_map<std::string, IpcSender> senders_;
};

}  // namespace tallo

// Compiled once per semiring, in channels/manager.cpp.
#define TALLO_MANAGER_TEMPLATES(S, extern_) extern_ template class Manager<S>;

namespace tallo {
TALLO_FOR_EACH_SEMIRING(TALLO_MANAGER_TEMPLATES, extern)
}  // namespace tallo
