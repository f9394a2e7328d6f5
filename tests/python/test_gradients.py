"""Gradients by leaf name and gradient steps on leaf and rule probabilities."""

import pytest

import tallo
from support import close, eventually

# P(wet) = rain * cause: the world where rain and the rule's cause both hold.
WET = """
rain <- source("/rain", Probability).
wet <- P(0.9) if rain.
wet -> target("/wet").
"""

# Two sources, one probabilistic rule per source, and a rule with a variable
# head grounded twice: the groups w#0, w#1 and q#0.
GROUPS = """
a <- source("/a", Probability).
b <- source("/b", Probability).
r(x). r(y).
w <- P(0.9) if a.
w <- P(0.8) if b.
q(X) <- P(0.4) if r(X) and a.
t if w.
t if q(X).
t -> target("/t").
"""

NOT_GRADIENT = ["logprob", "maxproduct", "fuzzy", "boolean"]


def compiled(model, semiring="probgradient"):
    return tallo.Tallo.compile(model, 1, False, semiring)


def probabilities(model):
    return dict(zip(model.get_names(), (v[0] for v in model.get_values())))


def test_gradient_update_reports_hand_computed_derivatives():
    model = compiled(WET)
    circuit = model.get_reactive_circuit()
    names = model.get_names()
    assert names == ["rain", "-rain", "wet_cause_0", "-wet_cause_0"]

    first = circuit.gradient_update()
    assert list(first) == ["/wet"]
    assert list(first["/wet"]) == ["probability", "gradients"]
    assert first["/wet"]["probability"] == 0.0
    assert first["/wet"]["gradients"]["rain"] == pytest.approx(0.9)
    assert first["/wet"]["gradients"]["wet_cause_0"] == 0.0

    assert circuit.gradient_update() == {}, "nothing changed since"

    circuit.update_leaf(0, [0.5], 1.0)
    after = circuit.gradient_update()["/wet"]
    assert after["probability"] == pytest.approx(0.45)
    assert after["gradients"] == pytest.approx({"rain": 0.9, "-rain": 0.0, "wet_cause_0": 0.5, "-wet_cause_0": 0.0})

    full = circuit.full_gradient_update()
    assert full["/wet"]["probability"] == after["probability"]
    assert full["/wet"]["gradients"] == after["gradients"]
    assert full["/wet"]["probability"] == circuit.full_update()["/wet"][0]


def test_a_target_whose_vector_lacks_the_new_leaf_is_left_out():
    circuit = compiled(WET).get_reactive_circuit()
    circuit.add_leaf([0.5], 0.0, "late")
    assert circuit.full_gradient_update() == {}


def test_fit_steps_the_selected_leaves_and_clamps():
    model = compiled(WET)
    circuit = model.get_reactive_circuit()
    circuit.update_leaf(0, [0.3], 1.0)
    circuit.update()

    assert circuit.fit({"rain": 0.5}, 1.0, 1.0, [], 2.0) is None
    assert circuit.fit({}, 1.0, 1.0, None, 2.0) is None
    assert circuit.gradient_update() == {}, "no leaf changed"

    circuit.fit({"rain": 0.5, "wet_cause_0": -1.0, "ghost": 1.0}, 1.0, 1.0, None, 3.0)
    assert probabilities(model) == pytest.approx({"rain": 0.0, "-rain": 1.0, "wet_cause_0": 1.0, "-wet_cause_0": 0.1})

    circuit.fit({"rain": -0.25, "wet_cause_0": 1.0}, 2.0, 1.0, ["rain"], 4.0)
    assert probabilities(model)["rain"] == pytest.approx(0.5)
    assert probabilities(model)["wet_cause_0"] == 1.0
    assert circuit.gradient_update()["/wet"]["probability"] == pytest.approx(0.5)


