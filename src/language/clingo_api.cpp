#include "language/clingo_api.h"

#include <fmt/format.h>

#include "base/fork_gate.h"
#include "base/panic.h"
#include "language/messages.h"

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

// "{call} failed with clingo error code {code} ({meaning}): {message}", read
// from the library's error state right after `call` failed.
// Called only inside a counted call.
std::string error_description(std::string_view call) {
    const clingo_error_t code = clingo_error_code();
    const char* message = clingo_error_message();
    return fmt::format("{} failed with clingo error code {} ({}): {}", call, code, error_meaning(code),
                       message ? message : "no message");
}

}  // namespace

std::string Failure::message(std::string_view description) const {
    if (make_) return make_(description);
    return fmt::format("{}: {}", fixed_, description);
}

void check(bool ok, const Failure& failure, std::string_view call) {
    if (!ok) stop(failure.message(error_description(call)));
}

void fail(const Failure& failure, std::string_view what) { stop(failure.message(what)); }

void Model::symbols(clingo_show_type_bitset_t show, std::vector<clingo_symbol_t>& symbols,
                    const Failure& failure) const {
    const ForkWaits inside;
    std::size_t size = 0;
    check(clingo_model_symbols_size(model_, show, &size), failure, "clingo_model_symbols_size");
    symbols.resize(size);
    check(clingo_model_symbols(model_, show, symbols.data(), size), failure, "clingo_model_symbols");
}

SolveHandle::~SolveHandle() {
    if (!handle_) return;
    const ForkWaits inside;
    clingo_solve_handle_close(handle_);
}

void SolveHandle::resume(const Failure& failure) {
    const ForkWaits inside;
    check(clingo_solve_handle_resume(handle_), failure, "clingo_solve_handle_resume");
}

std::optional<Model> SolveHandle::model(const Failure& failure) {
    const ForkWaits inside;
    const clingo_model_t* model = nullptr;
    check(clingo_solve_handle_model(handle_, &model), failure, "clingo_solve_handle_model");
    if (!model) return std::nullopt;
    return Model(model);
}

void SolveHandle::close(const Failure& failure) {
    const ForkWaits inside;
    check(clingo_solve_handle_close(std::exchange(handle_, nullptr)), failure, "clingo_solve_handle_close");
}

Control::Control(std::span<const char* const> arguments, const Failure& failure) {
    if (forked_inside_a_section()) stop(messages::forked_during_solver_call());
    const ForkWaits inside;
    check(clingo_control_new(arguments.data(), arguments.size(), nullptr, nullptr, 0, &control_), failure,
          "clingo_control_new");
    if (!control_) fail(failure, "clingo_control_new gave no control");
}

Control::~Control() {
    if (!control_) return;
    const ForkWaits inside;
    clingo_control_free(control_);
}

void Control::add(const char* part, std::string_view program, const Failure& failure) {
    if (const std::size_t nul = program.find('\0'); nul != std::string_view::npos) {
        fail(failure, fmt::format("the program text holds a NUL character at byte {}", nul));
    }
    const std::string text(program);
    const ForkWaits inside;
    check(clingo_control_add(control_, part, nullptr, 0, text.c_str()), failure, "clingo_control_add");
}

void Control::ground(const char* part, const Failure& name_failure, const Failure& failure) {
    const ForkWaits inside;
    const char* name = nullptr;
    check(clingo_add_string(part, &name), name_failure, "clingo_add_string");
    if (!name) fail(name_failure, "clingo_add_string gave no text");
    const clingo_part_t parts{name, nullptr, 0};
    check(clingo_control_ground(control_, &parts, 1, nullptr, nullptr), failure, "clingo_control_ground");
}

SolveHandle Control::solve(clingo_solve_mode_bitset_t mode, const Failure& failure) {
    const ForkWaits inside;
    clingo_solve_handle_t* handle = nullptr;
    check(clingo_control_solve(control_, mode, nullptr, 0, nullptr, nullptr, &handle), failure,
          "clingo_control_solve");
    if (!handle) fail(failure, "clingo_control_solve gave no handle");
    return SolveHandle(handle);
}

void Control::interrupt() noexcept {
    const ForkWaits inside;
    clingo_control_interrupt(control_);
}

std::string symbol_text(clingo_symbol_t symbol, const Failure& failure) {
    const ForkWaits inside;
    std::size_t size = 0;  // the terminating NUL included
    check(clingo_symbol_to_string_size(symbol, &size), failure, "clingo_symbol_to_string_size");
    if (size == 0) fail(failure, "clingo_symbol_to_string_size gave no room for the terminating NUL");
    std::string text(size, '\0');
    check(clingo_symbol_to_string(symbol, text.data(), size), failure, "clingo_symbol_to_string");
    text.resize(size - 1);
    return text;
}

}  // namespace tallo::clingo
