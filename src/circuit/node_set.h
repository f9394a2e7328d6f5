#pragma once

// NodeSet: a set of node indices that inserts, tests and empties without
// allocating once it has grown to the indices it holds, and whose cost
// follows its members, not the indices' range.
//
// Guarantees:
// - Each index is held once. Iteration visits the members in the order of
//   their first insertion since the last `clear`; callers that need another
//   order sort what they take out.
// - `insert`, `contains` and `count` take constant time; `clear` takes time
//   in the number of members. Storage grows with the greatest index ever
//   inserted (one byte per index) and with the most members ever held, and
//   is kept for reuse: after warming up, a set that is filled and emptied
//   again and again allocates nothing.
// - Equality compares members only: two sets are equal when they hold the
//   same indices, whatever their insertion orders; a NodeSet also compares
//   equal to any set type (`size` and `count`) that holds the same indices.
// - A value type without locks: copies are independent, and the usual rules
//   for concurrent reads and writes of one object apply.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace tallo {

class NodeSet {
public:
    using value_type = std::uint32_t;
    using const_iterator = std::vector<std::uint32_t>::const_iterator;

    NodeSet() = default;
    NodeSet(std::initializer_list<std::uint32_t> nodes) { insert(nodes.begin(), nodes.end()); }

    NodeSet& operator=(std::initializer_list<std::uint32_t> nodes) {
        clear();
        insert(nodes.begin(), nodes.end());
        return *this;
    }

    // Adds `node`; true when it was not held before.
    bool insert(std::uint32_t node) {
        if (node >= held_.size()) held_.resize(std::max<std::size_t>(std::size_t{node} + 1, 2 * held_.size()), 0);
        if (held_[node]) return false;
        held_[node] = 1;
        members_.push_back(node);
        return true;
    }

    template <class Iterator>
    void insert(Iterator first, Iterator last) {
        for (; first != last; ++first) insert(static_cast<std::uint32_t>(*first));
    }

    bool contains(std::uint32_t node) const noexcept { return node < held_.size() && held_[node]; }
    std::size_t count(std::uint32_t node) const noexcept { return contains(node) ? 1 : 0; }

    std::size_t size() const noexcept { return members_.size(); }
    bool empty() const noexcept { return members_.empty(); }

    // Removes every member; keeps the storage.
    void clear() noexcept {
        for (std::uint32_t node : members_) held_[node] = 0;
        members_.clear();
    }

    void swap(NodeSet& other) noexcept {
        held_.swap(other.held_);
        members_.swap(other.members_);
    }

    const_iterator begin() const noexcept { return members_.begin(); }
    const_iterator end() const noexcept { return members_.end(); }

    template <class Set>
        requires requires(const Set& set, std::uint32_t node) {
            set.size();
            set.count(node);
        }
    friend bool operator==(const NodeSet& a, const Set& b) {
        if (a.size() != b.size()) return false;
        for (std::uint32_t node : a) {
            if (b.count(node) == 0) return false;
        }
        return true;
    }

private:
    // Invariant: held_[n] is 1 exactly when n is in members_; members_ holds
    // no index twice.
    std::vector<std::uint8_t> held_;
    std::vector<std::uint32_t> members_;
};

}  // namespace tallo