def test_parameter_groups_in_every_semiring():
    for semiring in NOT_GRADIENT + ["probgradient"]:
        groups = compiled(GROUPS, semiring).get_parameter_groups()
        # A variable head's groundings stand in the order the solver met them.
        assert {key: sorted(names) for key, names in groups.items()} == {
            "w#0": ["w_cause_0"],
            "w#1": ["w_cause_1"],
            "q#0": ["q_cause_0(x)", "q_cause_0(y)"],
        }, semiring
    assert compiled(WET.replace("<- P(0.9) ", "")).get_parameter_groups() == {}


def test_fit_parameters_gives_a_group_one_shared_value():
    model = compiled(GROUPS)
    before = probabilities(model)
    # lr * loss = 0.5; q#0: 0.4 - (0.1 + 0.3) * 0.5 for both groundings.
    gradients = {"q_cause_0(x)": 0.1, "q_cause_0(y)": 0.3, "w_cause_0": -1.0, "a": 5.0}

    model.fit_parameters(gradients, 0.5, 1.0, [], 1.0)
    assert probabilities(model) == before

    model.fit_parameters(gradients, 0.5, 1.0, ["q#0", "nothing"], 1.0)
    after = probabilities(model)
    assert after["q_cause_0(x)"] == after["q_cause_0(y)"] == pytest.approx(0.2)
    assert after["-q_cause_0(x)"] == after["-q_cause_0(y)"] == pytest.approx(0.8)
    assert after["w_cause_0"] == before["w_cause_0"]

    model.fit_parameters(gradients, 0.5, 1.0, None, 2.0)
    after = probabilities(model)
    assert after["w_cause_0"] == 1.0 and after["-w_cause_0"] == 0.0
    assert after["w_cause_1"] == pytest.approx(0.8), "no derivatives: the first leaf's own value"
    assert after["a"] == before["a"], "sources are in no group"


def test_source_gradients_by_atom_or_channel():
    model = compiled(
        """
        rain <- source("/rain", Probability).
        temp <- source("/temp", Number).
        {sunny, cloudy} <- source("/sky", Categorical).
        hot <- P(0.5) if temp > 30.
        out if rain. out if hot. out if sunny.
        out -> target("/out").
        """
    )
    gradients = model.get_reactive_circuit().full_gradient_update()["/out"]["gradients"]
    for atom, channel, names in [
        ("rain", "/rain", {"rain"}),
        ("temp", "/temp", {"temp_gt_30"}),
        (None, "/sky", {"sunny", "cloudy"}),
    ]:
        by_channel = model.source_gradients(gradients, channel)
        assert by_channel == {name: gradients[name] for name in names}
        assert model.source_gradients_for(gradients, channel) == by_channel
        if atom:
            assert model.source_gradients_for(atom_name=atom, gradients=gradients) == by_channel
            assert model.source_gradients(gradients, atom) == by_channel
    assert model.source_gradients({"-rain": 1.0}, "rain") == {}
    assert model.source_gradients(gradients, "nothing") == {}


SKY = """
{sunny, cloudy, rainy} <- source("/sky", Categorical).
t if cloudy.
t if rainy.
t -> target("/t").
"""


# A host writes n_categories() * value_size() values, each category's block
# one entry per batch slot; the reader splits by the same width. ProbGradient
# has one batch slot, however wide its derivative vectors are.
@pytest.mark.parametrize("semiring, value_size", [("probgradient", 1), ("logprob", 3)])
def test_categorical_writer_value_size_is_the_width_its_reader_splits_by(semiring, value_size):
    model = tallo.Tallo.compile(SKY, value_size if semiring == "logprob" else 1, False, semiring)
    writer = model.make_categorical_writer("/sky")
    assert (writer.n_categories(), writer.value_size()) == (3, value_size)
    flat = [p for p in (0.6, 0.3, 0.1) for _ in range(writer.value_size())]
    writer.write(flat, None)
    values = eventually(model.get_values, lambda v: close([x[0] for x in v], [0.6, 0.3, 0.1]))
    assert [x for v in values for x in v[:value_size]] == pytest.approx(flat)
    circuit = model.get_reactive_circuit()
    assert circuit.full_update()["/t"][:value_size] == pytest.approx([0.4] * value_size)
    if semiring == "probgradient":
        result = circuit.full_gradient_update()["/t"]
        assert result["probability"] == pytest.approx(0.4)
        assert result["gradients"] == pytest.approx({"sunny": 0.0, "cloudy": 1.0, "rainy": 1.0})


