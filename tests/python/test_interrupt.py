"""Ctrl-C during a long compile: the compile ends with KeyboardInterrupt soon
after the signal, also during a grounding that cannot be stopped, drops what
it built, and the process compiles again."""
import os
import queue
import signal
import subprocess
import threading
import time

# A child process, so that the signal reaches an interpreter of its own. It
# compiles a model of 20 independent sources (2^20 stable models; seconds
# of work) verbosely, so the parent can tell from the "Found stable model"
# lines that the solve runs, then reports how it ended and compiles again.
CHILD = r'''
import os, sys, time
import tallo

def threads():
    return len(os.listdir("/proc/self/task"))

n = 20
model = "".join(f's{i} <- source("/s/{i}", Probability).\n' for i in range(n))
model += "".join(f"t if s{i}.\n" for i in range(n)) + 't if not s0.\nt -> target("/t").\n'
before = threads()
try:
    tallo.Tallo.compile(model, verbose=True)
except KeyboardInterrupt:
    print("\nINTERRUPTED", flush=True)
else:
    print("\nFINISHED", flush=True)

# The cancelled model's reader threads end once its channels are gone.
deadline = time.monotonic() + 30
while threads() > before and time.monotonic() < deadline:
    time.sleep(0.005)
print("THREADS", threads() - before, flush=True)

again = tallo.Tallo.compile('a <- source("/a", Probability).\nt if a.\nt -> target("/t").\n')
print("AGAIN", again.get_names(), sorted(again.get_reactive_circuit().update()), flush=True)
'''

BOUND = 60.0  # seconds any one step may take before the test gives up


def test_sigint_cancels_a_long_compile_and_the_process_compiles_again(tmp_path):
    errors_path = tmp_path / "stderr"
    with open(errors_path, "w") as errors_file:
        child = subprocess.Popen(["/usr/bin/python3", "-c", CHILD], stdout=subprocess.PIPE, stderr=errors_file,
                                 text=True, env=dict(os.environ))
    solving = threading.Event()
    ended = threading.Event()
    seen = {"ended_at": None, "lines": []}

    def drain():
        for line in child.stdout:
            if line.startswith("Found stable model:"):
                solving.set()
            elif line.strip():
                if line.strip() in ("INTERRUPTED", "FINISHED"):
                    seen["ended_at"] = time.monotonic()
                    ended.set()
                seen["lines"].append(line.strip())
        ended.set()

    reader = threading.Thread(target=drain, daemon=True)
    reader.start()
    try:
        assert solving.wait(BOUND), "the compile never started solving"
        sent_at = time.monotonic()
        child.send_signal(signal.SIGINT)
        assert ended.wait(BOUND)
        reader.join(BOUND)
        child.wait(BOUND)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    errors = errors_path.read_text()

    report = [line for line in seen["lines"] if line.split()[0] in ("INTERRUPTED", "FINISHED", "THREADS", "AGAIN")]
    assert report[0] == "INTERRUPTED", (report, errors)
    # The whole compile takes many seconds; the interrupt must end it within
    # a fraction of one. The bound is loose for a loaded machine.
    latency = seen["ended_at"] - sent_at
    assert latency < 2.0, latency
    assert report[1:] == ["THREADS 0", "AGAIN ['a', '-a'] ['/t']"], (report, errors)
    assert child.returncode == 0, errors
    # An interrupt is no stop: nothing is reported on standard error.
    assert errors == "", errors


# One rule with tens of thousands of body literals: the solver grounds it for
# half a minute or more, and nothing stops its grounding from outside. Ctrl-C
# during it raises at once; the abandoned compile grounds on in the background
# and is dropped, while the process compiles and updates a small model and
# then exits, without waiting for the grounding.
LONG_GROUNDING_CHILD = r'''
import time
import tallo

n = 30000
model = ('a <- source("/a", Probability).\n' + "t if a and " + " and ".join(f"b{i}" for i in range(n)) + ".\n"
         + "".join(f"b{i}.\n" for i in range(n)) + 't -> target("/t").\n')
print("COMPILING", flush=True)
try:
    tallo.Tallo.compile(model)
except KeyboardInterrupt:
    print("INTERRUPTED", flush=True)
else:
    print("FINISHED", flush=True)

small = tallo.Tallo.compile('a <- source("/a", Probability).\nt if a.\nt -> target("/t").\n')
small.make_writer("/a").write([0.25], None)
deadline = time.monotonic() + 30
while small.get_values()[0] != [0.25] and time.monotonic() < deadline:
    time.sleep(0.001)
print("AGAIN", small.get_reactive_circuit().update(), flush=True)
'''

# Far less than the grounding takes, even on a quiet machine.
INTERRUPT_BOUND = 5.0


def test_sigint_during_a_long_grounding_raises_at_once_and_the_process_goes_on(tmp_path):
    errors_path = tmp_path / "stderr"
    with open(errors_path, "w") as errors_file:
        child = subprocess.Popen(["/usr/bin/python3", "-c", LONG_GROUNDING_CHILD], stdout=subprocess.PIPE,
                                 stderr=errors_file, text=True, env=dict(os.environ))
    lines = queue.Queue()
    threading.Thread(target=lambda: [lines.put(line.strip()) for line in child.stdout], daemon=True).start()
    try:
        assert lines.get(timeout=BOUND) == "COMPILING"
        time.sleep(1.0)  # into the grounding, most likely; the outcome is the same before it
        child.send_signal(signal.SIGINT)
        assert lines.get(timeout=INTERRUPT_BOUND) == "INTERRUPTED"
        assert lines.get(timeout=BOUND) == "AGAIN {'/t': [0.25]}"
        # The exit does not wait for the grounding either.
        child.wait(INTERRUPT_BOUND + 10)
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()
    assert child.returncode == 0
    assert errors_path.read_text() == ""
