"""The installed package works outside the source tree: the README example
runs and the type information is in place. After `make wheel` (which names
its files in STOWVEX_SDIST and STOWVEX_WHEEL) also: the sdist holds every
source the build needs and no build output, and the wheel is a manylinux wheel
with the module, its stubs and stowvex_tools.
"""

import json
import os
import re
import shutil
import subprocess
import tarfile
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
STUB = ROOT / "src" / "stowvex.pyi"

# What a user would find of the installation: where the two packages were
# loaded from, and the files beside them.
LOCATE = """
import json, stowvex, stowvex_tools
print(json.dumps({"stowvex": stowvex.__file__, "stowvex_tools": stowvex_tools.__file__,
                  "versions": [stowvex.__version__, stowvex_tools.__version__]}))
"""


def run_python(python, code, cwd):
    # -I: neither the working directory nor PYTHON* variables reach sys.path.
    proc = subprocess.run(
        [python, "-I", "-c", code], cwd=cwd, capture_output=True, text=True, timeout=300
    )
    assert proc.returncode == 0, proc.stderr
    return proc.stdout


def readme_example():
    blocks = re.findall(
        r"```python\n(.*?)```", (ROOT / "README.md").read_text(encoding="utf-8"), re.DOTALL
    )
    assert blocks, "README.md has no Python example"
    return blocks[0]


def test_readme_example_runs_outside_the_source_tree(installed_python, tmp_path):
    lines = run_python(installed_python, readme_example(), tmp_path).splitlines()
    assert lines[0].split()[0] == "S"
    assert sorted(line.split()[0] for line in lines[1:3]) == ["BOOK", "MUG"]
    solved = json.loads(lines[-1])
    assert solved["success"] and solved["summary"]["total_placed"] == 1


def test_packages_load_from_the_installation_not_the_tree(installed_python, tmp_path):
    found = json.loads(run_python(installed_python, LOCATE, tmp_path))
    for name in ("stowvex", "stowvex_tools"):
        path = Path(found[name]).resolve()
        assert "site-packages" in path.parts, path
        assert not path.is_relative_to(ROOT / "src")
    assert found["versions"][0] == found["versions"][1] != "0+unknown"


def test_type_information_is_installed_beside_the_packages(installed_python, tmp_path):
    found = json.loads(run_python(installed_python, LOCATE, tmp_path))
    site = Path(found["stowvex"]).parent
    assert (site / "stowvex.pyi").read_bytes() == STUB.read_bytes()
    assert (site / "stowvex-stubs" / "__init__.pyi").read_bytes() == STUB.read_bytes()
    assert (Path(found["stowvex_tools"]).parent / "py.typed").is_file()


def built_file(variable):
    path = os.environ.get(variable)
    if not path:
        pytest.skip(f"{variable} is set by `make wheel`")
    return Path(path)


def tracked_sources():
    if shutil.which("git") is None or not (ROOT / ".git").exists():
        pytest.skip("needs the git checkout to list the sources")
    listed = subprocess.run(
        [
            "git",
            "-C",
            str(ROOT),
            "ls-files",
            "--",
            "src",
            "cmake",
            "CMakeLists.txt",
            "pyproject.toml",
            "LICENSE",
            "README.md",
        ],
        capture_output=True,
        text=True,
        check=True,
    ).stdout.split()
    assert "src/stowvex.pyi" in listed
    return set(listed)


def test_sdist_holds_every_source_and_no_build_output():
    with tarfile.open(built_file("STOWVEX_SDIST")) as sdist:
        names = {name.split("/", 1)[1] for name in sdist.getnames() if "/" in name}
    assert tracked_sources() <= names
    assert "PKG-INFO" in names
    unwanted = {"build", ".venv", ".git", "__pycache__", ".mypy_cache", ".pytest_cache"}
    assert [name for name in names if unwanted & set(name.split("/"))] == []


def test_wheel_is_manylinux_with_module_stubs_and_tools():
    wheel = built_file("STOWVEX_WHEEL")
    assert re.search(
        r"-manylinux_\d+_\d+_x86_64\.whl$|-manylinux_\d+_\d+_aarch64\.whl$", wheel.name
    ), wheel.name
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
    assert [name for name in names if re.fullmatch(r"stowvex\.cpython-[^/]+\.so", name)]
    assert [
        name for name in names if re.fullmatch(r"stowvex_tools/_native\.cpython-[^/]+\.so", name)
    ]
    for expected in (
        "stowvex.pyi",
        "stowvex-stubs/__init__.pyi",
        "stowvex_tools/__init__.py",
        "stowvex_tools/py.typed",
        "stowvex_tools/_native.pyi",
    ):
        assert expected in names
    assert [name for name in names if name.endswith("/licenses/LICENSE")]
    assert [name for name in names if name.startswith(("tests/", "src/", "build/"))] == []
