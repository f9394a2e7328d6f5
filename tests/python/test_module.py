"""The module `tallo`: its classes, their names and docstrings, and its import."""
import importlib
import os
import sys

import pytest

import tallo

CLASSES = [
    "Tallo",
    "ReactiveCircuit",
    "SharedVector",
    "ProbabilityWriter",
    "DensityWriter",
    "NumberWriter",
    "BooleanWriter",
    "CategoricalWriter",
]

WITHOUT_CONSTRUCTOR = [name for name in CLASSES if name != "ReactiveCircuit"]

CLASS_DOCS = {
    "Tallo": "A Python wrapper for the high-level `Tallo` language compiler and runtime.",
    "ReactiveCircuit": "",
    "SharedVector": "A wrapper around a shared, mutable `Vector` for timed writers.",
    "ProbabilityWriter": "Passes a probability vector straight through to the circuit.",
    "BooleanWriter": "Maps a Python bool to a probability: `True` → 1.0, `False` → 0.0.",
    "NumberWriter": "Fan-out number writer.  Compares a value vector against every registered\n"
    "threshold element-wise: 1.0 where the comparison holds, else 0.0.",
    "CategoricalWriter": "Sends a flat probability matrix `[col₀, col₁, …]` where each column has\n"
    "`value_size` entries, one per batch slot.  Accepts a flat list of length\n"
    "`n_categories * value_size`.",
    "DensityWriter": "Fan-out density writer.  A single call dispatches to every comparison\n"
    "threshold registered for the source, computing CDF or SF element-wise\n"
    "across all value-space slots (e.g. particle-filter particles).\n"
    "\n"
    "Supported distributions and their `params` layout (each inner list is a\n"
    "Vector with one value per particle / value-space slot):\n"
    '- `"normal"`      → `[means, stds]`\n'
    '- `"lognormal"`   → `[log_means, log_stds]`  (natural-log space)\n'
    '- `"exponential"` → `[rates]`\n'
    '- `"uniform"`     → `[lows, highs]`',
}


def test_module_holds_the_eight_classes_in_registration_order():
    public = [name for name in vars(tallo) if not name.startswith("__")]
    assert public == CLASSES
    assert tallo.__doc__ == ""


@pytest.mark.parametrize("name", CLASSES)
def test_class_is_named_under_builtins(name):
    cls = getattr(tallo, name)
    assert isinstance(cls, type)
    assert (cls.__module__, cls.__name__, cls.__qualname__) == ("builtins", name, name)
    assert repr(cls) == f"<class 'builtins.{name}'>"


@pytest.mark.parametrize("name", CLASSES)
def test_class_docstring(name):
    assert getattr(tallo, name).__doc__ == CLASS_DOCS[name]


@pytest.mark.parametrize("name", WITHOUT_CONSTRUCTOR)
def test_class_without_constructor_refuses_instances(name):
    cls = getattr(tallo, name)
    for call in (lambda: cls(), lambda: cls(1, key=2)):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == f"cannot create 'builtins.{name}' instances"


def test_reimport_returns_the_same_module_and_classes():
    classes = [getattr(tallo, name) for name in CLASSES]
    del sys.modules["tallo"]
    try:
        again = importlib.import_module("tallo")
    finally:
        sys.modules["tallo"] = tallo
    assert again is tallo
    assert [getattr(again, name) for name in CLASSES] == classes


def test_import_into_a_subinterpreter_fails():
    interpreters = pytest.importorskip("_xxsubinterpreters")
    folder = os.path.dirname(tallo.__file__)
    interpreter = interpreters.create()
    try:
        with pytest.raises(interpreters.RunFailedError) as info:
            interpreters.run_string(interpreter, f"import sys\nsys.path.insert(0, {folder!r})\nimport tallo\n")
    finally:
        interpreters.destroy(interpreter)
    assert "ImportError" in str(info.value)
    assert "does not support sub-interpreters" in str(info.value)
