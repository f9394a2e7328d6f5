#include "circuit/worker_pool.h"

#if !defined(__SANITIZE_THREAD__)

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>

namespace tallo::worker_pool {

std::size_t concurrency() { return static_cast<std::size_t>(tbb::this_task_arena::max_concurrency()); }

void parallel_chunks(std::size_t count, std::size_t grain, void (*chunk)(void*, std::size_t, std::size_t),
                     void* context) {
    // The simple partitioner splits down to `grain` and no further. oneTBB
    // rethrows a chunk's exception here once the other chunks are done.
    tbb::parallel_for(
        tbb::blocked_range<std::size_t>(0, count, grain),
        [&](const tbb::blocked_range<std::size_t>& range) { chunk(context, range.begin(), range.end()); },
        tbb::simple_partitioner());
}

}  // namespace tallo::worker_pool

#else

// Under ThreadSanitizer. oneTBB synchronises its workers inside its own
// library, which is not instrumented, so the sanitizer would see races in
// every hand-over of a task and could not tell them from ours. Sanitizer
// builds therefore run the chunks on plain threads, started per call, whose
// hand-overs it does see: the checks then cover every access the chunks make
// to the caller's data, which is what this build is for.
#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tallo::worker_pool {

std::size_t concurrency() { return std::max(2u, std::min(8u, std::thread::hardware_concurrency())); }

void parallel_chunks(std::size_t count, std::size_t grain, void (*chunk)(void*, std::size_t, std::size_t),
                     void* context) {
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
    for (std::size_t i = 1; i < concurrency(); ++i) threads.emplace_back(work);
    work();
    for (std::thread& thread : threads) thread.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace tallo::worker_pool

#endif
