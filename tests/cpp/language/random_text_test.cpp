// Random model texts through pre-processing, splitting and every parser: no
// input may crash, hang or stop with anything but the stops the parsers
// document, and what they return keeps the shape that later stages rely on.
// Seeded, so a failure repeats; bounded, so it runs in every build of CI.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/messages.h"
#include "base/panic.h"
#include "language/matching.h"
#include "language/messages.h"
#include "language/model_statements.h"
#include "language/statement_scan.h"
#include "language/unicode.h"
#include "stop_message.h"

namespace tallo {
namespace {

// Pieces the statement patterns react to, whole statements among them, and
// characters whose Unicode classes matter.
const std::vector<std::string> fragments{
    " ", "  ", "\t", "\n", "\r\n", "\r", "#", ".", "..", "0.", "1.5", "30", "-", "+", ",", "(", ")", "{", "}",
    "\"", "/", "/a", "_", "<-", "->", "<", ">", "P(", "P(0.", "P(1.25)", "source(", "target(", "\"/x/y_1\"",
    "Probability", "Density", "Number", "Boolean", "Categorical", "if", "and", "not ", "X", "a", "temp", "p(a, B)",
    "é", "e\u0301", "Ω", "\u3000", "\u00A0", "\u180E", "\u0663", "\u00B2", "\u216B", "and\u0301", "\u203F",
    "rain <- source(\"/r\", Probability).", "temp(K) <- source(\"/t/k\", Number).",
    "hot(X) <- P(0.7) if room(X) and temp(X) > -30.5.", "{a, , b} <- source(\"/c\", Categorical).",
    "x -> target(\"/o\").", "y if t > 1 and t(a, b) < +2.25 and not z.",
};

std::string random_text(std::mt19937& rng) {
    std::uniform_int_distribution<std::size_t> length(0, 60);
    std::uniform_int_distribution<std::size_t> pick(0, fragments.size() - 1);
    std::uniform_int_distribution<int> raw(0, 49);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string text;
    for (std::size_t n = length(rng); n > 0; --n) {
        // Now and then a raw byte, which may break the UTF-8.
        if (raw(rng) == 0) {
            text += static_cast<char>(byte(rng));
        } else {
            text += fragments[pick(rng)];
        }
    }
    return text;
}

bool is_trimmed(std::string_view text) { return unicode::trim(text) == text; }

// Runs `parse`; a stop is allowed only with a message that `allowed` accepts.
template <class Parse, class Allowed>
void expect_no_other_stop(Parse&& parse, Allowed&& allowed, const std::string& input) {
    try {
        parse();
    } catch (const Panic& panic) {
        EXPECT_TRUE(allowed(panic.message())) << panic.message() << "\ninput: " << input;
    }
}

bool is_invalid_utf8(const std::string& message) { return message.starts_with("invalid UTF-8 in model text"); }

void check_clause(const Clause& clause, const std::vector<Source>& sources) {
    EXPECT_FALSE(clause.atom.empty());
    EXPECT_TRUE(clause.to_asp().ends_with(".\n"));
    matching::has_variable_arg(clause.atom);
    matching::args_of(clause.atom);
    for (const auto& literal : clause.body) EXPECT_FALSE(literal.empty()) << clause.text;
    for (const auto& comparison : clause.comparisons) {
        // Every comparison name is one body literal and one identifier,
        // negative thresholds included.
        if (!comparison.name.ends_with("()")) {
            EXPECT_EQ(matching::get_literals(comparison.name), std::vector<std::string>{comparison.name}) << clause.text;
        }
        EXPECT_EQ(comparison.name.find_first_of("-."), std::string::npos) << clause.text;
        for (const auto& source : sources) comparison.ground_for(source.atom);
        comparison.ground_for(clause.atom);
    }
}

TEST(RandomText, NoInputBreaksPreparationSplittingOrParsing) {
    std::mt19937 rng(20240611);
    const std::string number_stop = messages::unwrap_err(messages::invalid_float());
    for (int round = 0; round < 20000; ++round) {
        const std::string text = random_text(rng);
        std::string prepared;
        bool valid = true;
        try {
            prepared = prepare_model_text(text);
        } catch (const Panic& panic) {
            ASSERT_TRUE(is_invalid_utf8(panic.message())) << panic.message();
            valid = false;
        }
        if (!valid) {
            // Raw text straight into a parser gets the same clear stop.
            expect_no_other_stop([&] { Clause::from_str(text); },
                                 [&](const std::string& m) { return is_invalid_utf8(m) || m == number_stop; }, text);
            expect_no_other_stop([&] { CategoricalSource::from_str(text); }, is_invalid_utf8, text);
            continue;
        }
        EXPECT_EQ(prepared.find_first_of("\n#"), std::string::npos) << text;
        EXPECT_TRUE(is_trimmed(prepared)) << text;

        std::vector<Source> sources;
        // The first statement that the scan finds misread stops the whole
        // model, before any statement is parsed.
        std::optional<std::string> atom_stop;
        std::size_t number = 0;
        for (const std::string& statement : matching::split_statements(prepared)) {
            ++number;
            if (const auto misreading = scan_statement(statement).misreading; misreading && !atom_stop) {
                atom_stop = messages::cannot_read(number, *misreading, statement);
            }
            EXPECT_TRUE(!statement.empty() && statement.ends_with('.') && is_trimmed(statement)) << statement;
            if (auto source = Source::from_str(statement)) {
                EXPECT_NE(source->dtype, DataType::Categorical);
                EXPECT_TRUE(source->topic.starts_with('/'));
                matching::args_of(source->atom);
                matching::has_variable_arg(source->atom);
                matching::sanitize(source->atom);
                sources.push_back(*source);
            }
            if (auto target = Target::from_str(statement)) {
                EXPECT_TRUE(target->topic.starts_with('/'));
            }
            if (auto categorical = CategoricalSource::from_str(statement)) {
                for (const auto& category : categorical->categories) {
                    EXPECT_TRUE(!category.empty() && is_trimmed(category) && category.find(',') == std::string::npos);
                }
            }
            expect_no_other_stop(
                [&] {
                    if (auto clause = Clause::from_str(statement)) check_clause(*clause, sources);
                },
                [&](const std::string& m) { return m == number_stop; }, statement);
        }
        if (atom_stop) {
            EXPECT_EQ(testing::stop_message([&] { parse_model(text); }), *atom_stop) << text;
        } else {
            expect_no_other_stop([&] { parse_model(text); }, [&](const std::string& m) { return m == number_stop; },
                                 text);
        }
    }
}

}  // namespace
}  // namespace tallo
