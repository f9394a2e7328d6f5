"""Argument matching and conversion of the call frame, through the test-only
module `binding_probe`, whose static methods each convert one argument kind and
return what they got."""
import operator
import os
import subprocess
import sys
import textwrap

import numpy
import pytest

from binding_probe import Probe


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Real:
    def __float__(self):
        return 2.5


class Text(str):
    pass


class Mapping(dict):
    pass


def interpreter_text(call):
    """The message of the TypeError that `call` raises in the interpreter itself."""
    with pytest.raises(TypeError) as info:
        call()
    return str(info.value)


# Each template once: (call, expected message).
MATCHING = [
    (lambda: Probe.three("a", "b", "c", "d"), "Probe.three() takes 3 positional arguments but 4 were given"),
    (lambda: Probe.defaults(1, 2, True, None, 5), "Probe.defaults() takes from 1 to 4 positional arguments but 5 were given"),
    (lambda: Probe.three("a", "b", "c", fourth="d"), "Probe.three() got an unexpected keyword argument 'fourth'"),
    # a name without UTF-8 form is shown with backslash escapes
    (lambda: Probe.three("a", "b", "c", **{"\ud800x": 1}), "Probe.three() got an unexpected keyword argument '\\ud800x'"),
    (lambda: Probe.three("a", "b", first="c"), "Probe.three() got multiple values for argument 'first'"),
    (lambda: Probe.three("a", "b"), "Probe.three() missing 1 required positional argument: 'third'"),
    (lambda: Probe.three("a"), "Probe.three() missing 2 required positional arguments: 'second' and 'third'"),
    (lambda: Probe.three(), "Probe.three() missing 3 required positional arguments: 'first', 'second', and 'third'"),
    # matching comes before conversion: the unconvertible 1 is not reported
    (lambda: Probe.three(1), "Probe.three() missing 2 required positional arguments: 'second' and 'third'"),
    (lambda: Probe.defaults(second=2), "Probe.defaults() missing 1 required positional argument: 'first'"),
]


@pytest.mark.parametrize("call, message", MATCHING)
def test_argument_matching_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_parameters_by_position_or_keyword_with_defaults():
    assert Probe.three(third="c", first="a", second="b") == ["a", "b", "c"]
    assert Probe.three("a", third="c", second="b") == ["a", "b", "c"]
    assert Probe.defaults(1) == (1, 7, False, None)
    assert Probe.defaults(1, third=True) == (1, 7, True, None)
    assert Probe.defaults(fourth="x", first=2, second=3) == (2, 3, False, "x")


# (method, argument, result)
ACCEPTED = [
    ("text", "abc", "abc"),
    ("text", "ünï ☃", "ünï ☃"),
    ("text", Text("sub"), "sub"),
    ("uint32", 0, 0),
    ("uint32", 2**32 - 1, 2**32 - 1),
    ("uint32", True, 1),
    ("uint32", numpy.int64(3), 3),
    ("uint32", Index(9), 9),
    ("flag", True, True),
    ("flag", False, False),
    ("flag", numpy.bool_(True), True),
    ("flag", numpy.False_, False),
    ("flag", type("bool_", (), {"__module__": "numpy", "__bool__": lambda self: True})(), True),
    ("float", 1.5, 1.5),
    ("float", 2, 2.0),
    ("float", Real(), 2.5),
    ("float", Index(4), 4.0),
    ("float", numpy.float32(0.5), 0.5),
    ("optional_float", None, None),
    ("optional_float", 3, 3.0),
    ("optional_text", None, None),
    ("optional_text", "x", "x"),
    ("text_float_map", {"a": 1, "b": 2.5}, {"a": 1.0, "b": 2.5}),
    ("text_float_map", Mapping(c=Real()), {"c": 2.5}),
    ("float_list", [1, 2.5], [1.0, 2.5]),
    ("float_list", (1, 2), [1.0, 2.0]),
    ("float_list", range(3), [0.0, 1.0, 2.0]),
    ("float_list", numpy.array([0.25, 0.5]), [0.25, 0.5]),
    ("float_list", [], []),
    ("float_rows", [[1], (2, 3), []], [[1.0], [2.0, 3.0], []]),
    ("index_rows", [[0, 1], (), range(2, 4)], [[0, 1], [], [2, 3]]),
    ("optional_texts", None, None),
    ("optional_texts", ("a", Text("b")), ["a", "b"]),
]


@pytest.mark.parametrize("method, argument, result", ACCEPTED)
def test_conversion_accepts(method, argument, result):
    converted = getattr(Probe, method)(argument)
    assert converted == result
    assert type(converted) is type(result)


FAKE_NUMPY_BOOL = type("bool_", (), {"__module__": "numpy"})()

