"""The invariants the circuit, the manager and the model promise are kept by
their types: code outside them cannot reach the fields behind the promises,
nor hand the circuit a leaf or a part that it did not make itself.

Each probe below is a translation unit that reaches into one of them from
outside; each must fail to compile, and with an access error, not some other
one. The control uses the same headers through the public operations and
must compile, so a probe cannot pass by failing for an unrelated reason.

Run by CTest: private_members.py COMPILER SOURCE_DIR SYSTEM_INCLUDES, the
last a CMake list (folders joined by ';') of the dependencies' headers.
"""
import os
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

PRELUDE = """
#include "channels/manager.h"
#include "circuit/algebraic_circuit.h"
#include "circuit/reactive_circuit.h"
#include "circuit/semiring.h"
#include "language/tallo.h"
using namespace tallo;
void probe(AlgebraicCircuit& node, ReactiveCircuit<LogProb>& circuit, Manager<LogProb>& manager,
           Tallo<LogProb>& model) {
    (void)node; (void)circuit; (void)manager; (void)model;
"""

CONTROL = """
    std::size_t n = node.minterms().size() + circuit.value_size() + circuit.batch_width() + manager.value_size() +
                    model.value_size() + circuit.add_leaf(Vector{0.5}, 0.0, "x");
    (void)n;
    circuit.lift_leaf(0);
    circuit.drop_leaf(0);
    circuit.adapt({0});
    auto guard = model.circuit().lock();
    (void)manager.circuit();
"""

# (what the probe does, its statement, a word the compiler's error must hold)
PROBES = [
    ("write a node's terms", "node.minterms().push_back({});", "const"),
    ("reach a node's term field", "node.minterms_.clear();", "private"),
    ("reach a node's column map", "node.leaf_columns_.clear();", "private"),
    ("write a circuit's value width", "circuit.value_size() = 2;", "lvalue"),
    ("write a circuit's batch width", "circuit.batch_width() = 2;", "lvalue"),
    ("reach a circuit's value width field", "circuit.value_size_ = 2;", "private"),
    # the circuit numbers its leaves itself and builds its own parts
    ("add a leaf whose index is not its position",
     'circuit.add_leaf(Leaf::create<LogProb>(Vector{0.5}, 0.0, "x", 7));', "no matching"),
    ("append to a circuit's leaves", 'circuit.leafs().push_back(Leaf::create_encoded({}, 0.0, "x", 7));', "const"),
    ("hand a circuit a part of another width", "circuit.add_split_part(AlgebraicCircuit(2), 0);", "private"),
    ("put a root above a node", "circuit.add_root(0);", "private"),
    ("cut an edge out of a node", "circuit.disconnect(0, 1);", "private"),
    ("replace a manager's circuit", "manager.circuit() = SharedCircuit<LogProb>::make(1u);", "const"),
    ("reach a manager's circuit field", "(void)manager.circuit_;", "private"),
    ("reach a model's manager", "(void)model.manager_;", "private"),
    ("reach a model's sources", "model.sources_.clear();", "private"),
    ("write a model's batch width", "model.value_size() = 2;", "lvalue"),
]


def compiles(compiler, flags, body, prelude=PRELUDE):
    """Whether `body` compiles after `prelude` (closed by a brace), and the errors."""
    with tempfile.TemporaryDirectory() as folder:
        source = Path(folder) / "probe.cpp"
        source.write_text(prelude + body + "\n}\n")
        run = subprocess.run([compiler, *flags, "-fsyntax-only", str(source)], capture_output=True, text=True)
        return run.returncode == 0, run.stderr


def run(compiler, flags, control, probes, prelude=PRELUDE):
    """Compiles the control and each probe (what, statement, word); prints
    every problem and a count, and returns the exit code."""
    failures = []
    # Each probe is a compiler process of its own: run them side by side,
    # which takes the probes' wall time from the sum of their compiles to a
    # few of them. Results are read in the probes' order.
    with ThreadPoolExecutor(max_workers=min(4, os.cpu_count() or 1)) as pool:
        outcomes = list(pool.map(lambda body: compiles(compiler, flags, body, prelude),
                                 [control] + [statement for _, statement, _ in probes]))
    ok, errors = outcomes[0]
    if not ok:
        failures.append(f"the control does not compile:\n{errors}")
    for (what, statement, word), (ok, errors) in zip(probes, outcomes[1:]):
        if ok:
            failures.append(f"{what}: `{statement}` compiles")
        elif word not in errors:
            failures.append(f"{what}: `{statement}` fails without the word '{word}':\n{errors}")
    for failure in failures:
        print(failure)
    print(f"{len(probes)} probes, {len(failures)} problems")
    return 1 if failures else 0


def main():
    compiler, source_dir, system_includes = sys.argv[1:]
    flags = ["-std=c++20", f"-I{Path(source_dir) / 'src'}"]
    flags += [f"-isystem{folder}" for folder in system_includes.split(";") if folder]
    return run(compiler, flags, CONTROL, PROBES)


if __name__ == "__main__":
    sys.exit(main())
