"""The golden corpus: requests whose results are frozen, so that any change to
the engine that alters a single byte of a result is caught.

Three families of cases, each a request for solve() and the SHA-256 of what it
gave when the corpus was recorded (the result text, or the error's type and
message):

  * generated: CASE_COUNT requests from a seeded SplitMix64 generator that
    depends on nothing but the seed, so they come out the same on every Python
    version; every feature of the request format is mixed in, malformed
    requests included;
  * bench: the inputs of the benchmark scripts in bench/;
  * data: the requests of the data directory's slow/ folder, read where they
    lie (the family is skipped when that directory is absent);
  * large: the truck-scale requests of bench/large_orders.py (1,000 to 3,000
    items over 2 to 12 boxes), checked only on request, as the engine took
    seconds to minutes for each when they were recorded.

For a sample of the generated cases, pack_dicts() of the same items and boxes
is frozen as well: its to_json() with an indent of 0 to 8 and its to_dict().

Usage: corpus.py record [--jobs N]   (re-freezes; only when a result is meant to change)
       corpus.py record-large        (re-freezes the large family alone)
       corpus.py check [--all]       (the same check as the tests)
"""

import argparse
import hashlib
import json
import os
import sys
import types
from pathlib import Path

HERE = Path(__file__).resolve().parent
PROJECT_ROOT = HERE.parent.parent
sys.path.insert(0, str(PROJECT_ROOT / "bench"))

import benchlib  # noqa: E402

CORPUS_SEED = 0x5707_7E10_C0A5_E5ED
CASE_COUNT = 10_240
# Every QUICK_STRIDE-th generated case is checked on every test run; the rest
# only by `make golden`.
QUICK_STRIDE = 32
# Every SAMPLE_STRIDE-th generated case also freezes pack_dicts' forms.
SAMPLE_STRIDE = 16

SOLVE_HASHES = HERE / "solve_sha256.txt"
SAMPLE_HASHES = HERE / "pack_dicts_sha256.txt"
NAMED_HASHES = HERE / "named_sha256.txt"
LARGE_HASHES = HERE / "large_sha256.txt"
DEFAULT_DATA = PROJECT_ROOT.parent / "shared" / "data"


# ---------------------------------------------------------------------------
# Writing JSON text by hand, so that numbers, spacing and key order vary the
# way callers' requests do, and nothing depends on the json module's choices.


def whole_text(rng, value):
    """A whole number in one of several spellings."""
    form = rng.below(10)
    if form < 6:
        return str(value)
    if form < 8:
        return f"{value}.0"
    if form == 8 and value != 0:
        digits = str(value)
        return f"{digits[0]}.{digits[1:] or '0'}e{len(digits) - 1}"
    return f"{value}E0"


def fixed_text(units, places):
    """units / 10**places, written with exactly that many decimals."""
    sign = "-" if units < 0 else ""
    units = abs(units)
    if places == 0:
        return f"{sign}{units}"
    return f"{sign}{units // 10**places}.{units % 10**places:0{places}d}"


def escaped(text):
    """A JSON string literal; non-ASCII text stays raw."""
    out = ['"']
    for ch in text:
        if ch == '"':
            out.append('\\"')
        elif ch == "\\":
            out.append("\\\\")
        elif ord(ch) < 0x20:
            out.append(f"\\u{ord(ch):04x}")
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


class Writer:
    """Writes JSON objects and arrays with a per-request style: compact, with
    blanks, or one member per line."""

    def __init__(self, rng):
        self.rng = rng
        self.style = rng.pick(("compact", "compact", "blank", "blank", "lines"))

    def obj(self, members, shuffle=True):
        members = list(members)
        if shuffle and self.rng.chance(60):
            for k in range(len(members) - 1, 0, -1):
                j = self.rng.below(k + 1)
                members[k], members[j] = members[j], members[k]
        sep, colon = {"compact": (",", ":"), "blank": (", ", ": "), "lines": (",\n  ", ": ")}[
            self.style
        ]
        return "{" + sep.join(f"{escaped(k)}{colon}{v}" for k, v in members) + "}"

    def arr(self, elements):
        sep = {"compact": ",", "blank": ", ", "lines": ",\n"}[self.style]
        return "[" + sep.join(elements) + "]"


