"""Statements that the statement patterns would read as something else than
written stop the compile with a text that names the statement and what is
wrong; what reads as written, and what no form accepts, compiles as before.

Each statement is the fifth of a model that is fine otherwise. The comment of
each group says what the model computed before, without a word."""
import pytest

import tallo
from support import panic_of

HEAD = ('s <- source("/s", Probability).\nrain <- source("/rain", Probability).\n'
        'sun <- source("/sun", Probability).\nx <- source("/x", Number).\n')
TAIL = 't if s.\nt -> target("/t").\n'

WORDS_ONLY = "; the arguments of an atom can only be words (letters, digits and '_') separated by commas"
SOLVER_TERMS = "; the arguments of an atom are names, variables or whole numbers, separated by commas"
BLANK = "a blank parts '{}' from the '{}' after it; an atom's argument list follows its name directly, as in p(a)"
STRAY = ("the '{}' of {} opens no argument list; in a rule, a bracket can only be an atom's '(' directly after "
         "its name, as in p(a), or that of P(...)")
RUN_ON = "the atom {} is directly followed by '{}'; a blank, a comma or the statement's end follows an atom"
MINUS = ("the '-' of -{0} is no sign of a threshold; the language has no classical negation and no arithmetic "
         "(negation is written not {0})")
THRESHOLD = ("the comparison {} has no threshold the language reads; a threshold is an integer or a decimal, "
             "optionally signed (4, -5, 30.5), and a blank, a comma or the statement's end follows it")
NON_ASCII = ("the atom {} holds the character '{}'; the solver reads only ASCII letters, digits and '_' in the "
             "atoms of a rule")


@pytest.mark.parametrize("statement, wrong", [
    # read as t :- p, a, b; t :- rain, not q, sun; the fact rain
    ("t if p (a-b).", BLANK.format("p", "(")),
    ("t if rain and not q (sun).", BLANK.format("q", "(")),
    ("p (a) if rain.", BLANK.format("p", "(")),
    # read as t :- not q, sun; the fact s; t :- p, a; t :- c, d
    ("t if not q{sun}.", STRAY.format("{", "q{sun}")),
    ("[a] if s.", STRAY.format("[", "[a]")),
    ("t if p[a].", STRAY.format("[", "p[a]")),
    ("t if (c-d).", STRAY.format("(", "(c-d)")),
    # read as t :- p(a), b and t :- p(a), x
    ("t if p(a)(b).", RUN_ON.format("p(a)", "(")),
    ("t if p(a)x.", RUN_ON.format("p(a)", "x")),
    # read as t :- rain
    ("t if -rain.", MINUS.format("rain")),
    # read as t :- x_gt_1e3 beside the leaf x_gt_1, which nothing makes true;
    # and as x > 1.5 wherever that comparison occurs
    ("t if x > 1e3.", THRESHOLD.format("x > 1e3")),
    ("t if x > 1_5.", THRESHOLD.format("x > 1_5")),
    # a leaf that is never matched
    ("t if p( ).", "the atom p( ) has an empty argument list" + WORDS_ONLY),
    # the solver's "too many messages." or "parsing failed"
    ("t if ü(a).", NON_ASCII.format("ü(a)", "ü")),
    ("t if p(ä).", NON_ASCII.format("p(ä)", "ä")),
    ("t if p(a, ).", "the atom p(a, ) has an empty argument" + SOLVER_TERMS),
    # leaves of sources that every rule using them made the solver refuse
    ('p(1e3) <- source("/p", Probability).',
     "the atom p(1e3) holds the argument '1e3', which begins with a digit but is no whole number" + SOLVER_TERMS),
    ('p(a b) <- source("/p", Probability).',
     "the atom p(a b) holds the argument 'a b', which is two words without a comma between them" + SOLVER_TERMS),
    ('p(,) <- source("/p", Probability).', "the atom p(,) has an empty argument" + SOLVER_TERMS),
], ids=["blank before a body's list", "blank in a negated body", "blank in a head", "braces after a word",
        "square brackets as a head", "square brackets after a word", "parentheses alone", "list after a list",
        "word after a list", "leading minus", "exponent threshold", "underscore threshold", "blank list",
        "unicode predicate", "unicode argument", "empty argument", "source with an exponent",
        "source with two words", "source with empty arguments"])
def test_a_statement_the_patterns_would_misread_stops_the_compile(statement, wrong):
    model = HEAD + statement + "\n" + TAIL
    assert panic_of(lambda: tallo.Tallo.compile(model)).args == (
        "Model statement 5 cannot be read: %s: %s" % (wrong, statement),)


KEYWORD = "the word {} stands where a declaration has its keyword, source(...) or target(...)"


@pytest.mark.parametrize("statement, word", [
    ('rain <- sourse("/weather/rain", Probability).', "sourse"),
    ('level <- Source("/river/level", Number).', "Source"),
    ('temp(k) <- src( "/t", Density).', "src"),
    ('{sunny, cloudy} <- sorce("/sky", Categorical).', "sorce"),
    ('{a, b} <-source_("/c", Categorical).', "source_"),
    ('wet -> targte("/wet").', "targte"),
    ('wet -> Target("/wet").', "Target"),
], ids=["source", "capitalised source", "blank after the bracket", "categorical source",
        "categorical, no blank after the arrow", "target", "capitalised target"])
def test_a_misspelt_declaration_keyword_is_named(statement, word):
    model = HEAD + statement + "\n" + TAIL
    shown = statement if len(statement) <= 40 else statement[:40] + "..."
    assert panic_of(lambda: tallo.Tallo.compile(model)).args == (
        "Model statement 5 cannot be read: %s: %s" % (KEYWORD.format(word), shown),)


# What stays as it was: statements that read as written compile to the same
# circuit, and statements that no form accepts are still dropped without a
# word (the leaves show it: a dropped source has none).
@pytest.mark.parametrize("statement, names", [
    ("t if x > -5 and x < 30.5, not rain.", ["x_gt_m5", "-x_gt_m5", "x_lt_30_5", "-x_lt_30_5"]),
    ("t if p(a, B) and q(_c, 10).", []),
    ('p (a) <- source("/p", Probability).', []),
    ('rain2 <- source ("/rain", Probability).', []),
    ('rain2 <- source("/rain", Probabilty).', []),
    ('{c, d} <- source("/c", categorical).', []),
    ('{c, d} <- source("/c", Categorical).', ["c", "d"]),
    ('{f(g(a)), -b} <- source("/c", Categorical).', ["f(g(a))", "-b"]),
], ids=["comparisons", "arguments", "blank before a source's list", "blank before source's bracket",
        "misspelt data type", "lowercase Categorical", "categories", "categories as written"])
def test_what_reads_as_written_or_is_dropped_stays(statement, names):
    model = tallo.Tallo.compile(HEAD + statement + "\n" + TAIL)
    assert model.get_names()[6:] == names
