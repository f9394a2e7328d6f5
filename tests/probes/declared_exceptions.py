"""A binding method declares beside its signature the exception that the error
its work returns raises (python/method.h); a work whose type disagrees with
the declaration does not compile. The control declares each kind rightly and
must compile, so a probe cannot pass by failing for an unrelated reason.

Run by CTest: declared_exceptions.py COMPILER SOURCE_DIR PYTHON_INCLUDES, the
last a CMake list of the interpreter's header folders.
"""
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from private_members import run  # noqa: E402

PRELUDE = """
#include <Python.h>
#include "python/method.h"
using namespace tallo;
using namespace tallo::python;
struct Probe {
    static constexpr std::string_view name = "Probe";
    std::uint32_t handle;
};
constexpr auto signature = documented<>({Probe::name, "m"}, "m($self)");
void probe() {
"""

CONTROL = """
    constexpr PyCFunction plain = released<&Probe::handle, signature, Raises::nothing>([](std::uint32_t h) { return h; });
    constexpr PyCFunction exported = released<&Probe::handle, signature, Raises::OSError>(
        [](std::uint32_t) { return std::optional<Error>(); });
    constexpr PyCFunction made = held<Probe, signature, Raises::RuntimeError>(
        [](Probe& p) { return Result<std::uint32_t>(p.handle); });
    (void)plain; (void)exported; (void)made;
"""

MISMATCH = "declares the exception"  # in the compiler's error

# (what the probe does, its statement, a word the compiler's error must hold)
PROBES = [
    ("declare no exception for a work that returns a result",
     "constexpr PyCFunction m = released<&Probe::handle, signature, Raises::nothing>("
     "[](std::uint32_t h) { return Result<std::uint32_t>(h); }); (void)m;", MISMATCH),
    ("declare no exception for a work that returns an error",
     "constexpr PyCFunction m = held<Probe, signature, Raises::nothing>("
     "[](Probe&) { return std::optional<Error>(); }); (void)m;", MISMATCH),
    ("declare an exception for a work that cannot fail",
     "constexpr PyCFunction m = released<&Probe::handle, signature, Raises::OSError>("
     "[](std::uint32_t h) { return h; }); (void)m;", MISMATCH),
]


def main():
    compiler, source_dir, python_includes = sys.argv[1:]
    flags = ["-std=c++20", f"-I{Path(source_dir) / 'src'}"]
    flags += [f"-isystem{folder}" for folder in python_includes.split(";") if folder]
    return run(compiler, flags, CONTROL, PROBES, PRELUDE)


if __name__ == "__main__":
    sys.exit(main())
