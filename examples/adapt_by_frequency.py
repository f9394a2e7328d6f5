"""Adapting a circuit to how often its inputs change.

A model with several slowly changing sources and one source that changes a
hundred times a second. Every leaf estimates how often its value changes;
`adapt` keeps the often-changing leaves at the root and drops the rarely
changing ones one level down, into child nodes whose results are cached.
The example checks that the target's value stays the same, writes an SVG of
the circuit before and after adapting (Graphviz's `dot` on the search path;
for N up to 6 only, larger circuits are unreadable as pictures), and times
one change of the fast source and of a slow one in three shapes: as
compiled, adapted, and with only the fast leaf (and its complement) lifted.

    PYTHONPATH=build/release/src/python /usr/bin/python3 examples/adapt_by_frequency.py [--sources N] [--out DIR]

N slow sources (default 10) give 2^(N+1) - 1 product terms. What the timings
show, at every N:
- as compiled, the circuit is one node holding every product: any change
  recomputes all of them, so its cost grows with the number of products;
- `adapt` does not make the fast source cheaper: the root still holds one
  product per term (each now reading one cached child instead of the slow
  leaves), and a slow source, whose change now recomputes a child per
  product and the root, becomes dearer;
- lifting the fast leaf is what pays: its change then recomputes a root of
  two products, about a microsecond whatever N is, while the slow sources
  keep their cost.
The gain grows with the model: at the default N = 10 (2,047 terms) a change
of the fast source took about 25 us as compiled, 21 us adapted and 0.8 us
lifted, and one of a slow source 25 us as compiled and 190-270 us adapted
(five runs at load average 24); at N = 3 (15 terms) every change costs
about a microsecond in every shape and nothing is gained. Each figure is
the median of 201 changes, so a busy machine moves it little.
"""
import argparse
import statistics
import time
from pathlib import Path

import tallo


def model_text(slow):
    text = "".join(f's{i} <- source("/slow/{i}", Probability).\n' for i in range(slow))
    text += 'fast <- source("/fast", Probability).\n'
    text += "".join(f"alarm if s{i}.\n" for i in range(slow))
    text += 'alarm if fast.\nalarm -> target("/alarm").\n'
    return text


def compiled(slow):
    """A model whose leaves have seen changes: slow ones every 10 s, the fast one every 10 ms.

    The changes are written straight into the circuit with explicit
    timestamps, so the example runs in an instant; writers with timestamps
    would give the same frequencies once their reader threads applied them.
    """
    model = tallo.Tallo.compile(model_text(slow))
    circuit = model.get_reactive_circuit()
    names = model.get_names()
    start = 1000.0
    for step in range(50):
        for i in range(0, len(names), 2):  # a source's leaf, then its complement
            if names[i] != "fast":
                p = 0.2 if step % 2 else 0.6
                circuit.update_leaf(i, [p], start + 10.0 * step)
                circuit.update_leaf(i + 1, [1.0 - p], start + 10.0 * step)
    fast = names.index("fast")
    for step in range(500):
        p = 0.2 if step % 2 else 0.6
        circuit.update_leaf(fast, [p], start + 0.01 * step)
        circuit.update_leaf(fast + 1, [1.0 - p], start + 0.01 * step)
    return model, circuit, fast


def microseconds_per_change(circuit, leaf, repeats=201):
    """One change of a source (its leaf and its complement) and the update after it.

    The median of `repeats` changes: a change that the machine's load
    delayed does not move it."""
    took = []
    for k in range(repeats):
        p = 0.3 if k % 2 else 0.7
        begin = time.perf_counter()
        circuit.update_leaf(leaf, [p], 2000.0 + k)
        circuit.update_leaf(leaf + 1, [1.0 - p], 2000.0 + k)
        circuit.update()
        took.append(time.perf_counter() - begin)
    return statistics.median(took) * 1e6


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sources", type=int, default=10, help="number of slow sources")
    parser.add_argument("--out", type=Path, default=Path("."), help="where the SVG files go")
    args = parser.parse_args()

    model, circuit, fast = compiled(args.sources)
    print("leaves:     ", model.get_names())
    print("changes/s:  ", [round(f, 2) for f in model.get_frequencies()])
    before = circuit.full_update()["/alarm"][0]
    draw = args.sources <= 6
    if draw:
        circuit.to_svg(str(args.out / "before.svg"), False)

    print("adapt(1.0, 10) places the leaves at the levels:")
    circuit.adapt(1.0, 10)  # bins of 1 change/s; prints one level per leaf, 0 at the root
    after = circuit.full_update()["/alarm"][0]
    print(f"P(alarm) before {before:.6f}, after {after:.6f}")
    if draw:
        circuit.to_svg(str(args.out / "after.svg"), False)
        print("wrote", args.out / "before.svg", "and", args.out / "after.svg")

    shapes = [("as compiled", compiled(args.sources)[1]), ("adapted", circuit)]
    lifted = compiled(args.sources)[1]
    lifted.lift_leaf(fast)
    lifted.lift_leaf(fast + 1)
    shapes.append(("fast leaf lifted", lifted))
    print("microseconds per change and update (median of 201; the machine's load still moves them):")
    for label, shaped in shapes:
        shaped.update()
        print(f"  {label:<17} fast source {microseconds_per_change(shaped, fast):9.1f}"
              f"   slow source {microseconds_per_change(shaped, 0):9.1f}")


if __name__ == "__main__":
    main()
