#include "language/statement_scan.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "base/panic.h"
#include "language/messages.h"
#include "language/patterns.h"
#include "language/unicode.h"

namespace tallo {
namespace {

constexpr std::size_t none = std::string_view::npos;
constexpr std::string_view operator_characters = "+-*/\\^&|~?<=>!@:";

bool opens(char c) { return c == '(' || c == '[' || c == '{'; }
bool closes(char c) { return c == ')' || c == ']' || c == '}'; }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// The depth measure, fed the statement one byte at a time. Each open bracket
// is a level; its depth, once closed, is 1 + the deepest of its elements, an
// element's depth being its operators plus its deepest child.
class DepthMeter {
public:
    explicit DepthMeter(std::size_t limit) : limit_(limit) {}

    // False as soon as the depth is known to exceed the limit.
    bool feed(char c) {
        if (opens(c)) {
            open_.emplace_back();
            ++committed_;
        } else if (closes(c)) {
            if (!open_.empty()) close();
        } else if (c == ',' || c == ';') {
            if (!open_.empty()) {
                Level& level = open_.back();
                level.deepest = std::max(level.deepest, level.element());
                committed_ -= level.operators;
                level.operators = level.child = 0;
            }
        } else if (!open_.empty() && operator_characters.find(c) != std::string_view::npos) {
            ++open_.back().operators;
            ++committed_;
        }
        return committed_ <= limit_;
    }

    // The brackets open now.
    std::size_t open() const noexcept { return open_.size(); }
    std::size_t limit() const noexcept { return limit_; }

    // The depth of the whole text fed, brackets left open closing at its end.
    std::size_t finish() {
        while (!open_.empty()) close();
        return std::min(top_, limit_ + 1);
    }

private:
    struct Level {
        std::size_t operators = 0;  // in the current element
        std::size_t child = 0;      // the deepest bracket closed in the current element
        std::size_t deepest = 0;    // the deepest element finished so far

        std::size_t element() const noexcept { return operators + child; }
        std::size_t depth() const noexcept { return 1 + std::max(deepest, element()); }
    };

    void close() {
        const Level done = open_.back();
        open_.pop_back();
        committed_ -= 1 + done.operators;
        std::size_t& child = open_.empty() ? top_ : open_.back().child;
        child = std::max(child, done.depth());
    }

    std::size_t limit_;
    std::vector<Level> open_;
    std::size_t top_ = 0;  // the deepest bracket outside every other
    // Open brackets plus the operators of their current elements: what is
    // open already adds up to at least this, so once it passes the limit,
    // the depth does too.
    std::size_t committed_ = 0;
};

// A comparison of a rule's body, by byte offsets into the statement.
struct Comparison {
    std::size_t start;      // its atom's first byte
    std::size_t threshold;  // its threshold's first byte
    std::size_t end;        // the byte after its threshold
};

// How the parsers take the statement: the form that accepts it, in their order.
enum class Form { None, Categorical, Declaration, Rule };

struct Reading {
    Form form = Form::None;
    // The categorical source's match, whose braces are not looked into.
    std::size_t exempt_begin = none;
    std::size_t exempt_end = none;
    // The rule's comparisons, as the rule parser finds them in its body.
    std::vector<Comparison> comparisons;
};

Reading reading_of(std::string_view statement) {
    if (const auto categorical = patterns::categorical_source_regex().find(statement)) {
        return {Form::Categorical, categorical->start(), categorical->end(), {}};
    }
    if (patterns::source_regex().find(statement) || patterns::target_regex().find(statement)) {
        return {Form::Declaration, none, none, {}};
    }
    const auto clause = patterns::clause_regex().find(statement);
    if (!clause) return {};
    Reading reading{Form::Rule, none, none, {}};
    if (const auto body = clause->group("body")) {
        for (const auto& comparison : patterns::comparison_literal_regex().find_all(*body)) {
            const auto offset = [&](std::string_view part) {
                return static_cast<std::size_t>(part.data() - statement.data());
            };
            const std::string_view threshold = *comparison.group("comp_threshold");
            reading.comparisons.push_back({offset(comparison.text()), offset(threshold),
                                           offset(threshold) + threshold.size()});
        }
    }
    return reading;
}

// The words that stand before a bracket as the rule syntax's own, never as an
// atom's name.
bool is_rule_keyword(std::string_view word) { return word == "if" || word == "and" || word == "not"; }
bool opens_statement_bracket(std::string_view word) { return word == "P" || word == "source" || word == "target"; }

class Scan {
public:
    Scan(std::string_view statement, std::size_t limit)
        : text_(statement), meter_(limit), reading_(reading_of(statement)) {}

