#!/usr/bin/python3
"""The include check catches each planted break and passes a clean tree.

Each case plants one file into a small clean tree in a temporary folder and
names the line the check must print for it."""
import contextlib
import io
import sys
import tempfile
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
import check_includes  # noqa: E402

# One file of each place, each including only what its place allows, with
# the comment texts that once hid the lines after them.
CLEAN = {
    "src/base/panic.h": "// Values in [0, 1) and a; b in a comment.\n",
    "src/circuit/leaf.h": '#include "base/panic.h"\n#include "node.h"  // [\n',
    "src/circuit/node.h": "",
    "src/language/asp.h": '#include "circuit/leaf.h"\n',
    "src/language/clingo_c.h": "",
    "src/language/clingo_api.h": '#include "language/clingo_c.h"\n',
    "src/language/clingo_api.cpp": '#include "clingo_api.h"\n',
    "src/host/model.h": '#include "language/asp.h"\n',
    "src/python/frame.h": "#include <Python.h>\n",
    "src/python/module.cpp": '#include <Python.h>\n#include "host/model.h"\n#include "python/frame.h"\n',
    "tests/cpp/stop_message.h": '#include "base/panic.h"\n',
    "tests/cpp/circuit/checks.h": "#include <gtest/gtest.h>\n",
    "tests/cpp/circuit/leaf_test.cpp": (
        '#include "circuit/leaf.h"\n#include "circuit/checks.h"\n#include "stop_message.h"\n'
    ),
    "tests/cpp/host/model_test.cpp": '#include "host/model.h"\n#include "stop_message.h"\n',
    "tests/python/probe/probe.cpp": '#include <Python.h>\n#include "python/frame.h"\n',
    "bench/compile.cpp": '#include "host/model.h"\n#include "stop_message.h"\n#include <benchmark/benchmark.h>\n',
    "examples/demo.cpp": '#include "host/model.h"\n',
}

ABOVE_CIRCUIT = "src/circuit/ may include from src/ only base/, tracking/, circuit/, not host/"

# (what, planted file, its text, the line the check prints)
CASES = [
    ("behind an unbalanced bracket", "src/circuit/x.h",
     '// the interval [0, 1)\n#include "host/model.h"\n',
     f'src/circuit/x.h:2: includes "host/model.h": {ABOVE_CIRCUIT}'),
    ("behind a bracket after an include", "src/circuit/x.h",
     '#include "base/panic.h"  // [0, 1)\n#include "host/model.h"\n',
     f'src/circuit/x.h:2: includes "host/model.h": {ABOVE_CIRCUIT}'),
    ("behind a semicolon", "src/circuit/x.h",
     '// one; two\n#include "host/model.h"\n',
     f'src/circuit/x.h:2: includes "host/model.h": {ABOVE_CIRCUIT}'),
    ("by a relative path", "src/circuit/x.h",
     '#include "../host/model.h"\n',
     f'src/circuit/x.h:1: includes "../host/model.h": {ABOVE_CIRCUIT}'),
    ("in angle brackets", "src/circuit/x.h",
     "#include <host/model.h>\n",
     f"src/circuit/x.h:1: includes <host/model.h>: {ABOVE_CIRCUIT}"),
    ("with a comment inside the directive", "src/circuit/x.h",
     '#/* a */include "host/model.h"\n',
     f'src/circuit/x.h:1: includes "host/model.h": {ABOVE_CIRCUIT}'),
    ("spelt with the digraph", "src/circuit/x.h",
     '%:include "host/model.h"\n',
     f'src/circuit/x.h:1: includes "host/model.h": {ABOVE_CIRCUIT}'),
    ("over a continued line", "src/circuit/x.h",
     '#include \\\n  "host/model.h"\n',
     f'src/circuit/x.h:1: includes "host/model.h": {ABOVE_CIRCUIT}'),
    ("Python.h outside the binding", "src/host/x.cpp",
     "#include <Python.h>\n",
     "src/host/x.cpp:1: includes <Python.h>: Python.h outside the binding (src/python/, tests/python/probe/)"),
    ("Python.h in a test", "tests/cpp/host/x_test.cpp",
     '#include "host/model.h"\n#include <Python.h>\n',
     "tests/cpp/host/x_test.cpp:2: includes <Python.h>: Python.h outside the binding"),
    ("clingo outside the wrapper", "src/language/x.cpp",
     '#include "language/clingo_c.h"\n',
     'src/language/x.cpp:1: includes "language/clingo_c.h": '
     "the clingo declarations outside the wrapper src/language/clingo_api.*"),
    ("the library's clingo.h in a test", "tests/cpp/language/x_test.cpp",
     "#include <clingo.h>\n",
     "tests/cpp/language/x_test.cpp:1: includes <clingo.h>: the clingo declarations outside the wrapper"),
    ("a test above its folder", "tests/cpp/circuit/x_test.cpp",
     '#include "language/asp.h"\n',
     'tests/cpp/circuit/x_test.cpp:1: includes "language/asp.h": '
     "tests/cpp/circuit/ may include from src/ only base/, tracking/, circuit/, not language/"),
    ("another folder's test helper", "tests/cpp/host/x_test.cpp",
     '#include "circuit/checks.h"\n',
     'tests/cpp/host/x_test.cpp:1: includes "circuit/checks.h": '
     "the test helpers of tests/cpp/circuit/ are for that folder's tests only"),
    ("a shared helper above base", "tests/cpp/x.h",
     '#include "circuit/leaf.h"\n',
     'tests/cpp/x.h:1: includes "circuit/leaf.h": '
     "a shared test helper may include from src/ only base/, not circuit/"),
    ("a benchmark in the binding", "bench/x.cpp",
     '#include "python/frame.h"\n',
     'bench/x.cpp:1: includes "python/frame.h": a benchmark may include from src/ only '
     "base/, tracking/, circuit/, channels/, language/, host/, not python/"),
    ("Python.h in a benchmark", "bench/x.cpp",
     "#include <Python.h>\n",
     "bench/x.cpp:1: includes <Python.h>: Python.h outside the binding"),
    ("an example in the binding", "examples/x.cpp",
     '#include "python/frame.h"\n',
     'examples/x.cpp:1: includes "python/frame.h": an example may include from src/ only'),
    ("an example on test helpers", "examples/x.cpp",
     '#include "../tests/cpp/stop_message.h"\n',
     'examples/x.cpp:1: includes "../tests/cpp/stop_message.h": an example may not include test helpers'),
    ("src on test code", "src/base/x.h",
     '#include "../../tests/cpp/stop_message.h"\n',
     'src/base/x.h:1: includes "../../tests/cpp/stop_message.h": src/ may not include test code'),
    ("a benchmark's own file", "tests/cpp/host/x_test.cpp",
     '#include "../../../bench/compile.cpp"\n',
     'tests/cpp/host/x_test.cpp:1: includes "../../../bench/compile.cpp": '
     "bench/compile.cpp is neither a header of src/ nor a test helper"),
    ("a folder with no place", "src/gadgets/x.h",
     "",
     "src/gadgets/x.h: src/gadgets/ has no place in the order"),
    ("a test folder with no place", "tests/cpp/gadgets/x_test.cpp",
     "",
     "tests/cpp/gadgets/x_test.cpp: tests/cpp/gadgets/ has no place in the order"),
]


