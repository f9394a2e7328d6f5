#include "language/clingo_api.h"

#include <fmt/format.h>

#include "base/panic.h"

namespace tallo::clingo {
namespace {

std::string_view error_meaning(clingo_error_t code) {
    switch (code) {
        case 0: return "success";
        case 1: return "runtime error";
        case 2: return "logic error";
        case 3: return "bad allocation";
        case 4: return "unknown error";
        default: return "unrecognised code";
    }
}

}  // namespace

std::string error_description(std::string_view call) {
    const clingo_error_t code = clingo_error_code();
    const char* message = clingo_error_message();
    return fmt::format("{} failed with clingo error code {} ({}): {}", call, code, error_meaning(code),
                       message ? message : "no message");
}

void check(bool ok, std::string_view fixed, std::string_view call) {
    if (!ok) stop(fmt::format("{}: {}", fixed, error_description(call)));
}

void fail(std::string_view fixed, std::string_view what) { stop(fmt::format("{}: {}", fixed, what)); }

std::vector<clingo_symbol_t> model_symbols(const clingo_model_t* model, clingo_show_type_bitset_t show,
                                           std::string_view fixed) {
    std::size_t size = 0;
    check(clingo_model_symbols_size(model, show, &size), fixed, "clingo_model_symbols_size");
    std::vector<clingo_symbol_t> symbols(size);
    check(clingo_model_symbols(model, show, symbols.data(), size), fixed, "clingo_model_symbols");
    return symbols;
}

std::string symbol_text(clingo_symbol_t symbol, std::string_view fixed) {
    std::size_t size = 0;  // the terminating NUL included
    check(clingo_symbol_to_string_size(symbol, &size), fixed, "clingo_symbol_to_string_size");
    if (size == 0) fail(fixed, "clingo_symbol_to_string_size gave no room for the terminating NUL");
    std::string text(size, '\0');
    check(clingo_symbol_to_string(symbol, text.data(), size), fixed, "clingo_symbol_to_string");
    text.resize(size - 1);
    return text;
}

}  // namespace tallo::clingo
