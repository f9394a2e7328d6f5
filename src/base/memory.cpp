#include "base/memory.h"

#include <unistd.h>

#include <atomic>

namespace tallo {
namespace {

std::size_t read_physical_memory() noexcept {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return ~std::size_t{0};
    return static_cast<std::size_t>(pages) * static_cast<std::size_t>(page_size);
}

}  // namespace

std::size_t physical_memory() noexcept {
    // Constant-initialised, so no guard: a child forked while another thread
    // held a first-use guard would find it taken for good. Threads that race
    // on the first read each store the same figure.
    static std::atomic<std::size_t> known{0};
    std::size_t bytes = known.load(std::memory_order_relaxed);
    if (bytes == 0) {
        bytes = read_physical_memory();
        known.store(bytes, std::memory_order_relaxed);
    }
    return bytes;
}

}  // namespace tallo
