"""The class `ReactiveCircuit`: hand-built LogProb circuits, their updates and
their failures."""
import inspect
import math
import sys
import threading
import time

import pytest

from binding_probe import Probe
from support import POISONED, panic_of
from tallo import ReactiveCircuit


def circuit_with_leaves(*values, value_size=1):
    circuit = ReactiveCircuit(value_size)
    for i, value in enumerate(values):
        assert circuit.add_leaf(value, 0.0, f"leaf{i}") == i
    return circuit


@pytest.mark.parametrize("method, signature", [
    ("from_sum_product", "(value_size, sum_product, target_token)"),
    ("add_leaf", "($self, initial_value, initial_timestamp, token)"),
    ("update_leaf", "($self, leaf_index, new_value, timestamp)"),
    ("add_sum_product", "($self, sum_product, target_token)"),
    ("adapt", "($self, bin_size, number_bins)"),
    ("update", "($self)"),
    ("full_update", "($self)"),
    ("lift_leaf", "($self, index)"),
    ("drop_leaf", "($self, index)"),
    ("to_dot", "($self, path)"),
    ("to_svg", "($self, path, keep_dot)"),
    ("to_combined_svg", "($self, path)"),
])
def test_method_signatures_and_empty_docstrings(method, signature):
    function = getattr(ReactiveCircuit, method)
    assert function.__text_signature__ == signature
    assert function.__doc__ is None
    inspect.signature(function)  # the interpreter can read it


def test_constructor_signature_and_static_method():
    assert str(inspect.signature(ReactiveCircuit)) == "(value_size)"
    assert isinstance(inspect.getattr_static(ReactiveCircuit, "from_sum_product"), staticmethod)


@pytest.mark.parametrize("call, error, message", [
    (lambda: ReactiveCircuit(), TypeError, "ReactiveCircuit.__new__() missing 1 required positional argument: 'value_size'"),
    (lambda: ReactiveCircuit(1, 2), TypeError, "ReactiveCircuit.__new__() takes 1 positional arguments but 2 were given"),
    (lambda: ReactiveCircuit(size=1), TypeError, "ReactiveCircuit.__new__() got an unexpected keyword argument 'size'"),
    (lambda: ReactiveCircuit(2**32), OverflowError, "out of range integral type conversion attempted"),
    (lambda: ReactiveCircuit(-1), OverflowError, None),
    (lambda: ReactiveCircuit(1.0), TypeError, "argument 'value_size': 'float' object cannot be interpreted as an integer"),
    (lambda: ReactiveCircuit.from_sum_product(1, "01", "/t"), TypeError, "argument 'sum_product': Can't extract `str` to `Vec`"),
    (lambda: ReactiveCircuit(1).add_leaf("0.5", 0.0, "a"), TypeError, "argument 'initial_value': Can't extract `str` to `Vec`"),
    (lambda: ReactiveCircuit(1).add_leaf([0.5], 0.0, 7), TypeError, "argument 'token': 'int' object cannot be cast as 'str'"),
    (lambda: ReactiveCircuit(1).add_leaf([0.5], 0.0, "a", **{"\ud800": 1}), TypeError, "ReactiveCircuit.add_leaf() got an unexpected keyword argument '\\ud800'"),
    (lambda: ReactiveCircuit(1, **{"\udcff": 1}), TypeError, "ReactiveCircuit.__new__() got an unexpected keyword argument '\\udcff'"),
    (lambda: ReactiveCircuit(1).update_leaf(0, [0.5]), TypeError, "ReactiveCircuit.update_leaf() missing 1 required positional argument: 'timestamp'"),
    (lambda: ReactiveCircuit(1).update_leaf(-1, [0.5], 0.0), OverflowError, None),
    (lambda: ReactiveCircuit(1).add_sum_product([[0, -1]], "/t"), OverflowError, None),
    (lambda: ReactiveCircuit(1).add_sum_product([[0]], target_token=None), TypeError, "argument 'target_token': 'NoneType' object cannot be cast as 'str'"),
])
def test_argument_errors(call, error, message):
    with pytest.raises(error) as info:
        call()
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message


def test_no_argument_methods_refuse_arguments():
    with pytest.raises(TypeError):
        ReactiveCircuit(1).update(1)
    with pytest.raises(TypeError):
        ReactiveCircuit(1).full_update(force=True)


