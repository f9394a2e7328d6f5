// The manager's member bodies, compiled here once for every semiring.
#include "channels/manager.h"

#include <algorithm>
#include <memory>
#include <type_traits>

#include "base/panic.h"
#include "channels/channel.h"
#include "channels/messages.h"
#include "circuit/leaf.h"

namespace tallo {

namespace {

// f(leaf) for every leaf in index order, under one lock of the circuit.
template <class S, class F>
auto per_leaf(const SharedCircuit<S>& circuit, F f) {
    auto guard = circuit.lock();
    std::vector<std::invoke_result_t<F&, const Leaf&>> out;
    out.reserve(guard->leafs().size());
    for (const Leaf& leaf : guard->leafs()) out.push_back(f(leaf));
    return out;
}

}  // namespace

template <class S>
Manager<S>::~Manager() {
    teardown();
}

template <class S>
std::size_t Manager<S>::create_leaf(std::string name, Vector value) {
    return circuit_.lock()->add_leaf(std::move(value), 0.0, std::move(name));
}

template <class S>
void Manager<S>::read(std::uint32_t leaf, const std::string& channel, bool invert) {
    IpcReceiver receiver = register_channel(channel);
    auto handle = start_single_reader<S>(std::move(receiver), circuit_, leaf, invert);
    readers_.push_back(record(channel, std::move(handle)));
}

template <class S>
void Manager<S>::read_dual(std::size_t a, std::size_t b, const std::string& channel) {
    IpcReceiver receiver = register_channel(channel);
    auto handle = start_dual_reader<S>(std::move(receiver), circuit_, a, b);
    dual_readers_.push_back(record(channel, std::move(handle)));
}

template <class S>
void Manager<S>::read_categorical(const std::string& channel, std::vector<std::size_t> leaves) {
    IpcReceiver receiver = register_channel(channel);
    const std::size_t batch_width = circuit_.lock()->batch_width();
    auto handle = start_categorical_reader<S>(std::move(receiver), std::move(leaves), circuit_, batch_width);
    categorical_readers_.push_back(record(channel, std::move(handle)));
}

template <class S>
IpcSender Manager<S>::get_or_create_sender(const std::string& channel) {
    auto found = senders_.find(channel);
    if (found == senders_.end()) {
        auto [sender, receiver] = make_channel<IpcMessage>();
        receiver.release();
        found = senders_.emplace(channel, std::move(sender)).first;
    }
    return found->second.duplicate();
}

template <class S>
std::optional<IpcSender> Manager<S>::registered_sender(const std::string& channel) const {
    const auto found = senders_.find(channel);
    if (found == senders_.end()) return std::nullopt;
    return found->second.duplicate();
}

template <class S>
std::size_t Manager<S>::value_size() const {
    return circuit_.lock()->value_size();
}

template <class S>
Shared<Vector> Manager<S>::make_timed_writer(const std::string& channel, double frequency) {
    IpcSender sender = get_or_create_sender(channel);
    Vector initial = initial_vector(channel);
    TimedIpcWriter writer(std::move(sender), std::move(initial), frequency);
    Shared<Vector> vector = writer.vector();
    writer.start();  // a bad frequency stops here; the writer is released unstored
    timed_writers_.push_back(std::move(writer));
    return vector;
}

template <class S>
void Manager<S>::stop_timed_writers() {
    std::vector<TimedIpcWriter> writers = std::exchange(timed_writers_, {});
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

template <class S>
std::vector<std::string> Manager<S>::get_names() const {
    return per_leaf(circuit_, [](const Leaf& leaf) { return leaf.name; });
}

template <class S>
std::vector<Vector> Manager<S>::get_values() const {
    return per_leaf(circuit_, [](const Leaf& leaf) { return S::decode(leaf.value); });
}

template <class S>
std::vector<double> Manager<S>::get_frequencies() const {
    return per_leaf(circuit_, [](const Leaf& leaf) { return leaf.frequency; });
}

template <class S>
std::unordered_map<std::string, std::size_t> Manager<S>::get_index_map() const {
    std::vector<std::string> names = get_names();
    std::unordered_map<std::string, std::size_t> map;
    map.reserve(names.size());
    for (std::size_t i = 0; i < names.size(); ++i) map.try_emplace(std::move(names[i]), i);
    return map;
}

template <class S>
IpcReceiver Manager<S>::register_channel(const std::string& channel) {
    auto [sender, receiver] = make_channel<IpcMessage>();
    senders_.insert_or_assign(channel, std::move(sender));
    return std::move(receiver);
}

template <class S>
IpcReader Manager<S>::record(const std::string& channel, JoinHandle handle) {
    handle.detach();
    return IpcReader{channel, std::make_shared<JoinHandle>(std::move(handle))};
}

template <class S>
Vector Manager<S>::initial_vector(std::string_view channel) const {
    if (!channel.empty() && channel.front() == '/') channel.remove_prefix(1);
    auto guard = circuit_.lock();
    const ReactiveCircuit<S>& c = *guard;
    const auto found = std::find_if(c.leafs().begin(), c.leafs().end(),
                                    [channel](const Leaf& leaf) { return leaf.name == channel; });
    if (found != c.leafs().end()) return S::decode(found->value);
    return Vector(c.value_size());
}

template <class S>
void Manager<S>::teardown() noexcept {
    try {
        stop_timed_writers();
    } catch (const Panic& panic) {
        report_stop("channel manager teardown", panic.message());
    }
    auto held_circuit = std::move(circuit_);
    auto held_readers = std::move(readers_);
    auto held_dual_readers = std::move(dual_readers_);
    auto held_categorical_readers = std::move(categorical_readers_);
    auto held_timed_writers = std::move(timed_writers_);
    auto held_senders = std::move(senders_);
    circuit_ = SharedCircuit<S>();
    readers_.clear();
    dual_readers_.clear();
    categorical_readers_.clear();
    timed_writers_.clear();
    senders_.clear();

    held_circuit = SharedCircuit<S>();
    held_readers.clear();
    held_dual_readers.clear();
    held_categorical_readers.clear();
    held_timed_writers.clear();
    held_senders.clear();
}

TALLO_FOR_EACH_SEMIRING(TALLO_MANAGER_TEMPLATES, )

}  // namespace tallo
