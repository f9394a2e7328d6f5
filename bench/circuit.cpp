// Circuit updates and node evaluation, measured side by side in one run:
//
//   build/release/bench/bench_circuit [quick]
//
// 1. incremental update after one leaf change against invalidate + update of
//    the same circuit, for flat roots and for chains of nodes;
// 2. an update with nothing dirty, and an update of one dirty node against
//    the number of target tokens the circuit reports;
// 3. evaluation throughput in each semiring against a hand-written loop over
//    the same terms and leaf values;
// 4. wide layers on the whole worker pool against one worker, and the layer
//    sweep that places the threshold below which a layer stays on the calling
//    thread.
//
// Each figure is the median of several samples; a sample repeats its work
// until it has run for a few milliseconds. "quick" takes fewer samples.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <sys/resource.h>
#include <tbb/task_arena.h>

#include "base/vector.h"
#include "circuit/algebraic_circuit.h"
#include "circuit/leaf.h"
#include "circuit/reactive_circuit.h"
#include "circuit/semiring.h"
#include "circuit/worker_pool.h"

namespace {

using namespace tallo;
using Clock = std::chrono::steady_clock;
using Rows = std::vector<std::vector<std::uint32_t>>;

int samples = 7;
double sample_seconds = 0.02;

// Nanoseconds per call of `work`, the median over the samples.
double ns_per_call(const std::function<void()>& work) {
    std::vector<double> results;
    work();  // warm up: caches, the pool's threads, lazily built layers
    for (int s = 0; s < samples; ++s) {
        std::size_t calls = 0;
        const auto start = Clock::now();
        auto now = start;
        do {
            work();
            ++calls;
            now = Clock::now();
        } while (std::chrono::duration<double>(now - start).count() < sample_seconds);
        results.push_back(std::chrono::duration<double, std::nano>(now - start).count() / static_cast<double>(calls));
    }
    std::sort(results.begin(), results.end());
    return results[results.size() / 2];
}

std::string duration(double ns) {
    if (ns < 1e3) return fmt::format("{:.0f} ns", ns);
    if (ns < 1e6) return fmt::format("{:.1f} us", ns / 1e3);
    return fmt::format("{:.2f} ms", ns / 1e6);
}

// Runs `work` inside an arena of one thread: the pool's chunks all run on
// the calling thread.
double ns_per_call_one_worker(const std::function<void()>& work) {
    tbb::task_arena one(1);
    double ns = 0;
    one.execute([&] { ns = ns_per_call(work); });
    return ns;
}

template <class S>
void add_leaves(ReactiveCircuit<S>& circuit, std::uint32_t count, std::mt19937& random) {
    std::uniform_real_distribution<double> probability(0.05, 0.95);
    for (std::uint32_t i = 0; i < count; ++i) {
        Vector value(circuit.value_size());
        for (double& x : value.mutable_view()) x = probability(random);
        circuit.add_leaf(std::move(value), 0.0, "l");  // ProbGradient: the full dual width with its seed
    }
}

Rows random_rows(std::uint32_t terms, std::uint32_t per_term, std::uint32_t leaf_from, std::uint32_t leaf_count,
                 std::mt19937& random) {
    Rows rows(terms);
    for (auto& row : rows) {
        for (std::uint32_t k = 0; k < per_term; ++k) row.push_back(leaf_from + random() % leaf_count);
    }
    return rows;
}

// Alternates a leaf between two probabilities, so every call is a change.
template <class S>
struct Toggle {
    std::uint32_t leaf;
    bool high = false;
    double timestamp = 1.0;
    void operator()(ReactiveCircuit<S>& circuit) {
        high = !high;
        circuit.update_leaf(leaf, Vector(circuit.value_size(), high ? 0.7 : 0.3), timestamp += 1.0);
    }
};

// ---- 1 and 2: incremental against full, and the idle update ----

struct Measured {
    std::string shape;
    std::size_t nodes, dirty;
    double incremental, full, idle;
};

Measured measure_updates(std::string shape, ReactiveCircuit<LogProb>& circuit, std::uint32_t leaf) {
    circuit.invalidate();
    circuit.update();
    Toggle<LogProb> toggle{leaf};
    toggle(circuit);
    const std::size_t dirty = circuit.dirty().size();
    circuit.update();
    Measured m{std::move(shape), circuit.structure().node_count(), dirty, 0, 0, 0};
    m.incremental = ns_per_call([&] {
        toggle(circuit);
        circuit.update();
    });
    m.full = ns_per_call([&] {
        circuit.invalidate();
        circuit.update();
    });
    m.idle = ns_per_call([&] { circuit.update(); });
    return m;
}

// One root holding every term.
ReactiveCircuit<LogProb> flat_root(std::uint32_t terms, std::uint32_t leaves, std::mt19937& random) {
    ReactiveCircuit<LogProb> circuit(1);
    add_leaves(circuit, leaves, random);
    circuit.add_sum_product(random_rows(terms, 5, 0, leaves, random), "t");
    return circuit;
}

// A root reading the tops of `chains` chains of `depth` nodes; every node has
// ten terms of four leaves of its own chain and reads the node below it in
// its first term. Changing a leaf at the bottom of one chain dirties that
// chain and the root.
ReactiveCircuit<LogProb> chains(std::uint32_t chain_count, std::uint32_t depth, std::mt19937& random) {
    constexpr std::uint32_t leaves_per_chain = 16;
    ReactiveCircuit<LogProb> circuit(1);
    add_leaves(circuit, chain_count * leaves_per_chain, random);
    // The bottom of chain 0 alone reads the last leaf, in a term of its own.
    const std::uint32_t bottom_leaf = circuit.add_leaf(Vector{0.5}, 0.0, "bottom");
    circuit.add_sum_product(Rows(chain_count), "t");
    const std::uint32_t root = 0;
    for (std::uint32_t c = 0; c < chain_count; ++c) {
        std::uint32_t above = root;
        std::uint32_t row = c;
        for (std::uint32_t d = 0; d < depth; ++d) {
            Rows rows = random_rows(10, 4, c * leaves_per_chain, leaves_per_chain, random);
            if (c == 0 && d + 1 == depth) rows.push_back({bottom_leaf});
            const std::uint32_t node = circuit.add_inner_node(rows);
            circuit.connect(above, node, row);
            above = node;
            row = 0;
        }
    }
    circuit.update_dependencies();
    return circuit;
}

void incremental_against_full(bool quick) {
    std::mt19937 random(7);
    std::vector<Measured> rows;
    struct Flat {
        std::uint32_t terms, leaves;
    };
    for (Flat f : {Flat{100, 10}, Flat{1000, 100}, Flat{10000, 1000}, Flat{100000, 1000}}) {
        auto circuit = flat_root(f.terms, f.leaves, random);
        rows.push_back(measure_updates(fmt::format("flat root, {} terms / {} leaves", f.terms, f.leaves), circuit, 0));
    }
    struct Deep {
        std::uint32_t chains, depth;
    };
    std::vector<Deep> deep = {{10, 10}, {100, 10}, {1000, 10}, {10, 100}};
    if (!quick) deep.push_back({1000, 30});
    for (Deep d : deep) {
        auto circuit = chains(d.chains, d.depth, random);
        const auto leaf = static_cast<std::uint32_t>(circuit.leafs().size() - 1);
        rows.push_back(measure_updates(fmt::format("{} chains x {} nodes", d.chains, d.depth), circuit, leaf));
    }

    fmt::print("\n1-2. Incremental update after one leaf change against invalidate + update (LogProb, value_size 1)\n\n");
    fmt::print("{:<36} {:>7} {:>6} {:>11} {:>11} {:>9} {:>14} {:>13}\n", "circuit", "nodes", "dirty", "incremental",
               "full", "inc/full", "inc per dirty", "idle update");
    for (const Measured& m : rows) {
        fmt::print("{:<36} {:>7} {:>6} {:>11} {:>11} {:>8.4f}x {:>14} {:>13}\n", m.shape, m.nodes, m.dirty,
                   duration(m.incremental), duration(m.full), m.incremental / m.full,
                   duration(m.incremental / static_cast<double>(m.dirty)), duration(m.idle));
    }
}

// ---- 1b: update cost against the number of target tokens ----

// `tokens` roots, each reported under a token of its own and holding three
// terms of three leaves; leaf 0 is read by root 0 alone.
ReactiveCircuit<LogProb> token_roots(std::uint32_t tokens, std::mt19937& random) {
    ReactiveCircuit<LogProb> circuit(1);
    add_leaves(circuit, 64, random);
    circuit.add_sum_product({{0, 1, 2}, {1, 3, 4}, {2, 4, 5}}, "/t0");
    for (std::uint32_t n = 1; n < tokens; ++n) {
        circuit.add_sum_product(random_rows(3, 3, 1, 63, random), fmt::format("/t{}", n));
    }
    circuit.update_dependencies();
    return circuit;
}

// One dirty node of three terms, in circuits that report 1 to 100,000
// tokens: marking the node and updating (the update alone), and a leaf change
// + update (which adds the change-frequency estimator's step). Both should
// not grow with the tokens.
void update_against_tokens() {
    std::mt19937 random(3);
    fmt::print("\n1b. One dirty node of 3 terms against the number of target tokens (LogProb, value_size 1)\n\n");
    fmt::print("{:>8} {:>14} {:>10} {:>20} {:>10}\n", "tokens", "mark + update", "x 1 token", "leaf change + update",
               "x 1 token");
    double first_update = 0, first_change = 0;
    for (std::uint32_t tokens : {1u, 10u, 1000u, 10000u, 100000u}) {
        auto circuit = token_roots(tokens, random);
        circuit.update();  // the layers and the token index
        const double update = ns_per_call([&] {
            circuit.mark_dirty(0);
            if (circuit.update().size() != 1) std::abort();
        });
        Toggle<LogProb> toggle{0};
        const double change = ns_per_call([&] {
            toggle(circuit);
            if (circuit.update().size() != 1) std::abort();
        });
        if (tokens == 1) first_update = update, first_change = change;
        fmt::print("{:>8} {:>14} {:>9.2f}x {:>20} {:>9.2f}x\n", tokens, duration(update), update / first_update,
                   duration(change), change / first_change);
    }
}

// ---- 3: evaluation against a hand-written loop ----

// The node's value computed by plain loops over the same terms and the same
// leaf values, with the semiring's arithmetic written out.
template <class S>
void hand_written(const AlgebraicCircuit& node, const std::vector<const double*>& columns, std::uint32_t n,
                  std::vector<double>& product, std::vector<double>& acc, std::vector<double>& scaled, double* out) {
    constexpr double neg_inf = -std::numeric_limits<double>::infinity();
    constexpr bool log_space = S::tag == SemiringTag::LogProb || S::tag == SemiringTag::MaxProduct;
    const double start = log_space ? neg_inf : 0.0;
    std::fill(acc.begin(), acc.end(), start);
    std::fill(scaled.begin(), scaled.end(), 0.0);
    double* __restrict p = product.data();
    double* __restrict a = acc.data();
    double* __restrict s = scaled.data();
    for (const auto& term : node.minterms()) {
        if constexpr (S::tag == SemiringTag::ProbGradient) {
            p[0] = 1.0;
            for (std::uint32_t i = 1; i < n; ++i) p[i] = 0.0;
        } else {
            for (std::uint32_t i = 0; i < n; ++i) p[i] = log_space ? 0.0 : 1.0;
        }
        for (std::uint32_t c : term) {
            const double* __restrict b = columns[c];
            if constexpr (log_space) {
                for (std::uint32_t i = 0; i < n; ++i) p[i] += b[i];
            } else if constexpr (S::tag == SemiringTag::Fuzzy) {
                for (std::uint32_t i = 0; i < n; ++i) p[i] = (p[i] != p[i] || b[i] < p[i]) ? b[i] : p[i];
            } else if constexpr (S::tag == SemiringTag::Boolean) {
                for (std::uint32_t i = 0; i < n; ++i) p[i] *= b[i];
            } else {
                const double a0 = p[0], b0 = b[0];
                for (std::uint32_t i = 1; i < n; ++i) p[i] = p[i] * b0 + b[i] * a0;
                p[0] = a0 * b0;
            }
        }
        if constexpr (S::tag == SemiringTag::LogProb) {
            for (std::uint32_t i = 0; i < n; ++i) {
                const double next = (a[i] != a[i] || p[i] > a[i]) ? p[i] : a[i];
                s[i] *= a[i] == neg_inf ? 0.0 : std::exp(a[i] - next);
                a[i] = next;
                if (next != neg_inf && next == next) s[i] += std::exp(p[i] - next);
            }
        } else if constexpr (S::tag == SemiringTag::ProbGradient) {
            for (std::uint32_t i = 0; i < n; ++i) a[i] += p[i];
        } else {
            for (std::uint32_t i = 0; i < n; ++i) a[i] = (a[i] != a[i] || p[i] > a[i]) ? p[i] : a[i];
        }
    }
    for (std::uint32_t i = 0; i < n; ++i) out[i] = S::tag == SemiringTag::LogProb ? a[i] + std::log(s[i]) : a[i];
}

// The same for one slot, in scalars: no inner loops at all.
template <class S>
double hand_written_scalar(const AlgebraicCircuit& node, const std::vector<const double*>& columns) {
    constexpr double neg_inf = -std::numeric_limits<double>::infinity();
    constexpr bool log_space = S::tag == SemiringTag::LogProb || S::tag == SemiringTag::MaxProduct;
    double a = log_space ? neg_inf : 0.0;
    double s = 0.0;
    for (const auto& term : node.minterms()) {
        double p = log_space ? 0.0 : 1.0;
        for (std::uint32_t c : term) {
            const double b = *columns[c];
            if constexpr (log_space) {
                p += b;
            } else if constexpr (S::tag == SemiringTag::Fuzzy) {
                p = (p != p || b < p) ? b : p;
            } else {
                p *= b;
            }
        }
        if constexpr (S::tag == SemiringTag::LogProb) {
            const double next = (a != a || p > a) ? p : a;
            s *= a == neg_inf ? 0.0 : std::exp(a - next);
            a = next;
            if (next != neg_inf && next == next) s += std::exp(p - next);
        } else {
            a = (a != a || p > a) ? p : a;
        }
    }
    return S::tag == SemiringTag::LogProb ? a + std::log(s) : a;
}

struct Throughput {
    std::string semiring;
    std::uint32_t value_size;
    double evaluate_rate, hand_rate;
    bool same;
};

template <class S>
Throughput throughput(std::uint32_t value_size) {
    std::mt19937 random(11);
    constexpr std::uint32_t leaves = 64, terms = 20000, per_term = 8;
    const std::uint32_t width = S::tag == SemiringTag::ProbGradient ? std::max(value_size, leaves + 1) : value_size;
    ReactiveCircuit<S> circuit(width);
    add_leaves(circuit, leaves, random);
    AlgebraicCircuit node(width);
    for (const auto& row : random_rows(terms, per_term, 0, leaves, random)) node.push_leaf_row(row);

    std::size_t multiplications = 0;
    for (const auto& term : node.minterms()) multiplications += term.size();
    std::vector<const double*> columns;
    for (const ColumnSource& source : node.columns()) columns.push_back(circuit.leafs()[source.index].value.data());

    Vector value;
    const double evaluate_ns = ns_per_call([&] { value = node.template evaluate<S>(circuit.evaluation_view()); });
    std::vector<double> product(width), acc(width), scaled(width), out(width);
    double hand_ns;
    if constexpr (S::tag != SemiringTag::ProbGradient) {
        hand_ns = width == 1 ? ns_per_call([&] { out[0] = hand_written_scalar<S>(node, columns); })
                             : ns_per_call([&] { hand_written<S>(node, columns, width, product, acc, scaled, out.data()); });
    } else {
        hand_ns = ns_per_call([&] { hand_written<S>(node, columns, width, product, acc, scaled, out.data()); });
    }
    bool same = true;
    for (std::uint32_t i = 0; i < width; ++i) {
        same = same && (value[i] == out[i] || std::abs(value[i] - out[i]) <= 1e-9 * std::abs(out[i]));
    }
    const auto rate = [&](double ns) { return static_cast<double>(multiplications) / ns * 1e3; };  // M/s
    return {std::string(S::name), width, rate(evaluate_ns), rate(hand_ns), same};
}

void evaluation_against_hand_loop() {
    std::vector<Throughput> rows;
    for (std::uint32_t value_size : {1u, 8u}) {
        rows.push_back(throughput<LogProb>(value_size));
        rows.push_back(throughput<MaxProduct>(value_size));
        rows.push_back(throughput<Fuzzy>(value_size));
        rows.push_back(throughput<Boolean>(value_size));
    }
    rows.push_back(throughput<ProbGradient>(1));
    fmt::print("\n3. Node evaluation: 20000 terms x 8 columns over 64 leaves, column multiplications per second\n");
    fmt::print("   (ProbGradient: one dual number of 65 slots, as a compiled model of 64 leaves has)\n\n");
    fmt::print("{:<14} {:>10} {:>16} {:>16} {:>14} {:>10}\n", "semiring", "value_size", "evaluate", "hand loop",
               "evaluate/hand", "same value");
    for (const Throughput& t : rows) {
        fmt::print("{:<14} {:>10} {:>12.0f} M/s {:>12.0f} M/s {:>13.2f}x {:>10}\n", t.semiring, t.value_size,
                   t.evaluate_rate, t.hand_rate, t.hand_rate / t.evaluate_rate, t.same ? "yes" : "NO");
    }
}

// ---- 4: wide layers and the threshold ----

// `nodes` independent roots of `terms` terms of five leaves; one token.
ReactiveCircuit<LogProb> layer(std::uint32_t nodes, std::uint32_t terms, std::mt19937& random) {
    ReactiveCircuit<LogProb> circuit(1);
    add_leaves(circuit, 100, random);
    for (std::uint32_t n = 0; n < nodes; ++n) {
        const Rows rows = random_rows(terms, 5, 0, 100, random);
        if (n == 0) {
            circuit.add_sum_product(rows, "t");
        } else {
            circuit.add_inner_node(rows);
        }
    }
    circuit.update_dependencies();
    return circuit;
}

void wide_layers(bool quick) {
    std::mt19937 random(5);
    const std::size_t workers = worker_pool::concurrency();

    fmt::print("\n4. Layers of dirty nodes (LogProb, value_size 1), all {} workers against one\n\n", workers);
    fmt::print("{:>6} {:>6} {:>10} {:>12} {:>12} {:>12} {:>12} {:>9} {:>9}\n", "nodes", "terms", "work",
               "serial loop", "forced pool", "update", "update 1w", "pool/ser", "1w/update");
    struct Size {
        std::uint32_t nodes, terms;
    };
    std::vector<Size> sizes = {{1, 10},   {2, 10},    {4, 10},   {8, 10},    {16, 10},   {4, 100},
                               {32, 10},  {64, 10},   {2, 100},  {8, 100},   {16, 100},  {32, 100},
                               {64, 100}, {128, 100}, {512, 100},
                               {2000, 10}, {2000, 200}, {5000, 200}};
    if (quick) sizes.resize(sizes.size() - 1);
    for (Size size : sizes) {
        auto circuit = layer(size.nodes, size.terms, random);
        std::size_t work = 0;
        for (std::uint32_t n : circuit.structure().node_indices()) {
            const AlgebraicCircuit& node = circuit.structure().node(n);
            work += node.minterms().size() * (node.columns().size() + 1) * node.value_size();
        }
        std::vector<Vector> values(size.nodes);
        const EvaluationView view = circuit.evaluation_view();
        auto chunk = [&](std::size_t from, std::size_t to) {
            for (std::size_t i = from; i < to; ++i) {
                values[i] = circuit.structure().unchecked_node(static_cast<std::uint32_t>(i)).evaluate<LogProb>(view);
            }
        };
        const double serial = ns_per_call([&] { chunk(0, size.nodes); });
        const double pool = ns_per_call([&] {
            worker_pool::parallel_chunks(size.nodes, reactive_detail::layer_grain(size.nodes), chunk);
        });
        auto full_update = [&] {
            circuit.invalidate();
            circuit.update();
        };
        const double update = ns_per_call(full_update);
        const double one = ns_per_call_one_worker(full_update);
        fmt::print("{:>6} {:>6} {:>10} {:>12} {:>12} {:>12} {:>12} {:>8.2f}x {:>8.2f}x\n", size.nodes, size.terms,
                   work, duration(serial), duration(pool), duration(update), duration(one), serial / pool,
                   one / update);
    }
}

// Seconds of processor time this process has used, on all its threads.
double cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](timeval t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Wall and processor time of full updates of wide layers, on all workers and
// on one. On a shared machine the wall-clock speed-up is bounded by the cores
// the others leave free; the processor time shows whether the pool wastes
// any: with perfect scaling the pool's processor time equals one worker's,
// and its speed-up equals the cores it obtained.
void pool_efficiency(bool quick) {
    std::mt19937 random(5);
    fmt::print("\n4b. Full updates of wide layers: wall and processor time, all workers against one\n\n");
    fmt::print("{:>6} {:>6} {:>12} {:>12} {:>9} {:>12} {:>14}\n", "nodes", "terms", "1 worker", "all", "speed-up",
               "cores used", "cpu pool/1w");
    struct Size {
        std::uint32_t nodes, terms;
    };
    for (Size size : {Size{512, 100}, Size{2000, 200}, Size{5000, 200}}) {
        auto circuit = layer(size.nodes, size.terms, random);
        const int rounds = quick ? 5 : 20;
        auto run = [&] {
            const double cpu = cpu_seconds();
            const auto start = Clock::now();
            for (int i = 0; i < rounds; ++i) {
                circuit.invalidate();
                circuit.update();
            }
            return std::pair{std::chrono::duration<double>(Clock::now() - start).count(), cpu_seconds() - cpu};
        };
        run();  // warm up
        std::pair<double, double> one;
        tbb::task_arena single(1);
        single.execute([&] { one = run(); });
        const auto all = run();
        fmt::print("{:>6} {:>6} {:>12} {:>12} {:>8.2f}x {:>12.2f} {:>13.2f}x\n", size.nodes, size.terms,
                   duration(one.first / rounds * 1e9), duration(all.first / rounds * 1e9), one.first / all.first,
                   all.second / all.first, all.second / one.second);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "quick") == 0;
    if (quick) {
        samples = 3;
        sample_seconds = 0.005;
    }
    if (std::FILE* load = std::fopen("/proc/loadavg", "r")) {
        char text[64] = {};
        if (std::fgets(text, sizeof text, load)) fmt::print("load average at start: {}", text);
        std::fclose(load);
    }
    fmt::print("parallel work threshold: {} (terms x (columns + 1) x value_size per layer)\n",
               reactive_detail::PARALLEL_WORK_THRESHOLD);
    incremental_against_full(quick);
    update_against_tokens();
    evaluation_against_hand_loop();
    wide_layers(quick);
    pool_efficiency(quick);
    return 0;
}
