"""Moving leaves between levels, adapting them to their change frequencies,
and writing a circuit's DOT text: the methods `lift_leaf`, `drop_leaf`,
`adapt` and `to_dot` of `ReactiveCircuit`."""
import math
import os

import pytest

import tallo
from support import POISONED, close, eventually, panic_of
from tallo import ReactiveCircuit

BOUNDS = "index out of bounds: the len is {} but the index is {}"
UNWRAP_NONE = "called `Option::unwrap()` on a `None` value"


def circuit_over(probabilities, rows, frequencies=None):
    """A LogProb circuit; a leaf's frequency is its initial timestamp until it changes."""
    circuit = ReactiveCircuit(1)
    for i, p in enumerate(probabilities):
        circuit.add_leaf([p], frequencies[i] if frequencies else 0.0, f"x{i}")
    circuit.add_sum_product(rows, "/t")
    return circuit


def test_moves_keep_the_target_and_mark_only_what_they_change():
    circuit = circuit_over([0.2, 0.3, 0.6], [[0, 1], [0, 2]])
    before = circuit.update()["/t"]
    assert close(before, [0.2 * 0.3 + 0.2 * 0.6])

    circuit.drop_leaf(0)
    assert circuit.update() == {}  # only new producers were marked, none a target
    assert close(circuit.full_update()["/t"], before)

    circuit.lift_leaf(0)  # back into the root
    circuit.lift_leaf(0)  # out of the root: a new root takes over the token
    assert close(circuit.update()["/t"], before)

    circuit.update_leaf(1, [0.9], 1.0)
    assert close(circuit.update()["/t"], [0.2 * 0.9 + 0.2 * 0.6])


@pytest.mark.parametrize("move", ["lift_leaf", "drop_leaf"])
def test_an_index_past_the_leaves_stops_and_poisons_the_circuit(move):
    circuit = circuit_over([0.2, 0.3], [[0, 1]])
    assert str(panic_of(lambda: getattr(circuit, move)(2))) == BOUNDS.format(2, 2)
    assert str(panic_of(circuit.update)) == POISONED


@pytest.mark.parametrize("call, error", [
    (lambda c: c.lift_leaf(-1), OverflowError),
    (lambda c: c.drop_leaf(2**32), OverflowError),
    (lambda c: c.drop_leaf("0"), TypeError),
    (lambda c: c.adapt(1.0, -1), OverflowError),
    (lambda c: c.adapt("1.0", 3), TypeError),
    (lambda c: c.to_dot(None), TypeError),
    (lambda c: c.lift_leaf(), TypeError),
])
def test_argument_errors_change_nothing(call, error):
    circuit = circuit_over([0.2, 0.3], [[0, 1]])
    with pytest.raises(error):
        call(circuit)
    assert list(circuit.update()) == ["/t"]


def test_adapt_prints_the_levels_and_moves_the_leaves(capfd):
    circuit = circuit_over([0.2, 0.3, 0.6, 0.9], [[0, 1], [2, 3], [1, 3]], frequencies=[0.5, 2.5, 10, 0.2])
    before = circuit.update()["/t"]
    circuit.adapt(1.0, 3)
    circuit.adapt(bin_size=1.0, number_bins=3)  # the same levels: nothing moves
    assert capfd.readouterr().out == "[2, 1, 0, 2]\n[2, 1, 0, 2]\n"
    assert circuit.update() == {}
    assert close(circuit.full_update()["/t"], before)

    circuit.adapt(1.0, 0)  # one bin: every leaf back at the root
    assert capfd.readouterr().out == "[0, 0, 0, 0]\n"
    assert close(circuit.full_update()["/t"], before)


def test_adapt_refuses_more_bins_than_the_machine_can_hold_before_anything_changes(capfd):
    bins = 2**32 - 1
    memory = os.sysconf("SC_PHYS_PAGES") * os.sysconf("SC_PAGESIZE")
    if memory // 2 >= bins * 8:
        pytest.skip("the machine could hold the boundaries")
    circuit = circuit_over([0.2, 0.3], [[0, 1]])
    assert str(panic_of(lambda: circuit.adapt(1.0, bins))) == (
        f"cannot adapt to {bins} bins: their boundaries would take {bins * 8} bytes, "
        f"more than half of the machine's physical memory ({memory} bytes)")
    assert capfd.readouterr().out == ""
    assert list(circuit.update()) == ["/t"]  # nothing moved, nothing poisoned
    circuit.adapt(1.0, 3)


def test_adapt_without_leaves_stops_before_printing(capfd):
    circuit = ReactiveCircuit(1)
    assert str(panic_of(lambda: circuit.adapt(1.0, 3))) == UNWRAP_NONE
    assert capfd.readouterr().out == ""


MODEL = """
rain <- source("/rain", Probability).
{sunny, cloudy} <- source("/sky", Categorical).
alarm if rain and sunny.
alarm if cloudy.
alarm -> target("/alarm").
"""


@pytest.mark.parametrize("semiring", ["LogProb", "MaxProduct", "Fuzzy", "Boolean", "ProbGradient"])
def test_a_models_circuit_keeps_its_target_through_moves_in_every_semiring(semiring, capfd):
    model = tallo.Tallo.compile(MODEL, semiring=semiring)
    model.make_writer("/rain").write([0.8], None)
    model.make_categorical_writer("/sky").write([0.3, 0.7], None)
    eventually(model.get_values, lambda v: v[0][0] != 0.0 and v[3][0] != 0.0)
    circuit = model.get_reactive_circuit()
    before = circuit.full_update()["/alarm"]

    leaves = len(model.get_values())
    for leaf in range(leaves):
        circuit.drop_leaf(leaf)
        assert close(circuit.full_update()["/alarm"], before)
    circuit.adapt(1.0, 2)
    for leaf in reversed(range(leaves)):
        circuit.lift_leaf(leaf)
        assert close(circuit.full_update()["/alarm"], before)
    assert capfd.readouterr().out.count("\n") == 1


def test_to_dot_writes_the_circuits_text(tmp_path):
    circuit = circuit_over([0.3, 0.5], [[0, 1]])
    circuit.drop_leaf(1)
    circuit.update()
    path = tmp_path / "circuit.dot"
    path.write_text("an older and much longer text that must not survive\n")
    assert circuit.to_dot(str(path)) is None
    assert path.read_text(encoding="utf-8") == (
        "digraph ReactiveCircuit {\n"
        '    node [color="chartreuse3" margin=0 penwidth=2];\n'
        '    edge [color="gray25" penwidth=2];\n'
        '    0 [shape="circle" label="P(/t) = \u03a3\u03a0\\nL0 M0"];\n'
        '    1 [shape="circle" label="P() = \u03a3\u03a0\\nL1"];\n'
        '    0 -> 1 [label="M0=-0.69" decorate="true"];\n'
        "}\n")


@pytest.mark.parametrize("name, message", [
    ("missing/circuit.dot", "No such file or directory (os error 2)"),
    ("bad\0name.dot", "file name contained an unexpected NUL byte"),
])
def test_to_dot_failures_raise_ioerror_and_leave_the_circuit_usable(tmp_path, name, message):
    circuit = circuit_over([0.3], [[0]])
    with pytest.raises(IOError) as info:
        circuit.to_dot(str(tmp_path / name))
    assert type(info.value) is OSError
    assert str(info.value) == message
    assert list(tmp_path.iterdir()) == []
    assert list(circuit.update()) == ["/t"]
