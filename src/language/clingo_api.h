#pragma once

// The clingo C API, declared once, and a thin owning layer over it.
//
// The solver library ships without a header, so the few types and functions
// we call are declared here with the signatures of the library's documented
// C API (version 5.4). Every function returns true on success; on failure the
// library's per-thread error code and message describe what went wrong.
//
// The layer on top guarantees:
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
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

extern "C" {

typedef struct clingo_control clingo_control_t;
typedef struct clingo_solve_handle clingo_solve_handle_t;
typedef struct clingo_model clingo_model_t;
typedef struct clingo_location clingo_location_t;

typedef uint64_t clingo_symbol_t;
typedef int32_t clingo_literal_t;
typedef int clingo_error_t;
typedef int clingo_warning_t;
typedef unsigned clingo_solve_mode_bitset_t;
typedef unsigned clingo_show_type_bitset_t;

typedef struct clingo_part {
    char const* name;
    clingo_symbol_t const* params;
    size_t size;
} clingo_part_t;

typedef void (*clingo_logger_t)(clingo_warning_t code, char const* message, void* data);
typedef bool (*clingo_symbol_callback_t)(clingo_symbol_t const* symbols, size_t symbols_size, void* data);
typedef bool (*clingo_ground_callback_t)(clingo_location_t const* location, char const* name,
                                         clingo_symbol_t const* arguments, size_t arguments_size, void* data,
                                         clingo_symbol_callback_t symbol_callback, void* symbol_callback_data);
typedef bool (*clingo_solve_event_callback_t)(uint32_t type, void* event, void* data, bool* goon);

bool clingo_control_new(char const* const* arguments, size_t arguments_size, clingo_logger_t logger,
                        void* logger_data, unsigned message_limit, clingo_control_t** control);
void clingo_control_free(clingo_control_t* control);
bool clingo_control_add(clingo_control_t* control, char const* name, char const* const* parameters,
                        size_t parameters_size, char const* program);
bool clingo_add_string(char const* string, char const** result);
bool clingo_control_ground(clingo_control_t* control, clingo_part_t const* parts, size_t parts_size,
                           clingo_ground_callback_t ground_callback, void* ground_callback_data);

bool clingo_control_solve(clingo_control_t* control, clingo_solve_mode_bitset_t mode,
                          clingo_literal_t const* assumptions, size_t assumptions_size,
                          clingo_solve_event_callback_t notify, void* data, clingo_solve_handle_t** handle);
bool clingo_solve_handle_resume(clingo_solve_handle_t* handle);
bool clingo_solve_handle_model(clingo_solve_handle_t* handle, clingo_model_t const** model);
bool clingo_solve_handle_close(clingo_solve_handle_t* handle);
void clingo_control_interrupt(clingo_control_t* control);

bool clingo_model_symbols_size(clingo_model_t const* model, clingo_show_type_bitset_t show, size_t* size);
bool clingo_model_symbols(clingo_model_t const* model, clingo_show_type_bitset_t show, clingo_symbol_t* symbols,
                          size_t size);

bool clingo_symbol_to_string_size(clingo_symbol_t symbol, size_t* size);
bool clingo_symbol_to_string(clingo_symbol_t symbol, char* string, size_t size);

clingo_error_t clingo_error_code(void);
char const* clingo_error_message(void);

}  // extern "C"

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
