"""Random requests through solve: every promise a result makes, checked."""

import itertools
import json
from collections import Counter

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import request_strategies
import stowvex

ROTATIONS = ["Never", "KeepFlat", "BestFit", "keep_flat", "sideways"]
sizes = st.one_of(st.integers(1, 9), st.sampled_from([0.5, 1.25, 2.5, 7.75]))


def requests():
    return request_strategies.requests(
        sizes=sizes,
        weights=[0, 0.5, 1, 2.25, 6, -2.5, -1e19, 1e19],
        rotations=ROTATIONS,
        max_items=18,
        max_boxes=4,
        max_box_side=14,
    )


def overlaps(a, b):
    return all(
        a[p] < b[p] + b[e] and b[p] < a[p] + a[e]
        for p, e in (("x", "width"), ("y", "length"), ("z", "depth"))
    )


def allowed_orientations(rotation):
    word = rotation.lower()
    if word == "never":
        return {"WLD"}
    if word in ("keepflat", "keep_flat"):
        return {"WLD", "LWD"}
    return {"WLD", "LWD", "WDL", "LDW", "DWL", "DLW"}


def item_sort_key(item):
    group = item.get("BoxGroup") or None
    volume = item["Width"] * item["Length"] * item["Depth"]
    return (
        group is None,
        (group or "").encode(),
        -volume,
        -item["Weight"],
        item["ItemCode"].encode(),
    )


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(requests())
def test_solve_keeps_every_promise(request):
    text = stowvex.solve(json.dumps(request))
    assert stowvex.solve(json.dumps(request)) == text
    result = json.loads(text)
    items = {i["ItemCode"]: i for i in request["items"]}
    box_types = {b["Reference"]: b for b in request["boxes"]}

    placed = Counter(p["ItemCode"] for p in result["placements"])
    unplaced = Counter(result["unplaced_item_codes"])
    assert placed + unplaced == Counter(list(items))
    assert result["success"] == (not unplaced)
    assert result["summary"]["total_placed"] == sum(placed.values())
    assert result["summary"]["box_count"] == len(result["boxes"])

    used = Counter()
    group_boxes = {}
    for index, packed in enumerate(result["boxes"]):
        assert packed["box_index"] == index
        box_type = box_types[packed["box_reference"]]
        assert box_type.get("Active", True)
        used[packed["box_reference"]] += 1
        for p in packed["items"]:
            item = items[p["ItemCode"]]
            assert p["orientation"] in allowed_orientations(item["AllowedRotation"])
            assert sorted((p["width"], p["length"], p["depth"])) == sorted(
                (item["Width"], item["Length"], item["Depth"])
            )
            assert min(p["x"], p["y"], p["z"]) >= 0
            assert p["x"] + p["width"] <= box_type["Width"]
            assert p["y"] + p["length"] <= box_type["Length"]
            assert p["z"] + p["depth"] <= box_type["Depth"]
            if item.get("BoxGroup"):
                group_boxes.setdefault(item["BoxGroup"], set()).add(index)
        for a in range(len(packed["items"])):
            for b in range(a + 1, len(packed["items"])):
                assert not overlaps(packed["items"][a], packed["items"][b])
        if "MaxWeight" in box_type:
            # A negative weight may not make room for others under a limit.
            weights = [p["weight"] for p in packed["items"]]
            assert sum(w for w in weights if w > 0) <= max(
                0, box_type["MaxWeight"] - box_type["BoxWeight"]
            )
            assert packed["item_weight"] == sum(weights) and min(weights, default=0) >= 0
            assert packed["remaining_weight"] == max(0, box_type["MaxWeight"] - packed["weight"])

    for ref, count in used.items():
        if "MaximumBoxes" in box_types[ref]:
            assert count <= box_types[ref]["MaximumBoxes"]
    for group, holders in group_boxes.items():
        assert len(holders) == 1
        assert not any(items[c].get("BoxGroup") == group for c in unplaced)

    order = [(len(b["items"]), b["volume_utilisation"], b["used_volume"]) for b in result["boxes"]]
    assert all(a >= b for a, b in itertools.pairwise(order))
    unplaced_items = [items[c] for c in result["unplaced_item_codes"]]
    keys = [item_sort_key(i) for i in unplaced_items]
    assert keys == sorted(keys)


def test_negative_weights_never_defeat_a_weight_limit():
    def cube(code, side, weight, group=None):
        item = {"ItemCode": code, "Width": side, "Length": side, "Depth": side, "Weight": weight}
        return dict(item, BoxGroup=group) if group else item

    # A group item lending room to a heavy item, then dropped with its split group.
    split = {
        "items": [cube("G1", 5, -100, "G"), cube("G2", 20, 0, "G"), cube("H", 1, 50)],
        "boxes": [{"Reference": "B", "Width": 10, "Length": 10, "Depth": 10, "MaxWeight": 2}],
    }
    # A weight so negative that the weights tested after it vanish in the sum.
    absorbed = {
        "items": [cube("N", 3, -1e19), cube("A", 2, 10), cube("C", 1, 7), cube("P", 0.5, 1e19)],
        "boxes": [{"Reference": "B", "Width": 10, "Length": 10, "Depth": 10, "MaxWeight": 11}],
    }
    for request, limit in ((split, 2), (absorbed, 11)):
        result = json.loads(stowvex.solve(json.dumps(request)))
        for packed in result["boxes"]:
            weights = [p["weight"] for p in packed["items"]]
            assert min(weights) >= 0 and sum(weights) == packed["item_weight"] <= limit
            assert packed["remaining_weight"] == limit - packed["item_weight"]
    assert result["unplaced_item_codes"] == ["N", "P"]
