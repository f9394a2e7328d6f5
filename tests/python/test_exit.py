"""The host exits while daemon threads are inside methods that released the
interpreter lock: the process ends normally, every time."""
import os
import subprocess
import sys
import textwrap
import time

import tallo

# Six threads loop over `full_update()`, two write and read values; the main
# thread leaves while they run. Retaking the interpreter lock during the
# interpreter's shutdown ends those threads where they stand.
EXIT_WHILE_BUSY = textwrap.dedent("""
    import threading, time
    import tallo

    model = tallo.Tallo.compile('''
    rain <- source("/rain", Probability).
    {sunny, cloudy} <- source("/sky", Categorical).
    alarm if rain.
    alarm -> target("/alarm").
    ''')
    circuit = model.get_reactive_circuit()
    rain = model.make_writer("/rain")
    started = threading.Barrier(9)

    def update():
        started.wait()
        while True:
            circuit.full_update()

    def write_and_read():
        started.wait()
        value = 0.0
        while True:
            value = (value + 0.01) % 1.0
            rain.write([value], None)
            model.get_values()

    for work in [update] * 6 + [write_and_read] * 2:
        threading.Thread(target=work, daemon=True).start()
    started.wait()
    time.sleep(0.05)
""")

RUNS = 24
PARALLEL = 8


def test_exit_with_threads_inside_methods():
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    deadline = time.monotonic() + 120
    failures = []
    for first in range(0, RUNS, PARALLEL):
        children = [
            subprocess.Popen([sys.executable, "-c", EXIT_WHILE_BUSY], env=environment,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            for _ in range(min(PARALLEL, RUNS - first))
        ]
        for child in children:
            try:
                _, stderr = child.communicate(timeout=max(1.0, deadline - time.monotonic()))
            except subprocess.TimeoutExpired:
                child.kill()
                child.communicate()
                failures.append("hang")
                continue
            text = stderr.decode(errors="replace")
            # nothing on stderr: no "terminate called", no sanitizer report
            if child.returncode != 0 or text:
                failures.append(f"exit code {child.returncode}: {text[-500:]}")
    assert failures == []