def test_failed_conversion_changes_nothing():
    circuit = ReactiveCircuit(1)
    with pytest.raises(TypeError):
        circuit.add_leaf([0.5], "now", "a")
    assert circuit.add_leaf((0.5,), 0, "a") == 0


def test_new_circuit_updates_to_empty_dicts():
    circuit = ReactiveCircuit(1)
    assert circuit.update() == {}
    assert circuit.full_update() == {}


def test_add_leaf_counts_up_whatever_the_token():
    circuit = ReactiveCircuit(1)
    assert [circuit.add_leaf([0.5], 0.0, token) for token in ("a", "a", "", "b")] == [0, 1, 2, 3]
    assert circuit.add_leaf(initial_value=[0.1, 0.2], initial_timestamp=3, token="wide") == 4


# (leaf values, value_size, rows, expected value of "/t")
VALUES = [
    ([[0.5]], 1, [[0]], [0.5]),
    ([[0.5], [0.4]], 1, [[0, 1]], [0.2]),
    ([[0.5], [0.4]], 1, [[0], [1]], [0.9]),
    ([[0.5], [0.4]], 1, [[0, 1], [1]], [0.6]),
    ([[0.5, 0.25]], 2, [[0]], [0.5, 0.25]),
    ([[0.5, 0.25], [0.5]], 2, [[0, 1]], [0.25, 0.125]),  # a one-element leaf serves every slot
    ([[0.5]], 1, [[]], [1.0]),
    ([[0.5]], 1, [], [0.0]),
    ([[0.0]], 1, [[0]], [0.0]),
]


@pytest.mark.parametrize("leaves, value_size, rows, expected", VALUES)
def test_logprob_values(leaves, value_size, rows, expected):
    circuit = circuit_with_leaves(*leaves, value_size=value_size)
    circuit.add_sum_product(rows, "/t")
    result = circuit.update()
    assert list(result) == ["/t"]
    assert result["/t"] == pytest.approx(expected, rel=1e-12, abs=1e-300)
    assert all(type(x) is float for x in result["/t"])


def test_single_leaf_reports_exp_of_its_log():
    circuit = circuit_with_leaves([0.5])
    circuit.add_sum_product([[0]], "/t")
    assert circuit.update() == {"/t": [math.exp(math.log(0.5))]}


def test_update_reports_only_recomputed_targets():
    circuit = circuit_with_leaves([0.5], [0.4])
    circuit.add_sum_product([[0, 1]], "/t")
    assert list(circuit.update()) == ["/t"]
    assert circuit.update() == {}
    assert list(circuit.full_update()) == ["/t"]
    assert circuit.update() == {}

    circuit.add_sum_product([[1]], "/u")
    assert list(circuit.update()) == ["/u"]
    circuit.update_leaf(0, [0.25], 1.0)
    assert circuit.update() == {"/t": [pytest.approx(0.1)]}
    circuit.update_leaf(1, [0.5], 2.0)
    assert circuit.update() == {"/t": [pytest.approx(0.125)], "/u": [pytest.approx(0.5)]}
    assert sorted(circuit.full_update()) == ["/t", "/u"]


@pytest.mark.parametrize("new_value, changed", [
    ([0.5], False),
    ([0.5004], False),  # within the change tolerance after encoding
    ([0.6], True),
    ([0.5, 0.5], True),  # another length is always a change
])
def test_update_leaf_marks_only_real_changes(new_value, changed):
    circuit = circuit_with_leaves([0.5], value_size=2)
    circuit.add_sum_product([[0]], "/t")
    circuit.update()
    circuit.update_leaf(0, new_value, 1.0)
    assert ("/t" in circuit.update()) == changed


def test_from_sum_product_builds_a_dirty_logprob_node():
    circuit = ReactiveCircuit.from_sum_product(1, [[0, 1]], "/t")
    assert type(circuit) is ReactiveCircuit
    circuit.add_leaf([0.5], 0.0, "a")
    circuit.add_leaf([0.5], 0.0, "b")
    assert circuit.update() == {"/t": [pytest.approx(0.25)]}
    assert circuit.update() == {}


