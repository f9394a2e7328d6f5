"""The body every instance method shares (the work, then its result), through
the test-only module `binding_probe`: `Probe.holder(value)` makes an object
whose methods each return one kind of value from their work."""
import pytest

from binding_probe import Probe


@pytest.fixture
def holder():
    return Probe.holder(3)


def test_only_a_released_work_runs_without_the_interpreter_lock(holder):
    assert (holder.released_lock(), holder.held_lock()) == (0, 1)


@pytest.mark.parametrize("call, result", [
    (lambda holder: holder.nothing(), None),           # no value: None
    (lambda holder: holder.refused(""), None),         # no error: None
    (lambda holder: holder.outcome(""), 3),            # the value of a result
    (lambda holder: holder.handle(), 3),               # a plain value, on a copy of the handle
])
def test_the_returned_value_becomes_the_result(holder, call, result):
    assert call(holder) == result


@pytest.mark.parametrize("call", [
    lambda holder: holder.refused("Source 'x' not found"),
    lambda holder: holder.outcome("Source 'x' not found"),
])
def test_a_returned_error_raises_runtime_error_with_its_message(holder, call):
    with pytest.raises(RuntimeError) as info:
        call(holder)
    assert type(info.value) is RuntimeError
    assert info.value.args == ("Source 'x' not found",)


def test_a_returned_binding_value_becomes_a_new_object_of_its_class(holder):
    copy = holder.copy()
    assert type(copy) is Probe and copy is not holder
    assert copy.handle() == 3
