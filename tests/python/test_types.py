"""The module's stub, stowvex.pyi: mypy reads it from an installed package and
rejects wrong use, its docstrings are the module's own, and the dicts it
declares for to_dict have exactly the keys and value types the module returns.
"""

import ast
import inspect
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import stowvex
from stowvex import Box, Item, Rotation

STUB = Path(__file__).resolve().parents[2] / "src" / "stowvex.pyi"

# Correct use: mypy --strict must accept every line.
CORRECT = """
import stowvex
from stowvex import Box, Item, Rotation

item = Item("A", "", 1, 2.5, 3, 0.4, allowed_rotation=Rotation.NEVER)
linked = Item(item_code="B", item_reference="b", width=1, length=1, depth=1, weight=0,
              box_group="G")
box = Box("S", 10, 10, 10, max_weight=20, empty_weight=0.5, active=True, max_quantity=2)
result = stowvex.pack((item, linked), [box])
text: str = stowvex.solve(b'{"items": [], "boxes": []}')
text = stowvex.solve(bytearray(b"{}")) + stowvex.solve("{}")
again: stowvex.PackResult = stowvex.pack_dicts([{"ItemCode": "A"}], None)
for packed in result.boxes:
    size: int = len(packed)
    share: float = packed.volume_utilisation + packed.box.inner_volume
    for placed in packed.items:
        corner: tuple[float, float, float] = (placed.x, placed.y, placed.z)
        label: str = placed.orientation + placed.item.item_code
        z_first: float = placed.to_dict()["z"]
group: str | None = result.unplaced_items[0].box_group
quantity: int | None = box.max_quantity
whole = result.to_dict()
code: str = whole["unplaced_items"][0]["ItemCode"]
index: int = whole["placements"][0]["box_index"] + whole["summary"]["box_count"]
limit: float | None = whole["boxes"][0]["max_weight"]
number: int = int(Rotation.KEEP_FLAT) + Rotation(2).value
name: str = Rotation.__members__["NEVER"].name + stowvex.__version__
json_text: str = result.to_json() + result.to_json(indent=-1)
"""

# Wrong use: every line marked "# E: code" must be reported with that error
# code, and nothing else may be.
WRONG = """
import stowvex
from stowvex import Box, Item, Rotation

Item("A", "", "10", 1, 1, 1)  # E: arg-type
Item("A", "", 1, 1, 1, 1, allowed_rotation=1)  # E: arg-type
Item("A", "", 1, 1, 1)  # E: call-arg
Box("B", 1, 1, 1, max_quantity=2.5)  # E: arg-type
stowvex.solve({"items": []})  # E: arg-type
stowvex.pack([{"ItemCode": "A"}], [])  # E: list-item
stowvex.pack("AB", [])  # E: arg-type
stowvex.PackedItem(Item("A", "", 1, 1, 1, 1), 0.0, 0.0, 0.0)  # E: arg-type
result = stowvex.pack_dicts([], [])
result.boxes[0].box.width = 3.0  # E: misc
count: str = result.total_placed  # E: assignment
result.to_dict()["summary"]["box_cnt"]  # E: typeddict-item
result.to_json(indent=2.5)  # E: arg-type
Rotation.SIDEWAYS  # E: attr-defined
z: int = result.boxes[0].items[0].z  # E: assignment
group: str = result.unplaced_items[0].box_group  # E: assignment
limit: float = result.to_dict()["boxes"][0]["max_weight"]  # E: assignment
stowvex.pack_dicts(items=[])  # E: call-arg
"""

ERROR = re.compile(r"^(?P<file>[^:]+\.py):(?P<line>\d+): error: .*\[(?P<code>[a-z-]+)\]$")


def run_mypy(python, tmp_path, sources):
    """mypy --strict on the given sources, reading installed packages from the
    environment of `python`; returns {file name: {(line, error code)}}."""
    pytest.importorskip("mypy")
    for name, text in sources.items():
        (tmp_path / name).write_text(textwrap.dedent(text).lstrip("\n"), encoding="utf-8")
    proc = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--no-error-summary",
            "--show-error-codes",
            "--cache-dir",
            str(tmp_path / "cache"),
            "--python-executable",
            python,
            *sources,
        ],
        cwd=tmp_path,
        capture_output=True,
        text=True,
        timeout=600,
    )
    assert proc.returncode in (0, 1), proc.stdout + proc.stderr
    found = {name: set() for name in sources}
    for line in proc.stdout.splitlines():
        match = ERROR.match(line)
        if match:
            found[match["file"]].add((int(match["line"]), match["code"]))
        else:
            assert ": note:" in line, line
    return found


