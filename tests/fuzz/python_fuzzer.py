"""Fuzz harness for the stowvex module as Python calls it, driven by atheris.

Each input picks one call: solve on raw or generated request text, pack_dicts
on generated values, pack on Item and Box objects made from adversarial
arguments, a constructor alone, or the members of a result. Every call must
give a result or one of the documented errors; every result must pass
stowvex_tools.validate against the request it answers (every item placed once
or unplaced, inside its box, apart from the others, turned only as allowed,
weight and quantity limits, box groups whole, true figures), pack must hand
back the caller's own objects, solve and pack_dicts must give the same text
for one request, and to_dict, to_json and every indent must hold the same
value.

Run under the sanitized module: make test-sanitize-python (a minute) or
make fuzz-python FUZZ_SECONDS=N. Arguments are libFuzzer's.
"""

import json
import math
import sys
from collections import Counter

import atheris

# Coverage comes from the module's own instrumented build, not from Python.
import stowvex
from stowvex import Box, Item, Rotation
from stowvex_tools import validate

ITEM_KEYS = [
    "ItemCode",
    "ItemReference",
    "Width",
    "Length",
    "Depth",
    "Weight",
    "AllowedRotation",
    "BoxGroup",
]
BOX_KEYS = [
    "Reference",
    "Width",
    "Length",
    "Depth",
    "MaxWeight",
    "BoxWeight",
    "MaximumBoxes",
    "Active",
]
ODD_NUMBERS = [
    0,
    -0.0,
    1,
    -1,
    0.5,
    2.5,
    1e-300,
    5e-324,
    1e19,
    -1e19,
    1e300,
    1e308,
    2**53,
    2**31,
    -(2**31) - 1,
    2**63,
    2**64,
    10**400,
    math.inf,
    -math.inf,
    math.nan,
    0.1,
]
ODD_TEXTS = [
    "",
    "A",
    "B",
    "G",
    "Kiste \u00e4",
    "\u7bb1",
    "a\x00b",
    "\ud800",
    "x" * 5000,
    "KeepFlat",
    "never",
    "KEEP_FLAT",
    "BestFit",
    " Never",
]
ROTATION_TEXTS = ["Never", "KeepFlat", "keep_flat", "BestFit", "sideways", ""]


def documented(error):
    """The errors callers are told to expect, by exact type."""
    if type(error) is RuntimeError:
        return str(error).startswith("[json.exception.")
    # json.dumps raises RecursionError for deep nesting, ValueError for loops.
    return type(error) in (TypeError, ValueError, RecursionError)


