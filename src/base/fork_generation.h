#pragma once

// The fork generation: how many fork() calls lie between the process that
// started and this one.
//
// Guarantees:
// - 0 in the process that started; in a child made by fork() (or any call
//   that runs the fork handlers), one more than in its parent at the moment
//   of the fork, set by a handler that runs in the child before fork()
//   returns there.
// - Reading it is one relaxed atomic load; any thread may read it.
//
// An object that holds locks or threads notes the generation it was made in:
// in a child, the threads of its parent do not exist, and a lock one of them
// held stays locked for good, so the object can only be refused there.
#include <cstdint>

namespace tallo {

std::uint64_t fork_generation() noexcept;

}  // namespace tallo
