#include "python/messages.h"

#include <fmt/format.h>

namespace tallo::messages {

namespace {
std::string_view was_or_were(std::size_t count) { return count == 1 ? "was" : "were"; }
}  // namespace

std::string function_label(std::string_view class_name, std::string_view method) {
    return fmt::format("{}.{}()", class_name, method);
}

std::string too_many_positional(std::string_view label, std::size_t required, std::size_t parameters,
                                std::size_t given) {
    if (required == parameters) {
        return fmt::format("{} takes {} positional arguments but {} {} given", label, parameters, given,
                           was_or_were(given));
    }
    return fmt::format("{} takes from {} to {} positional arguments but {} {} given", label, required, parameters,
                       given, was_or_were(given));
}

std::string unexpected_keyword(std::string_view label, std::string_view keyword) {
    return fmt::format("{} got an unexpected keyword argument '{}'", label, keyword);
}

std::string multiple_values(std::string_view label, std::string_view parameter) {
    return fmt::format("{} got multiple values for argument '{}'", label, parameter);
}

std::string missing_positional(std::string_view label, std::span<const std::string_view> names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) list += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        list += fmt::format("'{}'", names[i]);
    }
    return fmt::format("{} missing {} required positional {}: {}", label, names.size(),
                       names.size() == 1 ? "argument" : "arguments", list);
}

std::string argument_error(std::string_view parameter, std::string_view message) {
    return fmt::format("argument '{}': {}", parameter, message);
}

std::string cannot_cast(std::string_view type_name, std::string_view target) {
    return fmt::format("'{}' object cannot be cast as '{}'", type_name, target);
}

std::string_view str_to_vec() { return "Can't extract `str` to `Vec`"; }

std::string_view integral_out_of_range() { return "out of range integral type conversion attempted"; }

std::string no_bool_conversion(std::string_view type_name) {
    return fmt::format("object of type '{}' does not define a '__bool__' conversion", type_name);
}

std::string no_constructor(std::string_view module, std::string_view class_name) {
    return fmt::format("cannot create '{}.{}' instances", module, class_name);
}

std::string_view python_api_call_failed() { return "Python API call failed"; }

std::string_view no_exception_set() { return "attempted to fetch exception but none was set"; }

std::string_view process_exiting() { return "the process is exiting: no compile starts any more"; }

std::string_view compile_thread_in_parent() {
    return "the compile cannot end in this process: it was forked while the compile ran on a thread of the parent, "
           "which this process does not have; compile again here";
}

std::string made_before_fork(std::string_view class_name) {
    return fmt::format(
        "{} objects cannot be used in a forked child process: this one was made before the fork; create models "
        "after forking",
        class_name);
}

std::string_view no_subinterpreters() { return "the module tallo does not support sub-interpreters"; }

}  // namespace tallo::messages