    StatementScan run() {
        const bool rule = reading_.form == Form::Rule;
        if (rule) offer_thresholds();
        while (at_ < text_.size() && !first_) {
            if (at_ == reading_.exempt_begin) {
                if (list_) finish_list(at_, false);
                if (!feed_to(reading_.exempt_end)) return too_deep();
            } else if (list_) {
                if (!step_in_list()) return too_deep();
            } else if (!step(rule)) {
                return too_deep();
            }
        }
        if (!first_ && list_) finish_list(text_.size(), false);
        // What is left only counts towards the depth.
        if (!feed_to(text_.size())) return too_deep();
        const std::size_t depth = meter_.finish();
        if (first_) return {depth, first_};
        if (later_) {
            if (pending_) later_->misreading.text = text_.substr(later_->at);
            return {depth, later_->misreading};
        }
        return {depth, std::nullopt};
    }

private:
    // An atom's argument list being read: from the atom's word to the bracket
    // that closes its '('.
    struct List {
        std::size_t atom;           // the word's first byte
        std::size_t open;           // the '('
        std::size_t base;           // brackets open before the '('
        bool top;                   // outside every other bracket
        bool nested = false;        // holds another opening bracket
        std::size_t bad = none;     // the first character it cannot hold
        std::size_t non_ascii = none;  // the first word character beyond ASCII, in the word or the list
    };

    struct Candidate {
        std::size_t at;
        Misreading misreading;
    };

    StatementScan too_deep() const { return {meter_.limit() + 1, std::nullopt}; }

    bool feed_to(std::size_t end) {
        for (; at_ < end; ++at_) {
            if (!meter_.feed(text_[at_])) return false;
            if (pending_ && closes(text_[at_]) && meter_.open() == pending_base_) {
                later_->misreading.text = text_.substr(later_->at, at_ + 1 - later_->at);
                pending_ = false;
            }
        }
        return true;
    }

    // The character at byte `at` and the byte after it.
    char32_t character_at(std::size_t at, std::size_t& next) const {
        next = at;
        return unicode::decode(text_, next);
    }
    std::string_view character_text(std::size_t at) const {
        std::size_t next = at;
        unicode::decode(text_, next);
        return text_.substr(at, next - at);
    }
    bool word_at(std::size_t at) const {
        if (at >= text_.size()) return false;
        std::size_t next = at;
        return unicode::is_word_character(unicode::decode(text_, next));
    }

    // The comparisons lie in order and apart, so the last one that begins
    // at or before `at` is the only one that can hold it.
    bool in_threshold(std::size_t at) const {
        const auto after = std::upper_bound(reading_.comparisons.begin(), reading_.comparisons.end(), at,
                                            [](std::size_t position, const Comparison& c) { return position < c.threshold; });
        return after != reading_.comparisons.begin() && at < std::prev(after)->end;
    }

    // Groups 2 and 3 keep the first by position; a bracketed text gets its
    // end when its bracket closes.
    void offer(std::size_t at, Misreading misreading, std::optional<std::size_t> bracket_base = std::nullopt) {
        if (later_ && later_->at <= at) return;
        later_ = Candidate{at, misreading};
        pending_ = bracket_base.has_value();
        if (pending_) pending_base_ = *bracket_base;
    }

