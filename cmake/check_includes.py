#!/usr/bin/python3
"""Keeps the plan of the folders true: check_includes.py <project root>.

The order of the layers is ORDER below, stated here only: CMake reads it to
link each subsystem library to the one below it (cmake/TalloSubsystem.cmake).

Every #include in the C++ files under src/, tests/cpp/, tests/python/probe/,
bench/ and examples/ is resolved the way the compiler resolves it (a quoted
include first beside the including file, then along the include path that
file is built with) and must obey these rules:

- A file of src/<folder>/ includes headers of its own folder or of a folder
  below it in ORDER, and never test code.
- The tests of a folder (tests/cpp/<folder>/) include the src/ headers that
  folder may include, their own test helpers, and the shared helpers directly
  in tests/cpp/. A shared helper is used by every folder's tests, so it
  includes from src/ only what every folder may: base/.
- tests/python/probe/ is binding code and includes what src/python/ may.
- Benchmarks (bench/) and examples (examples/) use the system as a host
  program does: every src/ folder but python/; benchmarks also the shared
  test helpers.
- Only the binding (src/python/, tests/python/probe/) includes Python.h.
- Only the clingo wrapper (src/language/clingo_api.*) includes the clingo
  declarations (language/clingo_c.h, or a clingo.h of the library's own).

Each file is read line by line; nothing in a comment or a string (a bracket,
a semicolon) hides the lines after it. Every include that breaks a rule is
printed as file:line with the rule it breaks; any one fails the check.

check_includes.py --reaching <header> <project root> <file>... prints, one a
line and as given, the files that include <header> (relative to the root)
directly or through the project's own headers, each include resolved as the
check resolves it. CMake groups the test files by it.
"""
import os
import re
import sys
from pathlib import Path

# Lowest first: a folder may include its own and those before it. Kept on
# one line: CMake reads it (cmake/TalloSubsystem.cmake).
ORDER = ["base", "tracking", "circuit", "channels", "language", "host", "python"]

SUFFIXES = {".h", ".hpp", ".cpp", ".cc"}
ROOTS = ["src", "tests/cpp", "tests/python/probe", "bench", "examples"]
CLINGO_HEADERS = {"clingo.h", "clingo_c.h"}
CLINGO_WRAPPER = {"src/language/clingo_api.h", "src/language/clingo_api.cpp"}

# Includes that break a rule today and are known: (including file, included
# file) -> why. An entry its file no longer needs fails the check, so the
# list only shrinks.
ALLOWED_FOR_NOW = {
    ("bench/compile.cpp", "tests/cpp/language/example_model.h"):
        "times the compile of the language tests' example model",
}

# A preprocessing directive may be spelt with the digraph %: and may hold
# comments between its tokens; block comments are dropped before matching.
INCLUDE = re.compile(r'^\s*(?:#|%:)\s*include\s*([<"])([^>"]*)[>"]')
BLOCK_COMMENT = re.compile(r"/\*.*?\*/")


class Place:
    """Where a file of the project sits, and what that lets it include."""

    def __init__(self, role, folder, search):
        self.role = role  # how the rules name it: "src/circuit/", "a benchmark"
        self.folder = folder  # the src/ folder whose place in ORDER it has
        self.search = search  # the include path it is built with

    @property
    def rank(self):
        return ORDER.index(self.folder) if self.folder in ORDER else None


def place_of(path, root):
    """The place of `path` (relative to root), or a text saying it has none."""
    parts = path.parts
    src, tests = root / "src", root / "tests/cpp"
    if parts[0] == "src":
        if len(parts) == 2:
            return "a file directly in src/ belongs to no folder"
        return Place(f"src/{parts[1]}/", parts[1], [src])
    if parts[:2] == ("tests", "cpp"):
        if len(parts) == 3:
            return Place("a shared test helper", "base", [tests, src])
        return Place(f"tests/cpp/{parts[2]}/", parts[2], [tests, src])
    if parts[:3] == ("tests", "python", "probe"):
        return Place("the binding probe", "python", [src])
    if parts[0] == "bench":
        return Place("a benchmark", "host", [tests, src])
    return Place("an example", "host", [src])  # examples/: the last of ROOTS


def resolve(text, quoted, including, search, root):
    """The project file an include names, relative to root; None if it names none."""
    for directory in ([including.parent] if quoted else []) + search:
        candidate = Path(os.path.normpath(directory / text))
        if candidate.is_file():
            try:
                return candidate.relative_to(root)
            except ValueError:
                return None  # outside the project: not ours
    return None


def directives(file):
    """(line number, text, quoted) of every include in `file`.

    A line ending in a backslash continues on the next one, as it does for
    the preprocessor; the directive counts at its first line."""
    with open(file, encoding="utf-8", errors="replace", newline="") as lines:
        pending, start = "", 0
        for number, line in enumerate(lines, 1):
            line = line.rstrip("\r\n")
            if not pending:
                start = number
            if line.endswith("\\"):
                pending += line[:-1]
                continue
            line, pending = pending + line, ""
            found = INCLUDE.match(BLOCK_COMMENT.sub(" ", line))
            if found:
                yield start, found.group(2), found.group(1) == '"'


