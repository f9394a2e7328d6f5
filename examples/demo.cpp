// The demo: a two-leaf sum of products in each of the five semirings, then a
// small model compiled into its circuit and fed through the writers of its
// sources, printing the target's probability as it changes.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "base/panic.h"
#include "base/vector.h"
#include "circuit/semiring.h"
#include "language/tallo.h"

namespace {

using tallo::Vector;

template <class S>
Vector evaluate(const std::vector<Vector>& leaves, const std::vector<std::vector<std::uint32_t>>& products,
                std::size_t n) {
    typename S::Sum sum(n);
    Vector product;
    for (const auto& term : products) {
        product = S::one(n);
        for (std::uint32_t column : term) S::mul(product.mutable_view(), leaves[column].view());
        sum.add(product.view());
    }
    return S::decode(sum.finish());
}

constexpr const char* model_text =
    "# Either the rain or the sprinkler may wet the lawn.\n"
    "rain <- source(\"/weather/rain\", Probability).\n"
    "sprinkler <- source(\"/garden/sprinkler\", Boolean).\n"
    "temperature <- source(\"/garden/temperature\", Number).\n"
    "wet <- P(0.9) if rain.\n"
    "wet <- P(0.8) if sprinkler.\n"
    "frozen if temperature < 0.\n"
    "slippery if wet.\n"
    "slippery if frozen.\n"
    "slippery -> target(\"/lawn/slippery\").\n";

using Model = tallo::Tallo<tallo::LogProb>;

// What a step's writes will put into the leaves they feed, by leaf name.
using Expected = std::vector<std::pair<std::string, double>>;

// A Probability or Boolean source's reader fills its leaf and the complement.
void add_with_complement(Expected& expected, const std::string& leaf, double probability) {
    expected.emplace_back(leaf, probability);
    expected.emplace_back("-" + leaf, 1.0 - probability);
}

// A number written to a Number source reaches each of its comparisons, whose
// leaves the model's comparison table names: 1.0 where it holds, else 0.0.
void add_comparisons(Expected& expected, const Model& model, const std::string& atom, double x) {
    for (const tallo::ComparisonEntry& comparison : model.comparisons().at(atom)) {
        const bool holds = comparison.is_greater ? x > comparison.threshold : x < comparison.threshold;
        add_with_complement(expected, comparison.name, holds ? 1.0 : 0.0);
    }
}

// A leaf drops a write within 0.001 of the logarithm of its value (LogProb),
// so a value that close counts as arrived: it changes no result.
bool settled(double shown, double wanted) {
    return shown == wanted || (shown > 0.0 && wanted > 0.0 && std::abs(std::log(shown / wanted)) <= 0.000999);
}

// Waits until every leaf of `expected` shows its value: each channel has its
// own reader thread, and an update before they all arrived would mix old and
// new inputs. Bounded, so a lost message stops the demo with a message.
void wait_for_leaves(const Model& model, const Expected& expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    const std::vector<std::string> names = model.channels().get_names();
    for (;;) {
        const std::vector<tallo::Vector> values = model.channels().get_values();
        const auto late = std::find_if(expected.begin(), expected.end(), [&](const auto& leaf) {
            const auto at = std::find(names.begin(), names.end(), leaf.first);
            return at == names.end() || !settled(values[at - names.begin()][0], leaf.second);
        });
        if (late == expected.end()) return;
        if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error(fmt::format("the writes did not reach the leaf {} within 5 s", late->first));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void print_target(Model& model, const char* what) {
    const auto results = model.circuit().lock()->update();
    const auto found = results.find("/lawn/slippery");
    if (found == results.end()) {
        std::printf("%-44s slippery unchanged\n", what);
    } else {
        std::printf("%-44s P(slippery) = %.4f\n", what, found->second[0]);
    }
}

void write_number(const std::vector<tallo::ComparisonTarget>& targets, double x) {
    for (const tallo::ComparisonTarget& target : targets) {
        const bool holds = target.is_greater ? x > target.threshold : x < target.threshold;
        (void)target.sender.send(tallo::IpcMessage{tallo::Vector{holds ? 1.0 : 0.0}, 0.0});
    }
}

}  // namespace

int main() {
    const double a = 0.8;
    const double b = 0.3;
    const std::vector<std::vector<std::uint32_t>> products = {{0, 1}, {1}};
    fmt::print("tallo demo: leaves a = {}, b = {}; value of a*b + b\n", a, b);
    for (std::uint32_t tag = 0; tag <= 4; ++tag) {
        tallo::dispatch(tallo::SemiringTag{tag}, [&]<class S>() {
            // ProbGradient values are one probability and a derivative per leaf.
            const std::size_t n = S::tag == tallo::SemiringTag::ProbGradient ? 3 : 1;
            const std::vector<Vector> leaves = {S::encode_leaf_vec(Vector(n, a), n, 0),
                                                S::encode_leaf_vec(Vector(n, b), n, 1)};
            const Vector value = evaluate<S>(leaves, products, n);
            fmt::print("  {:<12} [{:.4}]{}\n", S::name, fmt::join(value.view(), ", "),
                       n == 3 ? "  (value, d/da, d/db)" : "");
        });
    }

    fmt::print("\ntallo demo: the model\n{}\n", model_text);
    try {
        Model model = Model::compile(model_text, 1, false);
        std::printf("compiled: %zu leaves\n", model.channels().get_names().size());

        auto rain = std::get<tallo::TypedWriter::Probability>(model.make_writer_for("rain").value().kind);
        auto sprinkler = std::get<tallo::TypedWriter::Boolean>(model.make_writer_for("sprinkler").value().kind);
        auto temperature = std::get<tallo::TypedWriter::Number>(model.make_writer_for("temperature").value().kind);

        double now = 1.0;
        const auto rain_at = [&](double p) {
            rain.writer.write(tallo::Vector{p}, now += 1.0);
            Expected expected;
            add_with_complement(expected, "rain", p);
            wait_for_leaves(model, expected);
        };
        const auto temperature_at = [&](double degrees) {
            write_number(temperature.targets, degrees);
            Expected expected;
            add_comparisons(expected, model, "temperature", degrees);
            wait_for_leaves(model, expected);
        };
        print_target(model, "no signal yet (no rain, sprinkler off):");
        rain_at(0.2);
        print_target(model, "rain 0.2:");
        rain_at(0.7);
        print_target(model, "rain 0.7:");
        sprinkler.writer.write(tallo::Vector{1.0}, now += 1.0);
        Expected sprinkler_on;
        add_with_complement(sprinkler_on, "sprinkler", 1.0);
        wait_for_leaves(model, sprinkler_on);
        print_target(model, "rain 0.7, sprinkler on:");
        temperature_at(-3.0);
        print_target(model, "rain 0.7, sprinkler on, -3 degrees:");
        temperature_at(12.0);
        print_target(model, "rain 0.7, sprinkler on, 12 degrees:");
    } catch (const tallo::Panic& panic) {
        std::fprintf(stderr, "demo stopped: %s\n", panic.what());
        return 1;
    } catch (const std::runtime_error& late) {
        std::fprintf(stderr, "demo stopped: %s\n", late.what());
        return 1;
    }
    return 0;
}
