"""Helpers shared by the pytest files."""
import time

import pytest

POISONED = "called `Result::unwrap()` on an `Err` value: PoisonError { .. }"


def panic_of(call):
    """Runs `call`, which must stop; returns the PanicException it raised."""
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value).__qualname__ == "PanicException", repr(info.value)
    return info.value


def eventually(read, holds, timeout=10.0):
    """Polls `read()` until `holds(value)` or the timeout; returns the last value."""
    deadline = time.monotonic() + timeout
    while True:
        value = read()
        if holds(value) or time.monotonic() > deadline:
            return value
        time.sleep(0.002)


def close(a, b, tolerance=1e-9):
    return len(a) == len(b) and all(abs(x - y) <= tolerance for x, y in zip(a, b))
