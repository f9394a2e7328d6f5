"""Throughput from Python into a compiled model, beside a no-op builtin.

Run from the repository root after `scripts/build`:

    PYTHONPATH=build/release/src/python /usr/bin/python3 bench/python_model.py

Prints, side by side in one run, the per-call cost and calls per second of:
- a no-op builtin call (`[].clear()`), the baseline;
- `ProbabilityWriter.write` with a timestamp (a send on the source's channel;
  the reader thread applies it to the leaves on its own);
- `BooleanWriter.write` with None (the writer reads the wall clock);
- `NumberWriter.write` of one value against two thresholds;
- one write followed by `update()` once the reader has applied it, the road
  of one signal from the host to the target's new value.
Each figure is the best of several repeats.
"""
import sys
import time

import tallo

MODEL = """
rain <- source("/rain", Probability).
door <- source("/door", Boolean).
temp <- source("/temp", Number).
wet <- P(0.9) if rain.
alarm if wet and door.
alarm if temp > 30 and not temp > 40.
alarm -> target("/alarm").
"""

REPEATS = 5


def best_per_call_ns(run, calls):
    best = float("inf")
    for _ in range(REPEATS):
        start = time.perf_counter_ns()
        run(calls)
        best = min(best, (time.perf_counter_ns() - start) / calls)
    return best


def loop(step):
    def run(calls):
        for _ in range(calls):
            step()
    return run


def main():
    model = tallo.Tallo.compile(MODEL)
    names = model.get_names()
    rain_leaf = names.index("rain")
    rain = model.make_writer("/rain")
    door = model.make_writer("/door")
    temp = model.make_writer("/temp")
    circuit = model.get_reactive_circuit()
    circuit.update()

    noop = [].clear
    values = ([0.25], [0.75])
    state = {"i": 0}

    def write_and_update():
        state["i"] ^= 1
        value = values[state["i"]][0]
        rain.write(values[state["i"]], 1.0)
        # wait (bounded) until the reader thread has applied the write
        deadline = time.monotonic() + 1.0
        while abs(model.get_values()[rain_leaf][0] - value) > 1e-12 and time.monotonic() < deadline:
            pass
        circuit.update()

    cases = [
        ("no-op builtin ([].clear())", loop(noop), 200_000),
        ("ProbabilityWriter.write([p], t)", loop(lambda: rain.write([0.5], 1.0)), 200_000),
        ("BooleanWriter.write(True, None)", loop(lambda: door.write(True, None)), 200_000),
        ("NumberWriter.write([x], t), 2 thresholds", loop(lambda: temp.write([35.0], 1.0)), 200_000),
        ("write + reader applies it + update()", loop(write_and_update), 5_000),
    ]
    results = [(name, best_per_call_ns(run, calls)) for name, run, calls in cases]
    baseline = results[0][1]
    print(f"python {sys.version.split()[0]}, best of {REPEATS} repeats")
    print(f"{'case':<44} {'ns/call':>10} {'calls/s':>12} {'x no-op':>9}")
    for name, ns in results:
        print(f"{name:<44} {ns:>10.1f} {1e9 / ns:>12,.0f} {ns / baseline:>9.1f}")


if __name__ == "__main__":
    main()