class Values:
    """Adversarial Python values drawn from the fuzzer's bytes."""

    def __init__(self, data):
        self.fdp = atheris.FuzzedDataProvider(data)

    def int(self, low, high):
        return self.fdp.ConsumeIntInRange(low, high)

    def pick(self, values):
        return self.fdp.PickValueInList(values)

    def chance(self, p):
        # Once the bytes run out every draw is zero: take the common branch then.
        return self.fdp.remaining_bytes() > 0 and self.fdp.ConsumeProbability() < p

    def number(self):
        kind = self.int(0, 5)
        if kind == 0:
            return self.pick(ODD_NUMBERS)
        if kind == 1:
            return self.fdp.ConsumeFloat()
        if kind == 2:
            return self.int(-3, 40) / self.pick([1, 2, 4, 10])
        return self.int(0, 12)

    def text(self):
        if self.chance(0.2):
            return self.fdp.ConsumeUnicode(self.int(0, 12))
        return self.pick(ODD_TEXTS)

    def text_argument(self):
        kind = self.int(0, 9)
        if kind == 0:
            return self.fdp.ConsumeBytes(self.int(0, 8))
        if kind == 1:
            return bytearray(self.text().encode("utf-8", "surrogatepass"))
        return self.text()

    def any_value(self, depth=0):
        kind = self.int(0, 9 if depth < 4 else 5)
        if kind == 0:
            return None
        if kind == 1:
            return self.chance(0.5)
        if kind in (2, 3):
            return self.number()
        if kind in (4, 5):
            return self.text()
        if kind == 6:
            return [self.any_value(depth + 1) for _ in range(self.int(0, 3))]
        if kind == 7:
            return self.nested(self.int(1, 3000))
        return {
            self.pick(ITEM_KEYS + BOX_KEYS): self.any_value(depth + 1)
            for _ in range(self.int(0, 4))
        }

    def nested(self, depth):
        value = []
        for _ in range(depth):
            value = [value]
        return value

    def member(self, key):
        """A plausible value for a request key, or anything at all."""
        if self.chance(0.1):
            return self.any_value(1)
        if key in ("ItemCode", "Reference", "ItemReference"):
            return self.pick(["A", "B", "C", "D", "E", "F"]) if self.chance(0.8) else self.text()
        if key == "BoxGroup":
            return self.pick(["", "G", "H", None])
        if key == "AllowedRotation":
            return self.pick(ROTATION_TEXTS)
        if key == "Active":
            return self.chance(0.85)
        if key == "MaximumBoxes":
            return self.pick([None, 0, 1, 2, 3, -1, True, 2.9])
        if key in ("MaxWeight", "BoxWeight", "Weight"):
            return self.number() if self.chance(0.3) else self.int(-2, 30)
        return self.number() if self.chance(0.2) else self.int(0, 12)

    def item_dict(self, code):
        item = {
            "ItemCode": code,
            "Width": self.member("Width"),
            "Length": self.member("Length"),
            "Depth": self.member("Depth"),
        }
        for key in ("Weight", "AllowedRotation", "BoxGroup", "ItemReference"):
            if self.chance(0.5):
                item[key] = self.member(key)
        if self.chance(0.05):
            del item[self.pick(list(item))]
        return item

    def box_dict(self, reference):
        box = {
            "Reference": reference,
            "Width": self.int(0, 20),
            "Length": self.int(0, 20),
            "Depth": self.int(0, 20),
        }
        for key in ("MaxWeight", "BoxWeight", "MaximumBoxes", "Active"):
            if self.chance(0.4):
                box[key] = self.member(key)
        if self.chance(0.1):
            box[self.pick(["Width", "Length", "Depth"])] = self.member("Width")
        return box

    def request(self):
        # Boxes first: what is drawn after the bytes run out is all zeros.
        boxes = [self.box_dict(self.pick(["B0", "B1", "B2"])) for _ in range(self.int(1, 5))]
        items = [self.item_dict(f"I{n}") for n in range(self.int(0, 30))]
        return items, boxes

    def item_object(self, n):
        args = [
            self.text_argument() if self.chance(0.1) else f"I{n}",
            self.text_argument() if self.chance(0.1) else "",
            self.constructor_number(),
            self.constructor_number(),
            self.constructor_number(),
            self.constructor_number(),
            self.pick(["", "", "", "G", "H"]) if self.chance(0.9) else self.text_argument(),
            self.pick(list(Rotation.__members__.values()) + [Rotation(7)]),
        ]
        if self.chance(0.05):
            args[self.int(0, 7)] = self.any_value(2)
        return Item(*args[: self.int(6, 8)])

    def box_object(self):
        args = [
            self.pick(["B0", "B1", "B2"]) if self.chance(0.9) else self.text_argument(),
            self.constructor_number(),
            self.constructor_number(),
            self.constructor_number(),
            self.pick([-1.0, 0, 5, 20, 1e300, math.nan])
            if self.chance(0.5)
            else self.constructor_number(),
            self.constructor_number() if self.chance(0.3) else 0.0,
            self.chance(0.9),
            self.pick([None, None, 0, 1, 2, -1, 2**31 - 1]),
        ]
        if self.chance(0.05):
            args[self.int(0, 7)] = self.any_value(2)
        return Box(*args[: self.int(4, 8)])

    def constructor_number(self):
        if self.chance(0.1):
            return self.pick([True, False, "1", None, b"1", 10**400, 1.5j, self.number()])
        return self.number() if self.chance(0.3) else self.int(0, 12)


# Checks of results. The rules of a valid packing (accounting, geometry,
# orientations, limits, box groups, figures) are stowvex_tools.validate's;
# what it cannot see from outside is checked here.


def plain(value):
    """A to_dict value as its JSON text reads back: non-finite numbers are null."""
    if isinstance(value, float) and not math.isfinite(value):
        return None
    if isinstance(value, list):
        return [plain(v) for v in value]
    if isinstance(value, dict):
        return {k: plain(v) for k, v in value.items()}
    return value


def check_valid(result, items, boxes):
    violations = validate(result, items, boxes)
    assert not violations, "\n".join(str(v) for v in violations)


