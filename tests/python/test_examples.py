"""The example programs run from one command each; here at a small size."""
import os
import re
import subprocess
import sys
from pathlib import Path

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def run(tmp_path, name, *args):
    path = os.pathsep.join(str(Path(p).resolve()) for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p)
    done = subprocess.run([sys.executable, str(EXAMPLES / name), *args], cwd=tmp_path, capture_output=True,
                          text=True, timeout=300, env={**os.environ, "PYTHONPATH": path})
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_sensor_fusion(tmp_path):
    out = run(tmp_path, "sensor_fusion.py")
    assert out.count("P(occupied) = ") == 7
    assert "change frequencies" in out


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
