"""The build backend of `pip install .`: setuptools' own, with CMake and
Ninja added to the build requirements only when the machine has no usable
ones (an isolated build then fetches them as wheels; a machine with Debian's
cmake and ninja-build needs nothing more)."""
import re
import shutil
import subprocess

from setuptools import build_meta as _setuptools
from setuptools.build_meta import *  # noqa: F401,F403  (the hooks we do not change)

CMAKE_MINIMUM = (3, 25)


def _cmake_is_usable():
    cmake = shutil.which("cmake")
    if cmake is None:
        return False
    try:
        out = subprocess.run([cmake, "--version"], capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return False
    found = re.search(r"(\d+)\.(\d+)", out)
    return bool(found) and tuple(map(int, found.groups())) >= CMAKE_MINIMUM


def _build_tools():
    tools = []
    if not _cmake_is_usable():
        tools.append("cmake>={}.{}".format(*CMAKE_MINIMUM))
    if shutil.which("ninja") is None:
        tools.append("ninja")
    return tools


def get_requires_for_build_wheel(config_settings=None):
    return _setuptools.get_requires_for_build_wheel(config_settings) + _build_tools()


def get_requires_for_build_editable(config_settings=None):
    return _setuptools.get_requires_for_build_editable(config_settings) + _build_tools()