def check_result(result, values, items, boxes):
    """A result of pack_dicts or pack, given the item and box values it was made from."""
    check_valid(result, items, boxes)
    placed = [p for b in result.boxes for p in b.items]
    if items and isinstance(items[0], Item):
        # pack shares the caller's objects: each entry comes back once, as itself.
        seen = Counter(id(p.item) for p in placed)
        seen.update(id(i) for i in result.unplaced_items)
        assert seen == Counter(id(i) for i in items), "an item object lost or placed twice"
        for b in result.boxes:
            assert any(b.box is box for box in boxes), "a box type that is no object given"
    for b in result.boxes:
        # Held in a list: the wrapper of an item made for one read may be freed, and its
        # id reused, before the next read.
        held = [p.item for p in b.items]
        assert len({id(i) for i in held}) == len(held), "one item twice in a box"

    compact = result.to_json(-1)
    data = json.loads(compact)
    assert data == plain(result.to_dict()), "to_dict and to_json disagree"
    for index, packed in enumerate(result.boxes):
        written = {k: v for k, v in data["boxes"][index].items() if k != "box_index"}
        assert plain(packed.to_dict()) == written, "a box's to_dict disagrees with the result"
        repr(packed)
    repr(result)
    indent = values.pick([0, 1, 2, 4, 512, 513, 1024, 1025, 4000, values.int(-3, 3000)])
    text = result.to_json(indent)
    assert json.loads(text) == data, "indented and compact texts disagree"
    if indent >= 0:
        narrow = result.to_json(1)
        widened = "\n".join(
            " " * (indent * (len(line) - len(line.lstrip(" ")))) + line.lstrip(" ")
            for line in narrow.split("\n")
        )
        assert text == widened, "an indent that is not the library's layout"
    if values.chance(0.02):
        call(result.to_json, 2**31 - 1)  # ValueError unless the text stays small


# The calls.


def call(function, *args):
    try:
        return function(*args)
    except Exception as error:
        if not documented(error):
            raise
        return None


def fuzz_solve(values):
    kind = values.int(0, 5)
    if kind == 0:
        call(stowvex.solve, values.fdp.ConsumeBytes(values.int(0, 400)))
        return
    if kind == 5:
        depth = values.int(1, 200000)
        call(stowvex.solve, '{"items": ' + "[" * depth + "]" * values.int(0, depth) + "}")
        return
    if kind == 1:
        call(stowvex.solve, values.fdp.ConsumeUnicode(values.int(0, 400)))
        return
    items, boxes = values.request()
    text = json.dumps({"items": items, "boxes": boxes}, allow_nan=True)
    if kind == 3:  # duplicate keys: the last one counts, as for Python's json
        text = text[:-1] + ', "items": ' + json.dumps(items[:1], allow_nan=True) + "}"
    if kind == 4 and text:
        cut = values.int(0, len(text))
        text = (
            text[:cut] + values.pick(["\x00", "]", "}", ",", " ", "\ud800", "//", "x"]) + text[cut:]
        )
    answer = call(stowvex.solve, text)
    try:
        request = json.loads(text)
        direct = stowvex.pack_dicts(request.get("items"), request.get("boxes"))
    except Exception:
        return
    if answer is None:
        return
    assert direct.to_json(-1) == answer, "solve and pack_dicts disagree on one request"
    if isinstance(request.get("items"), list) and isinstance(request.get("boxes"), list):
        check_valid(answer, request["items"], request["boxes"])


def fuzz_pack_dicts(values):
    if values.chance(0.2):
        call(stowvex.pack_dicts, values.any_value(), values.any_value())
        return
    items, boxes = values.request()
    result = call(stowvex.pack_dicts, items, boxes)
    if result is not None:
        check_result(result, values, items, boxes)


def fuzz_pack(values):
    boxes = [b for b in (call(values.box_object) for _ in range(values.int(1, 5))) if b is not None]
    items = []
    for n in range(values.int(0, 30)):
        item = call(values.item_object, n)
        if item is not None:
            items.append(item)
    items += [values.pick(items) for _ in range(values.int(0, 3))] if items else []
    if values.chance(0.05):
        (items if values.chance(0.5) else boxes).append(values.any_value(1))
    shape = values.pick([list, tuple, list, list, iter])
    result = call(stowvex.pack, shape(items), shape(boxes))
    if result is not None:
        check_result(result, values, items, boxes)


def fuzz_constructors(values):
    item = call(values.item_object, 0)
    if item is not None:
        for name in (
            "item_code",
            "item_reference",
            "box_group",
            "width",
            "length",
            "depth",
            "weight",
            "allowed_rotation",
            "volume",
            "has_box_group",
        ):
            getattr(item, name)
        repr(item)
        json.dumps(item.to_dict(), allow_nan=True)
    box = call(values.box_object)
    if box is not None:
        for name in ("reference", "max_quantity", "inner_volume", "has_weight_limit", "active"):
            getattr(box, name)
        repr(box)
        json.dumps(box.to_dict(), allow_nan=True)


CALLS = [fuzz_solve, fuzz_pack_dicts, fuzz_pack, fuzz_constructors]


def test_one_input(data):
    values = Values(data)
    values.pick(CALLS)(values)


def main():
    sys.setrecursionlimit(10000)
    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
