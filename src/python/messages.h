#pragma once

// The fixed texts of the binding: argument matching and conversion, classes
// without a constructor, failed interpreter calls, the module's import.
// Hosts match on them; code and tests cite them from here.
#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace tallo::messages {

// "{}.{}()": the label that argument-matching errors begin with.
std::string function_label(std::string_view class_name, std::string_view method);

// "{} takes {} positional arguments but {} {} given" ("was" for one, else
// "were"); "{} takes from {} to {} positional arguments but {} {} given" when
// some parameters have defaults.
std::string too_many_positional(std::string_view label, std::size_t required, std::size_t parameters,
                                std::size_t given);

// "{} got an unexpected keyword argument '{}'"
std::string unexpected_keyword(std::string_view label, std::string_view keyword);

// "{} got multiple values for argument '{}'"
std::string multiple_values(std::string_view label, std::string_view parameter);

// "{} missing {} required positional argument(s): " followed by the names,
// each quoted, joined as in "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string missing_positional(std::string_view label, std::span<const std::string_view> names);

// "argument '{}': {}": a conversion TypeError, re-raised with its parameter.
std::string argument_error(std::string_view parameter, std::string_view message);

// "'{}' object cannot be cast as '{}'"
std::string cannot_cast(std::string_view type_name, std::string_view target);

// "Can't extract `str` to `Vec`"
std::string_view str_to_vec();

// "out of range integral type conversion attempted"
std::string_view integral_out_of_range();

// "object of type '{}' does not define a '__bool__' conversion"
std::string no_bool_conversion(std::string_view type_name);

// "cannot create '{}.{}' instances"
std::string no_constructor(std::string_view module, std::string_view class_name);

// The interpreter failed to create a result object.
std::string_view python_api_call_failed();  // "Python API call failed"

// An interpreter call failed without setting an exception.
std::string_view no_exception_set();  // "attempted to fetch exception but none was set"

// The import of the module into a sub-interpreter.
std::string_view no_subinterpreters();

// RuntimeError for a compile asked for by the thread that ends the
// interpreter, once the process's teardown began: "the process is exiting: no
// compile starts any more"
std::string_view process_exiting();

// RuntimeError for a compile whose caller, waiting for the compile's thread,
// finds itself in a child forked meanwhile (by a signal handler): "the compile
// cannot end in this process: it was forked while the compile ran on a thread
// of the parent, which this process does not have; compile again here".
std::string_view compile_thread_in_parent();
// RuntimeError for an object used in a process forked after it was made:
// "{class} objects cannot be used in a forked child process: this one was
// made before the fork; create models after forking".
std::string made_before_fork(std::string_view class_name);

// The qualified name of the exception raised for every stop.
inline constexpr const char* panic_exception_name = "pyo3_runtime.PanicException";

// The module of the classes' qualified names.
inline constexpr std::string_view class_module = "builtins";

}  // namespace tallo::messages
