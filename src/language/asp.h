#pragma once

// Solving an answer-set program into a disjunctive normal form.
//
// `asp::solve` hands one program to a fresh solver control, enumerates every
// stable model and returns one clause per model: the model's true atoms as
// they are, then its false atoms with a leading '-', each in the solver's
// order and its syntax (arguments separated by "," without a space). Clauses
// come in the order the solver reports the models.
//
// Every failure stops with the fixed text of the failing step (language
// messages.h), followed by ": " and the solver's own description where it gave
// one. A stop requested through the token ends the search and throws
// `Cancelled` (base/cancelled.h). The control is released on every path.
// Nothing of the solver survives a call, and calls share no state of our own.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tallo {

// A list of clauses, each a list of literal texts.
//
// Every distinct text is stored once and named by a `LiteralId`, its position
// in the text table; clauses are runs of ids. A normal form of n clauses of m
// literals thus takes about 4 x n x m bytes, whatever the texts. The runs are
// kept in chunks of bounded size, so that growing never copies all of them and
// `drain` can hand them out and free them one chunk at a time.
//
// Ids stay valid for the life of the form: `remove` takes literals out of the
// clauses, not out of the text table.
class Dnf {
public:
    using LiteralId = std::uint32_t;

    Dnf() = default;
    // The form of these clause texts.
    Dnf(const std::vector<std::vector<std::string>>& clauses);  // implicit, as the aggregate it replaces

    // The literal without its first character when that is '-', else the
    // literal itself. Only one '-' goes: "--x" gives "-x".
    static std::string_view get_variable(std::string_view literal) noexcept;

    // The id of `text`, added to the table when new.
    LiteralId intern(std::string_view text);
    const std::string& text(LiteralId id) const noexcept { return texts_[id]; }
    std::size_t literal_count() const noexcept { return texts_.size(); }

    // Appends a clause of the literals `ids`.
    void add_clause(std::span<const LiteralId> ids);

    // The number of clauses.
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }

    // Calls f(ids) for every clause in order, ids a span of its literal ids.
    template <class F>
    void for_each_clause(F&& f) const {
        for (const Chunk& chunk : chunks_) chunk.for_each(f);
    }

    // Hands the clauses out in order, one chunk at a time, and frees each
    // chunk once f(clauses) returned: clauses is a vector of spans of ids,
    // valid during the call. The form is empty afterwards (its texts stay).
    template <class F>
    void drain(F&& f) {
        std::vector<std::span<const LiteralId>> clauses;
        for (Chunk& chunk : chunks_) {
            clauses.clear();
            chunk.for_each([&clauses](std::span<const LiteralId> ids) { clauses.push_back(ids); });
            f(clauses);
            chunk = Chunk();
        }
        chunks_.clear();
        size_ = 0;
    }

    // The clauses as texts.
    std::vector<std::vector<std::string>> clauses() const;

    // Deletes from every clause every literal whose variable is `variable`,
    // keeping the order of the rest. Clauses left empty stay.
    void remove(std::string_view variable);

    friend bool operator==(const Dnf& a, const Dnf& b) { return a.clauses() == b.clauses(); }

private:
    // Clauses back to back: clause k is ids[ends[k - 1]..ends[k]).
    struct Chunk {
        std::vector<LiteralId> ids;
        std::vector<std::uint32_t> ends;

        template <class F>
        void for_each(F&& f) const {
            std::uint32_t begin = 0;
            for (const std::uint32_t end : ends) {
                f(std::span<const LiteralId>(ids.data() + begin, end - begin));
                begin = end;
            }
        }
    };
    // Ids per chunk: a chunk is started when a clause would not fit (a larger
    // clause gets a chunk of its own).
    static constexpr std::size_t chunk_ids = std::size_t{1} << 14;

    std::vector<std::string> texts_;
    std::unordered_map<std::string, LiteralId> ids_;
    std::vector<Chunk> chunks_;
    std::size_t size_ = 0;
};

namespace asp {

// Every stable model of `program`. When `verbose`, prints one line per model,
// "Found stable model: " and the clause as a quoted list. A stop requested
// through `cancel` ends the search (it does not end grounding, which the solver
// cannot break off) and throws `Cancelled`.
Dnf solve(std::string_view program, bool verbose, std::stop_token cancel = {});

// The clause as the verbose line shows it: ["rain", "-sunny"], each literal
// in double quotes with '"' and '\' escaped by a backslash and control
// characters escaped.
std::string quoted_list(const std::vector<std::string>& literals);

}  // namespace asp
}  // namespace tallo
