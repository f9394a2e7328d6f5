#include "base/vector.h"

#include "base/memory.h"
#include "base/messages.h"
#include "base/panic.h"

namespace tallo {
namespace {

// The bytes of every live block of at least `counted_bytes`. The bound is
// there for batch widths the machine cannot hold, every value of which is
// large; the smaller blocks are the everyday values that every worker of an
// update makes and drops, and counting them would put one contended atomic
// on that hot path.
constexpr std::size_t counted_bytes = std::size_t{1} << 20;
std::atomic<std::size_t> held_bytes{0};

// Takes `bytes` from the process's budget; false when it would exceed `limit`.
bool take(std::size_t bytes, std::size_t limit) noexcept {
    if (bytes < counted_bytes) return true;
    if (held_bytes.fetch_add(bytes, std::memory_order_relaxed) + bytes <= limit) return true;
    held_bytes.fetch_sub(bytes, std::memory_order_relaxed);
    return false;
}

void give_back(std::size_t bytes) noexcept {
    if (bytes >= counted_bytes) held_bytes.fetch_sub(bytes, std::memory_order_relaxed);
}

}  // namespace

double* Vector::mutable_data() {
    make_unique();
    return block_ ? block_->data() : &inline_;
}

Vector::Block* Vector::new_block(std::size_t n) {
    const std::size_t limit = physical_memory();
    // n * sizeof(double) must not wrap: compare against the quotient instead.
    if (n > (limit / 2 - sizeof(Block)) / sizeof(double)) {
        stop(messages::allocation_failed(n > ~std::size_t{0} / sizeof(double) ? ~std::size_t{0} : n * sizeof(double)));
    }
    const std::size_t bytes = sizeof(Block) + n * sizeof(double);
    if (!take(bytes, limit)) stop(messages::allocation_failed(n * sizeof(double)));
    void* raw = nullptr;
    try {
        raw = ::operator new(bytes);
    } catch (const std::bad_alloc&) {
        give_back(bytes);
        stop(messages::allocation_failed(n * sizeof(double)));
    }
    return new (raw) Block{{1}, bytes};
}

void Vector::free_block(Block* block) noexcept {
    give_back(block->bytes);
    block->~Block();
    ::operator delete(block);
}

}  // namespace tallo
