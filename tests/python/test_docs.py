"""Every Python example in README.md and docs/*.md runs as written and prints
what the page says it prints.

The convention the pages follow: a ```python block is a whole program, run on
its own in a fresh interpreter (in an empty working directory) with the module
under test on PYTHONPATH. When the program prints, the block is followed
directly by an ```output block holding exactly what it prints (trailing blanks
aside); a program that prints without one fails here, so no page can show
output that nobody checks. Blocks fenced with any other language are not run.
"""
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
PAGES = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]

# A fenced block at the start of a line: its language, its body, and the text
# that follows it up to the next fence.
FENCE = re.compile(r"^```([\w-]*)[ \t]*\n(.*?)^```[ \t]*$", re.S | re.M)


def examples():
    found = []
    for page in PAGES:
        text = page.read_text(encoding="utf-8")
        fences = list(FENCE.finditer(text))
        for i, fence in enumerate(fences):
            if fence.group(1) != "python":
                continue
            expected = None
            following = fences[i + 1] if i + 1 < len(fences) else None
            if (following is not None and following.group(1) == "output"
                    and not text[fence.end():following.start()].strip()):
                expected = following.group(2)
            line = text.count("\n", 0, fence.start()) + 1
            found.append(pytest.param(fence.group(2), expected, id=f"{page.name}:{line}"))
    return found


def normalised(text):
    return "\n".join(line.rstrip() for line in text.rstrip().splitlines())


def test_the_pages_hold_examples():
    assert len(examples()) >= 10


@pytest.mark.parametrize("program, expected", examples())
def test_example_runs_and_prints_what_the_page_says(program, expected, tmp_path):
    script = tmp_path / "example.py"
    script.write_text(program, encoding="utf-8")
    # The example runs elsewhere: the module's directories must not be relative.
    path = os.pathsep.join(str(Path(p).resolve()) for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p)
    run = subprocess.run([sys.executable, str(script)], cwd=tmp_path, capture_output=True, text=True,
                         timeout=120, env={**os.environ, "PYTHONPATH": path})
    assert run.returncode == 0, f"the example failed:\n{run.stderr}"
    if expected is None:
        assert run.stdout == "", f"the example prints but the page shows no output block:\n{run.stdout}"
    else:
        assert normalised(run.stdout) == normalised(expected)
