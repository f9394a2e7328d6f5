"""A binding method declares beside its signature the exception that the error
its work returns raises (python/method.h): the exception of the error's kind,
which the work's return type carries (base/result.h). A work whose type
disagrees with the declaration, by failing or not or by its kind, does not
compile. The control declares each kind rightly and must compile, so a probe
cannot pass by failing for an unrelated reason.

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
        [](std::uint32_t) { return std::optional<IoError>(); });
    constexpr PyCFunction opened = released<&Probe::handle, signature, Raises::OSError>(
        [](std::uint32_t h) { return Result<std::uint32_t, IoError>(h); });
    constexpr PyCFunction made = held<Probe, signature, Raises::RuntimeError>(
        [](Probe& p) { return Result<std::uint32_t>(p.handle); });
    constexpr PyCFunction looked_up = held<Probe, signature, Raises::RuntimeError>(
        [](Probe&) { return std::optional<Error>(); });
    constexpr PyCFunction written = held<Probe, signature, Raises::ValueError>(
        [](Probe&) { return std::optional<ValueError>(); });
    (void)plain; (void)exported; (void)opened; (void)made; (void)looked_up; (void)written;
"""

MISMATCH = "declares the exception"  # in the compiler's error


def declared(raises, returned, entry="released"):
    """A method declaring `raises` whose work returns `returned` (of the handle
    `h`, or of the object `p` when `entry` is "held")."""
    if entry == "held":
        head, work = "held<Probe", "[](Probe& p) { const std::uint32_t h = p.handle;"
    else:
        head, work = "released<&Probe::handle", "[](std::uint32_t h) {"
    return (f"constexpr PyCFunction m = {head}, signature, Raises::{raises}>("
            f"{work} return {returned}; }}); (void)m;")


# (what the probe does, its statement, a word the compiler's error must hold)
PROBES = [
    ("declare no exception for a work that returns a result",
     declared("nothing", "Result<std::uint32_t>(h)"), MISMATCH),
    ("declare no exception for a work that returns an error",
     declared("nothing", "std::optional<Error>()", "held"), MISMATCH),
    ("declare an exception for a work that cannot fail",
     declared("OSError", "h"), MISMATCH),
    # the kind: a declared exception other than the one of the error's kind
    ("declare ValueError for a file write's I/O error",
     declared("ValueError", "std::optional<IoError>()"), MISMATCH),
    ("declare RuntimeError for a file's I/O error",
     declared("RuntimeError", "Result<std::uint32_t, IoError>(h)"), MISMATCH),
    ("declare RuntimeError for a value error",
     declared("RuntimeError", "std::optional<ValueError>()", "held"), MISMATCH),
    # an error passes on with its kind (base/result.h): it does not turn into another
    ("pass an I/O error on as a refusal",
     "std::optional<Error> e = IoError{\"disk\"}; (void)e;", "conversion"),
    ("make a result of one kind from an error of another",
     "Result<std::uint32_t, ValueError> r = Error{\"x\"}; (void)r;", "conversion"),
    ("make a result whose error has no kind",
     "Result<std::uint32_t, std::string> r = std::uint32_t{1}; (void)r;", "one of the kinds"),
]


def main():
    compiler, source_dir, python_includes = sys.argv[1:]
    flags = ["-std=c++20", f"-I{Path(source_dir) / 'src'}"]
    flags += [f"-isystem{folder}" for folder in python_includes.split(";") if folder]
    return run(compiler, flags, CONTROL, PROBES, PRELUDE)


if __name__ == "__main__":
    sys.exit(main())
