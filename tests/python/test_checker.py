"""The result checker: valid results pass in every form, each kind of fault is caught."""

import copy
import json
import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import stowvex
from stowvex_tools import VIOLATION_KINDS, validate, validate_request

SIDES = {
    "WLD": (0, 1, 2),
    "LWD": (1, 0, 2),
    "WDL": (0, 2, 1),
    "LDW": (1, 2, 0),
    "DWL": (2, 0, 1),
    "DLW": (2, 1, 0),
}


def item(code, w, l, d, weight=1.0, rotation="BestFit", group=None):
    entry = {
        "ItemCode": code,
        "Width": w,
        "Length": l,
        "Depth": d,
        "Weight": weight,
        "AllowedRotation": rotation,
    }
    if group:
        entry["BoxGroup"] = group
    return entry


def place(entry, x, y, z, label="WLD"):
    own = (entry["Width"], entry["Length"], entry["Depth"])
    w, l, d = (float(own[i]) for i in SIDES[label])
    return {
        "ItemCode": entry["ItemCode"],
        "ItemReference": entry["ItemCode"],
        "box_group": entry.get("BoxGroup"),
        "original_width": float(own[0]),
        "original_length": float(own[1]),
        "original_depth": float(own[2]),
        "weight": float(entry["Weight"]),
        "orientation": label,
        "width": w,
        "length": l,
        "depth": d,
        "x": float(x),
        "y": float(y),
        "z": float(z),
    }


def packed(reference, placements, size=(10.0, 10.0, 10.0), empty=1.0, max_weight=30.0):
    return {
        "box_reference": reference,
        "width": size[0],
        "length": size[1],
        "depth": size[2],
        "empty_weight": empty,
        "max_weight": max_weight,
        "items": placements,
    }


# A valid layout without reported figures: A with E on top of it and C beside them in
# box 0, the box group K in box 1, U too large for anything.
A, E = item("A", 4, 4, 2, 5, "Never"), item("E", 4, 4, 2, 5, "Never")
C = item("C", 10, 6, 5, 3)
K1, K2 = item("K1", 5, 5, 5, 2, "KeepFlat", "K"), item("K2", 5, 5, 5, 2, "KeepFlat", "K")
U = item("U", 20, 1, 1)
ITEMS = [A, E, C, K1, K2, U]
BOXES = [
    {
        "Reference": "B",
        "Width": 10,
        "Length": 10,
        "Depth": 10,
        "BoxWeight": 1,
        "MaxWeight": 30,
        "MaximumBoxes": 2,
    }
]
BASE = {
    "boxes": [
        packed("B", [place(A, 0, 0, 0), place(E, 0, 0, 2), place(C, 4, 0, 0, "LWD")]),
        packed("B", [place(K1, 0, 0, 0), place(K2, 5, 0, 0, "LWD")]),
    ],
    "unplaced_items": [U],
}


def kinds(result, items=ITEMS, boxes=BOXES, **options):
    return sorted({v.kind for v in validate(result, items, boxes, **options)})


def test_valid_layout_passes():
    assert validate(BASE, ITEMS, BOXES, min_support=1.0) == []


def corrupted(change):
    result = copy.deepcopy(BASE)
    change(result)
    return result


def setter(key, value, where=0):
    return lambda r: r["boxes"][0]["items"][where].update({key: value})


def k2_left_unplaced(result):
    result["boxes"][1]["items"].pop(1)
    result["unplaced_items"].append(K2)


@pytest.mark.parametrize(
    "kind, change",
    [
        ("overlap", setter("x", 2.0)),
        ("outside_box", setter("y", 6.5, where=2)),
        ("outside_box", setter("z", -1.0, where=2)),
        ("orientation", setter("orientation", "LWD")),  # A may never turn
        ("orientation", setter("orientation", "DLW", where=2)),  # sides do not match the label
        ("weight_limit", lambda r: r["boxes"][0].update(empty_weight=18.0)),
        ("quantity_limit", lambda r: r["boxes"].append(packed("B", []))),
        ("unknown_box", lambda r: r["boxes"][1].update(box_reference="X")),
        ("box_group_split", k2_left_unplaced),
        ("extra_item", lambda r: r["unplaced_items"].append(A)),
        ("missing_item", lambda r: r["boxes"][0]["items"].pop(2)),
        ("missing_item", lambda r: r.update(unplaced_items=[])),
    ],
    ids=lambda value: value if isinstance(value, str) else "",
)
def test_one_seeded_fault_in_the_result_gives_its_kind(kind, change):
    result = copy.deepcopy(BASE)
    change(result)
    boxes = BOXES + [dict(BOXES[0], BoxWeight=18)]  # box 0 reads as this heavier type
    assert kinds(result, boxes=boxes) == [kind]


