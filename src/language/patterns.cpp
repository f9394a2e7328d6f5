#include "language/patterns.h"

#include <fmt/format.h>

#include "base/fork_gate.h"

namespace tallo::patterns {

// Each pattern is built at its first use, inside a section that fork() waits
// for: a child forked while another thread held the static's guard would
// wait on it for ever at its own first use.

const Regex& source_regex() {
    const ForkWaits building;
    static const Regex regex(fmt::format(R"re({}\s+<-\s+source\({},\s+{}\)\.)re", ATOM_PATTERN, TOPIC_PATTERN, DTYPE_PATTERN));
    return regex;
}

const Regex& target_regex() {
    const ForkWaits building;
    static const Regex regex(fmt::format(R"re({}\s+->\s+target\({}\)\.)re", ATOM_PATTERN, TOPIC_PATTERN));
    return regex;
}

const Regex& categorical_source_regex() {
    const ForkWaits building;
    static const Regex regex(R"re(\{(?<categories>[^}]+)\}\s+<-\s+source\("(?<topic>(?:\/\w+)+)",\s+Categorical\)\.)re");
    return regex;
}

const Regex& clause_regex() {
    const ForkWaits building;
    static const Regex regex(
        fmt::format(R"re({}(\s+<-\s+{})?(\s+if\s+{})?\.)re", ATOM_PATTERN, PROBABILITY_PATTERN, BODY_PATTERN));
    return regex;
}

const Regex& comparison_literal_regex() {
    const ForkWaits building;
    static const Regex regex(
        R"re((?<comp_atom>\w+(?:\([\w\s,]+\))?)\s+(?<comp_op>[<>])\s+(?<comp_threshold>[+-]?\d+(?:\.\d+)?))re");
    return regex;
}

const Regex& and_keyword_regex() {
    const ForkWaits building;
    static const Regex regex(R"re(\band\b)re");
    return regex;
}

const Regex& literal_regex() {
    const ForkWaits building;
    static const Regex regex(R"re((?<literal>(not\s+)?\w+(\([\w\s,]+\))?))re");
    return regex;
}

}  // namespace tallo::patterns
