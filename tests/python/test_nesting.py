"""Deeply nested model text: a statement that nests its terms deeper than the
solver's stack can take stops with our own error before the solver sees it,
under the default stack limit and under an unlimited one, and the process
goes on compiling.

Each case runs in a child process with the stack limit set before the
interpreter starts: that limit decides both the main thread's stack and the
default stack of every thread the child makes, and a fault there must not
take the test run with it."""
import json
import os
import resource
import subprocess

import pytest

# The limit of language/statement_scan.h (`max_nesting_depth`).
LIMIT = 2000
DEPTHS = [10**2, 10**3, LIMIT, LIMIT + 1, 10**5, 10**6]
TARGET = 't -> target("/t").\n'


def f_term(levels):
    """f(f(...f(x)...)): `levels` levels."""
    return "f(" * levels + "x" + ")" * levels


# Every way a statement can carry nesting, as a model whose second statement
# nests exactly `depth` levels (brackets, and operators inside brackets).
# `under` is what a depth within the limit gives: the model compiles, the
# solver itself refuses what it cannot read, or the statement stops because an
# atom of it holds a nested term or an operator, which the parsers would
# misread.
FORMS = {
    "category, function term": (
        lambda d: 'b <- source("/b", Boolean).\n{%s, c} <- source("/c", Categorical).\nt if b.\n' % f_term(d - 1),
        "compiled"),
    "category, parentheses": (
        lambda d: 'b <- source("/b", Boolean).\n{a(%sx%s), c} <- source("/c", Categorical).\nt if b.\n'
        % ("(" * (d - 2), ")" * (d - 2)), "compiled"),
    "category, arithmetic chain": (
        lambda d: 'b <- source("/b", Boolean).\n{a(%s), c} <- source("/c", Categorical).\nt if b.\n'
        % "+".join(["1"] * (d - 1)), "compiled"),
    "category, square brackets": (
        lambda d: 'b <- source("/b", Boolean).\n{%sx%s, c} <- source("/c", Categorical).\nt if b.\n'
        % ("[" * (d - 1), "]" * (d - 1)), "solver refused"),
    "source atom": (
        lambda d: 'b <- source("/b", Boolean).\n%s <- source("/a", Probability).\nt if b.\n' % f_term(d), "unreadable atom"),
    "target": (
        lambda d: 'b <- source("/b", Boolean).\n%s -> target("/u").\nt if b.\n' % f_term(d), "unreadable atom"),
    "rule head": (
        lambda d: 'b <- source("/b", Boolean).\n%s if b.\nt if b.\n' % f_term(d), "unreadable atom"),
    "rule body": (
        lambda d: 'b <- source("/b", Boolean).\nt if b and p(%s).\n' % f_term(d - 1), "unreadable atom"),
    "rule body, arithmetic": (
        lambda d: 'b <- source("/b", Boolean).\nt if b and p(%s).\n' % "-".join(["1"] * d), "unreadable atom"),
}


def outcome(model):
    import tallo
    try:
        tallo.Tallo.compile(model + TARGET)
    except BaseException as error:  # PanicException derives from BaseException
        if type(error).__qualname__ != "PanicException":
            return "raised " + type(error).__qualname__
        text = str(error)
        if text.startswith("Model statement 2 is nested too deeply: its terms go more than %d levels deep" % LIMIT):
            return "too deep"
        if text.startswith("Model statement 2 cannot be read: the atom "):
            return "unreadable atom"
        if text.startswith("Failed to add ASP to Clingo."):
            return "solver refused"
        return "stopped: " + text[:200]
    return "compiled"


def outcomes():
    """What every form gives at every depth, then whether a plain model still
    compiles and updates."""
    import tallo
    seen = {form: [outcome(make(depth)) for depth in DEPTHS] for form, (make, _) in FORMS.items()}
    model = tallo.Tallo.compile('a <- source("/a", Probability).\nt if a.\n' + TARGET)
    model.make_writer("/a").write([0.25], None)
    seen["afterwards"] = sorted(model.get_reactive_circuit().update())
    return seen


def expected():
    seen = {form: [under if depth <= LIMIT else "too deep" for depth in DEPTHS] for form, (_, under) in FORMS.items()}
    seen["afterwards"] = ["/t"]
    return seen


CHILD = """
import json, sys
sys.path.insert(0, {here!r})
import test_nesting
print(json.dumps(test_nesting.outcomes()))
"""


@pytest.mark.parametrize("stack_limit", [8 << 20, resource.RLIM_INFINITY], ids=["8 MiB", "unlimited"])
def test_too_deep_statements_stop_with_our_error_and_the_process_goes_on(stack_limit):
    _, hard = resource.getrlimit(resource.RLIMIT_STACK)
    if hard != resource.RLIM_INFINITY and (stack_limit == resource.RLIM_INFINITY or stack_limit > hard):
        pytest.skip("the hard stack limit is below the limit this case sets")

    def limit_stack():
        resource.setrlimit(resource.RLIMIT_STACK, (stack_limit, hard))

    child = subprocess.run(["/usr/bin/python3", "-c", CHILD.format(here=os.path.dirname(__file__))],
                           preexec_fn=limit_stack, capture_output=True, text=True, timeout=300)
    assert child.returncode == 0, (child.returncode, child.stderr[-2000:])
    assert json.loads(child.stdout) == expected()
