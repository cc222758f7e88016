"""The compiled optimiser under loading rules: each rule kept on requests where
packing without it breaks it, checked on the result's geometry by a check of
this file's own; malformed rules refused with a ValueError."""

import json
import random

import pytest

from stowvex_tools import _native

SETTINGS = {
    "time_limit": None,
    "effort": 200_000,
    "seed": 0,
    "min_support": 0.0,
    "box_costs": None,
    "threads": 1,
}


def item(code, width, length, depth, weight, rotation="Never"):
    return {
        "ItemCode": code,
        "ItemReference": code,
        "Width": width,
        "Length": length,
        "Depth": depth,
        "Weight": weight,
        "AllowedRotation": rotation,
    }


def box(reference, width, length, depth):
    return {
        "Reference": reference,
        "Width": width,
        "Length": length,
        "Depth": depth,
        "MaxWeight": -1,
        "EmptyWeight": 0,
        "Active": True,
    }


def optimise(items, boxes, rules, **changes):
    request = json.dumps({"items": items, "boxes": boxes})
    settings = {**SETTINGS, **changes}
    result = _native.optimise_request(request, rules=json.dumps(rules), **settings)
    return json.loads(result.to_json(-1))


def by_box(result):
    boxes = {}
    for p in result["placements"]:
        boxes.setdefault(p["box_index"], []).append(p)
    return boxes


def overlap(a_low, a_high, b_low, b_high):
    return min(a_high, b_high) - max(a_low, b_low) > 0


def on_top(upper, lower):
    """upper lies above lower: base at or above its top, footprints overlapping."""
    return (
        upper["z"] >= lower["z"] + lower["depth"]
        and overlap(
            upper["x"], upper["x"] + upper["width"], lower["x"], lower["x"] + lower["width"]
        )
        and overlap(
            upper["y"], upper["y"] + upper["length"], lower["y"], lower["y"] + lower["length"]
        )
    )


def rule_faults(result, rules):
    """Every broken item rule of a result, as text naming the items."""
    item_rules = rules.get("items", {})
    faults = []
    for placements in by_box(result).values():
        for a in placements:
            rule = item_rules.get(a["ItemCode"], {})
            if "Orientations" in rule and a["orientation"] not in rule["Orientations"]:
                faults.append(f"{a['ItemCode']} turned {a['orientation']}")
            above = [b for b in placements if b is not a and on_top(b, a)]
            if rule.get("Fragile") and above:
                faults.append(f"{a['ItemCode']} is fragile and carries {len(above)}")
            if "MaxLoad" in rule and sum(b["weight"] for b in above) > rule["MaxLoad"]:
                faults.append(f"{a['ItemCode']} carries too much")
            for b in placements:
                stop_a = rule.get("Stop")
                stop_b = item_rules.get(b["ItemCode"], {}).get("Stop")
                if stop_a is None or stop_b is None or stop_b <= stop_a:
                    continue
                in_front = (
                    overlap(a["x"], a["x"] + a["width"], b["x"], b["x"] + b["width"])
                    and overlap(a["z"], a["z"] + a["depth"], b["z"], b["z"] + b["depth"])
                    and b["y"] >= a["y"] + a["length"]
                )
                if on_top(b, a) or in_front:
                    faults.append(f"{b['ItemCode']} blocks {a['ItemCode']}")
    return faults


def centre(placements):
    total = sum(p["weight"] for p in placements)
    x = sum(p["weight"] * (p["x"] + p["width"] / 2) for p in placements) / total
    y = sum(p["weight"] * (p["y"] + p["length"] / 2) for p in placements) / total
    return x, y


def test_fragile_items_carry_nothing_and_max_loads_order_a_stack():
    fragile = {"items": {"F": {"Fragile": True}}}
    items = [item("F", 1, 1, 1, 1)] * 2 + [item("P", 1, 1, 1, 1)] * 2
    result = optimise(items, [box("B", 2, 1, 2)], fragile)
    assert result["summary"]["total_placed"] == 4
    assert result["summary"]["box_count"] == 1
    assert rule_faults(result, fragile) == []

    loads = {"items": {"A": {"MaxLoad": 3}, "B": {"MaxLoad": 1}, "C": {"MaxLoad": 0}}}
    column = [item("C", 1, 1, 1, 1), item("B", 1, 1, 1, 2), item("A", 1, 1, 1, 3)]
    result = optimise(column, [box("T", 1, 1, 3)], loads, min_support=1.0)
    assert result["summary"]["total_placed"] == 3
    assert rule_faults(result, loads) == []
    heights = {p["ItemCode"]: p["z"] for p in result["placements"]}
    assert heights == {"A": 0, "B": 1, "C": 2}