    // A comparison whose threshold runs on into a word, a bracket or a
    // fractional part: the rule would read the rest into the generated name.
    void offer_thresholds() {
        for (const Comparison& comparison : reading_.comparisons) {
            const std::size_t end = comparison.end;
            if (end >= text_.size()) continue;
            if (!word_at(end) && !opens(text_[end]) && !point_and_digit(end)) continue;
            std::size_t stop = end;
            while (stop < text_.size()) {
                if (word_at(stop)) {
                    character_at(stop, stop);
                } else if (point_and_digit(stop)) {
                    ++stop;
                } else {
                    if (opens(text_[stop])) ++stop;
                    break;
                }
            }
            offer(comparison.start,
                  {Misread::Threshold, text_.substr(comparison.start, stop - comparison.start), {}});
        }
    }

    bool point_and_digit(std::size_t at) const {
        return text_[at] == '.' && at + 1 < text_.size() && is_ascii_digit(text_[at + 1]);
    }

    // A '-' after '<' or '>' and blanks is the sign of a threshold, or of
    // what is meant as one (an arrow's '-' directly after its '<' too), even
    // where the rule parser does not read it so; what is wrong there is
    // left to the other checks.
    bool after_operator(std::size_t at) const {
        while (at > 0 && (text_[at - 1] == ' ' || text_[at - 1] == '\t')) --at;
        return at > 0 && (text_[at - 1] == '<' || text_[at - 1] == '>');
    }

    // One step outside every argument list: a word, a sign or a bracket.
    bool step(bool rule) {
        const bool top = meter_.open() == 0;
        std::size_t next = at_;
        const char32_t c = character_at(at_, next);
        if (unicode::is_word_character(c)) return word(rule && top);
        if (rule && top && text_[at_] == '-' && word_at(at_ + 1) && !in_threshold(at_) && !after_operator(at_)) {
            std::size_t end = at_ + 1;
            while (word_at(end)) character_at(end, end);
            offer(at_, {Misread::Minus, text_.substr(at_, end - at_), {}});
        }
        if (rule && top && opens(text_[at_])) {
            // A word directly before the bracket belongs to what is shown.
            const std::size_t from = at_ == last_word_end_ ? last_word_start_ : at_;
            offer(from, {Misread::StrayBracket, text_.substr(from, at_ + 1 - from), text_.substr(at_, 1)},
                  meter_.open());
        }
        return feed_to(next);
    }

    // A whole word and what it opens.
    bool word(bool checked) {
        const std::size_t start = at_;
        std::size_t end = at_;
        std::size_t non_ascii = none;
        while (end < text_.size()) {
            std::size_t next = end;
            const char32_t c = character_at(end, next);
            if (!unicode::is_word_character(c)) break;
            if (c >= 0x80 && non_ascii == none) non_ascii = end;
            end = next;
        }
        const std::string_view name = text_.substr(start, end - start);
        last_word_start_ = start;
        last_word_end_ = end;
        checked = checked && !in_threshold(start);
        if (end < text_.size() && text_[end] == '(') {
            if (opens_statement_bracket(name)) return feed_to(end + 1);
            const bool top = meter_.open() == 0;
            if (!feed_to(end)) return false;
            list_ = List{start, end, meter_.open(), top};
            list_->non_ascii = checked ? non_ascii : none;
            return feed_to(end + 1);
        }
        if (checked) {
            if (non_ascii != none) offer(start, {Misread::NonAscii, name, character_text(non_ascii)});
            std::size_t after = end;
            while (after < text_.size()) {
                std::size_t next = after;
                if (!unicode::is_white_space(character_at(after, next))) break;
                after = next;
            }
            if (after > end && after < text_.size() && opens(text_[after]) && !is_rule_keyword(name)) {
                offer(start, {Misread::BlankBeforeBracket, text_.substr(start, after - start), text_.substr(after, 1)});
            }
        }
        return feed_to(end);
    }

    // One character inside an argument list.
    bool step_in_list() {
        List& list = *list_;
        std::size_t next = at_;
        const char32_t c = character_at(at_, next);
        const char byte = text_[at_];
        if (opens(byte)) {
            list.nested = true;
        } else if (closes(byte)) {
            if (meter_.open() == list.base + 1) {
                if (byte != ')' && list.bad == none) list.bad = at_;
                if (!feed_to(next)) return false;
                finish_list(next, true);
                return true;
            }
        } else if (unicode::is_word_character(c)) {
            if (c >= 0x80 && list.non_ascii == none && list.top) list.non_ascii = at_;
        } else if (c != ',' && !unicode::is_white_space(c) && list.bad == none) {
            list.bad = at_;
        }
        return feed_to(next);
    }

