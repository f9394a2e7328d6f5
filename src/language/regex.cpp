#include "language/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <fmt/format.h>

#include <memory>
#include <utility>

#include "base/messages.h"
#include "base/panic.h"
#include "language/messages.h"
#include "language/unicode.h"

namespace tallo {
namespace {

constexpr std::string_view word_class_body = R"(\p{L}\p{M}\p{Nd}\p{Pc})";

std::string white_space_class_body() {
    std::string body;
    for (auto [first, last] : unicode::white_space_ranges) {
        body += fmt::format("\\x{{{:X}}}", static_cast<std::uint32_t>(first));
        if (last != first) body += fmt::format("-\\x{{{:X}}}", static_cast<std::uint32_t>(last));
    }
    return body;
}

std::string engine_message(int code) {
    PCRE2_UCHAR buffer[256];
    const int length = pcre2_get_error_message(code, buffer, sizeof buffer);
    if (length < 0) return fmt::format("error {}", code);
    return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

struct MatchDataDeleter {
    void operator()(pcre2_match_data* data) const noexcept { pcre2_match_data_free(data); }
};

struct CompileContextDeleter {
    void operator()(pcre2_compile_context* context) const noexcept { pcre2_compile_context_free(context); }
};

}  // namespace

std::string spell_out_classes(std::string_view pattern) {
    const std::string word = fmt::format("[{}]", word_class_body);
    const std::string not_word = fmt::format("[^{}]", word_class_body);
    const std::string space_body = white_space_class_body();
    const std::string boundary = fmt::format("(?:(?<={0})(?!{0})|(?<!{0})(?={0}))", word);
    const std::string not_boundary = fmt::format("(?:(?<={0})(?={0})|(?<!{0})(?!{0}))", word);

    std::string out;
    bool in_class = false;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\' && i + 1 < pattern.size()) {
            const char e = pattern[++i];
            if (e == 'w') {
                out += in_class ? std::string(word_class_body) : word;
            } else if (e == 's') {
                out += in_class ? space_body : fmt::format("[{}]", space_body);
            } else if (!in_class && e == 'W') {
                out += not_word;
            } else if (!in_class && e == 'S') {
                out += fmt::format("[^{}]", space_body);
            } else if (!in_class && e == 'b') {
                out += boundary;
            } else if (!in_class && e == 'B') {
                out += not_boundary;
            } else {
                out += c;
                out += e;
            }
            continue;
        }
        out += c;
        if (!in_class && c == '[') {
            in_class = true;
            // A ']' right after "[" or "[^" is a member, not the class's end.
            if (i + 1 < pattern.size() && pattern[i + 1] == '^') out += pattern[++i];
            if (i + 1 < pattern.size() && pattern[i + 1] == ']') out += pattern[++i];
        } else if (in_class && c == ']') {
            in_class = false;
        }
    }
    return out;
}

Regex::Regex(std::string_view pattern) {
    const std::string spelled = spell_out_classes(pattern);
    std::unique_ptr<pcre2_compile_context, CompileContextDeleter> context(pcre2_compile_context_create(nullptr));
    if (!context) throw std::bad_alloc();
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_LF);
    int error = 0;
    PCRE2_SIZE offset = 0;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(spelled.data()), spelled.size(), PCRE2_UTF | PCRE2_UCP,
                          &error, &offset, context.get());
    if (!code_) stop(messages::unwrap_err(fmt::format("{} at offset {} of {}", engine_message(error), offset, spelled)));
    // Without JIT support the interpreter serves every search; nothing else changes.
    pcre2_jit_compile(code_, PCRE2_JIT_COMPLETE);
}

Regex::~Regex() {
    if (code_) pcre2_code_free(code_);
}

Regex::Regex(Regex&& other) noexcept : code_(std::exchange(other.code_, nullptr)) {}

Regex& Regex::operator=(Regex&& other) noexcept {
    if (this != &other) {
        if (code_) pcre2_code_free(code_);
        code_ = std::exchange(other.code_, nullptr);
    }
    return *this;
}

std::optional<Regex::Match> Regex::find(std::string_view subject, std::size_t from) const {
    return search(subject, from, true);
}

std::optional<Regex::Match> Regex::search(std::string_view subject, std::size_t from, bool checked) const {
    std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(pcre2_match_data_create_from_pattern(code_, nullptr));
    if (!data) throw std::bad_alloc();
    const auto subject_units = reinterpret_cast<PCRE2_SPTR>(subject.data());
    const std::uint32_t options = checked ? 0 : PCRE2_NO_UTF_CHECK;
    int rc = pcre2_match(code_, subject_units, subject.size(), from, options, data.get(), nullptr);
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT) {
        rc = pcre2_match(code_, subject_units, subject.size(), from, options | PCRE2_NO_JIT, data.get(), nullptr);
    }
    if (rc == PCRE2_ERROR_NOMATCH) return std::nullopt;
    if (rc <= PCRE2_ERROR_UTF8_ERR1 && rc >= PCRE2_ERROR_UTF8_ERR21) {
        stop(messages::invalid_utf8(pcre2_get_startchar(data.get())));
    }
    if (rc == PCRE2_ERROR_BADUTFOFFSET) stop(messages::invalid_utf8(from));
    if (rc < 0) stop(messages::regex_search_failed(engine_message(rc)));

    const std::uint32_t pairs = pcre2_get_ovector_count(data.get());
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
    return Match(*this, subject, std::vector<std::size_t>(ovector, ovector + 2 * pairs));
}

std::vector<Regex::Match> Regex::find_all(std::string_view subject) const {
    std::vector<Match> matches;
    std::size_t from = 0;
    while (from <= subject.size()) {
        // The first search checks the whole subject's UTF-8; later ones need not.
        auto match = search(subject, from, matches.empty());
        if (!match) break;
        from = match->end();
        if (match->end() == match->start()) {
            if (from == subject.size()) {
                matches.push_back(std::move(*match));
                break;
            }
            unicode::decode(subject, from);
        }
        matches.push_back(std::move(*match));
    }
    return matches;
}

std::string Regex::replace_all(std::string_view subject, std::string_view replacement) const {
    std::string out;
    std::size_t copied = 0;
    for (const Match& match : find_all(subject)) {
        out.append(subject.substr(copied, match.start() - copied));
        out.append(replacement);
        copied = match.end();
    }
    out.append(subject.substr(copied));
    return out;
}

std::size_t Regex::Match::group_number(std::string_view name) const {
    const std::string terminated(name);
    const int number = pcre2_substring_number_from_name(regex_->code_, reinterpret_cast<PCRE2_SPTR>(terminated.c_str()));
    if (number < 0) stop(messages::unwrap_err(engine_message(number)));
    return static_cast<std::size_t>(number);
}

std::optional<std::string_view> Regex::Match::group(std::string_view name) const {
    const std::size_t number = group_number(name);
    if (2 * number + 1 >= spans_.size() || spans_[2 * number] == PCRE2_UNSET) return std::nullopt;
    return subject_.substr(spans_[2 * number], spans_[2 * number + 1] - spans_[2 * number]);
}

}  // namespace tallo
