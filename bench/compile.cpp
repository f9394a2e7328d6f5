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
//
// Second part ("clingo"): the whole compile of groups of independent sources
// (the target holds when all sources of some group hold) against the solver's
// own command-line program, `clingo -q 0`, run on the program that compile
// generated, in turns; and the heap that compiling holds at its peak against
// the heap that the finished model holds, counted by this program's own
// operator new (the solver library's allocations included).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstddef>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <new>
#include <string>
#include <string_view>
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

// Heap accounting: the bytes of the blocks allocated while `counting` is
// set and not yet freed, and their peak. Every block carries a header that
// says whether it was counted, so that the frees of older blocks (a previous
// model's circuit, released late by its last reader thread) are not.
namespace heap {
std::atomic<bool> counting{false};
std::atomic<long long> live{0};
std::atomic<long long> peak{0};

struct alignas(std::max_align_t) Header {
    std::size_t size;
    bool counted;
};

void* allocate(std::size_t size) {
    auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + size));
    if (!header) throw std::bad_alloc();
    header->size = size;
    header->counted = counting.load(std::memory_order_relaxed);
    if (header->counted) {
        const long long now = live.fetch_add(static_cast<long long>(size), std::memory_order_relaxed) +
                              static_cast<long long>(size);
        long long high = peak.load(std::memory_order_relaxed);
        while (now > high && !peak.compare_exchange_weak(high, now, std::memory_order_relaxed)) {
        }
    }
    return header + 1;
}

void release(void* block) noexcept {
    if (!block) return;
    Header* header = static_cast<Header*>(block) - 1;
    if (header->counted) live.fetch_sub(static_cast<long long>(header->size), std::memory_order_relaxed);
    std::free(header);
}
}  // namespace heap

void* operator new(std::size_t size) { return heap::allocate(size); }
void* operator new[](std::size_t size) { return heap::allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return heap::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return heap::allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* block) noexcept { heap::release(block); }
void operator delete[](void* block) noexcept { heap::release(block); }
void operator delete(void* block, std::size_t) noexcept { heap::release(block); }
void operator delete[](void* block, std::size_t) noexcept { heap::release(block); }

namespace {

using Clock = std::chrono::steady_clock;

std::string independent_sources(int n) {
    std::string model;
    for (int i = 0; i < n; ++i) model += fmt::format("s{} <- source(\"/s/{}\", Probability).\n", i, i);
    for (int i = 0; i < n; ++i) model += fmt::format("t if s{}.\n", i);
    model += "t if not s0.\nt -> target(\"/t\").\n";
    return model;
}

// Groups of `size` independent sources; the target holds when every source
// of at least one group holds: (2^size)^groups - (2^size - 1)^groups models.
std::string grouped_sources(int groups, int size) {
    std::string model;
    for (int i = 0; i < groups * size; ++i) model += fmt::format("s{} <- source(\"/s/{}\", Probability).\n", i, i);
    for (int g = 0; g < groups; ++g) {
        model += "t if ";
        for (int i = 0; i < size; ++i) model += fmt::format("{}s{}", i ? " and " : "", g * size + i);
        model += ".\n";
    }
    model += "t -> target(\"/t\").\n";
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
    const auto index = model.channels().get_index_map();
    const std::string& topic = model.targets().at(0).topic;
    const std::vector<tallo::Leaf> leafs = model.circuit().lock()->leafs();
    tallo::ReactiveCircuit<tallo::LogProb> circuit(1);
    for (const tallo::Leaf& leaf : leafs) circuit.add_leaf(tallo::LogProb::decode(leaf.value), 0.0, leaf.name);
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

        if (i == 0) dnf.remove(compiled.targets().at(0).atom);
        circuit.push_back(circuit_us(dnf, compiled));
        // The model is dropped here, after the clocks stopped: teardown is no part of compiling.
    }
    const double p = median(parse), s = median(solve), b = median(circuit), c = median(compile);
    std::printf("%-10s %8zu %14.1f %12.1f %12.1f %14.1f %12.1f %10.2f\n", label.c_str(), dnf.size(), p, s,
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

double thread_cpu_ms() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

struct Run {
    double wall_ms;
    double cpu_ms;
};

// One run of `clingo -q 0 path`, its output dropped: wall time from the spawn
// to the exit, and the child's processor time (user + system).
Run clingo_run(const std::string& path) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::string name = "clingo", quiet = "-q", zero = "0", file = path;
    char* argv[] = {name.data(), quiet.data(), zero.data(), file.data(), nullptr};
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "clingo", &actions, nullptr, argv, environ) != 0) {
        std::fprintf(stderr, "cannot run clingo (it comes with the gringo package)\n");
        std::exit(1);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double wall = elapsed_us(start) / 1e3;
    posix_spawn_file_actions_destroy(&actions);
    // clingo exits with 10 (satisfiable), 20 (unsatisfiable) or 30 (all models found).
    if (!WIFEXITED(status) || (WEXITSTATUS(status) % 10) != 0) {
        std::fprintf(stderr, "clingo failed on %s\n", path.c_str());
        std::exit(1);
    }
    const auto ms = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e3 + t.tv_usec / 1e3; };
    return {wall, ms(usage.ru_utime) + ms(usage.ru_stime)};
}

