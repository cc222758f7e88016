"""The built module loads only into the interpreter version it was built for.

Each case loads the very file that this interpreter imports as `stowvex` in a
fresh interpreter process, once in this interpreter and once in every other
CPython 3.10+ found on the machine (pyenv versions and interpreters on PATH).
"""

import glob
import json
import os
import re
import shutil
import subprocess
import sys

import pytest

import stowvex

BUILT_FOR = "{}.{}".format(*sys.version_info[:2])
MISMATCH = (
    "Python version mismatch: module was compiled for Python {built}, "
    "but the interpreter version is incompatible: {running}."
)

# Runs in the interpreter under test: loads the extension file given on the
# command line as `stowvex` and prints what happened as JSON. With "lazy" the
# file's references to C functions are bound on first call instead of at load.
LOADER = r"""
import importlib.machinery, importlib.util, json, os, sys
path, binding = sys.argv[1], sys.argv[2]
if binding == "lazy":
    sys.setdlopenflags(os.RTLD_LAZY)
loader = importlib.machinery.ExtensionFileLoader("stowvex", path)
spec = importlib.util.spec_from_file_location("stowvex", path, loader=loader)
result = {"version": sys.version}
try:
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
except ImportError as exc:
    result.update(outcome="ImportError", message=str(exc))
else:
    result.update(outcome="imported", name=module.__name__,
                  names=[n for n in vars(module) if not n.startswith("_")])
print(json.dumps(result))
"""

DESCRIBE = (
    "import json, sys; print(json.dumps([sys.implementation.name, "
    "list(sys.version_info[:2]), sys.version]))"
)


def load(interpreter, binding="now"):
    proc = subprocess.run(
        [interpreter, "-I", "-c", LOADER, stowvex.__file__, binding],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert proc.returncode == 0, proc.stderr
    return json.loads(proc.stdout)


def _pyenv_root():
    if os.environ.get("PYENV_ROOT"):
        return os.environ["PYENV_ROOT"]
    pyenv = shutil.which("pyenv")
    if pyenv:
        try:
            out = subprocess.run([pyenv, "root"], capture_output=True, text=True, timeout=30)
            if out.returncode == 0 and out.stdout.strip():
                return out.stdout.strip()
        except (OSError, subprocess.SubprocessError):
            pass
    return os.path.expanduser("~/.pyenv")


def _candidate_paths():
    paths = sorted(glob.glob(os.path.join(_pyenv_root(), "versions", "*", "bin", "python3")))
    for directory in os.environ.get("PATH", "").split(os.pathsep):
        if not directory or os.path.basename(directory) == "shims":
            continue
        found = glob.glob(os.path.join(directory, "python3*"))
        paths += sorted(p for p in found if re.fullmatch(r"python3(\.\d+)?", os.path.basename(p)))
    return paths


def other_interpreters():
    """(minor version, path): one CPython 3.10+ per minor version other than ours."""
    by_minor = {}
    seen = set()
    for path in _candidate_paths():
        real = os.path.realpath(path)
        if real in seen or not os.access(real, os.X_OK):
            continue
        seen.add(real)
        try:
            out = subprocess.run(
                [path, "-I", "-c", DESCRIBE], capture_output=True, text=True, timeout=60
            )
            name, version, _ = json.loads(out.stdout)
        except (OSError, ValueError, subprocess.SubprocessError):
            continue
        minor = "{}.{}".format(*version)
        if name == "cpython" and tuple(version) >= (3, 10) and minor != BUILT_FOR:
            by_minor.setdefault(minor, path)
    return [(m, by_minor[m]) for m in sorted(by_minor, key=lambda m: tuple(map(int, m.split("."))))]


OTHERS = other_interpreters()


def test_module_loads_into_its_own_interpreter():
    result = load(sys.executable)
    assert result["outcome"] == "imported", result
    assert result["name"] == "stowvex"
    assert "Rotation" in result["names"]


@pytest.mark.parametrize(
    "minor, other",
    OTHERS
    or [
        pytest.param(
            None,
            None,
            marks=pytest.mark.skip(
                reason="no CPython 3.10+ of another minor version on this machine"
            ),
        )
    ],
    ids=[f"python{minor}" for minor, _ in OTHERS] or None,
)
def test_other_interpreter_refuses_module_with_version_message(minor, other):
    lazy = load(other, "lazy")
    assert lazy["version"].startswith(minor)
    expected = MISMATCH.format(built=BUILT_FOR, running=lazy["version"])
    # The module's entry point runs its check before anything else and names
    # both versions.
    assert lazy["outcome"] == "ImportError", lazy
    assert lazy["message"] == expected

    # A normal import fails as well. Binding every C function at load, the
    # dynamic linker may refuse the file before the entry point runs when the
    # other interpreter lacks one of them (3.10 and 3.13 against a 3.11 build).
    normal = load(other)
    assert normal["outcome"] == "ImportError", normal
    if normal["message"] != expected:
        assert "undefined symbol" in normal["message"], normal["message"]
        assert stowvex.__file__ in normal["message"]
