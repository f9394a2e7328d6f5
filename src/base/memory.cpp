#include "base/memory.h"

#include <unistd.h>

namespace tallo {

std::size_t physical_memory() noexcept {
    static const std::size_t bytes = [] {
        const long pages = sysconf(_SC_PHYS_PAGES);
        const long page_size = sysconf(_SC_PAGESIZE);
        if (pages <= 0 || page_size <= 0) return ~std::size_t{0};
        return static_cast<std::size_t>(pages) * static_cast<std::size_t>(page_size);
    }();
    return bytes;
}

}  // namespace tallo