// Compile against `clingo -q 0` on the generated program, in turns; then the
// heap of one more compile: its peak over the heap the finished model holds.
void against_clingo(const std::string& label, const std::string& model, int reps) {
    const std::string program = program_of(model);
    const std::string path = fmt::format("/tmp/bench_compile_{}.lp", getpid());
    std::ofstream(path) << program;

    std::vector<double> compile_wall, compile_cpu, solve_wall, solve_cpu, clingo_wall, clingo_cpu;
    std::size_t products = 0;
    for (int i = 0; i < reps; ++i) {
        const Run solver = clingo_run(path);
        clingo_wall.push_back(solver.wall_ms);
        clingo_cpu.push_back(solver.cpu_ms);

        double cpu_start = thread_cpu_ms();
        auto start = Clock::now();
        (void)tallo::asp::solve(program, false);
        solve_wall.push_back(elapsed_us(start) / 1e3);
        solve_cpu.push_back(thread_cpu_ms() - cpu_start);

        cpu_start = thread_cpu_ms();
        start = Clock::now();
        auto compiled = tallo::Tallo<tallo::LogProb>::compile(model, 1, false);
        compile_wall.push_back(elapsed_us(start) / 1e3);
        compile_cpu.push_back(thread_cpu_ms() - cpu_start);
        products = compiled.circuit().lock()->structure().node(0).minterms().size();
    }
    std::remove(path.c_str());

    heap::live = 0;
    heap::peak = 0;
    heap::counting = true;  // counts this thread's blocks and those of the reader threads compile starts
    long long held = 0, peak = 0;
    {
        auto compiled = tallo::Tallo<tallo::LogProb>::compile(model, 1, false);
        held = heap::live.load();
        peak = heap::peak.load();
        heap::counting = false;
    }
    const double cw = median(compile_wall), cc = median(compile_cpu), vw = median(solve_wall),
                 vc = median(solve_cpu), sw = median(clingo_wall), sc = median(clingo_cpu);
    std::printf("%-6s %7zu | %7.1f %7.1f %7.1f %6.2f %6.2f | %7.1f %7.1f %7.1f %6.2f %6.2f | %6.1f %6.1f %5.2f\n",
                label.c_str(), products, cw, vw, sw, cw / sw, vw / sw, cc, vc, sc, cc / sc, vc / sc,
                static_cast<double>(held) / 1e6, static_cast<double>(peak) / 1e6,
                static_cast<double>(peak) / static_cast<double>(held));
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view part = argc > 1 ? argv[1] : "all";
    if (part != "all" && part != "phases" && part != "clingo") {
        std::fprintf(stderr, "usage: bench_compile [all|phases|clingo]\n");
        return 2;
    }
    if (part != "clingo") {
        std::printf("one reader thread's floor (start + join of an empty thread): %.1f us\n", thread_start_us());
        std::printf("%-10s %8s %14s %12s %12s %14s %12s %10s\n", "model", "models", "parse+prog us", "solve us",
                    "circuit us", "leaves+rest us", "compile us", "out/solve");
        measure("example", tallo::testing::example_model, 51);
        for (int n = 4; n <= 16; n += 2) {
            measure(fmt::format("n={}", n), independent_sources(n), n <= 10 ? 31 : n <= 12 ? 15 : 5);
        }
    }
    if (part != "phases") {
        std::printf("\ncompile (and asp::solve alone) against `clingo -q 0` on the generated program: median\n"
                    "of runs in turns, ms; heap of compiling: held = the finished model, peak = the most, MB\n");
        std::printf("%-6s %7s | %7s %7s %7s %6s %6s | %7s %7s %7s %6s %6s | %6s %6s %5s\n", "model", "models",
                    "wall", "solve", "clingo", "c/cl", "s/cl", "cpu", "solve", "clingo", "c/cl", "s/cl", "held",
                    "peak", "p/h");
        against_clingo("3x4", grouped_sources(3, 4), 9);
        against_clingo("6x2", grouped_sources(6, 2), 9);
        against_clingo("6x3", grouped_sources(6, 3), 5);
    }
    return 0;
}
