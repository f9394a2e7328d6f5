"""Does a model's reader keep up with a Python writer at full speed?

Run from the repository root after `scripts/build`:

    PYTHONPATH=build/release/src/python /usr/bin/python3 bench/python_readers.py [messages]

A `ProbabilityWriter` sends `messages` (default 10**6) values as fast as one
Python loop can, each a change of the leaf (0.25 and 0.75 in turn, rising
timestamps), the last one a marker. Printed side by side for one run:
- the time the writer took to send them all, and its send rate;
- the time until the marker is in the leaf (the reader has applied every
  message before it, in order), and the reader's rate over that time;
- their ratio, all-in-the-leaf / sent (goal <= 2; 1.0 means the reader was
  done as the writer finished).
Repeated a few times on fresh models; every repeat is printed, then the median.
"""
import statistics
import sys
import time

import tallo

MODEL = """
rain <- source("/rain", Probability).
alarm if rain.
alarm -> target("/alarm").
"""

REPEATS = 5
MARKER = 0.5


def one_run(messages):
    model = tallo.Tallo.compile(MODEL)
    leaf = model.get_names().index("rain")
    writer = model.make_writer("/rain")
    values = ([0.25], [0.75])
    write = writer.write
    start = time.perf_counter()
    for i in range(messages - 1):
        write(values[i & 1], 1.0 + i * 1e-3)
    write([MARKER], 1.0 + messages * 1e-3)
    sent = time.perf_counter() - start
    deadline = time.monotonic() + 120.0
    get_values = model.get_values
    while abs(get_values()[leaf][0] - MARKER) > 1e-12:
        if time.monotonic() > deadline:
            raise SystemExit("the reader did not apply the marker within 120 s")
        time.sleep(0.0005)
    landed = time.perf_counter() - start
    return sent, landed


def main():
    messages = int(sys.argv[1]) if len(sys.argv) > 1 else 10**6
    print(f"{'run':<5} {'sent in':>10} {'send rate':>12} {'in the leaf':>12} {'reader rate':>12} {'ratio':>7}")
    ratios = []
    for run in range(1, REPEATS + 1):
        sent, landed = one_run(messages)
        ratios.append(landed / sent)
        print(f"{run:<5} {sent:>9.3f}s {messages / sent / 1e6:>8.2f} M/s {landed:>11.3f}s "
              f"{messages / landed / 1e6:>8.2f} M/s {landed / sent:>6.2f}x")
    print(f"median all-in-the-leaf / sent (goal <= 2): {statistics.median(ratios):.2f}x")


if __name__ == "__main__":
    main()