@pytest.mark.parametrize("call, message", [
    (lambda: ReactiveCircuit(0), "value_size needs to be positive integer greater than 0!"),
    (lambda: ReactiveCircuit.from_sum_product(1, [], "/t"), "sum_product cannot be empty!"),
    (lambda: ReactiveCircuit.from_sum_product(1, [[0]], ""), "target_token cannot be empty!"),
    (lambda: ReactiveCircuit.from_sum_product(0, [[0]], "/t"), "value_size needs to be positive integer greater than 0!"),
])
def test_construction_stops_as_panic_exception(call, message, capfd):
    panic = panic_of(call)
    assert isinstance(panic, BaseException) and not isinstance(panic, Exception)
    assert type(panic).__module__ == "pyo3_runtime"
    assert panic.args == (message,)
    assert message in capfd.readouterr().err


def test_stop_under_the_circuit_lock_poisons_every_later_call(capfd):
    circuit = circuit_with_leaves([0.5], [0.5])
    circuit.add_sum_product([[0, 1]], "/t")
    panic = panic_of(lambda: circuit.update_leaf(5, [0.5], 1.0))
    assert panic.args == ("index out of bounds: the len is 2 but the index is 5",)
    assert "the len is 2 but the index is 5" in capfd.readouterr().err
    for call in (
        circuit.update,
        circuit.full_update,
        lambda: circuit.add_leaf([0.5], 0.0, "c"),
        lambda: circuit.update_leaf(0, [0.1], 2.0),
        lambda: circuit.add_sum_product([[0]], "/u"),
    ):
        assert panic_of(call).args == (POISONED,)
    # another circuit is untouched
    assert ReactiveCircuit(1).update() == {}


def test_update_result_the_interpreter_cannot_make_raises_its_own_error(capfd):
    circuit = circuit_with_leaves([0.5])
    circuit.add_sum_product([[0]], "/t")
    for update in (circuit.update, circuit.full_update):
        with pytest.raises(MemoryError):
            Probe.fail_next_allocation(update)
    assert capfd.readouterr().err == ""  # no stop, so no report
    # the circuit was updated all the same, and is not poisoned
    assert circuit.update() == {}
    assert list(circuit.full_update()) == ["/t"]


def test_add_sum_product_with_a_missing_leaf_stops_and_poisons():
    circuit = circuit_with_leaves([0.5], [0.5])
    panic = panic_of(lambda: circuit.add_sum_product([[0], [7]], "/t"))
    assert panic.args == ("index out of bounds: the len is 2 but the index is 7",)
    assert panic_of(circuit.update).args == (POISONED,)


def test_circuit_calls_release_the_interpreter_lock():
    """With forced switching effectively off, the main thread can only run
    while the worker thread is inside a call that released the lock. If the
    calls kept it, the worker would run on to its deadline."""
    circuit = circuit_with_leaves(*([[0.5] * 64] * 64), value_size=64)
    circuit.add_sum_product([list(range(64))] * 64, "/t")
    calls = 0
    stop = False
    deadline = time.monotonic() + 20.0
    stopped_by_deadline = None

    def work():
        nonlocal calls, stopped_by_deadline
        while not stop:
            if time.monotonic() > deadline:
                stopped_by_deadline = True
                return
            calls += 1
            circuit.full_update()
        stopped_by_deadline = False

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000.0)
    try:
        worker = threading.Thread(target=work)
        worker.start()
        while calls == 0 and worker.is_alive():
            time.sleep(0.001)
        stop = True
        worker.join()
    finally:
        sys.setswitchinterval(interval)
    assert stopped_by_deadline is False


def test_threads_share_one_circuit():
    threads_count, rounds = 4, 200
    circuit = circuit_with_leaves(*([[0.5]] * threads_count))
    circuit.add_sum_product([[i] for i in range(threads_count)], "/t")
    failures = []

    def feed(leaf):
        try:
            for r in range(rounds):
                circuit.update_leaf(leaf, [0.01 * (r % 50 + 1)], float(r))
                circuit.update()
        except BaseException as error:  # noqa: B902 - a PanicException must fail the test too
            failures.append(error)

    threads = [threading.Thread(target=feed, args=(i,)) for i in range(threads_count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    last = 0.01 * ((rounds - 1) % 50 + 1)
    assert circuit.full_update() == {"/t": [pytest.approx(threads_count * last)]}
