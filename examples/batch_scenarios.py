"""A batch of scenarios in one circuit, fed with numpy arrays.

Compiled with `value_size=N`, every result holds N values, one per scenario,
and one update computes all N. Every leaf starts with N values and holds
what was last written to it: here N values each (in this LogProb model a
one-value write would leave one value, which the update applies to every
scenario; "Batches" in docs/python.md tells it per semiring). Each writer
here takes arrays of N values: probabilities, raw numbers (compared with the model's
thresholds element by element), and for a categorical source the N values of
its first category followed by the N values of the second. The example
checks the circuit's N results against the same probability computed with
numpy.

    PYTHONPATH=build/release/src/python /usr/bin/python3 examples/batch_scenarios.py [--scenarios N]
"""
import argparse
import time

import numpy as np

import tallo
from wait_for_writes import comparisons, wait_for_leaves, with_complements

MODEL = """
rain <- source("/weather/rain", Probability).
level <- source("/river/level", Number).
{wet_season, dry_season} <- source("/calendar/season", Categorical).
flood <- P(0.7) if rain and level > 4.
flood <- P(0.3) if wet_season and level > 4.
flood <- P(0.05) if rain.
flood -> target("/river/flood").
"""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--scenarios", type=int, default=100_000)
    args = parser.parse_args()
    n = args.scenarios

    rng = np.random.default_rng(7)
    rain = rng.uniform(0.0, 1.0, n)  # P(rain) per scenario
    level = rng.normal(3.5, 1.0, n)  # river level in metres
    wet = rng.uniform(0.0, 1.0, n)  # P(wet season)

    model = tallo.Tallo.compile(MODEL, value_size=n)
    circuit = model.get_reactive_circuit()
    begin = time.perf_counter()
    model.make_writer("/weather/rain").write(rain, None)
    model.make_writer_for("level").write(level, None)  # -> level_gt_4: 1.0 where level > 4
    model.make_categorical_writer("/calendar/season").write(np.concatenate([wet, 1.0 - wet]), None)
    # Each channel has its own reader thread: wait until every leaf the writes
    # feed holds its batch (the comparisons' leaves 1.0 where they hold).
    fed = {"rain": rain}
    for leaf, (is_greater, threshold) in comparisons(model, "level").items():
        fed[leaf] = ((level > threshold) if is_greater else (level < threshold)).astype(float)
    fed = with_complements(fed)
    fed.update(wet_season=wet, dry_season=1.0 - wet)  # categories: no complements
    wait_for_leaves(model, fed, timeout=30.0)
    flood = np.array(circuit.update()["/river/flood"])
    seconds = time.perf_counter() - begin

    # The same probability by hand: with rain, any of the three rules may fire;
    # without it, only the season's rule.
    high = (level > 4).astype(float)
    season_rule = 0.3 * wet * high
    with_rain = 1.0 - (1.0 - 0.7 * high) * (1.0 - 0.05) * (1.0 - season_rule)
    expected = rain * with_rain + (1.0 - rain) * season_rule
    print(f"{n} scenarios: written, applied and updated in {seconds * 1e3:.0f} ms")
    print(f"mean P(flood) {flood.mean():.4f}; scenarios above 0.5: {int((flood > 0.5).sum())}")
    print(f"largest difference from numpy: {np.abs(flood - expected).max():.1e}")
    if not np.allclose(flood, expected, rtol=0, atol=1e-9):
        raise SystemExit("the circuit and numpy disagree")


if __name__ == "__main__":
    main()
