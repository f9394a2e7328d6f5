"""The example programs run from one command each; here at a small size."""
import ast
import os
import re
import subprocess
import sys
from pathlib import Path
from statistics import NormalDist

import pytest

import tallo

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
sys.path.insert(0, str(EXAMPLES))
import wait_for_writes  # noqa: E402  (the examples' own helper, beside them)


def run(tmp_path, name, *args, cpu=None):
    path = os.pathsep.join(str(Path(p).resolve()) for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p)
    pin = None if cpu is None else (lambda: os.sched_setaffinity(0, {cpu}))
    done = subprocess.run([sys.executable, str(EXAMPLES / name), *args], cwd=tmp_path, capture_output=True,
                          text=True, timeout=300, env={**os.environ, "PYTHONPATH": path}, preexec_fn=pin)
    assert done.returncode == 0, done.stderr
    return done.stdout


def occupied(motion, is_open, ppm, mean, spread, is_day):
    """The sensor-fusion model's target, worked out here: its four rules for
    `present` are independent causes, so P(occupied) is their noisy-or."""
    causes = [0.9 * motion, 0.6 * (is_open and is_day), 0.7 * (ppm > 800), 0.8 * NormalDist(mean, spread).cdf(3)]
    none = 1.0
    for p in causes:
        none *= 1.0 - p
    return 1.0 - none


def test_sensor_fusion_reports_each_steps_own_readings(tmp_path):
    # A step that updated before all five of its writes had arrived would
    # report values from the previous step's readings; a process held to one
    # core lets the reader threads fall behind most often.
    source = (EXAMPLES / "sensor_fusion.py").read_text()
    readings = next(ast.literal_eval(node.value) for node in ast.parse(source).body
                    if isinstance(node, ast.Assign) and getattr(node.targets[0], "id", None) == "READINGS")
    expected = [occupied(*reading) for reading in readings]
    assert round(expected[3], 4) == 0.9905  # 0.9 * 0.95, 0.7 and 0.8 * Phi((3 - 2) / 0.5)
    one_core = min(os.sched_getaffinity(0))
    runs = [run(tmp_path, "sensor_fusion.py", cpu=cpu) for cpu in (None, None, None, one_core, one_core, one_core)]
    for out in runs:
        assert "before any signal: {'/room/occupied': [0.0]}" in out
        shown = [float(p) for p in re.findall(r"^step \d+: .* -> P\(occupied\) = ([\d.]+)$", out, re.M)]
        assert len(shown) == len(expected), out
        for step, (got, want) in enumerate(zip(shown, expected)):
            assert abs(got - want) < 6e-5, f"step {step}: printed {got}, the readings give {want:.4f}\n{out}"
        assert "change frequencies" in out
    steps = {tuple(line for line in out.splitlines() if line.startswith("step ")) for out in runs}
    assert len(steps) == 1, "the step lines differ between runs"


def test_comparisons_are_read_off_the_leaf_names():
    model = tallo.Tallo.compile("""
temp(kitchen) <- source("/temp", Number).
level <- source("/level", Density).
level2 <- source("/level2", Number).
a if temp(kitchen) > 30.5.
a if level < -2.
a if level > 4.
a if level2 > 4.
a -> target("/a").
""")
    assert wait_for_writes.comparisons(model, "temp(kitchen)") == {"temp_kitchen_gt_30_5": (True, 30.5)}
    assert wait_for_writes.comparisons(model, "level") == {"level_lt_m2": (False, -2.0), "level_gt_4": (True, 4.0)}
    assert wait_for_writes.comparisons(model, "rain") == {}


# (semiring, what the leaf holds, what is written): `settled` must call a value
# arrived exactly when the leaf itself would drop the write as no change.
SETTLED_CASES = [
    ("LogProb", 0.5, 0.5004),      # 0.0008 on the logarithm: dropped
    ("LogProb", 0.5, 0.5006),      # 0.0012: a change
    ("LogProb", 0.0005, 0.001),    # close in value, far on the logarithm
    ("LogProb", 0.3, 0.3),
    ("MaxProduct", 0.5, 0.5004),
    ("Fuzzy", 0.3, 0.3005),        # 0.0005 (0.17%): dropped
    ("Fuzzy", 0.3, 0.3012),
    ("Boolean", 0.6, 0.3),         # both stored as 1.0
    ("Boolean", 0.6, 0.0),
    ("ProbGradient", 0.5, 0.5004),
    ("ProbGradient", 0.5, 0.502),
]


@pytest.mark.parametrize("semiring, held, written", SETTLED_CASES)
def test_settled_agrees_with_the_leafs_change_tolerance(semiring, held, written):
    model = tallo.Tallo.compile('rain <- source("/rain", Probability).\nwet if rain.\nwet -> target("/wet").',
                                semiring=semiring)
    circuit = model.get_reactive_circuit()
    circuit.update_leaf(0, [held], 1.0)
    shown = model.get_values()[0][0]
    circuit.update_leaf(0, [written], 2.0)
    dropped = model.get_values()[0][0] == shown
    assert wait_for_writes.settled(shown, written, semiring) == dropped


def test_wait_for_leaves_names_what_did_not_arrive():
    model = tallo.Tallo.compile('rain <- source("/rain", Probability).\nwet if rain.\nwet -> target("/wet").')
    model.make_writer("/rain").write([0.4], None)
    wait_for_writes.wait_for_leaves(model, {"rain": [0.4], "-rain": [0.6]})
    with pytest.raises(TimeoutError, match="-rain"):
        wait_for_writes.wait_for_leaves(model, {"rain": [0.4], "-rain": [0.5]}, timeout=0.05)
    with pytest.raises(ValueError):
        wait_for_writes.wait_for_leaves(model, {"snow": [0.4]})


def test_fit_rules(tmp_path):
    out = run(tmp_path, "fit_rules.py", "--observations", "100")
    steps = re.findall(r"fault#0 = ([\d.]+), fault#1 = ([\d.]+)", out)
    assert len(steps) == 6  # five progress lines and the true values
    assert all(0.0 <= float(p) <= 1.0 for step in steps for p in step)
    assert steps[0] != ("0.500", "0.500"), "the rules' probabilities moved"


def test_batch_scenarios(tmp_path):
    out = run(tmp_path, "batch_scenarios.py", "--scenarios", "1000")
    assert out.startswith("1000 scenarios:")


def test_adapt_by_frequency(tmp_path):
    out = run(tmp_path, "adapt_by_frequency.py", "--sources", "2", "--out", str(tmp_path))
    before, after = re.search(r"P\(alarm\) before ([\d.]+), after ([\d.]+)", out).groups()
    assert before == after
    assert "[1, 1, 1, 1, 0, 0]" in out, "the fast source's leaves stay at the root, the others go one down"
    for name in ("before.svg", "after.svg"):
        assert (tmp_path / name).read_text().lstrip().startswith("<?xml")
