"""A child forked while the parent's writers and updater run: an object made
before the fork is refused with a clear error, never hangs, and a model made
in the child works, its updates on the worker pool included. A child forked
while another thread compiles compiles too, or, when the fork met a call in
the solver that did not end in time, refuses to with a clear error; it never
hangs."""
import os
import signal
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


# One thread compiles a small model in a loop while the main thread forks
# children, each of which compiles a model of its own and updates it; then the
# same during one long grounding (one rule with thousands of body literals),
# which outlasts the fork's wait. Every child ends within its bound with an
# answer ("ok") or the clear error ("refused"), and so does a child forked in
# a refused one: it has inherited the refusal. A child still running at its
# deadline is killed and counted as hung.
FORK_WHILE_COMPILING = textwrap.dedent("""
    import os, threading, time
    import tallo

    SMALL = (
        'a <- source("/a", Probability).\\n'
        'b <- source("/b", Probability).\\n'
        'r(x). r(y). r(z).\\n'
        'q(X) <- P(0.4) if r(X) and a.\\n'
        't if q(X).\\n'
        't if b.\\n'
        't -> target("/t").\\n'
    )
    N = 8000
    LONG = ('a <- source("/a", Probability).\\n' + "t if a and " + " and ".join(f"b{i}" for i in range(N))
            + ".\\n" + "".join(f"b{i}.\\n" for i in range(N)) + 't -> target("/t").\\n')
    REFUSED, FAILED = 4, 5

    def compile_and_update():
        try:
            own = tallo.Tallo.compile(SMALL)
        except RuntimeError as error:
            return REFUSED if "forked while another thread was inside the solver library" in str(error) else FAILED
        except BaseException:
            return FAILED
        own.make_writer("/b").write([1.0], None)
        leaf = own.get_names().index("b")
        deadline = time.monotonic() + 5
        while own.get_values()[leaf] != [1.0]:
            if time.monotonic() > deadline:
                return FAILED
            time.sleep(0.001)
        return 0 if own.get_reactive_circuit().update() == {"/t": [1.0]} else FAILED

    def in_child():
        outcome = compile_and_update()
        if outcome != REFUSED:
            return outcome
        return REFUSED if outcome_of(os.fork(), compile_and_update) == "refused" else FAILED

    def outcome_of(pid, work):
        if pid == 0:
            code = FAILED
            try:
                code = work()
            finally:
                os._exit(code)
        deadline = time.monotonic() + 20
        while True:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                return {0: "ok", REFUSED: "refused"}.get(os.waitstatus_to_exitcode(status), "failed")
            if time.monotonic() > deadline:
                os.kill(pid, 9)
                os.waitpid(pid, 0)
                return "hung"
            time.sleep(0.005)

    def count(outcomes, pid):
        outcome = outcome_of(pid, in_child)
        outcomes[outcome] = outcomes.get(outcome, 0) + 1

    def compile_forever():
        while True:
            tallo.Tallo.compile(SMALL)

    threading.Thread(target=compile_forever, daemon=True).start()
    small = {}
    for _ in range(60):
        time.sleep(0.002)
        count(small, os.fork())
    print("small", small.get("hung", 0), small.get("failed", 0), small.get("ok", 0) + small.get("refused", 0))

    long_done = threading.Event()
    threading.Thread(target=lambda: (tallo.Tallo.compile(LONG), long_done.set()), daemon=True).start()
    grounding = {}
    while not long_done.is_set():
        time.sleep(0.1)
        count(grounding, os.fork())
    print("grounding", grounding.get("hung", 0), grounding.get("failed", 0), grounding.get("refused", 0) > 0)
    os._exit(0)
""")


# A multiprocessing pool with the fork start method, made again and again
# while another thread grounds one long rule: workers forked during the
# grounding refuse to compile, and the refusal, an Exception, reaches the
# parent's `map`, which raises it. A `map` that has not returned in time
# counts as hung: its workers are killed and the parent leaves at once (a
# pool's own terminate would wait for good on a queue lock that a hung worker
# may hold).
FORK_POOL_WHILE_GROUNDING = textwrap.dedent("""
    import multiprocessing, os, threading
    import tallo

    SMALL = 'a <- source("/a", Probability).\\nt if a.\\nt -> target("/t").\\n'
    N = 8000
    LONG = ('a <- source("/a", Probability).\\n' + "t if a and " + " and ".join(f"b{i}" for i in range(N))
            + ".\\n" + "".join(f"b{i}.\\n" for i in range(N)) + 't -> target("/t").\\n')
    REFUSAL = "forked while another thread was inside the solver library"

    def names(_):
        return tallo.Tallo.compile(SMALL).get_names()

    grounded = threading.Event()
    threading.Thread(target=lambda: (tallo.Tallo.compile(LONG), grounded.set()), daemon=True).start()
    outcomes = {"answered": 0, "refused": 0, "failed": 0}
    while not grounded.is_set():
        pool = multiprocessing.get_context("fork").Pool(2)
        try:
            answered = pool.map_async(names, range(4)).get(timeout=20) == [["a", "-a"]] * 4
            outcome = "answered" if answered else "failed"
        except RuntimeError as error:
            outcome = "refused" if REFUSAL in str(error) else "failed"
        except multiprocessing.TimeoutError:
            for worker in multiprocessing.active_children():
                worker.kill()
            print("hung", flush=True)
            os._exit(0)
        pool.terminate()
        pool.join()
        outcomes[outcome] += 1
    print("failed", outcomes["failed"], "refused", outcomes["refused"] > 0)
    os._exit(0)
""")

