#pragma once

// The clingo C API, declared once, and a thin owning layer over it.
//
// The solver library ships without a header, so the few types and functions
// we call are declared here with the signatures of the library's documented
// C API (version 5.4). Every function returns true on success; on failure the
// library's per-thread error code and message describe what went wrong.
//
// The layer on top guarantees:
// - `error_description` is the only reader of the library's error code and
//   message; `check` stops a failing call with the caller's fixed text, ": "
//   and that description (the failing call, the error code with its meaning,
//   the library's message).
// - `Control` and `SolveHandle` own one handle each, are move-only with a
//   noexcept move, and release their handle on every path, stopping ones
//   included. A solve handle must die before the control it came from.
// - `symbol_text` asks for the size and then fills a buffer of that size.
// Nothing here is shared between threads; each solve owns its control.
#include <cstddef>
#include <cstdint>
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

// "{call} failed with clingo error code {code} ({meaning}): {message}", read
// from the library's error state right after `call` failed.
std::string error_description(std::string_view call);

// Stops with "{fixed}: " and the error description of `call` unless `ok`.
void check(bool ok, std::string_view fixed, std::string_view call);

// Stops with "{fixed}: {what}" for a failure that the library did not report
// as an error (a call that succeeded but handed back nothing).
[[noreturn]] void fail(std::string_view fixed, std::string_view what);

// Owns a control object; frees it when destroyed.
class Control {
public:
    explicit Control(clingo_control_t* control) noexcept : control_(control) {}
    Control(Control&& other) noexcept : control_(std::exchange(other.control_, nullptr)) {}
    Control& operator=(Control&& other) noexcept {
        std::swap(control_, other.control_);
        return *this;
    }
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    ~Control() {
        if (control_) clingo_control_free(control_);
    }

    clingo_control_t* get() const noexcept { return control_; }

private:
    clingo_control_t* control_;
};

// Owns a solve handle. `close` closes it and reports the library's verdict;
// a handle still open when destroyed (a stop on the way) is closed without
// looking at the outcome.
class SolveHandle {
public:
    explicit SolveHandle(clingo_solve_handle_t* handle) noexcept : handle_(handle) {}
    SolveHandle(SolveHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    SolveHandle& operator=(SolveHandle&& other) noexcept {
        std::swap(handle_, other.handle_);
        return *this;
    }
    SolveHandle(const SolveHandle&) = delete;
    SolveHandle& operator=(const SolveHandle&) = delete;
    ~SolveHandle() {
        if (handle_) clingo_solve_handle_close(handle_);
    }

    clingo_solve_handle_t* get() const noexcept { return handle_; }

    // Closes the handle; false when the library reports a failure.
    bool close() noexcept { return clingo_solve_handle_close(std::exchange(handle_, nullptr)); }

private:
    clingo_solve_handle_t* handle_;
};

// The symbols of a model that `show` selects, in the library's order. A
// failure stops with `fixed`.
std::vector<clingo_symbol_t> model_symbols(const clingo_model_t* model, clingo_show_type_bitset_t show,
                                           std::string_view fixed);

// The text of a symbol in the solver's syntax. A failure stops with `fixed`.
std::string symbol_text(clingo_symbol_t symbol, std::string_view fixed);

}  // namespace tallo::clingo
