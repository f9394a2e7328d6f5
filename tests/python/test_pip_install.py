"""`pip install .` into a fresh virtual environment, offline: the installed
module imports and works from outside the source tree, and its type stubs
are installed beside it. Twice: with Debian's setuptools
(--no-build-isolation), and with build isolation, the build requirements
then coming from the wheels Debian ships in /usr/share/python-wheels, as
they would from an index.

The first build compiles the C++ core and the module once more (about five
minutes of processor time on a loaded machine; the second reuses its build
tree), so this runs only when TALLO_TEST_PIP_INSTALL=1, as `scripts/test`
sets it."""
import os
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]

pytestmark = pytest.mark.skipif(os.environ.get("TALLO_TEST_PIP_INSTALL") != "1",
                                reason="builds the module again; scripts/test runs it")

USE = """
import time
import tallo

model = tallo.Tallo.compile('''
rain <- source("/rain", Probability).
wet <- P(0.9) if rain.
wet -> target("/wet").
''')
model.make_writer("/rain").write([0.3], None)
deadline = time.monotonic() + 10
while abs(model.get_values()[0][0] - 0.3) > 1e-9 and time.monotonic() < deadline:
    time.sleep(0.001)
print(tallo.__file__)
print(round(model.get_reactive_circuit().update()["/wet"][0], 6))
"""


@pytest.mark.parametrize("venv_options, pip_options", [
    (["--system-site-packages"], ["--no-build-isolation"]),
    ([], ["--find-links", "/usr/share/python-wheels"]),
], ids=["debian-setuptools", "isolated"])
def test_pip_install_builds_a_module_that_works_outside_the_source_tree(tmp_path, venv_options, pip_options):
    venv = tmp_path / "venv"
    subprocess.run(["/usr/bin/python3", "-m", "venv", *venv_options, str(venv)], check=True)
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    subprocess.run([str(venv / "bin" / "pip"), "install", "--no-index", "--quiet", *pip_options, str(ROOT)],
                   check=True, env=env, cwd=tmp_path)

    run = subprocess.run([str(venv / "bin" / "python"), "-c", USE], check=True, env=env, cwd=tmp_path,
                         capture_output=True, text=True)
    module_file, value = run.stdout.split()
    assert Path(module_file).is_relative_to(venv), module_file
    assert value == "0.27"

    version = f"python{sys.version_info.major}.{sys.version_info.minor}"
    stub = venv / "lib" / version / "site-packages" / "tallo-stubs" / "__init__.pyi"
    assert "class ReactiveCircuit" in stub.read_text(encoding="utf-8")
