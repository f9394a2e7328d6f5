"""Builds the extension module `tallo` with CMake for `pip install .`.

The C++ core and the module are built by the project's own CMake files (the
same ones `scripts/build` uses), without tests, benchmarks or examples; the
module file is then copied where setuptools packs it; the type stubs
(python/tallo-stubs) go beside it. TALLO_JOBS limits the build's parallel jobs
(default: every core).
"""
import os
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


class CMakeModule(Extension):
    def __init__(self, name, target):
        super().__init__(name, sources=[])
        self.target = target


class BuildWithCMake(build_ext):
    def build_extension(self, ext):
        build_dir = Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build_dir),
            "-DCMAKE_BUILD_TYPE=Release",
            f"-DPython3_EXECUTABLE={sys.executable}",
            "-DTALLO_BUILD_TESTS=OFF", "-DTALLO_BUILD_BENCH=OFF",
        ]
        if shutil.which("ninja") and not (build_dir / "CMakeCache.txt").exists():
            configure += ["-G", "Ninja"]
        subprocess.run(configure, check=True)
        jobs = os.environ.get("TALLO_JOBS") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(build_dir), "--target", ext.target, "--parallel", jobs],
                       check=True)

        suffix = Path(self.get_ext_filename(ext.name)).name[len(ext.name):]
        built = build_dir / "src" / "python" / f"{ext.name}{suffix}"
        if not built.exists():
            raise RuntimeError(f"CMake did not produce {built}")
        destination = Path(self.get_ext_fullpath(ext.name))
        destination.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, destination)


setup(
    ext_modules=[CMakeModule("tallo", target="tallo_module")],
    cmdclass={"build_ext": BuildWithCMake},
    # The type stubs, as the stub-only package `tallo-stubs` (PEP 561).
    packages=["tallo-stubs"],
    package_dir={"tallo-stubs": "python/tallo-stubs"},
    package_data={"tallo-stubs": ["__init__.pyi"]},
    zip_safe=False,
)
