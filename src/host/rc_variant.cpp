#include "host/rc_variant.h"

#include "circuit/clustering.h"
#include "host/graphviz.h"
#include "host/messages.h"

namespace tallo::host {

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
        return handle.lock()->add_leaf(std::move(probabilities), initial_timestamp, std::move(name));
    });
}

void RCVariant::update_leaf(std::uint32_t index, Vector value, double timestamp) const {
    visit([&]<class S>(const SharedCircuit<S>& handle) {
        auto circuit = handle.lock();
        circuit->update_leaf(index, std::move(value), timestamp);
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

Result<gradients::Unpacked> RCVariant::gradient_update() const {
    return for_prob_gradient<SharedCircuit>("gradient_update", handle_, [](const SharedCircuit<ProbGradient>& handle) {
        return Result<gradients::Unpacked>(gradients::gradient_update(*handle.lock()));
    });
}

Result<gradients::Unpacked> RCVariant::full_gradient_update() const {
    return for_prob_gradient<SharedCircuit>(
        "full_gradient_update", handle_, [](const SharedCircuit<ProbGradient>& handle) {
            return Result<gradients::Unpacked>(gradients::full_gradient_update(*handle.lock()));
        });
}

std::optional<Error> RCVariant::fit(const gradients::Derivatives& gradients, double lr, double loss,
                                    const std::optional<std::vector<std::string>>& atoms, double timestamp) const {
    return for_prob_gradient<SharedCircuit>("fit", handle_, [&](const SharedCircuit<ProbGradient>& handle) {
        gradients::fit(*handle.lock(), gradients, lr, loss, atoms, timestamp);
        return std::optional<Error>();
    });
}

void RCVariant::lift_leaf(std::uint32_t index) const {
    visit([&]<class S>(const SharedCircuit<S>& handle) { handle.lock()->lift_leaf(index); });
}

void RCVariant::drop_leaf(std::uint32_t index) const {
    visit([&]<class S>(const SharedCircuit<S>& handle) { handle.lock()->drop_leaf(index); });
}

void RCVariant::adapt(const std::vector<double>& boundaries) const {
    visit([&]<class S>(const SharedCircuit<S>& handle) {
        auto circuit = handle.lock();
        std::vector<std::uint32_t> levels = circuit->levels_for(boundaries);
        clustering::print_levels(levels);  // before the moves, which may stop
        circuit->adapt(std::move(levels));
    });
}

std::optional<IoError> RCVariant::to_dot(const std::string& path) const {
    return visit([&]<class S>(const SharedCircuit<S>& handle) { return handle.lock()->to_dot(path); });
}

std::optional<IoError> RCVariant::to_svg(const std::string& path, bool keep_dot) const {
    return visit([&]<class S>(const SharedCircuit<S>& handle) {
        auto circuit = handle.lock();
        return graphviz::write_svg(circuit->to_dot_text(), path, keep_dot);
    });
}

std::optional<IoError> RCVariant::to_combined_svg(const std::string& path) const {
    return visit([&]<class S>(const SharedCircuit<S>& handle) {
        auto circuit = handle.lock();
        return graphviz::write_combined_svg(graphviz::combined_dot_text(*circuit), path);
    });
}

}  // namespace tallo::host
