#include "language/nesting.h"

#include <algorithm>
#include <vector>

#include "base/panic.h"
#include "language/messages.h"

namespace tallo {
namespace {

constexpr std::string_view operator_characters = "+-*/\\^&|~?<=>!@:";

// One open bracket. Its depth, once closed, is 1 + the deepest of its
// elements, an element's depth being its operators plus its deepest child.
struct Level {
    std::size_t operators = 0;  // in the current element
    std::size_t child = 0;      // the deepest bracket closed in the current element
    std::size_t deepest = 0;    // the deepest element finished so far

    std::size_t element() const noexcept { return operators + child; }
    std::size_t depth() const noexcept { return 1 + std::max(deepest, element()); }
};

}  // namespace

std::size_t nesting_depth(std::string_view statement, std::size_t limit) {
    std::vector<Level> open;
    std::size_t top = 0;  // the deepest bracket outside every other
    // Open brackets plus the operators of their current elements: what is
    // open already adds up to at least this, so once it passes the limit,
    // the depth does too.
    std::size_t committed = 0;
    const auto close = [&] {
        const Level done = open.back();
        open.pop_back();
        committed -= 1 + done.operators;
        std::size_t& child = open.empty() ? top : open.back().child;
        child = std::max(child, done.depth());
    };
    for (const char c : statement) {
        switch (c) {
            case '(':
            case '[':
            case '{':
                open.emplace_back();
                ++committed;
                break;
            case ')':
            case ']':
            case '}':
                if (!open.empty()) close();
                break;
            case ',':
            case ';':
                if (!open.empty()) {
                    Level& level = open.back();
                    level.deepest = std::max(level.deepest, level.element());
                    committed -= level.operators;
                    level.operators = level.child = 0;
                }
                break;
            default:
                if (!open.empty() && operator_characters.find(c) != std::string_view::npos) {
                    ++open.back().operators;
                    ++committed;
                }
                break;
        }
        if (committed > limit) return limit + 1;
    }
    while (!open.empty()) close();
    return std::min(top, limit + 1);
}

void check_nesting(std::string_view statement, std::size_t number) {
    if (nesting_depth(statement) > max_nesting_depth) {
        stop(messages::nested_too_deeply(number, max_nesting_depth, statement));
    }
}

}  // namespace tallo
