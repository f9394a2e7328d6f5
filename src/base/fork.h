#pragma once

// What a fork() does in this process, and how many lie behind it.
//
// One set of fork handlers, registered once when the library is loaded,
// before any of our objects or threads exist, runs every step of a fork in
// this order:
// - prepare (in the forking thread, before the fork): the fork gate waits for
//   the sections of other threads (base/fork_gate.h) and keeps new ones shut;
// - parent (in the parent, after the fork): the gate opens again;
// - child (in the child, on the forking thread, before fork() returns there,
//   with no other thread of ours): the fork generation counts the fork; then
//   the gate and the teardown registry (base/teardown.h) are made anew for the
//   child's one thread. Each step is the concern's own; only this owner runs
//   them, so no order of static initialisation decides what a fork does.
//
// The fork generation is 0 in the process that started; in a child made by
// fork() (or any call that runs the fork handlers), one more than in its
// parent at the moment of the fork. Reading it is one relaxed atomic load;
// any thread may read it. An object that holds locks or threads notes the
// generation it was made in: in a child, the threads of its parent do not
// exist, and a lock one of them held stays locked for good, so the object
// can only be refused there.
#include <cstdint>

namespace tallo {

std::uint64_t fork_generation() noexcept;

}  // namespace tallo
