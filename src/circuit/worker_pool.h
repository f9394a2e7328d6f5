#pragma once

// The process-wide worker pool that updates use: oneTBB's default arena,
// which oneTBB builds at its first use and keeps until the process ends.
// Plain threads, started per call, stand in for it in ThreadSanitizer builds
// and in a child forked after the arena was built (whose workers the child
// does not have); once the process's teardown began (base/teardown.h), the
// caller runs every chunk itself.
//
// Guarantees:
// - `parallel_chunks` calls `chunk(from, to)` for disjoint ranges that cover
//   [0, count) exactly, each at most `grain` long, on the pool's threads and
//   the calling thread, and returns when every call has returned.
// - Everything the caller wrote before the call is visible to every chunk,
//   and everything a chunk wrote is visible to the caller afterwards.
// - A chunk that throws (a stop) ends the call: the exception is rethrown on
//   the calling thread; chunks not yet started may be skipped. The pool's
//   threads never let it escape.
// - Callable from any thread; calls from several threads share the pool.
#include <cstddef>

namespace tallo::worker_pool {

// The number of threads that work on a call, the caller's included.
std::size_t concurrency();

void parallel_chunks(std::size_t count, std::size_t grain, void (*chunk)(void* context, std::size_t from, std::size_t to),
                     void* context);

template <class F>
void parallel_chunks(std::size_t count, std::size_t grain, F& chunk) {
    parallel_chunks(
        count, grain, [](void* context, std::size_t from, std::size_t to) { (*static_cast<F*>(context))(from, to); },
        &chunk);
}

}  // namespace tallo::worker_pool
