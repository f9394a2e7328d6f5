#include "circuit/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "base/fork.h"
#include "base/teardown.h"

#if !defined(__SANITIZE_THREAD__)
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>
#endif

namespace tallo::worker_pool {
namespace {

using Chunk = void (*)(void*, std::size_t, std::size_t);

std::size_t plain_concurrency() { return std::max(2u, std::min(8u, std::thread::hardware_concurrency())); }

// The chunks on plain threads, started for this call: the pool of a process
// that cannot use oneTBB's.
void run_on_plain_threads(std::size_t count, std::size_t grain, Chunk chunk, void* context) {
    grain = std::max<std::size_t>(grain, 1);
    std::atomic<std::size_t> next{0};
    std::mutex failure_mutex;
    std::exception_ptr failure;
    auto work = [&] {
        for (;;) {
            const std::size_t from = next.fetch_add(grain);
            if (from >= count) return;
            try {
                chunk(context, from, std::min(count, from + grain));
            } catch (...) {
                std::lock_guard lock(failure_mutex);
                if (!failure) failure = std::current_exception();
                next.store(count);
                return;
            }
        }
    };
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < plain_concurrency(); ++i) threads.emplace_back(work);
    work();
    for (std::thread& thread : threads) thread.join();
    if (failure) std::rethrow_exception(failure);
}

// Once the process's teardown began, the pool may be going away: the caller
// runs every chunk itself.
void run_on_caller(std::size_t count, std::size_t grain, Chunk chunk, void* context) {
    grain = std::max<std::size_t>(grain, 1);
    for (std::size_t from = 0; from < count; from += grain) chunk(context, from, std::min(count, from + grain));
}

#if !defined(__SANITIZE_THREAD__)

// oneTBB's arena belongs to the process that first used it: in a child forked
// after that, its workers do not exist and a lock one of them held stays
// locked, so a child uses plain threads. A process that forked before any use
// has an arena of its own.
constexpr std::uint64_t unused = ~std::uint64_t{0};
std::atomic<std::uint64_t> arena_generation{unused};

bool owns_arena() noexcept {
    const std::uint64_t now = fork_generation();
    // A plain load once the owner is known: every update asks, from any thread.
    std::uint64_t owner = arena_generation.load(std::memory_order_acquire);
    if (owner == unused && arena_generation.compare_exchange_strong(owner, now)) return true;
    return owner == now;
}

#else

// Under ThreadSanitizer. oneTBB synchronises its workers inside its own
// library, which is not instrumented, so the sanitizer would see races in
// every hand-over of a task and could not tell them from ours. Sanitizer
// builds therefore always run the chunks on plain threads, whose hand-overs
// it does see: the checks then cover every access the chunks make to the
// caller's data, which is what this build is for.
constexpr bool owns_arena() noexcept { return false; }

#endif

}  // namespace

std::size_t concurrency() {
#if !defined(__SANITIZE_THREAD__)
    if (owns_arena()) return static_cast<std::size_t>(tbb::this_task_arena::max_concurrency());
#endif
    return plain_concurrency();
}

void parallel_chunks(std::size_t count, std::size_t grain, Chunk chunk, void* context) {
    const teardown::Work stay;
    if (!stay.started()) return run_on_caller(count, grain, chunk, context);
#if !defined(__SANITIZE_THREAD__)
    if (owns_arena()) {
        // The simple partitioner splits down to `grain` and no further. oneTBB
        // rethrows a chunk's exception here once the other chunks are done.
        tbb::parallel_for(
            tbb::blocked_range<std::size_t>(0, count, grain),
            [&](const tbb::blocked_range<std::size_t>& range) { chunk(context, range.begin(), range.end()); },
            tbb::simple_partitioner());
        return;
    }
#endif
    run_on_plain_threads(count, grain, chunk, context);
}

}  // namespace tallo::worker_pool