@pytest.mark.parametrize(
    "kind, items, boxes",
    [
        ("inactive_box", ITEMS, [dict(BOXES[0], Active=False)]),
        ("quantity_limit", ITEMS, [dict(BOXES[0], MaximumBoxes=1)]),
        ("quantity_limit", ITEMS, [dict(BOXES[0], MaximumBoxes=-3)]),
        ("box_group_split", [A, dict(E, BoxGroup="K"), C, K1, K2, U], BOXES),
        ("extra_item", [A, E, C, K1, K2], BOXES),
        ("missing_item", ITEMS + [A], BOXES),
    ],
    ids=lambda value: value if isinstance(value, str) else "",
)
def test_one_fault_against_the_items_and_boxes_given(kind, items, boxes):
    result = copy.deepcopy(BASE)
    if kind == "box_group_split":  # E, in box 0, joins the group K of box 1
        result["boxes"][0]["items"][1]["box_group"] = "K"
    assert kinds(result, items=items, boxes=boxes) == [kind]


def test_an_empty_item_code_keeps_its_box_group():
    # The group of a placement was read as none when its item code was empty.
    items = [stowvex.Item("", "", 1, 1, 1, 0, "G"), stowvex.Item("A", "", 1, 1, 1, 0, "G")]
    boxes = [stowvex.Box("B", 2, 2, 2)]
    assert validate(stowvex.pack(items, boxes), items, boxes) == []


@pytest.mark.parametrize("form", ["object", "dict", "text"])
def test_a_nan_weight_in_the_flat_placements_is_no_fault(form):
    # The flat placement list was compared with ==, and two NaN weights are never equal.
    items = [stowvex.Item("A", "", 1, 1, 1, math.nan), stowvex.Item("B", "", 1, 1, 1, 1)]
    boxes = [stowvex.Box("B", 2, 2, 2)]
    result = stowvex.pack(items, boxes)
    given = {"object": result, "dict": result.to_dict(), "text": result.to_json()}[form]
    assert validate(given, items, boxes) == []


def test_a_negative_weight_makes_no_room_under_a_limit():
    heavy, negative = item("H", 4, 4, 2, 40), item("N", 4, 4, 2, -30)
    result = {
        "boxes": [packed("B", [place(heavy, 0, 0, 0), place(negative, 0, 0, 2)])],
        "unplaced_items": [],
    }
    assert kinds(result, items=[heavy, negative]) == ["weight_limit"]
    light = item("L", 4, 4, 2, 29)
    result["boxes"][0]["items"][0] = place(light, 0, 0, 0)
    assert kinds(result, items=[light, negative]) == []


def test_support_counts_only_tops_at_the_base_height():
    def stack(*placements):
        return {"boxes": [packed("B", list(placements))], "unplaced_items": []}

    overhanging = stack(place(A, 0, 0, 0), place(E, 2, 0, 2))
    assert kinds(overhanging, items=[A, E], min_support=0.5) == []
    assert kinds(overhanging, items=[A, E], min_support=0.51) == ["support"]
    both = stack(place(A, 0, 0, 0), place(E, 2, 0, 2), place(dict(A, ItemCode="F"), 4, 0, 0))
    assert kinds(both, items=[A, E, dict(A, ItemCode="F")], min_support=1.0) == []
    floating = stack(place(A, 0, 0, 0), place(E, 0, 0, 2.5))
    assert kinds(floating, items=[A, E]) == []
    assert kinds(floating, items=[A, E], min_support=0.01) == ["support"]
    for wrong in (-0.1, 1.5, float("nan")):
        with pytest.raises(ValueError, match="min_support"):
            validate(BASE, ITEMS, BOXES, min_support=wrong)