# (method, argument, TypeError text after "argument 'value': ")
REFUSED = [
    ("text", 5, "'int' object cannot be cast as 'str'"),
    ("text", b"abc", "'bytes' object cannot be cast as 'str'"),
    ("optional_text", 1.0, "'float' object cannot be cast as 'str'"),
    ("uint32", 1.0, interpreter_text(lambda: operator.index(1.0))),
    ("uint32", "1", interpreter_text(lambda: operator.index("1"))),
    ("flag", 1, "'int' object cannot be cast as 'bool'"),
    ("flag", 0, "'int' object cannot be cast as 'bool'"),
    ("flag", None, "'NoneType' object cannot be cast as 'bool'"),
    ("flag", numpy.int64(1), "'int64' object cannot be cast as 'bool'"),
    ("flag", FAKE_NUMPY_BOOL, "object of type 'bool_' does not define a '__bool__' conversion"),
    ("text_float_map", [("a", 1.0)], "'list' object cannot be cast as 'dict'"),
    ("text_float_map", {1: 1.0}, "'int' object cannot be cast as 'str'"),
    ("float_list", "abc", "Can't extract `str` to `Vec`"),
    ("float_list", 5, "'int' object cannot be cast as 'Sequence'"),
    ("float_list", {"a": 1.0}, "'dict' object cannot be cast as 'Sequence'"),
    ("float_list", {1.0}, "'set' object cannot be cast as 'Sequence'"),
    ("float_rows", ["ab"], "Can't extract `str` to `Vec`"),
    ("float_rows", [1.0], "'float' object cannot be cast as 'Sequence'"),
    ("index_rows", "ab", "Can't extract `str` to `Vec`"),
    ("index_rows", [[1.0]], interpreter_text(lambda: operator.index(1.0))),
    ("optional_texts", "ab", "Can't extract `str` to `Vec`"),
    ("optional_texts", ["a", 1], "'int' object cannot be cast as 'str'"),
]


@pytest.mark.parametrize("method, argument, message", REFUSED)
def test_conversion_refuses_with_named_type_error(method, argument, message):
    with pytest.raises(TypeError) as info:
        getattr(Probe, method)(argument)
    assert type(info.value) is TypeError
    assert str(info.value) == f"argument 'value': {message}"


@pytest.mark.parametrize("method, argument", [
    ("float", "x"), ("optional_float", []), ("text_float_map", {"a": "x"}), ("float_list", [1.0, None]),
])
def test_float_conversion_errors_are_the_interpreters_named(method, argument):
    with pytest.raises(TypeError) as info:
        getattr(Probe, method)(argument)
    assert str(info.value).startswith("argument 'value': ")
    assert "real number" in str(info.value)


@pytest.mark.parametrize("method, argument, message", [
    ("uint32", 2**32, "out of range integral type conversion attempted"),
    ("uint32", 2**64 - 1, "out of range integral type conversion attempted"),
    ("index_rows", [[0], [2**32]], "out of range integral type conversion attempted"),
    ("uint32", -1, None),
    ("uint32", 2**64, None),
    ("index_rows", [[-1]], None),
])
def test_integers_out_of_range_raise_overflow_error_unwrapped(method, argument, message):
    with pytest.raises(OverflowError) as info:
        getattr(Probe, method)(argument)
    if message is not None:
        assert str(info.value) == message
    assert "argument" not in str(info.value)


def test_text_without_utf8_form_raises_the_encoding_error_unwrapped():
    with pytest.raises(UnicodeEncodeError):
        Probe.text("\ud800")


class RaisesFromIndex:
    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error


def test_wrapped_type_error_keeps_the_first_errors_cause():
    root = KeyError("root")
    first = TypeError("inner")
    first.__cause__ = root
    with pytest.raises(TypeError) as info:
        Probe.uint32(RaisesFromIndex(first))
    assert str(info.value) == "argument 'value': inner"
    assert info.value is not first
    assert info.value.__cause__ is root


@pytest.mark.parametrize("error", [ValueError("v"), type("Special", (TypeError,), {})("t")])
def test_other_conversion_errors_pass_unchanged(error):
    with pytest.raises(type(error)) as info:
        Probe.uint32(RaisesFromIndex(error))
    assert info.value is error


def test_item_errors_stop_at_the_first_bad_item():
    seen = []

    class Spy:
        def __init__(self, value):
            self.value = value

        def __float__(self):
            seen.append(self.value)
            return self.value

    with pytest.raises(TypeError):
        Probe.float_list([Spy(1.0), "bad", Spy(3.0)])
    assert seen == [1.0]


def test_stop_becomes_panic_exception_with_a_report(capfd):
    with pytest.raises(BaseException) as info:
        Probe.stop("it broke: ünï")
    panic = type(info.value)
    assert (panic.__module__, panic.__qualname__) == ("pyo3_runtime", "PanicException")
    assert issubclass(panic, BaseException) and not issubclass(panic, Exception)
    assert info.value.args == ("it broke: ünï",)
    assert "it broke: ünï" in capfd.readouterr().err
    # the class is made once and reused
    with pytest.raises(panic):
        Probe.stop("again")


# The first stop of a process, met while the interpreter's MemoryError is
# pending: the list of `get_values` cannot be made.
FIRST_STOP_WITHOUT_MEMORY = textwrap.dedent("""
    import tallo
    from binding_probe import Probe
    model = tallo.Tallo.compile('rain <- source("/rain", Probability).\\nrain -> target("/rain").')
    try:
        Probe.fail_next_allocation(model.get_values)
    except BaseException as error:
        print(type(error).__module__, type(error).__qualname__, error.args)
""")


def test_first_stop_while_memory_error_is_pending_is_panic_exception():
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.run([sys.executable, "-c", FIRST_STOP_WITHOUT_MEMORY], env=environment,
                           capture_output=True, text=True, timeout=60)
    assert child.stdout == "pyo3_runtime PanicException ('Python API call failed',)\n", child.stderr
    assert "Python API call failed" in child.stderr