# ---------------------------------------------------------------------------
# Measures. A request uses one style of measure for its sizes.

SIZE_STYLES = ("whole", "whole", "whole", "tenths", "dyadic", "hundredths", "mixed")


def measure(rng, style, low, high):
    """(value as float, text) of a size between low and high."""
    if style == "mixed":
        style = rng.pick(SIZE_STYLES[:-1])
    if style == "whole":
        v = rng.between(low, high)
        return float(v), whole_text(rng, v)
    if style == "tenths":
        units = rng.between(low * 10, high * 10)
        return units / 10, fixed_text(units, 1)
    if style == "hundredths":
        units = rng.between(low * 100, high * 100)
        return units / 100, fixed_text(units, 2)
    # dyadic: k + 1/2, 1/4, 1/8 or 3/4, exact in binary
    k = rng.between(low, max(low, high - 1))
    frac = rng.pick((("5", 0.5), ("25", 0.25), ("125", 0.125), ("75", 0.75)))
    return k + frac[1], f"{k}.{frac[0]}"


def weight_text(rng, style):
    """(value, text or None for absent) of a non-negative item weight."""
    if style == "none":
        return 0.0, None
    if style == "zero":
        return 0.0, rng.pick(("0", "0.0", "0e0"))
    if style == "whole":
        v = rng.between(0, 30)
        return float(v), whole_text(rng, v)
    units = rng.between(0, 25000)
    return units / 1000, fixed_text(units, 3)


ROTATION_WORDS = (
    "BestFit",
    "BestFit",
    "Never",
    "KeepFlat",
    "NEVER",
    "KEEP_FLAT",
    "keep_flat",
    "keepflat",
    "never",
    "Keepflat",
    "BEST_FIT",
    "best_fit",
    "",
    "sideways",
    "keep flat",
    " Never",
    "Never ",
    "keep-flat",
    "upright",
)

CODE_EXTRAS = (
    "é",
    "日本",
    "Ω-7",
    "🙂",
    'quote"d',
    "back\\slash",
    "tab\there",
    "line\nbreak",
    "\x01ctl",
    "\x1f",
    "\x7f",
    "a/b",
    "",
)


def code_text(rng, prefix, k):
    if rng.chance(93):
        return f"{prefix}{k}"
    return f"{prefix}{k}{rng.pick(CODE_EXTRAS)}"


# ---------------------------------------------------------------------------
# Generated requests.


def item_types(rng, count, size_style, side_low, side_high, weight_style, groups):
    """`count` kinds of item, each a list of JSON members without the code."""
    kinds = []
    for k in range(count):
        members = []
        for key in ("Width", "Length", "Depth"):
            members.append((key, measure(rng, size_style, side_low, side_high)[1]))
        weight = weight_text(rng, weight_style)[1]
        if weight is not None:
            members.append(("Weight", weight))
        elif rng.chance(10):
            members.append(("Weight", "null"))
        roll = rng.below(100)
        if roll < 45:
            members.append(("AllowedRotation", escaped(rng.pick(ROTATION_WORDS))))
        elif roll < 50:
            members.append(("AllowedRotation", "null"))
        if rng.chance(20):
            members.append(
                ("ItemReference", escaped(rng.pick(("ref", "Réf ü", "", 'r"q')) + str(k)))
            )
        elif rng.chance(5):
            members.append(("ItemReference", "null"))
        if groups and rng.chance(30):
            members.append(("BoxGroup", escaped(rng.pick(groups))))
        elif rng.chance(4):
            members.append(("BoxGroup", rng.pick(("null", '""'))))
        if rng.chance(5):
            members.append(("Volume", rng.pick(("1", "0", "-5", '"big"', "null"))))
        if rng.chance(3):
            members.append(("Colour", rng.pick(('"red"', '{"a": [1, 2]}', "[]", "true"))))
        kinds.append(members)
    return kinds


