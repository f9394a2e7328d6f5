"""Is somebody in the room? A small sensor-fusion model fed live.

Five kinds of source feed one target: a motion detector's probability, a door
contact (boolean), a CO2 reading compared with a threshold (number), a radar
distance estimate given as a normal distribution (density), and the time of
day as two categories, sampled from a shared vector by a timed writer.

Run it with `scripts/demo`, or after `scripts/build`:

    PYTHONPATH=build/release/src/python /usr/bin/python3 examples/sensor_fusion.py
"""
import time

import tallo

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


def wait_for_leaf(model, index, holds, timeout=2.0):
    """Readers feed the leaves on their own threads; wait until one arrived."""
    deadline = time.monotonic() + timeout
    while not holds(model.get_values()[index]) and time.monotonic() < deadline:
        time.sleep(0.001)


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

    for step, (p_motion, is_open, ppm, mean, spread, is_day) in enumerate(READINGS):
        now = time.time()
        motion.write([p_motion], now)
        door.write(is_open, now)
        co2.write([ppm], now)
        radar.write("normal", [[mean], [spread]], now)
        clock.set([1.0, 0.0] if is_day else [0.0, 1.0])
        wait_for_leaf(model, names.index("motion"), lambda v: abs(v[0] - p_motion) < 1e-9)
        wait_for_leaf(model, names.index("day"), lambda v: abs(v[0] - (1.0 if is_day else 0.0)) < 1e-9)
        occupied = circuit.update().get("/room/occupied")
        shown = f"{occupied[0]:.4f}" if occupied else "unchanged"
        print(f"step {step}: motion={p_motion:.2f} door={'open' if is_open else 'shut'} co2={ppm:.0f} "
              f"radar~N({mean}, {spread}) {'day' if is_day else 'night'} -> P(occupied) = {shown}")
        time.sleep(0.1)

    model.stop_timed_writers()
    print("change frequencies (changes per second):")
    for name, frequency in zip(names, model.get_frequencies()):
        print(f"  {name:<28} {frequency:8.3f}")


if __name__ == "__main__":
    main()
