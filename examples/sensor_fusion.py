"""Is somebody in the room? A small sensor-fusion model fed live.

Five kinds of source feed one target: a motion detector's probability, a door
contact (boolean), a CO2 reading compared with a threshold (number), a radar
distance estimate given as a normal distribution (density), and the time of
day as two categories, sampled from a shared vector by a timed writer. Each
step writes all five, waits until every leaf that the writes feed shows them
(the sources' leaves and complements, the comparisons' leaves, the
categories; see wait_for_writes.py), and only then updates: the step lines
are the same in every run.

At the end it prints every leaf's change frequency. A frequency counts the
writes that pass the leaf's change test, leaf by leaf, not the times the
quantity behind it changed:
- In `LogProb` (the semiring used here) a written 0.0 always passes the
  test (ln 0 is -inf, and -inf - -inf is not a number), so a leaf held at
  0.0 counts every write it gets. The timed writer sends the clock 50 times
  a second, so `day` counts about 50 changes a second through the night
  steps and `night` through the day steps, although the time of day changed
  once.
- A source's leaf and its complement count apart. The door is shut (0.0 at
  `door`) in four of the seven steps and open (0.0 at `-door`) in three, so
  the two leaves count different changes at different times.
- The estimate follows the latest intervals between counted changes (it is
  1 / a Kalman filter's estimate of that interval) and stays where it was
  while the leaf does not change: `door`, whose last counted changes came
  one step (about 0.1 s) apart, shows about 10 a second, `-door`, whose last
  two came three steps apart, about 3. A leaf with fewer than two counted
  changes (the rules' cause leaves here) shows 0.0.

Run it with `scripts/demo`, or after `scripts/build`:

    PYTHONPATH=build/release/src/python /usr/bin/python3 examples/sensor_fusion.py
"""
import math
import time

import tallo
from wait_for_writes import comparisons, wait_for_leaves, with_complements

MODEL = """
motion <- source("/room/motion", Probability).
door <- source("/room/door", Boolean).
co2 <- source("/room/co2", Number).
distance <- source("/room/radar", Density).
{day, night} <- source("/clock", Categorical).

present <- P(0.9) if motion.
present <- P(0.6) if door and day.
present <- P(0.7) if co2 > 800.
present <- P(0.8) if distance < 3.

occupied if present.
occupied -> target("/room/occupied").
"""

# (motion, door, co2 in ppm, radar mean and spread in metres, daytime)
READINGS = [
    (0.05, False, 420.0, 9.0, 2.0, True),
    (0.10, True, 450.0, 8.0, 2.0, True),
    (0.70, True, 600.0, 4.0, 1.0, True),
    (0.95, False, 850.0, 2.0, 0.5, True),
    (0.90, False, 900.0, 1.5, 0.5, False),
    (0.20, False, 820.0, 5.0, 1.5, False),
    (0.05, True, 500.0, 9.0, 2.0, False),
]


def normal_cdf(x, mean, std):
    return 0.5 * (1.0 + math.erf((x - mean) / (std * math.sqrt(2.0))))


def fed_leaves(model, reading):
    """What one step's writes put into the leaves: {leaf name: [value]}."""
    p_motion, is_open, ppm, mean, spread, is_day = reading
    expected = {"motion": [p_motion], "door": [1.0 if is_open else 0.0]}
    for leaf, (is_greater, threshold) in comparisons(model, "co2").items():
        expected[leaf] = [1.0 if (ppm > threshold if is_greater else ppm < threshold) else 0.0]
    for leaf, (is_greater, threshold) in comparisons(model, "distance").items():
        below = normal_cdf(threshold, mean, spread)
        expected[leaf] = [1.0 - below if is_greater else below]
    expected = with_complements(expected)
    expected.update(day=[1.0 if is_day else 0.0], night=[0.0 if is_day else 1.0])  # categories: no complements
    return expected


def main():
    model = tallo.Tallo.compile(MODEL)
    names = model.get_names()
    print("leaves:", ", ".join(names))

    motion = model.make_writer("/room/motion")
    door = model.make_writer_for("door")
    co2 = model.make_writer_for("co2")
    radar = model.make_writer_for("distance")
    clock = model.make_timed_writer("/clock", 50.0)  # sampled 50 times a second
    circuit = model.get_reactive_circuit()
    print("before any signal:", circuit.update())

    for step, reading in enumerate(READINGS):
        p_motion, is_open, ppm, mean, spread, is_day = reading
        now = time.time()
        motion.write([p_motion], now)
        door.write(is_open, now)
        co2.write([ppm], now)
        radar.write("normal", [[mean], [spread]], now)
        clock.set([1.0, 0.0] if is_day else [0.0, 1.0])
        # Each channel has its own reader thread: update only once every leaf
        # that the step's writes feed shows them, or the step would report
        # values computed from the previous step's readings.
        wait_for_leaves(model, fed_leaves(model, reading))
        occupied = circuit.update().get("/room/occupied")
        shown = f"{occupied[0]:.4f}" if occupied else "unchanged"
        print(f"step {step}: motion={p_motion:.2f} door={'open' if is_open else 'shut'} co2={ppm:.0f} "
              f"radar~N({mean}, {spread}) {'day' if is_day else 'night'} -> P(occupied) = {shown}")
        time.sleep(0.1)

    model.stop_timed_writers()
    print("change frequencies (changes per second):")
    for name, frequency in zip(names, model.get_frequencies()):
        print(f"  {name:<28} {frequency:8.3f}")
    print("A frequency counts every write that passes a leaf's change test, per leaf; in LogProb a\n"
          "written 0.0 always passes it, so day and night count the timed writer's 50 samples a second\n"
          "while they hold 0.0, and door and -door count apart. Each estimate follows the latest\n"
          "intervals between counted changes and keeps its value while the leaf does not change.")


if __name__ == "__main__":
    main()
