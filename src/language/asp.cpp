#include "language/asp.h"

#include <algorithm>
#include <array>

#include <fmt/format.h>

#include "base/messages.h"
#include "base/panic.h"
#include "language/clingo_api.h"
#include "language/messages.h"
#include "language/output.h"

namespace tallo {

std::string_view Dnf::get_variable(std::string_view literal) noexcept {
    if (!literal.empty() && literal.front() == '-') literal.remove_prefix(1);
    return literal;
}

void Dnf::remove(std::string_view variable) {
    for (std::vector<std::string>& clause : clauses) {
        std::erase_if(clause, [variable](const std::string& literal) { return get_variable(literal) == variable; });
    }
}

namespace asp {
namespace {

void append_escaped(std::string& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '\t': out += "\\t"; continue;
            case '\0': out += "\\0"; continue;
            default: break;
        }
        if (c < 0x20 || c == 0x7f) {
            out += fmt::format("\\u{{{:x}}}", c);
        } else if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            // The C1 control characters U+0080..U+009F are escaped like the C0 ones.
            out += fmt::format("\\u{{{:x}}}", static_cast<unsigned char>(text[++i]));
        } else {
            out += static_cast<char>(c);
        }
    }
}

// The texts of `symbols`; a false atom's literal gets (or loses) the leading '-'.
void append_literals(std::vector<std::string>& clause, const std::vector<clingo_symbol_t>& symbols, bool negate,
                     std::string_view fixed) {
    for (clingo_symbol_t symbol : symbols) {
        std::string text = clingo::symbol_text(symbol, fixed);
        if (!negate) {
            clause.push_back(std::move(text));
        } else if (!text.empty() && text.front() == '-') {
            clause.push_back(text.substr(1));
        } else {
            clause.push_back("-" + text);
        }
    }
}

}  // namespace

std::string quoted_list(const std::vector<std::string>& literals) {
    std::string out = "[";
    for (std::size_t i = 0; i < literals.size(); ++i) {
        if (i != 0) out += ", ";
        out += '"';
        append_escaped(out, literals[i]);
        out += '"';
    }
    out += ']';
    return out;
}

Dnf solve(std::string_view program, bool verbose) {
    const std::array<const char*, 1> arguments{"--models=0"};
    clingo_control_t* raw_control = nullptr;
    clingo::check(clingo_control_new(arguments.data(), arguments.size(), nullptr, nullptr, 0, &raw_control),
                  messages::clingo_control_failed(), "clingo_control_new");
    if (!raw_control) clingo::fail(messages::clingo_control_failed(), "clingo_control_new gave no control");
    const clingo::Control control(raw_control);

    if (const std::size_t nul = program.find('\0'); nul != std::string_view::npos) {
        clingo::fail(messages::clingo_add_failed(),
                     fmt::format("the program text holds a NUL character at byte {}", nul));
    }
    const std::string text(program);
    clingo::check(clingo_control_add(control.get(), "base", nullptr, 0, text.c_str()), messages::clingo_add_failed(),
                  "clingo_control_add");

    const char* base = nullptr;
    if (!clingo_add_string("base", &base)) stop(messages::unwrap_err(clingo::error_description("clingo_add_string")));
    if (!base) stop(messages::unwrap_err("clingo_add_string gave no text"));
    const clingo_part_t part{base, nullptr, 0};
    clingo::check(clingo_control_ground(control.get(), &part, 1, nullptr, nullptr), messages::clingo_ground_failed(),
                  "clingo_control_ground");

    clingo_solve_handle_t* raw_handle = nullptr;
    clingo::check(clingo_control_solve(control.get(), clingo::solve_mode_yield, nullptr, 0, nullptr, nullptr,
                                       &raw_handle),
                  messages::clingo_solve_handle_failed(), "clingo_control_solve");
    if (!raw_handle) clingo::fail(messages::clingo_solve_handle_failed(), "clingo_control_solve gave no handle");
    clingo::SolveHandle handle(raw_handle);  // dies before the control

    Dnf dnf;
    while (true) {
        clingo::check(clingo_solve_handle_resume(handle.get()), messages::clingo_resume_failed(),
                      "clingo_solve_handle_resume");
        const clingo_model_t* model = nullptr;
        if (!clingo_solve_handle_model(handle.get(), &model)) {
            stop(messages::clingo_model_failed(clingo::error_description("clingo_solve_handle_model")));
        }
        if (!model) break;

        std::vector<std::string> clause;
        const auto positive = clingo::model_symbols(model, clingo::show_atoms, messages::clingo_positive_symbols_failed());
        const auto negative = clingo::model_symbols(model, clingo::show_all | clingo::show_complement,
                                                    messages::clingo_complementary_symbols_failed());
        clause.reserve(positive.size() + negative.size());
        append_literals(clause, positive, false, messages::clingo_positive_symbols_failed());
        append_literals(clause, negative, true, messages::clingo_complementary_symbols_failed());
        if (verbose) print_out(fmt::format("Found stable model: {}\n", quoted_list(clause)));
        dnf.clauses.push_back(std::move(clause));
    }
    clingo::check(handle.close(), messages::clingo_close_failed(), "clingo_solve_handle_close");
    return dnf;
}

}  // namespace asp
}  // namespace tallo
