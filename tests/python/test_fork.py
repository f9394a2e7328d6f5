"""A child forked while the parent's writers and updater run: an object made
before the fork is refused with a clear error, never hangs, and a model made
in the child works, its updates on the worker pool included."""
import os
import subprocess
import sys
import textwrap

import pytest

# The parent keeps two writers and an updater busy and forks children one
# after another; each child tries every kind of inherited object, then
# compiles a model of its own and updates it. A child that has not ended in
# time is killed and counted as hung.
FORK_WHILE_BUSY = textwrap.dedent("""
    import os, threading, time
    import tallo

    MODEL = (
        'rain <- source("/rain", Probability).\\n'
        '{sunny, cloudy} <- source("/sky", Categorical).\\n'
        'alarm if rain.\\n'
        'alarm if cloudy.\\n'
        'alarm -> target("/alarm").\\n'
    )
    FORKS = 40
    model = tallo.Tallo.compile(MODEL, 4)
    circuit = model.get_reactive_circuit()
    rain = model.make_writer("/rain")
    sky = model.make_categorical_writer("/sky")
    vector = model.make_timed_writer("/rain", 200.0)

    def write():
        value = 0.0
        while True:
            value = (value + 0.01) % 1.0
            rain.write([value] * 4, None)
            sky.write([value] * 4 + [1 - value] * 4, None)

    def update():
        while True:
            circuit.full_update()
            model.get_values()

    for work in [write, write, update]:
        threading.Thread(target=work, daemon=True).start()

    def in_child():
        refused = 0
        for use in [model.get_values, circuit.update, lambda: rain.write([0.5] * 4, None),
                    lambda: sky.write([0.5] * 8, None), lambda: vector.set([0.5] * 4),
                    lambda: model.make_writer("/rain")]:
            try:
                use()
            except RuntimeError as error:
                refused += "create models after forking" in str(error)
        own = tallo.Tallo.compile(MODEL, 4)
        own.make_writer("/rain").write([0.25] * 4, None)
        own_circuit = own.get_reactive_circuit()
        own_circuit.update()
        own_circuit.full_update()
        return 0 if refused == 6 else 3

    outcomes = {"ok": 0, "hung": 0, "failed": 0}
    for _ in range(FORKS):
        time.sleep(0.005)
        pid = os.fork()
        if pid == 0:
            os._exit(in_child())
        deadline = time.monotonic() + 20
        while True:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                outcomes["ok" if os.waitstatus_to_exitcode(status) == 0 else "failed"] += 1
                break
            if time.monotonic() > deadline:
                os.kill(pid, 9)
                os.waitpid(pid, 0)
                outcomes["hung"] += 1
                break
            time.sleep(0.01)
    print(outcomes)
    os._exit(0)
""")


# The AddressSanitizer runtime of this compiler does not make its allocator
# safe across fork(): a child forked while a parent thread holds one of the
# allocator's locks hangs in its first allocation, inside the runtime, before
# any code of ours can tell (seen in the sanitizer tree: 1 to 3 of 40 children,
# every one stopped in the runtime's allocator). glibc's allocator is safe
# across fork(), so the test runs in the plain tree.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


@pytest.mark.skipif(UNDER_ASAN, reason="the sanitizer's allocator is not fork-safe")
def test_forked_children_refuse_inherited_objects_and_never_hang():
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    parent = subprocess.run([sys.executable, "-W", "ignore::DeprecationWarning", "-c", FORK_WHILE_BUSY],
                            env=environment, capture_output=True, text=True, timeout=600)
    assert parent.returncode == 0, parent.stderr
    assert parent.stdout.strip() == "{'ok': 40, 'hung': 0, 'failed': 0}"
