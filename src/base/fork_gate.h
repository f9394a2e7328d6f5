#pragma once

// Sections that fork() waits for: a call into a library whose locks a child
// cannot trust (the solver), or the first build of a value held in a
// function-local static (the statement patterns), whose guard a child would
// find taken for good by a thread it does not have.
//
// Guarantees:
// - fork(), from any thread, waits until no `ForkWaits` section is open in
//   another thread, at most `fork_wait_limit`, and keeps new sections from
//   opening until it returns; so a child normally starts with none open.
// - A child forked while a section was still open (the wait ran out: a long
//   grounding, typically), and every process forked from it, answers true to
//   `forked_inside_a_section()`; the code that opens sections refuses to work
//   there instead of waiting for ever on what the section held.
// - Opening and closing a section costs two atomic operations on shared
//   words, plus a wait only while a fork is under way.
// - A section is a scope on one thread; it must not fork inside itself.
#include <chrono>

namespace tallo {

// How long fork() waits for the open sections to close.
inline constexpr std::chrono::milliseconds fork_wait_limit{200};

class ForkWaits {
public:
    ForkWaits() noexcept;
    ForkWaits(const ForkWaits&) = delete;
    ForkWaits& operator=(const ForkWaits&) = delete;
    ~ForkWaits();
};

// True in a process forked, or forked from one that was, while a section was
// open in another thread.
bool forked_inside_a_section() noexcept;

}  // namespace tallo
