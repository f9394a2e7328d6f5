"""ReactiveCircuit.to_svg and to_combined_svg through the Graphviz programs."""

import pytest

import tallo
from support import POISONED, panic_of


@pytest.fixture
def circuit():
    circuit = tallo.ReactiveCircuit(1)
    circuit.add_leaf([0.5], 0.0, "a")
    circuit.add_leaf([0.25], 0.0, "b")
    circuit.add_sum_product([[0, 1], [1]], "/t")
    circuit.update()
    return circuit


@pytest.fixture
def no_graphviz(tmp_path, monkeypatch):
    empty = tmp_path / "empty-path"
    empty.mkdir()
    monkeypatch.setenv("PATH", str(empty))


@pytest.mark.parametrize("keep_dot", [True, False])
def test_to_svg_keeps_the_dot_text_only_when_asked(circuit, tmp_path, keep_dot):
    path = tmp_path / "c.svg"
    assert circuit.to_svg(str(path), keep_dot) is None
    assert "<svg" in path.read_text(encoding="utf-8")
    files = sorted(p.name for p in tmp_path.iterdir())
    assert files == (["c.svg", "c.svg.dot"] if keep_dot else ["c.svg"])
    if keep_dot:
        assert (tmp_path / "c.svg.dot").read_text(encoding="utf-8").startswith("digraph ReactiveCircuit {")


def test_to_combined_svg_renders_the_circuit_and_its_nodes(circuit, tmp_path):
    path = tmp_path / "all.svg"
    assert circuit.to_combined_svg(path=str(path)) is None
    svg = path.read_text(encoding="utf-8")
    assert "<svg" in svg
    assert "L0·L1" in svg


def test_a_missing_directory_raises_ioerror_without_running_a_program(circuit, tmp_path, no_graphviz):
    missing = str(tmp_path / "missing" / "c.svg")
    calls = [
        lambda: circuit.to_svg(missing, True),
        lambda: circuit.to_svg(missing, False),
        lambda: circuit.to_combined_svg(missing),
    ]
    for call in calls:
        with pytest.raises(IOError) as info:
            call()
        assert type(info.value) is OSError
        assert str(info.value) == "No such file or directory (os error 2)"
    assert circuit.update() == {}, "nothing stopped, so the circuit is not poisoned"


@pytest.mark.parametrize("export", ["svg", "combined"])
def test_a_missing_graphviz_stops_and_poisons_the_circuit(circuit, tmp_path, no_graphviz, export):
    path = tmp_path / "c.svg"
    assert circuit.to_dot(str(tmp_path / "still.dot")) is None
    if export == "svg":
        stopped = panic_of(lambda: circuit.to_svg(str(path), True))
        assert (tmp_path / "c.svg.dot").read_text(encoding="utf-8").startswith("digraph")
    else:
        stopped = panic_of(lambda: circuit.to_combined_svg(str(path)))
        combined = path.read_text(encoding="utf-8")
        assert combined.startswith((tmp_path / "still.dot").read_text(encoding="utf-8"))
        assert combined.count("digraph AlgebraicCircuit") == 1, "the circuit's one node"
    assert str(stopped).startswith("Failed to run graphviz!")
    assert str(panic_of(circuit.update)) == POISONED


def test_an_unreadable_dot_text_is_no_error(tmp_path):
    circuit = tallo.ReactiveCircuit(1)
    circuit.add_leaf([0.5], 0.0, "a")
    circuit.add_sum_product([[0]], '/t"x')
    path = tmp_path / "bad.svg"
    assert circuit.to_svg(str(path), False) is None
    assert path.exists()

