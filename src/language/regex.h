#pragma once

// Regex: one compiled regular expression over UTF-8 text, and its matches.
// The only code that touches the PCRE2 API.
//
// Semantics, whatever PCRE2's build defaults:
// - Unicode-aware classes: "\w" is any letter, mark, decimal digit or
//   connector punctuation (L, M, Nd, Pc); "\d" any decimal digit (Nd); "\s"
//   any White_Space character; "\b" a boundary between a "\w" character and a
//   non-"\w" character or an end of the text. PCRE2's own "\w" also takes
//   other numbers (², Ⅻ) and misses marks, and its "\s" takes U+180E, so the
//   constructor spells "\w", "\s", "\b" and their negations out as explicit
//   classes (`spell_out_classes`) before compiling. Inside a bracket class
//   only "\w" and "\s" are rewritten.
// - "." matches any character but the line feed (the newline convention is
//   fixed to LF).
// - A search is unanchored and leftmost-first: the first position at which
//   the pattern matches wins, with Perl's preference among alternatives.
// - Named groups are written "(?<name>...)".
//
// A Regex is immutable once built: any number of threads may search with it
// at once (each search uses match data of its own). It is JIT-compiled when
// the platform allows; a search that outgrows the JIT stack is redone by the
// interpreter. A pattern that does not compile stops with
// messages::unwrap_err of PCRE2's message; a subject that is not valid UTF-8
// stops with messages::invalid_utf8; a search that exceeds PCRE2's match
// limits stops with messages::regex_search_failed.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct pcre2_real_code_8;

namespace tallo {

// `pattern` with "\w", "\s", "\b", "\W", "\S", "\B" replaced by explicit
// classes of the semantics above.
std::string spell_out_classes(std::string_view pattern);

class Regex {
public:
    explicit Regex(std::string_view pattern);
    ~Regex();
    Regex(Regex&& other) noexcept;
    Regex& operator=(Regex&& other) noexcept;
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    // One match: byte offsets into the subject, which it borrows (valid while
    // the subject lives).
    class Match {
    public:
        std::size_t start() const noexcept { return spans_[0]; }
        std::size_t end() const noexcept { return spans_[1]; }
        std::string_view text() const noexcept { return subject_.substr(start(), end() - start()); }
        // The text of the named group; nothing when the group took no part in
        // the match. The name must be one of the pattern's groups.
        std::optional<std::string_view> group(std::string_view name) const;

    private:
        friend class Regex;
        Match(const Regex& regex, std::string_view subject, std::vector<std::size_t> spans)
            : regex_(&regex), subject_(subject), spans_(std::move(spans)) {}
        std::size_t group_number(std::string_view name) const;

        const Regex* regex_;
        std::string_view subject_;
        std::vector<std::size_t> spans_;  // start and end of group 0, 1, ...
    };

    // The leftmost match at or after byte `from` (a character boundary).
    std::optional<Match> find(std::string_view subject, std::size_t from = 0) const;

    // Every match, in order: non-overlapping, each search starting where the
    // previous match ended (one character further after an empty match).
    std::vector<Match> find_all(std::string_view subject) const;

    // `subject` with every match replaced by `replacement`.
    std::string replace_all(std::string_view subject, std::string_view replacement) const;

private:
    std::optional<Match> search(std::string_view subject, std::size_t from, bool checked) const;

    pcre2_real_code_8* code_;  // owned; null only after a move
};

}  // namespace tallo
