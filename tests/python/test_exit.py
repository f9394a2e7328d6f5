"""The host exits while daemon threads are inside methods that released the
interpreter lock, compiles in the solver among them: the process ends
normally, every time. A batch width the machine cannot hold is refused
before anything is allocated."""
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

# Three threads loop over verbose compiles, whose work runs in the solver on a
# thread of its own; the main thread leaves after a random while, so that the
# exit meets the compiles at every stage.
EXIT_WHILE_COMPILING = textwrap.dedent("""
    import random, threading, time
    import tallo

    MODEL = (
        'a <- source("/a", Probability).\\n'
        'b <- source("/b", Probability).\\n'
        '{sunny, cloudy, foggy} <- source("/sky", Categorical).\\n'
        'r(x). r(y). r(z). r(w).\\n'
        'q(X) <- P(0.4) if r(X) and a.\\n'
        'w <- P(0.8) if b or cloudy.\\n'
        't if w.\\n'
        't if q(X).\\n'
        't -> target("/t").\\n'
    )

    def compile_forever():
        while True:
            tallo.Tallo.compile(MODEL, 1, True)

    for _ in range(3):
        threading.Thread(target=compile_forever, daemon=True).start()
    time.sleep(random.uniform(0, 0.8))
""")

# A daemon thread compiles one rule with tens of thousands of body literals,
# whose grounding takes half a minute or more and cannot be stopped; the main
# thread leaves during it with the status it is given.
EXIT_DURING_LONG_GROUNDING = textwrap.dedent("""
    import sys, threading, time
    import tallo

    n = 30000
    model = ('a <- source("/a", Probability).\\n' + "t if a and " + " and ".join(f"b{i}" for i in range(n))
             + ".\\n" + "".join(f"b{i}.\\n" for i in range(n)) + 't -> target("/t").\\n')
    threading.Thread(target=tallo.Tallo.compile, args=(model,), daemon=True).start()
    time.sleep(1.0)
    print("leaving")
    sys.exit(int(sys.argv[1]))
""")

PARALLEL = 8


def exit_failures(script, runs, seconds):
    """What went wrong in `runs` runs of `script`: an exit code other than 0,
    anything on standard error (no "terminate called", no sanitizer report),
    or a child still running at the deadline."""
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    deadline = time.monotonic() + seconds
    failures = []
    for first in range(0, runs, PARALLEL):
        children = [
            subprocess.Popen([sys.executable, "-c", script], env=environment,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            for _ in range(min(PARALLEL, runs - first))
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
            if child.returncode != 0 or text:
                failures.append(f"exit code {child.returncode}: {text[-500:]}")
    return failures


def test_exit_with_threads_inside_methods():
    assert exit_failures(EXIT_WHILE_BUSY, 24, 120) == []


def test_exit_while_compiles_run_in_the_solver():
    assert exit_failures(EXIT_WHILE_COMPILING, 120, 120) == []


def test_exit_during_a_long_grounding_ends_soon_with_its_status():
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    children = {status: subprocess.Popen([sys.executable, "-c", EXIT_DURING_LONG_GROUNDING, str(status)],
                                         env=environment, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                for status in (0, 3)}
    for status, child in children.items():
        try:
            # Far less than the grounding takes, even on a quiet machine.
            out, errors = child.communicate(timeout=15)
        finally:
            child.kill()
        assert (child.returncode, out, errors) == (status, "leaving\n", "")


# An exit handler registered before the module's import runs after the
# module's own, once the teardown began: its compile is refused with an
# Exception, which such a handler can catch.
COMPILE_AFTER_TEARDOWN = textwrap.dedent("""
    import atexit

    def compile_late():
        try:
            tallo.Tallo.compile('a <- source("/a", Probability). t if a. t -> target("/t").')
            print("compiled")
        except RuntimeError as error:
            print("RuntimeError", error)

    atexit.register(compile_late)
    import tallo
""")


def test_a_compile_after_the_teardown_began_raises_runtime_error():
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.run([sys.executable, "-c", COMPILE_AFTER_TEARDOWN], env=environment, capture_output=True,
                           text=True, timeout=120)
    assert (child.returncode, child.stdout, child.stderr) == (
        0, "RuntimeError the process is exiting: no compile starts any more\n", "")


# The child offers itself to the out-of-memory killer first, so that a batch
# width that got through to its leaves would kill only the child.
HUGE_BATCH = textwrap.dedent("""
    with open("/proc/self/oom_score_adj", "w") as score:
        score.write("1000")
    import tallo
    MODEL = 'a <- source("/a", Probability). t if a. t -> target("/t").'
    for width in [2**31, 2**32 - 1]:
        try:
            tallo.Tallo.compile(MODEL, width)
            print("compiled")
        except BaseException as error:
            print(type(error).__name__, error)
    print(tallo.Tallo.compile(MODEL, 4).get_values())
""")


def test_a_batch_width_beyond_physical_memory_is_refused():
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.run([sys.executable, "-c", HUGE_BATCH], env=environment, capture_output=True,
                           text=True, timeout=120)
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == [
        f"PanicException memory allocation of {8 * 2**31} bytes failed",
        f"PanicException memory allocation of {8 * (2**32 - 1)} bytes failed",
        "[[0.0, 0.0, 0.0, 0.0], [1.0, 1.0, 1.0, 1.0]]",
    ]
