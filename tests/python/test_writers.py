"""The writer classes and SharedVector, fed through compiled models."""
import inspect
import math

import numpy
import pytest

import tallo
from support import close, eventually

SENSORS = """
door <- source("/door", Boolean).
temp <- source("/temp", Number).
level <- source("/level", Density).
{sunny, cloudy, rainy} <- source("/sky", Categorical).
hot if temp > 3.
cold if temp < 3.
high if level > 0.
"""

# leaf names in index order
NAMES = ["door", "-door", "temp_gt_3", "-temp_gt_3", "temp_lt_3", "-temp_lt_3",
         "level_gt_0", "-level_gt_0", "sunny", "cloudy", "rainy"]


def leaf(model, name):
    return model.get_values()[NAMES.index(name)]


def wait_for(model, name, expected):
    value = eventually(lambda: leaf(model, name), lambda v: close(v, expected))
    assert close(value, expected), (name, value, expected)


@pytest.fixture
def model():
    compiled = tallo.Tallo.compile(SENSORS, value_size=3)
    assert compiled.get_names() == NAMES
    return compiled


@pytest.mark.parametrize("cls, method, signature", [
    ("ProbabilityWriter", "write", "($self, value, timestamp)"),
    ("BooleanWriter", "write", "($self, value, timestamp)"),
    ("NumberWriter", "write", "($self, value, timestamp)"),
    ("DensityWriter", "write", "($self, distribution, params, timestamp)"),
    ("CategoricalWriter", "write", "($self, probabilities, timestamp)"),
    ("CategoricalWriter", "n_categories", "($self)"),
    ("CategoricalWriter", "value_size", "($self)"),
    ("SharedVector", "get", "($self)"),
    ("SharedVector", "set", "($self, value)"),
])
def test_method_signatures(cls, method, signature):
    function = getattr(getattr(tallo, cls), method)
    assert function.__text_signature__ == signature
    assert function.__doc__ is None
    inspect.signature(function)


def test_writer_classes_by_source_type(model):
    assert [type(model.make_writer(c)).__name__ for c in ("/door", "/temp", "/level")] == [
        "BooleanWriter", "NumberWriter", "DensityWriter"]


def test_timestamp_must_be_passed(model):
    writer = model.make_writer("/door")
    with pytest.raises(TypeError) as info:
        writer.write(True)
    assert str(info.value) == "BooleanWriter.write() missing 1 required positional argument: 'timestamp'"
    writer.write(True, None)


@pytest.mark.parametrize("value", [1, 0, None, "True"])
def test_boolean_writer_takes_only_bools(model, value):
    with pytest.raises(TypeError) as info:
        model.make_writer("/door").write(value, None)
    assert str(info.value) == f"argument 'value': '{type(value).__name__}' object cannot be cast as 'bool'"


def test_boolean_writer_sends_one_element_and_the_complement_follows(model):
    writer = model.make_writer("/door")
    writer.write(True, None)
    wait_for(model, "door", [1.0])
    wait_for(model, "-door", [0.0])
    writer.write(numpy.False_, 5.0)
    wait_for(model, "door", [0.0])


@pytest.mark.parametrize("semiring", ["Fuzzy", "Boolean"])
def test_boolean_write_fills_every_slot_where_leaves_need_one_element_each(semiring):
    model = tallo.Tallo.compile('door <- source("/door", Boolean).\nopen if door.\nopen -> target("/open").',
                                value_size=2, semiring=semiring)
    model.make_writer("/door").write(True, None)
    assert eventually(lambda: model.get_values()[0], lambda v: v == [1.0, 1.0]) == [1.0, 1.0]
    assert model.get_reactive_circuit().full_update() == {"/open": [1.0, 1.0]}


def test_number_writer_compares_strictly_against_every_threshold(model):
    writer = model.make_writer("/temp")
    writer.write([1.0, 5.0, math.nan], 2.0)
    wait_for(model, "temp_gt_3", [0.0, 1.0, 0.0])
    wait_for(model, "temp_lt_3", [1.0, 0.0, 0.0])
    writer.write([3.0, 3.0, 3.0], 3.0)
    wait_for(model, "temp_gt_3", [0.0, 0.0, 0.0])
    wait_for(model, "temp_lt_3", [0.0, 0.0, 0.0])


@pytest.mark.parametrize("name", ["normal", "Normal", "NORMAL"])
def test_density_writer_folds_the_name(model, name):
    model.make_writer("/level").write(name, [[0.0, 1.0, -1.0], [1.0, 1.0, 1.0], [9.0]], None)
    wait_for(model, "level_gt_0", [0.4999999995, 0.8413447361676363, 1 - 0.8413447361676363])


def test_density_writer_exponential_uses_only_its_first_row(model):
    model.make_writer("/level").write("exponential", [[1.0], [9.0]], None)
    wait_for(model, "level_gt_0", [1.0])


@pytest.mark.parametrize("name, params, message", [
    ("normal", [[0.0]], "Normal requires [[means], [stds]]"),
    ("lognormal", [[0.0]], "LogNormal requires [[log_means], [log_stds]]"),
    ("exponential", [], "Exponential requires [[rates]]"),
    ("uniform", [[0.0]], "Uniform requires [[lows], [highs]]"),
    ("Gamma", [], "Unknown distribution 'gamma'. Supported: normal, lognormal, exponential, uniform"),
])
def test_density_writer_refusals_send_nothing(model, name, params, message):
    writer = model.make_writer("/level")
    with pytest.raises(ValueError) as info:
        writer.write(name, params, None)
    assert str(info.value) == message
    # a later good write is the first to arrive
    writer.write("uniform", [[-1.0], [1.0]], None)
    wait_for(model, "level_gt_0", [0.5])


def test_categorical_writer_blocks_that_do_not_fit_keep_their_values(model):
    writer = model.make_categorical_writer("/sky")
    assert (writer.n_categories(), writer.value_size()) == (3, 3)
    writer.write([0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9], None)
    wait_for(model, "rainy", [0.7, 0.8, 0.9])
    writer.write((0.9, 0.8, 0.7, 0.6), None)
    wait_for(model, "sunny", [0.9, 0.8, 0.7])
    assert close(leaf(model, "cloudy"), [0.4, 0.5, 0.6])
    assert close(leaf(model, "rainy"), [0.7, 0.8, 0.9])


def test_probability_writer_passes_any_length():
    model = tallo.Tallo.compile('rain <- source("/rain", Probability).', value_size=2)
    writer = model.make_writer("/rain")
    with pytest.raises(TypeError) as info:
        writer.write("0.5", None)
    assert str(info.value) == "argument 'value': Can't extract `str` to `Vec`"
    writer.write((0.25, 0.5, 0.75), 1.0)
    assert eventually(lambda: model.get_values()[0], lambda v: len(v) == 3) == [0.25, 0.5, 0.75]


def test_shared_vector_set_and_get(model):
    vector = model.make_timed_writer("/temp", 1.0)
    assert vector.get() == [0.0, 0.0, 0.0]
    vector.set([])
    assert vector.get() == []
    vector.set(numpy.array([1.0, 2.0]))
    assert vector.get() == [1.0, 2.0]
    model.stop_timed_writers()