# A signal handler forks while the main thread waits in a compile (of 2^17
# stable models, so it lasts a while): the child returns from the handler
# into that wait, for a compile thread it does not have. It must leave it
# with the clear error and then compile a model of its own; the parent's
# compile goes on as if nothing happened. A child still running at its
# deadline is killed and counted as hung.
FORK_IN_SIGNAL_HANDLER = textwrap.dedent("""
    import os, signal, time
    import tallo

    N = 17
    MODEL = "".join(f's{i} <- source("/s/{i}", Probability).\\n' for i in range(N))
    MODEL += "".join(f"t if s{i}.\\n" for i in range(N)) + 't -> target("/t").\\n'
    SMALL = 'a <- source("/a", Probability).\\nt if a.\\nt -> target("/t").\\n'
    child = None
    compiling = False

    def fork_in_handler(signum, frame):
        global child
        if compiling and child is None:
            child = os.fork()  # 0 in the child, which returns into the compile's wait

    signal.signal(signal.SIGALRM, fork_in_handler)
    signal.setitimer(signal.ITIMER_REAL, 0.02, 0.02)
    compiling = True
    try:
        names = tallo.Tallo.compile(MODEL).get_names()
        outcome = "compiled"
    except RuntimeError as error:
        outcome = "refused" if "it was forked while the compile ran on a thread of the parent" in str(error) else "failed"
    compiling = False
    signal.setitimer(signal.ITIMER_REAL, 0)
    if child == 0:
        if outcome == "refused" and tallo.Tallo.compile(SMALL).get_names() == ["a", "-a"]:
            os._exit(0)
        os._exit(3)
    print("parent", outcome, len(names))
    if child is not None:
        deadline = time.monotonic() + 20
        while True:
            done, status = os.waitpid(child, os.WNOHANG)
            if done:
                print("child", "left the wait" if os.waitstatus_to_exitcode(status) == 0 else "failed")
                break
            if time.monotonic() > deadline:
                os.kill(child, 9)
                os.waitpid(child, 0)
                print("child hung")
                break
            time.sleep(0.01)
    os._exit(0)
""")


# The AddressSanitizer runtime of this compiler does not make its own locks
# safe across fork(): a child forked while a parent thread holds one (its
# allocator's, taken in `malloc` and `free`; its thread registry's, taken in
# `pthread_create`) hangs there, inside the runtime, before any code of ours
# can tell. Seen in the sanitizer tree: a few in 100 children forked while
# threads compile, and in most runs of a pool forked during a long grounding,
# which allocates all the time; every hung child stopped in the runtime.
# glibc's allocator and thread creation are safe across fork(), so the plain
# tree runs every test here.
UNDER_ASAN = "libasan" in os.environ.get("LD_PRELOAD", "")


def run_parent(script):
    """The standard output of a parent process running `script`, which must end well."""
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    parent = subprocess.run([sys.executable, "-W", "ignore::DeprecationWarning", "-c", script],
                            env=environment, capture_output=True, text=True, timeout=600)
    assert parent.returncode == 0, parent.stderr
    return parent.stdout


def bounded_run(script, limit=180):
    """The standard output of a parent process running `script`, which forks a
    few children and says "hung" of one that does not end in time; a parent
    that does not end within `limit` seconds is killed with its children and
    its output is "hung". Under AddressSanitizer such a child may be stopped
    in the runtime's locks (see above), which no code of ours can prevent:
    there a run that says "hung" is made again, at most three times in all,
    so that the sanitizer's hang does not make the test flaky, while any other
    outcome, and a hang in every run, still fails it."""
    environment = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    for _ in range(3 if UNDER_ASAN else 1):
        parent = subprocess.Popen([sys.executable, "-W", "ignore::DeprecationWarning", "-c", script], env=environment,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True)
        try:
            output, errors = parent.communicate(timeout=limit)
        except subprocess.TimeoutExpired:
            os.killpg(parent.pid, signal.SIGKILL)
            parent.communicate()
            output = "hung\n"
        if "hung" not in output:
            assert parent.returncode == 0, errors
            break
    return output


@pytest.mark.skipif(UNDER_ASAN, reason="the sanitizer's runtime locks are not fork-safe: 40 to 60 children per run")
def test_forked_children_refuse_inherited_objects_and_never_hang():
    assert run_parent(FORK_WHILE_BUSY).strip() == "{'ok': 40, 'hung': 0, 'failed': 0}"


@pytest.mark.skipif(UNDER_ASAN, reason="the sanitizer's runtime locks are not fork-safe: 60 and more children per run")
def test_children_forked_while_another_thread_compiles_answer_or_refuse_and_never_hang():
    # hung, failed, answered: every child answered
    assert run_parent(FORK_WHILE_COMPILING).splitlines() == ["small 0 0 60", "grounding 0 0 True"]


# Under the sanitizer most runs leave a worker, forked while the grounding
# allocates, stopped in the allocator's lock (see above), so no bound on the
# number of runs keeps it from failing there.
@pytest.mark.skipif(UNDER_ASAN, reason="the sanitizer's allocator is not fork-safe: a worker forked during the "
                    "grounding stops in its lock in most runs")
def test_a_fork_pool_made_during_a_long_grounding_hands_the_refusal_to_map():
    assert bounded_run(FORK_POOL_WHILE_GROUNDING).splitlines() == ["failed 0 refused True"]


def test_a_child_forked_by_a_signal_handler_during_a_compile_leaves_the_wait():
    assert bounded_run(FORK_IN_SIGNAL_HANDLER).splitlines() == ["parent compiled 34", "child left the wait"]