def cube_root(n):
    """The largest whole r with r**3 <= n."""
    r = 0
    for bit in range(21, -1, -1):
        if (r + (1 << bit)) ** 3 <= n:
            r += 1 << bit
    return r


def box_members(rng, size_style, low, high, weight_milli, runs, quantity_chance):
    members = [
        (key, measure(rng, size_style, low, high)[1]) for key in ("Width", "Length", "Depth")
    ]
    roll = rng.below(100)
    if roll < 40:
        members.append(("BoxWeight", fixed_text(rng.between(0, 2000), 3)))
    elif roll < 45:
        members.append(("BoxWeight", "null"))
    elif roll < 48:
        members.append(("BoxWeight", whole_text(rng, rng.between(0, 5))))
    roll = rng.below(100)
    if roll < 45 and weight_milli > 0:
        share = rng.between(80, 200) // runs  # percent of the cargo weight
        members.append(("MaxWeight", fixed_text(weight_milli * share // 100, 3)))
    elif roll < 50:
        members.append(("MaxWeight", rng.pick(("null", "-1", "-1.0", "-7.5", "0", "0.5"))))
    elif roll < 55:
        members.append(("MaxWeight", whole_text(rng, rng.between(1, 60))))
    if rng.chance(quantity_chance):
        members.append(
            (
                "MaximumBoxes",
                rng.pick(
                    ("1", "1", "2", "2", "3", "0", "-1", "true", "false", "2.9", "null", "1.0", "4")
                ),
            )
        )
    roll = rng.below(100)
    if roll < 6:
        members.append(("Active", "false"))
    elif roll < 16:
        members.append(("Active", rng.pick(("true", "null"))))
    if rng.chance(4):
        members.append(("InnerVolume", rng.pick(("7", '"x"', "null"))))
    return members


PROFILES = (
    # name, share (of 100), item count range, kinds range, box type range, and
    # the number of boxes the box types are sized for (about), one picked.
    # Balancing repacks boxes many times, so large orders are sized to end in
    # one box or in more boxes than are balanced, and the largest balanced
    # orders are kept to some 150 items.
    ("order", 55, (1, 60), (1, 12), (1, 12), (1, 1, 2, 3, 5, 8)),
    ("bulk", 16, (60, 150), (3, 30), (1, 8), (1, 2, 3, 4, 6, 9)),
    ("container", 5, (40, 200), (2, 20), (1, 2), (1, 1, 2)),
    ("large", 2, (150, 1000), (5, 60), (1, 3), (1, 1, 16, 20)),
    ("edge", 15, (0, 14), (1, 6), (0, 5), (1,)),
    ("error", 7, (1, 8), (1, 4), (1, 3), (1,)),
)


def pick_profile(rng):
    roll = rng.below(100)
    for profile in PROFILES:
        if roll < profile[1]:
            return profile
        roll -= profile[1]
    return PROFILES[0]


def generated_request(index):
    """The request text of generated case `index`."""
    rng = benchlib.SplitMix64(CORPUS_SEED ^ (index * 0xD1B54A32D192ED03))
    name, _, item_range, kind_range, box_range, runs_choice = pick_profile(rng)
    if name == "edge":
        return edge_request(rng)
    if name == "error":
        return error_request(rng)
    w = Writer(rng)
    n_items = rng.between(*item_range)
    size_style = rng.pick(SIZE_STYLES)
    side_high = rng.pick((10, 20, 40, 60, 120))
    side_low = rng.pick((1, 1, 2, max(1, side_high // 4)))
    runs = rng.pick(runs_choice)
    weight_style = rng.pick(("none", "zero", "whole", "whole", "decimal", "decimal", "decimal"))
    if name == "large" and runs == 1:
        weight_style = rng.pick(("none", "zero"))  # so that no weight limit opens a 2nd box
    groups = None
    if rng.chance(22):
        groups = [f"G{g}" for g in range(rng.between(1, 4))] + (
            ["Grüppe"] if rng.chance(20) else []
        )
    kinds = item_types(
        rng,
        min(rng.between(*kind_range), max(n_items, 1)),
        size_style,
        side_low,
        side_high,
        weight_style,
        groups,
    )

    items = []
    shared_codes = rng.chance(35)  # copies of a kind share its code
    for i in range(n_items):
        kind = rng.below(len(kinds))
        code = code_text(rng, "K" if shared_codes else "I", kind if shared_codes else i)
        items.append(w.obj([("ItemCode", escaped(code))] + kinds[kind]))

    # Rough cargo measures for sizing the box types, in whole numbers: the
    # mean cube of a side, and boxes some 60 % full.
    mean_cube = sum(side**3 for side in range(side_low, side_high + 1)) // (
        side_high - side_low + 1
    )
    cargo = n_items * mean_cube
    weight_milli = n_items * {"none": 0, "zero": 0, "whole": 15000, "decimal": 12500}[weight_style]
    n_boxes = rng.between(*box_range)
    scale = max(side_high, cube_root(cargo * 5 // (3 * runs)))
    box_low = max(side_low, scale * 3 // 4)
    box_high = max(box_low + 1, scale * 5 // 4)
    boxes = []
    quantity_chance = 50 if name == "container" else rng.pick((0, 10, 30))
    for b in range(n_boxes):
        members = box_members(
            rng,
            rng.pick(("whole", "whole", size_style)),
            box_low,
            box_high,
            weight_milli,
            runs,
            quantity_chance,
        )
        reference = code_text(rng, "B", b if rng.chance(90) else rng.below(n_boxes))
        boxes.append(w.obj([("Reference", escaped(reference))] + members))
    if name == "container" and rng.chance(50):
        boxes.append(
            w.obj(
                [
                    ("Reference", '"CONTAINER"'),
                    ("Width", whole_text(rng, box_high)),
                    ("Length", whole_text(rng, box_high * 2)),
                    ("Depth", whole_text(rng, box_high)),
                    ("MaximumBoxes", "1"),
                ]
            )
        )
    return request_object(rng, w, items, boxes)


def request_object(rng, w, items, boxes):
    """The whole request; now and then "items" or "boxes" as an object keyed
    by text (read in key order), or extra members."""

    def listing(elements, prefix):
        if elements and rng.chance(3):
            keys = [f"{prefix}{rng.below(1000):03d}-{k}" for k in range(len(elements))]
            return w.obj(list(zip(keys, elements)))
        return w.arr(elements)

    members = [("items", listing(items, "i")), ("boxes", listing(boxes, "b"))]
    if rng.chance(5):
        members.append(("comment", escaped("extra member, ignored")))
    if rng.chance(2):
        members.append(("options", '{"x": [1, {"y": null}]}'))
    text = w.obj(members)
    if rng.chance(5):
        text = rng.pick((" ", "\n", "\t", "\r\n")) + text + rng.pick((" ", "\n", ""))
    return text


def edge_request(rng):
    """Small requests with unusual values: zero, negative, huge and tiny
    measures, limits of 0, inactive or duplicate box types, empty lists."""
    w = Writer(rng)
    odd = (
        "0",
        "-0.0",
        "0.0",
        "-3",
        "1e-300",
        "1e300",
        "1.7976931348623157e308",
        "4.9e-324",
        "12345678901234567890",
        "0.1",
        "0.30000000000000004",
        "1e-5",
        "123456.789",
        "7",
    )
    n_items = rng.between(0, 14)
    items = []
    for i in range(n_items):
        members = [("ItemCode", escaped(code_text(rng, "E", i if rng.chance(70) else 0)))]
        for key in ("Width", "Length", "Depth"):
            members.append((key, rng.pick(odd) if rng.chance(30) else str(rng.between(1, 9))))
        if rng.chance(70):
            members.append(
                ("Weight", rng.pick(("0", "1", "2.5", "1e300", "1e-300", "0.1", "3", "1000000")))
            )
        if rng.chance(60):
            members.append(("AllowedRotation", escaped(rng.pick(ROTATION_WORDS))))
        if rng.chance(25):
            members.append(("BoxGroup", escaped(rng.pick(("A", "AB", "Z", "a", "é", "G")))))
        if rng.chance(10):
            members.append(("ItemReference", escaped(rng.pick(("", "x", "\u00e9\u00e8")))))
        items.append(w.obj(members))
    boxes = []
    for b in range(rng.between(0, 5)):
        members = [("Reference", escaped(rng.pick(("B", "B", "C", "é", "", f"B{b}"))))]
        for key in ("Width", "Length", "Depth"):
            members.append((key, rng.pick(odd) if rng.chance(25) else str(rng.between(1, 20))))
        if rng.chance(50):
            members.append(
                ("MaxWeight", rng.pick(("0", "-1", "5", "2.5", "1e300", "-0.0", "3", "10")))
            )
        if rng.chance(40):
            members.append(("BoxWeight", rng.pick(("0", "1", "12", "0.5", "1e300", "-2"))))
        if rng.chance(40):
            members.append(
                (
                    "MaximumBoxes",
                    rng.pick(
                        (
                            "0",
                            "1",
                            "2",
                            "-3",
                            "true",
                            "false",
                            "2.9",
                            "-0.5",
                            "2147483647",
                            "-2147483648",
                        )
                    ),
                )
            )
        if rng.chance(20):
            members.append(("Active", rng.pick(("false", "true", "null"))))
        boxes.append(w.obj(members))
    roll = rng.below(20)
    if roll == 0:
        return rng.pick(
            (
                "{}",
                "[]",
                '{"items": null, "boxes": null}',
                '{"items": []}',
                '{"boxes": []}',
                "null",
                "7",
                '"text"',
                '{"items": {}, "boxes": {}}',
            )
        )
    return request_object(rng, w, items, boxes)


def error_request(rng):
    """A request that solve() refuses: broken JSON text, or a value the
    readers reject; the first failing read decides the error."""
    w = Writer(rng)
    good_item = '{"ItemCode": "OK", "Width": 1, "Length": 2, "Depth": 3}'
    good_box = '{"Reference": "OK", "Width": 5, "Length": 5, "Depth": 5}'
    bad_items = (
        '{"Width": 1, "Length": 2, "Depth": 3}',
        '{"ItemCode": 5, "Width": 1}',
        '{"ItemCode": null, "Width": 1}',
        '{"ItemCode": "A", "Width": "10", "Length": 1, "Depth": 1}',
        '{"ItemCode": "A", "Width": true, "Length": 1, "Depth": 1}',
        '{"ItemCode": "A", "Length": 1}',
        '{"ItemCode": "A", "Width": 1, "Length": 1}',
        '{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": null}',
        '{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1, "AllowedRotation": 2}',
        '{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1, "BoxGroup": 7}',
        '{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1, "ItemReference": []}',
        '{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1, "Weight": "3"}',
        '{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1, "Weight": false}',
        "7",
        '"item"',
        "[]",
        "null",
        "true",
    )
    bad_boxes = (
        '{"Width": 1, "Length": 2, "Depth": 3}',
        '{"Reference": 9, "Width": 1, "Length": 1, "Depth": 1}',
        '{"Reference": "B", "Active": 1, "Width": 1, "Length": 1, "Depth": 1}',
        '{"Reference": "B", "Width": 1, "Length": 1, "Depth": 1, "MaximumBoxes": "2"}',
        '{"Reference": "B", "Width": 1, "Length": 1, "Depth": 1, "MaximumBoxes": 1e10}',
        '{"Reference": "B", "Width": 1, "Length": 1, "Depth": 1, "MaximumBoxes": -9999999999}',
        '{"Reference": "B", "Width": 1, "Length": 1, "Depth": 1, "MaximumBoxes": [1]}',
        '{"Reference": "B", "Width": 1, "Length": 1}',
        '{"Reference": "B", "BoxWeight": "1", "Width": 1, "Length": 1, "Depth": 1}',
        '{"Reference": "B", "MaxWeight": true, "Width": 1, "Length": 1, "Depth": 1}',
        '{"Reference": null, "Width": 1, "Length": 1, "Depth": 1}',
        "3",
        "[1]",
        "false",
    )
    kind = rng.below(4)
    if kind == 0:  # a reader error among good elements
        items = [good_item] * rng.between(0, 3)
        items.insert(rng.below(len(items) + 1), rng.pick(bad_items))
        boxes = [good_box] * rng.between(0, 2)
        if rng.chance(40):
            boxes.insert(rng.below(len(boxes) + 1), rng.pick(bad_boxes))
        return w.obj([("items", w.arr(items)), ("boxes", w.arr(boxes))], shuffle=False)
    if kind == 1:  # a box reader error
        boxes = [good_box] * rng.between(0, 2)
        boxes.insert(rng.below(len(boxes) + 1), rng.pick(bad_boxes))
        return w.obj([("items", w.arr([good_item])), ("boxes", w.arr(boxes))])
    if kind == 2:  # whole-request shapes the readers refuse
        return rng.pick(
            (
                '{"items": 7, "boxes": []}',
                '{"items": "abc"}',
                '{"items": true}',
                '{"boxes": 1.5}',
                '{"boxes": [null]}',
                '{"items": [[]]}',
                '{"items": {"a": 1}}',
            )
        )
    # broken JSON text: the parser's own message, position included
    text = w.obj([("items", w.arr([good_item] * rng.between(1, 3))), ("boxes", w.arr([good_box]))])
    damage = rng.below(12)
    cut = rng.between(1, len(text) - 1)
    if damage == 0:
        return text[:cut]
    if damage == 1:
        return text + rng.pick((" x", ",", "{}", "]"))
    if damage == 2:
        return text[:cut] + rng.pick(("'", "NaN", "Infinity", "//c\n", "/*c*/", ",,")) + text[cut:]
    if damage == 3:
        return text.replace("]", ",]", 1)
    if damage == 4:
        return text.replace("1", "01", 1)
    if damage == 5:
        return text.replace('"OK"', '"O\\xK"', 1)
    if damage == 6:
        return text.replace('"OK"', '"O\tK"', 1)
    if damage == 7:
        return text.replace('"OK"', '"\\ud800"', 1)
    if damage == 8:
        return ""
    if damage == 9:
        return rng.pick(("tru", "nul", "[1, 2", '{"a"}', "1.", "-", "1e", ".5", "+1", "0x10"))
    if damage == 10:
        return text.replace(":", "=", 1)
    return text.replace("5", "5.5.5", 1)


# ---------------------------------------------------------------------------
# Named cases: benchmark inputs and the data directory's requests.


def bench_cases():
    """(name, function making the request text) of the benchmark scripts'
    synthetic inputs."""
    import targets  # bench/

    for n in (100, 1000, 3000, 8000, 9000, 10000):
        yield f"targets/one_box/{n}", lambda n=n: targets.one_box_request(n)
    for n in (100, 300, 1000):
        yield f"targets/six_types/{n}", lambda n=n: targets.six_types_request(n)
    for boxes in (1, 2):
        yield f"targets/ten_types/{boxes}", lambda b=boxes: targets.ten_types_request(b)
    for seed in range(1, 51):
        yield f"targets/carton_order/{seed}", lambda s=seed: targets.carton_order_request(s)
    yield "targets/single_item", targets.single_item_request
    yield "targets/hundred_in_one_box", targets.hundred_in_one_box_request


def object_request_text(items, boxes):
    """Request text equivalent to packing these Item and Box objects."""
    return json.dumps(
        {"items": [i.to_dict() for i in items], "boxes": [b.to_dict() for b in boxes]}
    )


def bench_object_cases(stowvex, data):
    """(name, function making the request text) of the scripts that build
    Item and Box objects; those reading the data directory only when it is
    there."""
    import balanced_orders
    import container_loading
    import parcel_orders
    import scaling

    def scaled(n):
        items, boxes, _ = scaling.request(stowvex, n, 1, 5, 30, 0.9, "BEST_FIT")
        return object_request_text(items, boxes)

    def balanced(n, seed, tenths):
        return object_request_text(*balanced_orders.request(stowvex, n, seed, 5, 30, tenths))

    for n in (25, 50, 100, 200, 400, 800):
        yield f"scaling/{n}", lambda n=n: scaled(n)
    for n in (300, 600, 1200):
        for seed in (1, 2, 3):
            yield f"balanced_orders/{n}/{seed}", lambda n=n, s=seed: balanced(n, s, False)
    for seed in (1, 2):
        yield f"balanced_orders/tenths/600/{seed}", lambda s=seed: balanced(600, s, True)
    if data is None:
        return
    options = types.SimpleNamespace(max_containers=1, free_rotation=False, two_way="height")

    def container(problem):
        items, boxes, _, _ = container_loading.build_request(stowvex, problem, options)
        return object_request_text(items, boxes)

    for number in range(1, 11):
        for problem in container_loading.read_thpack(data / "br" / f"set_{number}.txt"):
            yield (f"container_loading/{number}/{problem['index']}", lambda p=problem: container(p))
    orders = parcel_orders.read_orders(data / "orders" / "parcel_orders.txt")
    for k, parcels in enumerate(orders):
        yield (
            f"parcel_orders/{k}",
            lambda p=parcels: parcel_orders.order_inputs(
                stowvex, p, "BEST_FIT", 166.7, parcel_orders.carton_dicts()
            )[2],
        )


SLOW_REQUESTS = (
    "balancing_100_items_2_boxes.json",
    "balancing_1000_items_6_types.json",
    "groups_limits_2000_items.json",
    "one_box_9000_items.json",
)


def data_cases(data):
    for name in SLOW_REQUESTS:
        yield f"slow/{name}", lambda n=name: (data / "slow" / n).read_text(encoding="utf-8")


def large_cases():
    """(name, function making the request text) of the truck-scale requests."""
    import large_orders  # bench/

    for name, make in large_orders.large_requests():
        yield f"large/{name}", make


def data_dir():
    """The data directory, or None when it is absent."""
    path = Path(os.environ.get("STOWVEX_DATA", DEFAULT_DATA))
    return path if (path / "slow").is_dir() else None


def named_cases(stowvex, data):
    """(name, function making the request text) of every named case."""
    yield from bench_cases()
    yield from bench_object_cases(stowvex, data)
    if data is not None:
        yield from data_cases(data)


# ---------------------------------------------------------------------------
# Outcomes.


def sha256(text):
    if isinstance(text, str):
        text = text.encode("utf-8", "surrogatepass")
    return hashlib.sha256(text).hexdigest()


def solve_outcome(stowvex, request):
    """The result text, or the error solve() raised, as text."""
    try:
        return stowvex.solve(request)
    except Exception as error:  # every error is part of the frozen behaviour
        return f"error {type(error).__name__}: {error}"


def sample_outcomes(stowvex, request, index):
    """pack_dicts() of the request's items and boxes: its to_json() with the
    indent index % 9, and its to_dict() written compactly. None when the
    request is not valid JSON or solve() refuses it."""
    try:
        value = json.loads(request)
    except ValueError:
        return None
    items = value.get("items") if isinstance(value, dict) else None
    boxes = value.get("boxes") if isinstance(value, dict) else None
    try:
        result = stowvex.pack_dicts(items, boxes)
    except Exception:
        return None
    indent = index % 9
    as_dict = json.dumps(result.to_dict(), ensure_ascii=False, separators=(",", ":"))
    return [result.to_json(indent), as_dict]


def request_digest(requests):
    h = hashlib.sha256()
    for request in requests:
        h.update(sha256(request).encode())
    return h.hexdigest()


# ---------------------------------------------------------------------------
# Recording and checking.


def record_range(first, last):
    """Outcome hashes of generated cases first..last-1 (run in a worker)."""
    import stowvex

    solved, sampled = [], []
    for index in range(first, last):
        request = generated_request(index)
        solved.append(sha256(solve_outcome(stowvex, request)))
        if index % SAMPLE_STRIDE == 0:
            outcomes = sample_outcomes(stowvex, request, index)
            sampled.append((index, None if outcomes is None else [sha256(o) for o in outcomes]))
    return solved, sampled


def record(jobs):
    import concurrent.futures

    import stowvex

    step = 256
    ranges = [(k, min(k + step, CASE_COUNT)) for k in range(0, CASE_COUNT, step)]
    solved, sampled = [], []
    with concurrent.futures.ProcessPoolExecutor(max_workers=jobs) as pool:
        for done, (s, p) in enumerate(pool.map(record_range, *zip(*ranges)), start=1):
            solved.extend(s)
            sampled.extend(p)
            print(f"generated: {done * step} of {CASE_COUNT}", file=sys.stderr, flush=True)
    requests_digest = request_digest(generated_request(k) for k in range(CASE_COUNT))
    SOLVE_HASHES.write_text(f"# requests {requests_digest}\n" + "".join(h + "\n" for h in solved))
    SAMPLE_HASHES.write_text(
        "".join(f"{index} {' '.join(hashes) if hashes else '-'}\n" for index, hashes in sampled)
    )

    data = data_dir()
    if data is None:
        sys.exit("the data directory is needed to record the named cases")
    lines = []
    for name, make in named_cases(stowvex, data):
        request = make()
        lines.append(f"{name} {sha256(request)} {sha256(solve_outcome(stowvex, request))}\n")
        print(f"named: {name}", file=sys.stderr, flush=True)
    NAMED_HASHES.write_text("".join(lines))


def read_solve_hashes():
    lines = SOLVE_HASHES.read_text().splitlines()
    return lines[0].split()[-1], lines[1:]


def read_sample_hashes():
    samples = {}
    for line in SAMPLE_HASHES.read_text().splitlines():
        index, *hashes = line.split()
        samples[int(index)] = None if hashes == ["-"] else hashes
    return samples


def record_large():
    import stowvex

    lines = []
    for name, make in large_cases():
        request = make()
        lines.append(f"{name} {sha256(request)} {sha256(solve_outcome(stowvex, request))}\n")
        print(f"large: {name}", file=sys.stderr, flush=True)
    LARGE_HASHES.write_text("".join(lines))


def read_named_hashes(path=NAMED_HASHES):
    named = {}
    for line in path.read_text().splitlines():
        name, request_hash, outcome_hash = line.split()
        named[name] = (request_hash, outcome_hash)
    return named


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    rec = sub.add_parser("record", help="freeze today's outcomes")
    rec.add_argument("--jobs", type=int, default=1)
    sub.add_parser("record-large", help="freeze today's outcomes of the large family")
    chk = sub.add_parser("check", help="compare with the frozen outcomes")
    chk.add_argument("--all", action="store_true")
    args = parser.parse_args(argv)
    if args.command == "record":
        record(args.jobs)
        return 0
    if args.command == "record-large":
        record_large()
        return 0
    import pytest

    os.environ["STOWVEX_GOLDEN"] = "all" if args.all else "quick"
    return pytest.main([str(PROJECT_ROOT / "tests" / "python" / "test_golden.py"), "-q"])


if __name__ == "__main__":
    sys.exit(main())
