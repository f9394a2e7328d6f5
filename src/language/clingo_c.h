#pragma once

// The clingo C API, declared once. Only the wrapper (clingo_api.h/.cpp)
// includes this header; the rest of the system speaks to the wrapper.
//
// The solver library ships without a header, so the few types and functions
// we call are declared here with the signatures of the library's documented
// C API (version 5.4). Every function returns true on success; on failure the
// library's per-thread error code and message describe what went wrong.
#include <cstddef>
#include <cstdint>

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
