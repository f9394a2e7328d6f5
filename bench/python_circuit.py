"""Per-call cost of ReactiveCircuit methods from Python, beside a no-op builtin.

Run from the repository root after `scripts/build`:

    PYTHONPATH=build/release/src/python /usr/bin/python3 bench/python_circuit.py

Every case is a bound method called in a tight loop; each figure is the best
of several repeats, in nanoseconds per call, and the ratio to the no-op
builtin (`[].clear`, a method without arguments like `update`). The cases run
interleaved, so all ratios come from the same conditions.

The last case is one input change of a compiled model (the compiler tests'
alarm model, LogProb) after the changing leaf was lifted: `update_leaf` of a
source's leaf and of its complement, then `update()`, written out in the loop
body with a new timestamp each time; "per call" is then per change.
"""
import sys
import time

import tallo

CALLS = 200_000
REPEATS = 7


def per_call_ns(run, calls=CALLS):
    start = time.perf_counter_ns()
    run(calls)
    return (time.perf_counter_ns() - start) / calls


def small_circuit():
    circuit = tallo.ReactiveCircuit(1)
    for i in range(4):
        circuit.add_leaf([0.5], 0.0, f"x{i}")
    circuit.add_sum_product([[0, 1], [2, 3], [0, 3]], "/t")
    circuit.update()
    return circuit


ALARM_MODEL = """
rain <- source("/weather/rain", Probability).
temp(kitchen) <- source("/sensors/kitchen", Number).
{sunny, cloudy} <- source("/sky", Categorical).
wet <- P(0.9) if rain.
hot(X) <- P(0.7) if room(X) and temp(X) > 30.
room(kitchen).
alarm if wet and not sunny.
alarm if hot(kitchen).
alarm -> target("/out/alarm").
"""


def alarm_change(changing=True):
    """Runs `calls` changes of the alarm model's rain source, its leaf lifted
    first: the loop body is the change itself, three calls and a timestamp.
    Not `changing`, the same calls write the values the leaves hold already:
    the calls' own cost, with nothing to estimate, mark or evaluate."""
    model = tallo.Tallo.compile(ALARM_MODEL)
    names = model.get_names()
    rain, not_rain = names.index("rain"), names.index("-rain")
    circuit = model.get_reactive_circuit()
    for leaf in range(len(names)):
        circuit.update_leaf(leaf, [0.5], 0.5)
    circuit.lift_leaf(rain)
    circuit.full_update()
    update_leaf, update = circuit.update_leaf, circuit.update
    values = (([0.25], [0.75]), ([0.75], [0.25])) if changing else (([0.5], [0.5]), ([0.5], [0.5]))

    def run(calls):
        t = 1.0
        for i in range(calls):
            value, complement = values[i & 1]
            t += 1.0
            update_leaf(rain, value, t)
            update_leaf(not_rain, complement, t)
            update()

    # The model (its reader threads) lives as long as the loop.
    run.model = model
    return run


def in_loop(step):
    def run(calls):
        for _ in range(calls):
            step()
    return run


def main():
    clean = small_circuit()
    unchanged = small_circuit()
    changing = small_circuit()

    noop = [].clear
    update = clean.update
    update_leaf = unchanged.update_leaf
    values = ([0.25], [0.75])
    state = {"i": 0}

    def unchanged_leaf():
        update_leaf(0, [0.5], 1.0)

    def leaf_and_update():
        state["i"] ^= 1
        changing.update_leaf(0, values[state["i"]], 1.0)
        changing.update()

    cases = {
        "no-op builtin ([].clear())": in_loop(noop),
        "update() on a clean circuit": in_loop(update),
        "update_leaf, unchanged value": in_loop(unchanged_leaf),
        "update_leaf + update() (4 leaves, 3 terms)": in_loop(leaf_and_update),
        "alarm model: the same calls, values unchanged": alarm_change(changing=False),
        "alarm model: 2 update_leaf + update(), lifted": alarm_change(),
    }
    best = {name: float("inf") for name in cases}
    for _ in range(REPEATS):
        for name, run in cases.items():
            best[name] = min(best[name], per_call_ns(run))

    baseline = best["no-op builtin ([].clear())"]
    print(f"python {sys.version.split()[0]}, {CALLS} calls x {REPEATS} repeats, best per call")
    print(f"{'case':<45} {'ns/call':>10} {'x no-op':>9}")
    for name, ns in best.items():
        print(f"{name:<45} {ns:>10.1f} {ns / baseline:>9.1f}")
    ratio = best["update() on a clean circuit"] / baseline
    print(f"goal: clean update() within 20x of the no-op builtin: {'met' if ratio <= 20 else 'missed'} ({ratio:.1f}x)")
    ratio = best["alarm model: 2 update_leaf + update(), lifted"] / baseline
    print(f"goal: the alarm model's change within 30x of the no-op builtin: {'met' if ratio <= 30 else 'missed'} "
          f"({ratio:.1f}x)")


if __name__ == "__main__":
    main()
