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
    (lambda holder: holder.refused_value(""), None),   # the same for the other kinds of error
    (lambda holder: holder.io_outcome(""), 3),
    (lambda holder: holder.handle(), 3),               # a plain value, on a copy of the handle
])
def test_the_returned_value_becomes_the_result(holder, call, result):
    assert call(holder) == result


# Each kind of error raises its own class, not a subclass or a parent of it.
@pytest.mark.parametrize("call, exception", [
    (lambda holder: holder.refused("Source 'x' not found"), RuntimeError),
    (lambda holder: holder.outcome("Source 'x' not found"), RuntimeError),
    (lambda holder: holder.refused_value("Source 'x' not found"), ValueError),
    (lambda holder: holder.io_outcome("Source 'x' not found"), OSError),
])
def test_a_returned_error_raises_the_exception_of_its_kind_with_its_message(holder, call, exception):
    with pytest.raises(exception) as info:
        call(holder)
    assert type(info.value) is exception
    assert info.value.args == ("Source 'x' not found",)


def test_a_returned_binding_value_becomes_a_new_object_of_its_class(holder):
    copy = holder.copy()
    assert type(copy) is Probe and copy is not holder
    assert copy.handle() == 3
