#include "language/asp.h"

#include <algorithm>
#include <array>
#include <utility>

#include <fmt/format.h>

#include "base/cancelled.h"
#include "base/messages.h"
#include "base/panic.h"
#include "language/clingo_api.h"
#include "language/messages.h"
#include "language/output.h"

namespace tallo {

Dnf::Dnf(const std::vector<std::vector<std::string>>& clauses) {
    std::vector<LiteralId> ids;
    for (const std::vector<std::string>& clause : clauses) {
        ids.clear();
        for (const std::string& literal : clause) ids.push_back(intern(literal));
        add_clause(ids);
    }
}

std::string_view Dnf::get_variable(std::string_view literal) noexcept {
    if (!literal.empty() && literal.front() == '-') literal.remove_prefix(1);
    return literal;
}

Dnf::LiteralId Dnf::intern(std::string_view text) {
    const auto [at, added] = ids_.try_emplace(std::string(text), static_cast<LiteralId>(texts_.size()));
    if (added) texts_.emplace_back(text);
    return at->second;
}

void Dnf::add_clause(std::span<const LiteralId> ids) {
    if (chunks_.empty() || chunks_.back().ids.size() + ids.size() > chunk_ids) {
        Chunk& chunk = chunks_.emplace_back();
        chunk.ids.reserve(std::max(chunk_ids, ids.size()));
    }
    Chunk& chunk = chunks_.back();
    chunk.ids.insert(chunk.ids.end(), ids.begin(), ids.end());
    chunk.ends.push_back(static_cast<std::uint32_t>(chunk.ids.size()));
    ++size_;
}

std::vector<std::vector<std::string>> Dnf::clauses() const {
    std::vector<std::vector<std::string>> texts;
    texts.reserve(size_);
    for_each_clause([&](std::span<const LiteralId> ids) {
        std::vector<std::string>& clause = texts.emplace_back();
        for (const LiteralId id : ids) clause.push_back(texts_[id]);
    });
    return texts;
}

void Dnf::remove(std::string_view variable) {
    std::vector<bool> gone(texts_.size());
    bool any = false;
    for (std::size_t id = 0; id < texts_.size(); ++id) {
        if (get_variable(texts_[id]) == variable) gone[id] = any = true;
    }
    if (!any) return;
    for (Chunk& chunk : chunks_) {
        std::uint32_t begin = 0, kept = 0;
        for (std::uint32_t& end : chunk.ends) {
            for (std::uint32_t at = begin; at < end; ++at) {
                if (!gone[chunk.ids[at]]) chunk.ids[kept++] = chunk.ids[at];
            }
            begin = std::exchange(end, kept);
        }
        chunk.ids.resize(kept);
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

// ["a", "b"]: the texts that `text_of` gives for each of `items`.
template <class Items, class TextOf>
std::string quoted(const Items& items, TextOf&& text_of) {
    std::string out = "[";
    bool first = true;
    for (const auto& item : items) {
        if (!std::exchange(first, false)) out += ", ";
        out += '"';
        append_escaped(out, text_of(item));
        out += '"';
    }
    out += ']';
    return out;
}

// The literal ids of the symbols of one solve. The solver's symbols are
// interned 64-bit values, so a symbol's text is made once, at its first
// occurrence, and its id serves every later one. A false atom's literal gets
// (or loses) the leading '-'.
class SymbolLiterals {
public:
    explicit SymbolLiterals(Dnf& dnf) : dnf_(dnf) {}

    void append(std::vector<Dnf::LiteralId>& clause, const std::vector<clingo_symbol_t>& symbols, bool negate,
                const clingo::Failure& failure) {
        auto& known = negate ? negative_ : positive_;
        for (const clingo_symbol_t symbol : symbols) {
            auto [at, added] = known.try_emplace(symbol, 0);
            if (added) at->second = dnf_.intern(literal_text(symbol, negate, failure));
            clause.push_back(at->second);
        }
    }

private:
    static std::string literal_text(clingo_symbol_t symbol, bool negate, const clingo::Failure& failure) {
        std::string text = clingo::symbol_text(symbol, failure);
        if (!negate) return text;
        if (!text.empty() && text.front() == '-') return text.substr(1);
        return "-" + text;
    }

    Dnf& dnf_;
    std::unordered_map<clingo_symbol_t, Dnf::LiteralId> positive_;
    std::unordered_map<clingo_symbol_t, Dnf::LiteralId> negative_;
};

}  // namespace

std::string quoted_list(const std::vector<std::string>& literals) {
    return quoted(literals, [](const std::string& literal) -> std::string_view { return literal; });
}

Dnf solve(std::string_view program, bool verbose, std::stop_token cancel) {
    const std::array<const char*, 1> arguments{"--models=0"};
    clingo::Control control(arguments, messages::clingo_control_failed());
    control.add("base", program, messages::clingo_add_failed());
    control.ground("base", messages::unwrap_err, messages::clingo_ground_failed());
    throw_if_cancelled(cancel);

    // A stop interrupts the search, which then ends as if no model were left;
    // the token tells the two apart. The callback is gone before the control.
    const std::stop_callback interrupt(cancel, [&control]() noexcept { control.interrupt(); });
    clingo::SolveHandle handle = control.solve(clingo::solve_mode_yield, messages::clingo_solve_handle_failed());

    Dnf dnf;
    SymbolLiterals literals(dnf);
    std::vector<clingo_symbol_t> positive, negative;
    std::vector<Dnf::LiteralId> clause;
    while (true) {
        throw_if_cancelled(cancel);
        handle.resume(messages::clingo_resume_failed());
        const std::optional<clingo::Model> model = handle.model(messages::clingo_model_failed);
        if (!model) break;

        model->symbols(clingo::show_atoms, positive, messages::clingo_positive_symbols_failed());
        model->symbols(clingo::show_all | clingo::show_complement, negative,
                       messages::clingo_complementary_symbols_failed());
        clause.clear();
        literals.append(clause, positive, false, messages::clingo_positive_symbols_failed());
        literals.append(clause, negative, true, messages::clingo_complementary_symbols_failed());
        if (verbose) {
            const auto text_of = [&dnf](Dnf::LiteralId id) -> std::string_view { return dnf.text(id); };
            print_out(fmt::format("Found stable model: {}\n", quoted(clause, text_of)));
        }
        dnf.add_clause(clause);
    }
    throw_if_cancelled(cancel);
    handle.close(messages::clingo_close_failed());
    return dnf;
}

}  // namespace asp
}  // namespace tallo
