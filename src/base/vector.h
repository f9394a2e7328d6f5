#pragma once

// Vector: a one-dimensional array of 64-bit floats with shared, copy-on-write
// storage.
//
// Guarantees:
// - Copying a Vector shares its storage; nothing is copied element by element.
// - Reading (size, data, operator[], view, iteration) never copies.
// - The first write through a Vector whose storage is shared gives that Vector
//   storage of its own first (`make_unique`), so no other holder sees the
//   write.
// - A Vector of at most one element keeps it inline: no allocation, and
//   copying it costs a few words. Such vectors never share storage (there is
//   nothing to share), which the copy-on-write contract allows.
// - The reference count is atomic: copies may be made, read and dropped on
//   different threads. Writing one Vector object from two threads at once is a
//   data race, as for any value type.
// - The heap storage of the process's large Vectors (a MiB and more) together
//   never exceeds the machine's physical memory, nor does one Vector's exceed
//   half of it (a value is never alone: an update writes its copy beside
//   it). A Vector that would break either bound stops with "memory
//   allocation of {} bytes failed" before anything is allocated: with
//   overcommit, the allocation itself would succeed and writing it would get
//   the process killed.
#include <atomic>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <new>
#include <span>
#include <utility>

namespace tallo {

class Vector {
public:
    Vector() noexcept = default;

    // n elements, each `fill`.
    explicit Vector(std::size_t n, double fill = 0.0) : size_(n) {
        double* out = allocate(n);
        for (std::size_t i = 0; i < n; ++i) out[i] = fill;
    }

    Vector(std::initializer_list<double> values) : Vector(std::span<const double>(values.begin(), values.size())) {}

    explicit Vector(std::span<const double> values) : size_(values.size()) {
        double* out = allocate(size_);
        if (size_ != 0) std::memcpy(out, values.data(), size_ * sizeof(double));
    }

    Vector(const Vector& other) noexcept : size_(other.size_), inline_(other.inline_), block_(other.block_) {
        if (block_) block_->refs.fetch_add(1, std::memory_order_relaxed);
    }

    Vector(Vector&& other) noexcept : size_(other.size_), inline_(other.inline_), block_(other.block_) {
        other.size_ = 0;
        other.block_ = nullptr;
    }

    Vector& operator=(const Vector& other) noexcept {
        if (this != &other) {
            Vector copy(other);
            swap(copy);
        }
        return *this;
    }

    Vector& operator=(Vector&& other) noexcept {
        if (this != &other) {
            release();
            size_ = std::exchange(other.size_, 0);
            inline_ = other.inline_;
            block_ = std::exchange(other.block_, nullptr);
        }
        return *this;
    }

    ~Vector() { release(); }

    void swap(Vector& other) noexcept {
        std::swap(size_, other.size_);
        std::swap(inline_, other.inline_);
        std::swap(block_, other.block_);
    }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    // Read access; never copies.
    const double* data() const noexcept { return block_ ? block_->data() : &inline_; }
    double operator[](std::size_t i) const noexcept { return data()[i]; }
    std::span<const double> view() const noexcept { return {data(), size_}; }
    const double* begin() const noexcept { return data(); }
    const double* end() const noexcept { return data() + size_; }

    // Write access: gives this Vector storage of its own first if it shares it.
    // Out of line: inlined, the compiler cannot tell the inline element from
    // the heap block apart and warns about writes past the inline element.
    double* mutable_data();
    std::span<double> mutable_view() { return {mutable_data(), size_}; }

    // True when this Vector and `other` read the same heap storage.
    bool shares_storage_with(const Vector& other) const noexcept { return block_ != nullptr && block_ == other.block_; }

    // True when no other Vector reads this one's storage.
    bool is_unique() const noexcept { return block_ == nullptr || block_->refs.load(std::memory_order_acquire) == 1; }

    // Gives this Vector storage of its own if it shares it with another.
    void make_unique() {
        if (is_unique()) return;
        Vector copy(view());
        swap(copy);
    }

    friend bool operator==(const Vector& a, const Vector& b) noexcept {
        if (a.size_ != b.size_) return false;
        for (std::size_t i = 0; i < a.size_; ++i) {
            if (a[i] != b[i]) return false;
        }
        return true;
    }

private:
    struct Block {
        std::atomic<std::size_t> refs;
        std::size_t bytes;  // the whole block, as counted against the bounds
        double* data() noexcept { return reinterpret_cast<double*>(this + 1); }
    };
    static_assert(sizeof(Block) % alignof(double) == 0);

    // Storage for n elements: inline for n <= 1, a fresh block otherwise.
    double* allocate(std::size_t n) {
        if (n <= 1) return &inline_;
        block_ = new_block(n);
        return block_->data();
    }

    void release() noexcept {
        if (block_ && block_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) free_block(block_);
        block_ = nullptr;
    }

    // A block of n > 1 elements with one reference, counted against the
    // bounds above; stops when it would break one.
    static Block* new_block(std::size_t n);
    // Frees a block made by `new_block`.
    static void free_block(Block* block) noexcept;

    std::size_t size_ = 0;
    double inline_ = 0.0;  // the element of a one-element vector
    Block* block_ = nullptr;  // shared heap storage of a longer vector
};

}  // namespace tallo
