#include "language/matching.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include <fmt/format.h>

#include "base/panic.h"
#include "language/messages.h"
#include "language/patterns.h"
#include "language/unicode.h"

namespace tallo::matching {
namespace {

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view comparison_keyword(char op) { return op == '<' ? "lt" : "gt"; }

}  // namespace

std::vector<std::string> split_statements(std::string_view text) {
    // '.' and the ASCII digits are single bytes that never occur inside the
    // UTF-8 form of another character, so walking bytes sees the characters'
    // boundaries that matter here.
    std::vector<std::string> statements;
    std::size_t begin = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '.' || (i + 1 < text.size() && is_ascii_digit(text[i + 1]))) continue;
        const std::string_view statement = unicode::trim(text.substr(begin, i + 1 - begin));
        if (!statement.empty()) statements.emplace_back(statement);
        begin = i + 1;
    }
    return statements;
}

std::string_view predicate_of(std::string_view atom) { return atom.substr(0, atom.find('(')); }

std::set<std::string, std::less<>> source_predicates(const std::vector<Source>& sources) {
    std::set<std::string, std::less<>> predicates;
    for (const Source& source : sources) predicates.emplace(predicate_of(source.atom));
    return predicates;
}

bool is_variable(std::string_view argument) {
    if (argument.empty()) return false;
    std::size_t at = 0;
    return unicode::is_uppercase(unicode::decode(argument, at));
}

std::optional<std::vector<std::string>> args_of(std::string_view atom) {
    const std::size_t open = atom.find('(');
    const std::size_t close = atom.rfind(')');
    if (open == std::string_view::npos || close == std::string_view::npos) return std::nullopt;
    if (close < open) stop(messages::bad_slice(open + 1, close, atom));
    const auto pieces = unicode::split_commas_trimmed(atom.substr(open + 1, close - open - 1));
    return std::vector<std::string>(pieces.begin(), pieces.end());
}

bool has_variable_arg(std::string_view atom) {
    const std::size_t open = atom.find('(');
    if (open == std::string_view::npos) return is_variable(atom);
    // Up to, not including, the last character (the closing parenthesis of
    // every atom the patterns produce).
    std::size_t last = atom.size() - 1;
    while (last > 0 && (static_cast<unsigned char>(atom[last]) & 0xC0) == 0x80) --last;
    if (open + 1 > last) stop(messages::bad_slice(open + 1, last, atom));
    const auto pieces = unicode::split_commas_trimmed(atom.substr(open + 1, last - open - 1));
    return std::any_of(pieces.begin(), pieces.end(), is_variable);
}

std::string sanitize(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t start = at;
        const char32_t c = unicode::decode(text, at);
        if (unicode::is_alphanumeric(c)) {
            out.append(text.substr(start, at - start));
        } else {
            out += '_';
        }
    }
    const std::size_t first = out.find_first_not_of('_');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of('_') + 1 - first);
}

std::string threshold_text(double threshold) {
    // Fixed notation of the shortest round trip: at most 309 integral digits
    // or 324 fractional ones, plus sign and point.
    std::array<char, 400> buffer;
    std::string text;
    if (std::isfinite(threshold) && std::fabs(threshold) >= 0x1p53) {
        // From 2^53 on every double is integral, and fixed notation prints the
        // binary value's exact digits (1e23 as 99999999999999991611392). The
        // shortest round-trip digits padded with zeros name it as written.
        const auto result =
            std::to_chars(buffer.data(), buffer.data() + buffer.size(), threshold, std::chars_format::scientific);
        const std::string_view scientific(buffer.data(), result.ptr);  // [-]d[.ddd]e+XX
        const std::size_t e = scientific.find('e');
        int exponent = 0;
        std::from_chars(scientific.data() + e + 2, scientific.data() + scientific.size(), exponent);
        std::size_t digits = 0;
        for (char c : scientific.substr(0, e)) {
            if (c == '.') continue;
            text.push_back(c);
            if (c != '-') ++digits;
        }
        text.append(static_cast<std::size_t>(exponent) + 1 - digits, '0');
    } else {
        const auto result =
            std::to_chars(buffer.data(), buffer.data() + buffer.size(), threshold, std::chars_format::fixed);
        text.assign(buffer.data(), result.ptr);
    }
    for (char& c : text) {
        if (c == '.') c = '_';
        if (c == '-') c = 'm';
    }
    return text;
}

std::string canonical_comparison_name(std::string_view atom, char op, double threshold) {
    return fmt::format("{}_{}_{}", sanitize(atom), comparison_keyword(op), threshold_text(threshold));
}

std::string parameterized_comparison_predicate(std::string_view predicate, char op, double threshold) {
    return fmt::format("tallo_{}_{}_{}", predicate, comparison_keyword(op), threshold_text(threshold));
}

std::string cause_atom_name(std::string_view atom, std::uint32_t k) {
    return fmt::format("{}_cause_{}", sanitize(atom), k);
}

std::string cause_atom_base_name(std::string_view atom, std::uint32_t k) {
    return cause_atom_name(predicate_of(atom), k);
}

std::vector<std::string> get_literals(std::string_view body) {
    std::vector<std::string> literals;
    for (const auto& match : patterns::literal_regex().find_all(body)) literals.emplace_back(match.text());
    return literals;
}

}  // namespace tallo::matching