@pytest.mark.parametrize("semiring", NOT_GRADIENT)
def test_gradient_methods_need_the_gradient_semiring(semiring):
    model = compiled(WET, semiring)
    circuit = model.get_reactive_circuit()
    calls = [
        (lambda: circuit.gradient_update(), "gradient_update requires the ProbGradient semiring"),
        (lambda: circuit.full_gradient_update(), "full_gradient_update requires the ProbGradient semiring"),
        (lambda: circuit.fit({"rain": 1.0}, 1.0, 1.0, None, 1.0), "fit requires the ProbGradient semiring"),
        (lambda: model.fit_parameters({}, 1.0, 1.0, None, 1.0), "fit_parameters requires the ProbGradient semiring"),
        (lambda: model.source_gradients({}, "rain"), "source_gradients requires the ProbGradient semiring"),
        (lambda: model.source_gradients_for({}, "rain"), "source_gradients requires the ProbGradient semiring"),
    ]
    values = model.get_values()
    for call, text in calls:
        with pytest.raises(RuntimeError) as info:
            call()
        assert str(info.value) == text
    assert model.get_values() == values


def test_a_hand_built_circuit_is_not_a_gradient_circuit():
    with pytest.raises(RuntimeError) as info:
        tallo.ReactiveCircuit(1).gradient_update()
    assert str(info.value) == "gradient_update requires the ProbGradient semiring"


@pytest.mark.parametrize("owner, method, signature", [
    (tallo.ReactiveCircuit, "gradient_update", "($self)"),
    (tallo.ReactiveCircuit, "full_gradient_update", "($self)"),
    (tallo.ReactiveCircuit, "fit", "($self, gradients, lr, loss, atoms, timestamp)"),
    (tallo.Tallo, "source_gradients_for", "($self, gradients, atom_name)"),
    (tallo.Tallo, "source_gradients", "($self, gradients, channel)"),
    (tallo.Tallo, "fit_parameters", "($self, gradients, lr, loss, parameters, timestamp)"),
])
def test_signatures(owner, method, signature):
    assert getattr(owner, method).__text_signature__ == signature


def test_docstrings():
    refusal = "Raises `RuntimeError` if the semiring is not `ProbGradient`."
    circuit = tallo.ReactiveCircuit
    assert circuit.gradient_update.__doc__ == "Reactive update with gradients unpacked by leaf name.\n" + refusal
    assert circuit.full_gradient_update.__doc__ == (
        "Full (invalidating) update with gradients unpacked by leaf name.\n" + refusal
    )
    assert circuit.fit.__doc__ == "One gradient-descent step over leaf probabilities.\n" + refusal
    tail = [
        "",
        '`gradients` is the inner `"gradients"` dict from a `gradient_update` /',
        "`full_gradient_update` result (i.e. `{leaf_name: float}`).",
        refusal,
    ]
    assert tallo.Tallo.source_gradients.__doc__.split("\n") == [
        "Returns the gradients for a single source looked up by **channel name**."
    ] + tail
    assert tallo.Tallo.source_gradients_for.__doc__.split("\n") == [
        "Returns the gradients for a single source looked up by **atom name**."
    ] + tail
    assert tallo.Tallo.fit_parameters.__doc__.split("\n") == [
        "Applies one gradient-descent step to `P(...)` clause parameters.",
        "",
        "Aggregates gradients across all groundings of each parameter group,",
        "then applies a single shared update so all groundings stay in sync.",
        "Source atoms and comparison atoms are never modified.",
        "",
        refusal,
    ]