def test_rotation_freedom_is_matched_across_repeated_codes():
    twins = [item("T", 1, 2, 3, 1, "Never"), item("T", 1, 2, 3, 1, "BestFit")]
    result = {
        "boxes": [packed("B", [place(twins[0], 0, 0, 0, "DWL"), place(twins[0], 5, 5, 5)])],
        "unplaced_items": [],
    }
    assert kinds(result, items=twins) == []
    assert kinds(result, items=[twins[0], twins[0]]) == ["orientation"]
    assert kinds(result, items=[twins[1]]) == ["extra_item"]


def test_boxes_sharing_a_reference_share_one_count():
    small = dict(BOXES[0], MaximumBoxes=1)
    other = dict(BOXES[0], Depth=20)  # same reference, no limit
    result = copy.deepcopy(BASE)
    result["boxes"][1]["depth"] = 20.0
    assert kinds(result, boxes=[small, other]) == []
    result["boxes"][0]["depth"] = 20.0
    result["boxes"][1]["depth"] = 10.0
    assert kinds(result, boxes=[small, other]) == []
    assert kinds(result, boxes=[small, dict(other, MaximumBoxes=1)]) == ["quantity_limit"]


def test_rounding_steps_are_not_faults_but_real_overlaps_are():
    layer = item("L", 0.1, 1, 1, 0)
    top = 0.1 + 0.2  # 0.30000000000000004
    result = {
        "boxes": [
            packed(
                "B",
                [
                    place(layer, 0, 0, 0),
                    place(layer, 0.1, 0, 0),
                    place(layer, 0.2, 0, 0),
                    place(layer, top, 0, 0),
                ],
                size=(0.4, 1.0, 1.0),
            )
        ],
        "unplaced_items": [],
    }
    thin = [dict(BOXES[0], Width=0.4, Length=1, Depth=1)]
    assert kinds(result, items=[layer] * 4, boxes=thin) == []
    result["boxes"][0]["items"][3]["x"] = 0.2 + 1e-6
    assert kinds(result, items=[layer] * 4, boxes=thin) == ["overlap"]


def engine_request():
    return {
        "items": [
            item("A", 4, 4, 2, 5, "Never"),
            item("C", 10, 6, 5, 3),
            item("K1", 9, 9, 9, 2, "KeepFlat", "K"),
            item("U", 20, 1, 1),
        ],
        "boxes": BOXES + [{"Reference": "S", "Width": 3, "Length": 3, "Depth": 3}],
    }


def as_objects(request):
    rotations = {
        "never": stowvex.Rotation.NEVER,
        "keepflat": stowvex.Rotation.KEEP_FLAT,
        "keep_flat": stowvex.Rotation.KEEP_FLAT,
    }
    items = [
        stowvex.Item(
            i["ItemCode"],
            i["ItemCode"],
            i["Width"],
            i["Length"],
            i["Depth"],
            i["Weight"],
            i.get("BoxGroup") or "",
            rotations.get(i["AllowedRotation"].lower(), stowvex.Rotation.BEST_FIT),
        )
        for i in request["items"]
    ]
    boxes = [
        stowvex.Box(
            b["Reference"],
            b["Width"],
            b["Length"],
            b["Depth"],
            b.get("MaxWeight", -1.0),
            b.get("BoxWeight", 0.0),
            b.get("Active", True),
            b.get("MaximumBoxes"),
        )
        for b in request["boxes"]
    ]
    return items, boxes


def test_engine_result_passes_in_every_form():
    request = engine_request()
    text = stowvex.solve(json.dumps(request))
    for result in (
        text,
        text.encode(),
        json.loads(text),
        stowvex.pack_dicts(request["items"], request["boxes"]),
    ):
        assert validate(result, request["items"], request["boxes"]) == []
        assert validate_request(result, json.dumps(request)) == []
    items, boxes = as_objects(request)
    assert validate(stowvex.pack(items, boxes), items, boxes) == []
    assert validate(stowvex.pack(items, boxes), request["items"], request["boxes"]) == []


