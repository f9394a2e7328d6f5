// Compile time of models, split into its phases: parsing and writing the
// answer-set program, solving it with clingo, building the circuit (product
// terms and the target's node), and the rest of compile (leaves, reader
// threads, causes).
//
// The rest is the whole compile minus the three phases, each measured on its
// own with the same input; the last column is (compile - solve) / solve, the
// cost outside clingo per unit of solving.
// Every source starts one reader thread, so the floor of a thread start is
// printed first.
//
// Models: the example model, and a family with n independent probability
// sources whose target holds in every one of the 2^n stable models.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "circuit/semiring.h"
#include "language/asp.h"
#include "language/asp_program.h"
#include "language/compile_steps.h"
#include "language/model_statements.h"
#include "language/tallo.h"

// The example model that the compiler's tests use.
#include "../tests/cpp/language/example_model.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string independent_sources(int n) {
    std::string model;
    for (int i = 0; i < n; ++i) model += fmt::format("s{} <- source(\"/s/{}\", Probability).\n", i, i);
    for (int i = 0; i < n; ++i) model += fmt::format("t if s{}.\n", i);
    model += "t if not s0.\nt -> target(\"/t\").\n";
    return model;
}

// The program as compile writes it.
std::string program_of(const std::string& model) {
    tallo::ModelStatements statements = tallo::parse_model(model);
    tallo::ComparisonTable comparisons;
    for (const tallo::Source& source : statements.sources) {
        if (source.dtype != tallo::DataType::Density && source.dtype != tallo::DataType::Number) continue;
        std::vector<tallo::ComparisonEntry> entries;
        for (auto& c : tallo::distinct_comparisons(source.atom, statements.clauses)) {
            entries.push_back({c.threshold, c.op == '>', c.name});
        }
        comparisons.insert_or_assign(source.atom, std::move(entries));
    }
    return tallo::build_asp_program(statements.sources, statements.categorical_sources, statements.clauses,
                                    comparisons, statements.targets.at(0));
}

double elapsed_us(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double median(std::vector<double> times) {
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

// The circuit's part of compiling, timed directly: the product terms of the
// normal form and the target's sum-of-products node, over the leaves that
// compile created.
double circuit_us(const tallo::Dnf& dnf, tallo::Tallo<tallo::LogProb>& model) {
    const auto index = model.manager.get_index_map();
    const std::string& topic = model.targets.at(0).topic;
    std::vector<tallo::Leaf> leafs = model.manager.circuit.lock()->leafs;
    tallo::ReactiveCircuit<tallo::LogProb> circuit(1);
    circuit.leafs = std::move(leafs);
    const auto start = Clock::now();
    circuit.add_sum_product(tallo::product_terms(dnf, index), topic);
    return elapsed_us(start);
}

// The measurements of a model take turns, so that a busy machine slows all of
// them alike; each figure is the median of its runs.
void measure(const std::string& label, const std::string& model, int reps) {
    const std::string program = program_of(model);
    tallo::Dnf dnf = tallo::asp::solve(program, false);
    std::vector<double> parse, solve, circuit, compile;
    for (int i = 0; i < reps; ++i) {
        auto start = Clock::now();
        (void)program_of(model);
        parse.push_back(elapsed_us(start));

        start = Clock::now();
        (void)tallo::asp::solve(program, false);
        solve.push_back(elapsed_us(start));

        start = Clock::now();
        auto compiled = tallo::Tallo<tallo::LogProb>::compile(model, 1, false);
        compile.push_back(elapsed_us(start));

        if (i == 0) dnf.remove(compiled.targets.at(0).atom);
        circuit.push_back(circuit_us(dnf, compiled));
        // The model is dropped here, after the clocks stopped: teardown is no part of compiling.
    }
    const double p = median(parse), s = median(solve), b = median(circuit), c = median(compile);
    std::printf("%-10s %8zu %14.1f %12.1f %12.1f %14.1f %12.1f %10.2f\n", label.c_str(), dnf.clauses.size(), p, s,
                b, c - p - s - b, c, (c - s) / s);
}

// The floor of one reader thread: starting and joining an empty thread.
double thread_start_us() {
    std::vector<double> times;
    for (int i = 0; i < 101; ++i) {
        const auto start = Clock::now();
        std::thread([] {}).join();
        times.push_back(elapsed_us(start));
    }
    return median(times);
}

}  // namespace

int main() {
    std::printf("one reader thread's floor (start + join of an empty thread): %.1f us\n", thread_start_us());
    std::printf("%-10s %8s %14s %12s %12s %14s %12s %10s\n", "model", "models", "parse+prog us", "solve us",
                "circuit us", "leaves+rest us", "compile us", "out/solve");
    measure("example", tallo::testing::example_model, 51);
    for (int n = 4; n <= 16; n += 2) measure(fmt::format("n={}", n), independent_sources(n), n <= 10 ? 31 : n <= 12 ? 15 : 5);
    return 0;
}