def test_orientations_replace_the_rotation_freedom():
    rod = item("R", 3, 1, 1, 1, rotation="BestFit")
    standing = {"items": {"R": {"Orientations": ["DLW"]}}}
    result = optimise([rod], [box("TALL", 1, 1, 3)], standing)
    assert [p["orientation"] for p in result["placements"]] == ["DLW"]
    lying = {"items": {"R": {"Orientations": ["WLD", "WDL"]}}}
    result = optimise([rod], [box("TALL", 1, 1, 3)], lying)
    assert result["summary"]["total_placed"] == 0
    assert [i["ItemCode"] for i in result["unplaced_items"]] == ["R"]


def test_stops_are_last_in_first_out_and_the_centre_lies_in_its_range():
    rng = random.Random(4)
    items = [
        item(
            f"S{1 + n % 3}", rng.randint(1, 3), rng.randint(1, 3), rng.randint(1, 2), 1, "KeepFlat"
        )
        for n in range(30)
    ]
    rules = {
        "items": {f"S{s}": {"Stop": s} for s in (1, 2, 3)},
        "boxes": {"TRUCK": {"CentreOfGravity": {"X": [0.3, 0.7], "Y": [0.2, 0.8]}}},
    }
    result = optimise(items, [box("TRUCK", 6, 9, 4)], rules, min_support=1.0)
    assert result["summary"]["total_placed"] == 30
    assert rule_faults(result, rules) == []
    for placements in by_box(result).values():
        x, y = centre(placements)
        assert 0.3 * 6 <= x <= 0.7 * 6
        assert 0.2 * 9 <= y <= 0.8 * 9

    heavy = {"boxes": {"B": {"CentreOfGravity": {"X": [0.45, 0.55]}}}}
    result = optimise([item("H", 1, 1, 1, 10)], [box("B", 10, 1, 1)], heavy)
    (placement,) = result["placements"]
    assert 4.5 <= placement["x"] + 0.5 <= 5.5


def test_no_rules_and_empty_rules_change_nothing():
    items = [item(f"I{n}", 1 + n % 3, 2, 1 + n % 2, 1, "BestFit") for n in range(12)]
    boxes = [box("B", 4, 4, 3), box("S", 3, 2, 2)]
    request = json.dumps({"items": items, "boxes": boxes})
    plain = _native.optimise_request(request, **SETTINGS).to_json(-1)
    assert _native.optimise_request(request, rules=None, **SETTINGS).to_json(-1) == plain
    assert _native.optimise_request(request, rules="{}", **SETTINGS).to_json(-1) == plain


@pytest.mark.parametrize(
    ("rules", "part"),
    [
        ("{", "not JSON"),
        ('{"items": {"A": {"MaxLoad": -2}}}', "0 or more"),
        ('{"items": {"A": {"Orientations": ["XYZ"]}}}', "'XYZ'"),
        ('{"items": {"A": {"Stop": 0}}}', "whole number"),
        ('{"boxes": {"B": {"CentreOfGravity": {"X": [0.8, 0.2]}}}}', "lo <= hi"),
        ('{"lorries": {}}', "'lorries'"),
    ],
)
def test_malformed_rules_are_a_value_error(rules, part):
    request = json.dumps({"items": [item("A", 1, 1, 1, 1)], "boxes": [box("B", 1, 1, 1)]})
    with pytest.raises(ValueError, match="rules") as raised:
        _native.optimise_request(request, rules=rules, **SETTINGS)
    assert part in str(raised.value)
    with pytest.raises(ValueError, match="rules"):
        _native.optimise([], [], rules=rules, **SETTINGS)
