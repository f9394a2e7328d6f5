#pragma once

// Sections that fork() waits for: a call into a library whose locks a child
// cannot trust (the solver), or the first build of a value held in a
// function-local static (the statement patterns), whose guard a child would
// find taken for good by a thread it does not have.
//
// Guarantees:
// - Sections are counted per thread: a thread is inside a section from the
//   first `ForkWaits` it opens until that one closes; sections it opens
//   inside are part of it and cost no shared operation.
// - fork(), from any thread, waits until no other thread is inside a section,
//   at most `fork_wait_limit`, and keeps other threads' sections from opening
//   until it returns; so a child normally starts with none open. The forking
//   thread's own section, if it is inside one, is not waited for and does not
//   mark the child: the child has that thread, which will close it. (Two
//   threads that fork at the same moment, each inside a section, wait the
//   limit for each other.)
// - A child forked while another thread was still inside a section (the wait
//   ran out: a long grounding, typically), and every process forked from it,
//   answers true to `forked_inside_a_section()`; the code that opens sections
//   refuses to work there instead of waiting for ever on what the section
//   held.
// - A child's gate counts the forking thread's open section, if any, as open
//   from its start, so closing it there leaves the count right: the child's
//   own forks wait for the sections of its threads as the parent's do.
// - Opening and closing a thread's outermost section costs two atomic
//   operations on shared words, plus a wait only while another thread forks.
// - A section is a scope on one thread, closed in the reverse order of
//   opening.
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

// True in a process forked, or forked from one that was, while another
// thread was inside a section.
bool forked_inside_a_section() noexcept;

}  // namespace tallo