    // The list ends at `end`, with the bracket that closes it or where the
    // text looked at ends.
    void finish_list(std::size_t end, bool closed) {
        const List list = *list_;
        list_.reset();
        const std::string_view atom = text_.substr(list.atom, end - list.atom);
        if (list.nested) {
            first_ = Misreading{Misread::NestedTerm, atom, {}};
        } else if (!closed) {
            first_ = Misreading{Misread::NotClosed, atom, {}};
        } else if (list.bad != none) {
            first_ = misspelt_keyword(list).value_or(Misreading{Misread::Character, atom, character_text(list.bad)});
        } else if (end == list.open + 2) {
            first_ = Misreading{Misread::EmptyList, atom, {}};
        } else {
            if (reading_.form != Form::None) offer_arguments(list, atom);
            if (reading_.form == Form::Rule && list.top) {
                if (list.non_ascii != none) {
                    offer(list.atom, {Misread::NonAscii, atom, character_text(list.non_ascii)});
                }
                if (end < text_.size() && (word_at(end) || opens(text_[end]))) {
                    offer(list.atom, {Misread::RunOn, atom, character_text(end)});
                }
            }
        }
    }

    // The arguments as matching::args_of splits them, each of which the
    // solver must read as one name, variable or whole number.
    void offer_arguments(const List& list, std::string_view atom) {
        const std::string_view inside = atom.substr(list.open - list.atom + 1, atom.size() - (list.open - list.atom) - 2);
        const auto arguments = unicode::split_commas_trimmed(inside);
        if (arguments.size() == 1 && arguments.front().empty()) {
            offer(list.atom, {Misread::BlankList, atom, {}});
            return;
        }
        for (const std::string_view argument : arguments) {
            if (argument.empty()) {
                offer(list.atom, {Misread::EmptyArgument, atom, {}});
                return;
            }
            for (std::size_t at = 0; at < argument.size();) {
                if (unicode::is_white_space(unicode::decode(argument, at))) {
                    offer(list.atom, {Misread::TwoWords, atom, argument});
                    return;
                }
            }
            if (is_ascii_digit(argument.front()) &&
                !std::all_of(argument.begin(), argument.end(), is_ascii_digit)) {
                offer(list.atom, {Misread::NotANumber, atom, argument});
                return;
            }
        }
    }

    // A list whose first character but blanks is a quote, after an arrow: a
    // declaration with a word for its keyword that is neither source nor
    // target, before its quoted channel.
    std::optional<Misreading> misspelt_keyword(const List& list) const {
        if (text_[list.bad] != '"') return std::nullopt;
        const std::string_view between = text_.substr(list.open + 1, list.bad - list.open - 1);
        if (!unicode::trim(between).empty()) return std::nullopt;
        const std::string_view before = unicode::trim(text_.substr(0, list.atom));
        if (!before.ends_with("<-") && !before.ends_with("->")) return std::nullopt;
        return Misreading{Misread::DeclarationKeyword, text_.substr(list.atom, list.open - list.atom), {}};
    }

    std::string_view text_;
    DepthMeter meter_;
    Reading reading_;
    std::size_t at_ = 0;
    std::optional<List> list_;
    std::size_t last_word_start_ = none;
    std::size_t last_word_end_ = none;
    std::optional<Misreading> first_;   // group 1
    std::optional<Candidate> later_;    // groups 2 and 3
    bool pending_ = false;              // later_'s text ends where its bracket closes
    std::size_t pending_base_ = 0;
};

}  // namespace

StatementScan scan_statement(std::string_view statement, std::size_t limit) { return Scan(statement, limit).run(); }

void check_statement(std::string_view statement, std::size_t number) {
    const StatementScan scan = scan_statement(statement);
    if (scan.depth > max_nesting_depth) stop(messages::nested_too_deeply(number, max_nesting_depth, statement));
    if (scan.misreading) stop(messages::cannot_read(number, *scan.misreading, statement));
}

}  // namespace tallo
