#include "python/rc_variant.h"

#include "circuit/leaf.h"

namespace tallo::python {

RCVariant RCVariant::create(std::uint32_t value_size) {
    return RCVariant(SharedCircuit<LogProb>::make(value_size));
}

RCVariant RCVariant::from_sum_product(std::uint32_t value_size, const SumProduct& sum_product,
                                      const std::string& target_token) {
    return RCVariant(
        SharedCircuit<LogProb>::make(ReactiveCircuit<LogProb>::from_sum_product(value_size, sum_product, target_token)));
}

std::uint32_t RCVariant::add_leaf(Vector probabilities, double initial_timestamp, std::string name) const {
    return visit([&]<class S>(const SharedCircuit<S>& handle) {
        auto circuit = handle.lock();
        auto index = static_cast<std::uint32_t>(circuit->leafs.size());
        circuit->leafs.push_back(Leaf::create<S>(std::move(probabilities), initial_timestamp, std::move(name), index));
        return index;
    });
}

void RCVariant::update_leaf(std::uint32_t index, Vector value, double timestamp) const {
    visit([&]<class S>(const SharedCircuit<S>& handle) {
        auto circuit = handle.lock();
        leaf::update<S>(*circuit, index, std::move(value), timestamp);
    });
}

void RCVariant::add_sum_product(const SumProduct& sum_product, const std::string& target_token) const {
    visit([&]<class S>(const SharedCircuit<S>& handle) { handle.lock()->add_sum_product(sum_product, target_token); });
}

TokenValues RCVariant::update() const {
    return visit([]<class S>(const SharedCircuit<S>& handle) { return handle.lock()->update(); });
}

TokenValues RCVariant::full_update() const {
    return visit([]<class S>(const SharedCircuit<S>& handle) {
        auto circuit = handle.lock();
        circuit->invalidate();
        return circuit->update();
    });
}

void RCVariant::lift_leaf(std::uint32_t index) const {
    visit([&]<class S>(const SharedCircuit<S>& handle) { handle.lock()->lift_leaf(index); });
}

void RCVariant::drop_leaf(std::uint32_t index) const {
    visit([&]<class S>(const SharedCircuit<S>& handle) { handle.lock()->drop_leaf(index); });
}

void RCVariant::adapt(const std::vector<double>& boundaries) const {
    visit([&]<class S>(const SharedCircuit<S>& handle) { handle.lock()->adapt(boundaries); });
}

std::optional<Error> RCVariant::to_dot(const std::string& path) const {
    return visit([&]<class S>(const SharedCircuit<S>& handle) { return handle.lock()->to_dot(path); });
}

}  // namespace tallo::python
