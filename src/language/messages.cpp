#include "language/messages.h"

#include <fmt/format.h>

#include "language/unicode.h"

namespace tallo::messages {

std::string_view invalid_float() { return "ParseFloatError { kind: Invalid }"; }

std::string bad_slice(std::size_t begin, std::size_t end, std::string_view text) {
    return fmt::format("begin <= end ({} <= {}) when slicing `{}`", begin, end, text);
}

std::string invalid_utf8(std::size_t at) { return fmt::format("invalid UTF-8 in model text at byte {}", at); }

std::string regex_search_failed(std::string_view engine_message) {
    return fmt::format("regular expression search failed: {}", engine_message);
}

namespace {

// The first 40 bytes of a statement's text, cut at a character boundary, and
// "..." when there is more.
std::string beginning_of(std::string_view text) {
    constexpr std::size_t shown = 40;
    if (text.size() <= shown) return std::string(text);
    std::size_t cut = shown;
    // Back to the start of the character the cut would split.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return fmt::format("{}...", text.substr(0, cut));
}

}  // namespace

std::string nested_too_deeply(std::size_t number, std::size_t limit, std::string_view statement) {
    return fmt::format(
        "Model statement {} is nested too deeply: its terms go more than {} levels deep (each bracket, and each "
        "operator inside brackets, is a level): {}",
        number, limit, beginning_of(statement));
}

namespace {

// What is wrong with a statement, as the stop says it.
std::string misreading_text(const Misreading& misreading) {
    const std::string text = beginning_of(misreading.text);
    const std::string_view detail = misreading.detail;
    constexpr std::string_view words_only =
        "; the arguments of an atom can only be words (letters, digits and '_') separated by commas";
    constexpr std::string_view solver_terms =
        "; the arguments of an atom are names, variables or whole numbers, separated by commas";
    switch (misreading.what) {
        case Misread::NestedTerm: return fmt::format("the atom {} holds a nested term{}", text, words_only);
        case Misread::NotClosed:
            return fmt::format("the atom {} is not closed before the statement ends{}", text, words_only);
        case Misread::EmptyList:
        case Misread::BlankList: return fmt::format("the atom {} has an empty argument list{}", text, words_only);
        case Misread::Character:
            return fmt::format("the atom {} holds the character '{}'{}", text, detail, words_only);
        case Misread::DeclarationKeyword:
            return fmt::format("the word {} stands where a declaration has its keyword, source(...) or target(...)",
                               text);
        case Misread::EmptyArgument: return fmt::format("the atom {} has an empty argument{}", text, solver_terms);
        case Misread::TwoWords:
            return fmt::format("the atom {} holds the argument '{}', which is two words without a comma between them{}",
                               text, beginning_of(detail), solver_terms);
        case Misread::NotANumber:
            return fmt::format("the atom {} holds the argument '{}', which begins with a digit but is no whole number{}",
                               text, beginning_of(detail), solver_terms);
        case Misread::NonAscii:
            return fmt::format(
                "the atom {} holds the character '{}'; the solver reads only ASCII letters, digits and '_' in the "
                "atoms of a rule",
                text, detail);
        case Misread::BlankBeforeBracket:
            return fmt::format(
                "a blank parts '{}' from the '{}' after it; an atom's argument list follows its name directly, as "
                "in p(a)",
                unicode::trim(text), detail);
        case Misread::StrayBracket:
            return fmt::format(
                "the '{}' of {} opens no argument list; in a rule, a bracket can only be an atom's '(' directly "
                "after its name, as in p(a), or that of P(...)",
                detail, text);
        case Misread::RunOn:
            return fmt::format(
                "the atom {} is directly followed by '{}'; a blank, a comma or the statement's end follows an atom",
                text, detail);
        case Misread::Minus:
            return fmt::format(
                "the '-' of {} is no sign of a threshold; the language has no classical negation and no "
                "arithmetic (negation is written not {})",
                text, beginning_of(text.substr(1)));
        case Misread::Threshold:
            return fmt::format(
                "the comparison {} has no threshold the language reads; a threshold is an integer or a decimal, "
                "optionally signed (4, -5, 30.5), and a blank, a comma or the statement's end follows it",
                text);
    }
    return {};
}

}  // namespace

std::string cannot_read(std::size_t number, const Misreading& misreading, std::string_view statement) {
    return fmt::format("Model statement {} cannot be read: {}: {}", number, misreading_text(misreading),
                       beginning_of(statement));
}

std::string_view clingo_control_failed() { return "Failed creating Clingo control."; }
std::string_view clingo_add_failed() { return "Failed to add ASP to Clingo."; }
std::string_view clingo_ground_failed() { return "Failed to ground the ASP with Clingo."; }
std::string_view clingo_solve_handle_failed() { return "Failed retrieving solve handle from Clingo control."; }
std::string_view clingo_resume_failed() { return "Failed resume on solve handle."; }
std::string_view clingo_positive_symbols_failed() { return "Failed to retrieve positive symbols in the model."; }
std::string_view clingo_complementary_symbols_failed() {
    return "Failed to retrieve complementary symbols in the model.";
}
std::string_view clingo_close_failed() { return "Failed to close solve handle."; }
std::string_view forked_during_solver_call() {
    return "cannot compile in this process: it was forked while another thread was inside the solver library "
           "(a compile running in the parent), whose locks may stay held here for good; fork before compiling on "
           "other threads, or start processes with the \"spawn\" method";
}
std::string clingo_model_failed(std::string_view description) { return fmt::format("Error: {}", description); }

std::string prob_gradient_batching(std::size_t value_size) {
    return fmt::format("ProbGradient does not support batching (value_size must be 1, got {})", value_size);
}

std::string source_not_found(std::string_view name) { return fmt::format("Source '{}' not found", name); }


std::string_view unreachable() { return "internal error: entered unreachable code"; }

}  // namespace tallo::messages