def fault(place, file, text, target):
    """The rule an include of `text` by `file` breaks, or None.

    `target` is the project file the include resolves to, None for a header
    of the system or of a library."""
    name = Path(text).name
    if name == "Python.h" and place.folder != "python":
        return "Python.h outside the binding (src/python/, tests/python/probe/)"
    if name in CLINGO_HEADERS and str(file) not in CLINGO_WRAPPER:
        return "the clingo declarations outside the wrapper src/language/clingo_api.*"
    if target is None:
        return None
    if target.parts[0] == "src" and len(target.parts) > 2:
        return src_fault(place, target.parts[1])
    if target.parts[:2] == ("tests", "cpp"):
        return helper_fault(place, file, target)
    return f"{target} is neither a header of src/ nor a test helper"


def src_fault(place, folder):
    """The rule an include of a header of src/<folder>/ breaks, or None."""
    if folder not in ORDER:
        return f"src/{folder}/ has no place in the order (cmake/check_includes.py)"
    if ORDER.index(folder) <= place.rank:
        return None
    allowed = "/, ".join(ORDER[: place.rank + 1]) + "/"
    return f"{place.role} may include from src/ only {allowed}, not {folder}/"


def helper_fault(place, file, target):
    """The rule an include of the test helper `target` breaks, or None."""
    if file.parts[0] == "src":
        return "src/ may not include test code"
    in_tests = file.parts[:2] == ("tests", "cpp")
    if len(target.parts) == 3:  # directly in tests/cpp/: shared
        return None if in_tests or file.parts[0] == "bench" else f"{place.role} may not include test helpers"
    folder = target.parts[2]
    if in_tests and len(file.parts) > 3 and file.parts[2] == folder:
        return None
    return f"the test helpers of tests/cpp/{folder}/ are for that folder's tests only"


def check(root, allowances=ALLOWED_FOR_NOW):
    """Every break of the rules under `root`, as printable lines."""
    root = Path(root).resolve()
    broken, used = [], set()
    files = sorted(
        path
        for top in ROOTS
        if (root / top).is_dir()
        for path in (root / top).rglob("*")
        if path.suffix in SUFFIXES and path.is_file()
    )
    for path in files:
        file = path.relative_to(root)
        place = place_of(file, root)
        if isinstance(place, str):
            broken.append(f"{file}: {place}")
            continue
        if place.rank is None:
            broken.append(f"{file}: {place.role} has no place in the order (cmake/check_includes.py)")
            continue
        for number, text, quoted in directives(path):
            target = resolve(text, quoted, path, place.search, root)
            why = fault(place, file, text, target)
            known = (str(file), str(target))
            if why and known in allowances:
                used.add(known)
            elif why:
                shown = f'"{text}"' if quoted else f"<{text}>"
                broken.append(f"{file}:{number}: includes {shown}: {why}")
    for file, target in sorted(set(allowances) - used):
        broken.append(f"{file}: no longer includes {target}; "
                      "remove it from ALLOWED_FOR_NOW (cmake/check_includes.py)")
    return broken, len(files)


def reaching(root, header, files):
    """Those of `files` that include `header` (relative to root), directly or
    through the project's files, in the order given."""
    root = Path(root).resolve()
    wanted = Path(os.path.normpath(header))
    known = {}

    def reaches(path):
        if path not in known:
            known[path] = False  # ends include cycles
            place = place_of(path.relative_to(root), root)
            search = place.search if isinstance(place, Place) else [root / "src"]
            for _, text, quoted in directives(path):
                target = resolve(text, quoted, path, search, root)
                if target is not None and (target == wanted or reaches(root / target)):
                    known[path] = True
                    break
        return known[path]

    return [file for file in files if reaches(Path(file).resolve())]


USAGE = "usage: check_includes.py <project root>\n       check_includes.py --reaching <header> <project root> <file>..."


def main(argv, allowances=ALLOWED_FOR_NOW):
    if argv[:1] == ["--reaching"] and len(argv) >= 3:
        for file in reaching(argv[2], argv[1], argv[3:]):
            print(file)
        return 0
    if len(argv) != 1 or argv[0].startswith("--"):
        print(USAGE, file=sys.stderr)
        return 2
    broken, checked = check(argv[0], allowances)
    for line in broken:
        print(line)
    if broken:
        print(f"{len(broken)} include(s) break the plan of the folders")
        return 1
    print(f"the includes of {checked} files follow the plan of the folders")
    for (file, target), why in sorted(allowances.items()):
        print(f"allowed for now: {file} includes {target}: {why}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
