"""The module `tallo`: its classes, their names and docstrings, and its import."""
import importlib
import os
import subprocess
import sys
import textwrap

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


# Imports the module into the interpreters named on the command line, in that
# order ("main" or "sub", a new sub-interpreter each), and prints what each
# import gave. A process of its own, so that no import came before.
IMPORTS_IN_ORDER = textwrap.dedent("""
    import sys
    import _xxsubinterpreters as interpreters

    def import_into(which):
        if which == "main":
            import tallo
            return "imported" if tallo.Tallo.compile("a.").get_names() == [] else "broken"
        interpreter = interpreters.create()
        try:
            interpreters.run_string(interpreter, "import tallo")
            return "imported"
        except interpreters.RunFailedError as error:
            return str(error)
        finally:
            interpreters.destroy(interpreter)

    for which in sys.argv[1:]:
        print(which, import_into(which))
""")

REFUSED = "<class 'ImportError'>: the module tallo does not support sub-interpreters"


@pytest.mark.parametrize("order, outcomes", [
    (["main", "sub"], ["imported", REFUSED]),
    (["sub", "main", "sub"], [REFUSED, "imported", REFUSED]),
])
def test_a_subinterpreter_is_refused_whenever_it_imports_and_the_main_interpreter_never_is(order, outcomes):
    pytest.importorskip("_xxsubinterpreters")
    child = subprocess.run([sys.executable, "-c", IMPORTS_IN_ORDER, *order], capture_output=True, text=True,
                           timeout=120, env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == [f"{which} {outcome}" for which, outcome in zip(order, outcomes)]
