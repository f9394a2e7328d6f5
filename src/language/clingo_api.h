#pragma once

// A thin owning layer over the clingo C API (declared in clingo_c.h, which
// only this layer includes).
//
// The layer guarantees:
// - Every call of the C API and every read of its error state is made here;
//   the solver's users speak only to the types below.
// - One `check` reads the library's error code and message; a failing call
//   stops with its caller's `Failure` (a fixed text followed by ": ", or a
//   message made from the description), the description naming the failing
//   call, the error code with its meaning and the library's message.
// - `Control` and `SolveHandle` own one handle each, are move-only with a
//   noexcept move, and release their handle on every path, stopping ones
//   included. A solve handle must die before the control it came from.
// - `Model` only borrows the model of a solve handle: it is valid until the
//   handle is resumed or closed.
// - Text-returning calls are wrapped once: ask the size, then fill.
// - `Control::interrupt` may be called from any thread while another thread
//   uses the control; nothing else may be shared between threads.
// - Every call of the library is a `ForkWaits` section (base/fork_gate.h):
//   fork() waits for the calls in flight, at most `fork_wait_limit`, so that
//   a child rarely inherits a lock of the library held by a thread it does
//   not have. A child forked while a call was still in flight (a long
//   grounding, typically) cannot trust the library's locks: making a
//   `Control` there, and in every process forked from it, stops with
//   `messages::forked_during_solver_call()` instead of hanging for ever (a
//   host asks `compile_refused_here()`, language/tallo.h, before it
//   compiles, to hand that refusal back as an error).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "language/clingo_c.h"


namespace tallo::clingo {

inline constexpr clingo_solve_mode_bitset_t solve_mode_yield = 2;
inline constexpr clingo_show_type_bitset_t show_atoms = 4;
inline constexpr clingo_show_type_bitset_t show_all = 31;
inline constexpr clingo_show_type_bitset_t show_complement = 32;

// How a failing call reaches its caller: "{fixed}: {description}", or the
// message that `make` builds from the description.
class Failure {
public:
    // Implicit, so that callers pass their message as it stands.
    Failure(std::string_view fixed) noexcept : fixed_(fixed) {}
    Failure(std::string (*make)(std::string_view description)) noexcept : make_(make) {}

    std::string message(std::string_view description) const;

private:
    std::string_view fixed_;
    std::string (*make_)(std::string_view) = nullptr;
};

// Stops with `failure` and the description of the library's error after
// `call` failed, unless `ok`.
void check(bool ok, const Failure& failure, std::string_view call);

// Stops with `failure` and `what`: a failure that the library did not report
// as an error (a call that succeeded but handed back nothing).
[[noreturn]] void fail(const Failure& failure, std::string_view what);

// A model of a solve handle, borrowed: valid until the handle moves on.
class Model {
public:
    explicit Model(const clingo_model_t* model) noexcept : model_(model) {}

    // Replaces `symbols` by the model's symbols that `show` selects, in the
    // library's order, reusing its storage.
    void symbols(clingo_show_type_bitset_t show, std::vector<clingo_symbol_t>& symbols,
                 const Failure& failure) const;

private:
    const clingo_model_t* model_;
};

// Owns a solve handle. `close` closes it and stops when the library reports
// a failure; a handle still open when destroyed (a stop on the way) is closed
// without looking at the outcome.
class SolveHandle {
public:
    SolveHandle(SolveHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    SolveHandle& operator=(SolveHandle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    SolveHandle(const SolveHandle&) = delete;
    SolveHandle& operator=(const SolveHandle&) = delete;
    ~SolveHandle();

    // Moves the search on to the next model.
    void resume(const Failure& failure);

    // The model the search stands at; none when no model is left.
    std::optional<Model> model(const Failure& failure);

    void close(const Failure& failure);

private:
    friend class Control;
    explicit SolveHandle(clingo_solve_handle_t* handle) noexcept : handle_(handle) {}

    clingo_solve_handle_t* handle_;
};

// Owns a control object; frees it when destroyed.
class Control {
public:
    // A control made with the command-line `arguments`.
    Control(std::span<const char* const> arguments, const Failure& failure);
    Control(Control&& other) noexcept : control_(std::exchange(other.control_, nullptr)) {}
    Control& operator=(Control&& other) noexcept {
        std::swap(control_, other.control_);
        return *this;
    }
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    ~Control();

    // Adds `program` to the part `part` (no parameters). A program holding a
    // NUL character cannot be passed and stops with `failure`.
    void add(const char* part, std::string_view program, const Failure& failure);

    // Grounds the part `part` without parameters. Interning the part's name
    // stops with `name_failure`, grounding with `failure`.
    void ground(const char* part, const Failure& name_failure, const Failure& failure);

    // Starts solving in `mode`, without assumptions or callbacks.
    SolveHandle solve(clingo_solve_mode_bitset_t mode, const Failure& failure);

    // Asks the running search, if any, to stop: it then ends as if no model
    // were left. Safe from any thread.
    void interrupt() noexcept;

private:
    clingo_control_t* control_ = nullptr;
};

// The text of a symbol in the solver's syntax. A failure stops with `failure`.
std::string symbol_text(clingo_symbol_t symbol, const Failure& failure);

}  // namespace tallo::clingo
