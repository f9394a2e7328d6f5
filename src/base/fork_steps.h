#pragma once

// The steps that a fork runs for each concern of base/, in the order that
// base/fork.cpp, their one caller, states and keeps. Each is defined in the
// file of its concern; no other code calls them.
namespace tallo::fork_steps {

// The fork gate (base/fork_gate.cpp).
void gate_prepare() noexcept;  // in the forking thread: waits for other threads' sections
void gate_parent() noexcept;   // in the parent: lets sections open again
void gate_child() noexcept;    // in the child: a gate for its one thread

// The teardown registry (base/teardown.cpp): in the child, an empty registry.
void teardown_child() noexcept;

}  // namespace tallo::fork_steps