@pytest.mark.parametrize(
    "change",
    [
        lambda r: r["boxes"][0].update(item_weight=r["boxes"][0]["item_weight"] + 1),
        lambda r: r["boxes"][0].update(used_width=1.0),
        lambda r: r["boxes"][0].update(item_count=7),
        lambda r: r["summary"].update(total_placed=0),
        lambda r: r["summary"].update(overall_volume_utilisation=99.0),
        lambda r: r.update(success=True),
        lambda r: r.update(unplaced_item_codes=[]),
        lambda r: r["placements"].pop(),
        lambda r: r["boxes"][0]["items"][0].update(rotated=True),
    ],
)
def test_reported_figures_are_checked(change):
    request = engine_request()
    result = json.loads(stowvex.solve(json.dumps(request)))
    change(result)
    found = validate(result, request["items"], request["boxes"])
    assert {v.kind for v in found} == {"figures"}
    assert "\n" not in str(found[0]) and str(found[0]).startswith("figures: ")


def test_unreadable_input_is_refused():
    with pytest.raises(ValueError, match="ItemCode"):
        validate(BASE, [{"Width": 1}], BOXES)
    with pytest.raises(ValueError, match="must be a number"):
        validate(BASE, [dict(A, Weight=True)], BOXES)
    with pytest.raises(ValueError, match="32-bit"):
        validate(BASE, ITEMS, [dict(BOXES[0], MaximumBoxes=2.0**40)])
    with pytest.raises(ValueError, match="not valid JSON"):
        validate("{", ITEMS, BOXES)
    with pytest.raises(ValueError, match="box 0 has no"):
        validate({"boxes": [{"box_reference": "B"}], "unplaced_items": []}, ITEMS, BOXES)
    with pytest.raises(TypeError):
        validate(3, ITEMS, BOXES)


def test_every_violation_names_its_box_and_items():
    result = corrupted(setter("x", 2.0))
    (overlap,) = validate(result, ITEMS, BOXES)
    assert (overlap.box_index, overlap.box_reference, overlap.item_codes) == (0, "B", ("A", "C"))
    assert set(VIOLATION_KINDS) >= {overlap.kind}


ROTATIONS = ["Never", "KeepFlat", "BestFit", "keep_flat"]
SIZES = st.sampled_from([1, 2, 3, 5, 0.1, 0.3, 0.7, 1.1, 2.5, 0.2])


@st.composite
def requests(draw):
    items = [
        item(
            f"I{draw(st.integers(0, 6))}",
            draw(SIZES),
            draw(SIZES),
            draw(SIZES),
            draw(st.sampled_from([0, 0.1, 0.5, 1.3, 4])),
            draw(st.sampled_from(ROTATIONS)),
            draw(st.sampled_from([None, None, None, "G1", "G2"])),
        )
        for _ in range(draw(st.integers(0, 25)))
    ]
    boxes = []
    for _b in range(draw(st.integers(1, 4))):
        box = {
            "Reference": f"B{draw(st.integers(0, 2))}",
            "Width": draw(st.sampled_from([1, 2.5, 3, 4.2, 6])),
            "Length": draw(st.sampled_from([1, 2.5, 3, 4.2, 6])),
            "Depth": draw(st.sampled_from([1, 2.5, 3, 4.2, 6])),
            "BoxWeight": draw(st.sampled_from([0, 0.2, 1])),
        }
        if draw(st.booleans()):
            box["MaxWeight"] = draw(st.sampled_from([0.3, 1.5, 4.5, 10]))
        if draw(st.integers(0, 2)) == 0:
            box["MaximumBoxes"] = draw(st.integers(-1, 2))
        if draw(st.integers(0, 4)) == 0:
            box["Active"] = False
        boxes.append(box)
    return {"items": items, "boxes": boxes}


@settings(max_examples=120, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(requests())
def test_engine_results_of_random_requests_pass(request):
    result = stowvex.pack_dicts(request["items"], request["boxes"])
    assert validate(result, request["items"], request["boxes"]) == []
    assert validate_request(stowvex.solve(json.dumps(request)), request) == []
    items, boxes = as_objects(request)
    assert validate(stowvex.pack(items, boxes), items, boxes) == []