def plant(root, files):
    for name, text in files.items():
        path = Path(root) / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)


def run(files, allowances=None):
    """The check's exit code and output on a tree of `files`."""
    with tempfile.TemporaryDirectory() as root:
        plant(root, files)
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            code = check_includes.main([root], allowances or {})
        return code, out.getvalue()


class CheckIncludesTest(unittest.TestCase):
    def test_a_clean_tree_passes(self):
        code, out = run(CLEAN)
        self.assertEqual(code, 0, out)
        self.assertIn(f"the includes of {len(CLEAN)} files follow the plan", out)

    def test_each_planted_break_fails_with_its_line(self):
        for what, name, text, line in CASES:
            with self.subTest(what):
                code, out = run(CLEAN | {name: text})
                self.assertEqual(code, 1, out)
                printed, count = out.splitlines()
                self.assertTrue(printed.startswith(line), out)
                self.assertEqual(count, "1 include(s) break the plan of the folders")

    def test_every_break_of_a_file_is_printed(self):
        text = '#include "host/model.h"\n// [0, 1)\n#include <Python.h>\n#include "language/clingo_c.h"\n'
        code, out = run(CLEAN | {"src/circuit/x.h": text})
        self.assertEqual(code, 1, out)
        self.assertEqual([l.split(": ")[0] for l in out.splitlines()[:3]],
                         ["src/circuit/x.h:1", "src/circuit/x.h:3", "src/circuit/x.h:4"], out)
        self.assertIn("3 include(s) break the plan", out)

    def test_a_known_exception_passes_and_fails_once_unused(self):
        reach = {"tests/cpp/host/x_test.cpp": '#include "circuit/checks.h"\n'}
        allowed = {("tests/cpp/host/x_test.cpp", "tests/cpp/circuit/checks.h"): "why"}
        code, out = run(CLEAN | reach, allowed)
        self.assertEqual(code, 0, out)
        self.assertIn("allowed for now: tests/cpp/host/x_test.cpp includes tests/cpp/circuit/checks.h: why", out)
        code, out = run(CLEAN, allowed)
        self.assertEqual(code, 1, out)
        self.assertIn("tests/cpp/host/x_test.cpp: no longer includes tests/cpp/circuit/checks.h", out)

    def test_reaching_follows_includes_as_the_check_resolves_them(self):
        files = CLEAN | {
            "src/circuit/a.h": '#include "b.h"\n',  # a cycle through b.h
            "src/circuit/b.h": '#include "a.h"\n#include "leaf.h"\n',
            "tests/cpp/circuit/via_helper_test.cpp": '#include "circuit/checks.h"\n#include "../../../src/circuit/a.h"\n',
            "tests/cpp/circuit/commented_test.cpp": '// #include "circuit/leaf.h"\n#include "base/panic.h"\n',
            "tests/cpp/circuit/cycle_test.cpp": '#include "circuit/b.h"\n',
        }
        with tempfile.TemporaryDirectory() as root:
            plant(root, files)
            tests = [str(Path(root) / "tests/cpp/circuit" / name)
                     for name in ["via_helper_test.cpp", "commented_test.cpp", "leaf_test.cpp", "cycle_test.cpp"]]
            out = io.StringIO()
            with contextlib.redirect_stdout(out):
                code = check_includes.main(["--reaching", "src/circuit/leaf.h", root, *tests])
        self.assertEqual(code, 0, out.getvalue())
        self.assertEqual(out.getvalue().splitlines(), [tests[0], tests[2], tests[3]])


if __name__ == "__main__":
    unittest.main()