def planted(text):
    lines = textwrap.dedent(text).lstrip("\n").splitlines()
    return {
        (number, line.rsplit("# E: ", 1)[1].strip())
        for number, line in enumerate(lines, start=1)
        if "# E: " in line
    }


def test_mypy_accepts_correct_use_and_reports_each_planted_error(installed_python, tmp_path):
    found = run_mypy(installed_python, tmp_path, {"correct.py": CORRECT, "wrong.py": WRONG})
    assert found["correct.py"] == set()
    assert found["wrong.py"] == planted(WRONG)


# --- the stub's docstrings are the module's ---------------------------------

# Texts that pybind11 and CPython write into docstrings themselves.
GENERATED = (
    "Overloaded function.",
    "Initialize self.  See help(type(self)) for accurate signature.",
)


def runtime_doc(obj, name):
    """The docstring of a module object without the signature lines and texts
    that pybind11 and CPython generate."""
    signature = re.compile(r"^(\d+\. )?" + re.escape(name) + r"\(.*\)( -> .*)?$")
    lines = [
        line
        for line in (obj.__doc__ or "").splitlines()
        if not signature.match(line) and line not in GENERATED
    ]
    return inspect.cleandoc("\n".join(lines))


def stub_definitions():
    """(qualified name, module object, stub docstring) of every public class,
    function, method and property the stub defines."""
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    for node in tree.body:
        if isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
            cls = getattr(stowvex, node.name)
            yield node.name, cls, node.name, ast.get_docstring(node) or ""
            for member in node.body:
                if isinstance(member, ast.FunctionDef):
                    yield (
                        f"{node.name}.{member.name}",
                        cls.__dict__[member.name],
                        member.name,
                        ast.get_docstring(member) or "",
                    )
        elif isinstance(node, ast.FunctionDef):
            yield (node.name, getattr(stowvex, node.name), node.name, ast.get_docstring(node) or "")


def test_stub_docstrings_are_the_modules_own():
    definitions = list(stub_definitions())
    assert len(definitions) > 60
    mismatched = [
        (qualified, stub_doc, runtime_doc(obj, name))
        for qualified, obj, name, stub_doc in definitions
        if stub_doc != runtime_doc(obj, name)
    ]
    assert mismatched == []


# --- the declared to_dict shapes --------------------------------------------


def typed_dicts():
    """Each TypedDict of the stub as {key: annotation text}, bases included."""
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    shapes = {}
    for node in tree.body:
        if not isinstance(node, ast.ClassDef):
            continue
        bases = [ast.unparse(base) for base in node.bases]
        if bases != ["TypedDict"] and not all(base in shapes for base in bases):
            continue
        fields = {}
        for base in bases:
            fields.update(shapes.get(base, {}))
        for member in node.body:
            if isinstance(member, ast.AnnAssign):
                fields[member.target.id] = ast.unparse(member.annotation)
        shapes[node.name] = fields
    return shapes


def conforms(value, annotation, shapes):
    """Whether a value returned by the module has the declared type."""
    alternatives = [part.strip() for part in annotation.split("|")]
    if len(alternatives) > 1:
        return any(conforms(value, part, shapes) for part in alternatives)
    if annotation == "None":
        return value is None
    if annotation in shapes:
        fields = shapes[annotation]
        return (
            isinstance(value, dict)
            and list(value) == sorted(fields)
            and all(conforms(value[key], fields[key], shapes) for key in fields)
        )
    if annotation.startswith("list[") and annotation.endswith("]"):
        return isinstance(value, list) and all(
            conforms(element, annotation[5:-1], shapes) for element in value
        )
    exact = {"str": str, "float": float, "int": int, "bool": bool}[annotation]
    return type(value) is exact


def test_to_dict_results_have_the_declared_shapes():
    shapes = typed_dicts()
    items = [
        Item("A", "a", 1, 2, 3, 4),
        Item("B", "", 5, 5, 5, 1, "G", Rotation.NEVER),
        Item("HUGE", "", 99, 99, 99, 1),
    ]
    boxes = [
        Box("S", 10, 10, 10, max_weight=20, empty_weight=1, max_quantity=1),
        Box("L", 10, 20, 10),
    ]
    result = stowvex.pack(items, boxes)
    assert result.boxes and result.unplaced_items
    cases = [(item.to_dict(), "_ItemDict") for item in items]
    cases += [(box.to_dict(), "_BoxDict") for box in boxes]
    for packed in result.boxes:
        cases.append((packed.to_dict(), "_PackedBoxDict"))
        cases += [(placed.to_dict(), "_PlacementDict") for placed in packed.items]
    cases.append((result.to_dict(), "_ResultDict"))
    for value, shape in cases:
        assert conforms(value, shape, shapes), (shape, value)
