"""The container benchmarks' mapping of the thpack vertical flags to what the engine
and the optimiser take: the exact orientation labels of a box type, the flat
rotation freedom being one of them, and the drawn loading rules of the BR runs."""

import sys
from pathlib import Path
from types import SimpleNamespace

import pytest

import stowvex
from stowvex_tools import optimise, validate
from stowvex_tools.loading_rules import ORIENTATION_LABELS

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))

import container_loading
import loading_rules as rules_bench

FLAT = SimpleNamespace(free_rotation=False, two_way="height", max_containers=1)


def problem(*types, container=(587, 233, 220)):
    return {"index": 1, "set": 3, "container": container, "types": list(types)}


@pytest.mark.parametrize(
    ("vertical", "expected"),
    [
        ((True, True, True), set(ORIENTATION_LABELS)),
        ((False, False, True), {"WLD", "LWD"}),
        ((True, False, False), {"LDW", "DLW"}),
        ((False, True, False), {"WDL", "DWL"}),
        ((True, False, True), {"WLD", "LWD", "LDW", "DLW"}),
        ((False, False, False), set()),
    ],
)
def test_labels_stand_exactly_the_allowed_sides_vertical(vertical, expected):
    assert set(container_loading.orientation_labels(vertical)) == expected


# (l, fl, w, fw, h, fh): all three sides, the height alone, the length alone, two sides
# of which the height, and two sides without it. Sides differ, so a label's vertical
# size names the thpack side standing.
TYPES = [(50, 1, 40, 1, 30, 1), (50, 0, 40, 0, 30, 1), (50, 1, 40, 0, 30, 0)]
TYPES += [(50, 0, 40, 1, 30, 1), (50, 1, 40, 1, 30, 0)]


@pytest.mark.parametrize("sides", TYPES)
@pytest.mark.parametrize("two_way", ["height", "shortest", "longest"])
def test_exact_rules_give_every_allowed_side_vertical_and_the_flat_freedom(sides, two_way):
    mapping = SimpleNamespace(free_rotation=False, two_way=two_way, max_containers=1)
    instance = problem((1, *sides, 2))
    items, *_ = container_loading.build_request(stowvex, instance, mapping)
    found = container_loading.orientation_rules(instance, mapping)["items"]
    l, fl, w, fw, h, fh = sides
    allowed = {size for size, flag in ((l, fl), (w, fw), (h, fh)) if flag}
    for item in items:
        labels = found.get(item.item_code, {}).get("Orientations", ORIENTATION_LABELS)
        sizes = {"W": item.width, "L": item.length, "D": item.depth}
        # both orientations of each allowed vertical side, nothing else
        assert {sizes[label[2]] for label in labels} == allowed
        assert len(labels) == 2 * len(allowed)
        flat = "BEST_FIT" if len(allowed) == 3 else "KEEP_FLAT"
        assert container_loading.benchlib.rotation_name(item.allowed_rotation) == flat
        assert set(container_loading.benchlib.ORIENTATIONS[flat]) <= set(labels)


def test_the_exact_mapping_loads_a_type_the_flat_one_cannot():
    # Only the width may stand in this low container; the flat mapping stands the
    # height, which is too tall, and loads nothing.
    instance = problem((1, 8, 0, 2, 1, 3, 1, 1), container=(8, 3, 2))
    items, boxes, *_ = container_loading.build_request(stowvex, instance, FLAT)
    rules = container_loading.orientation_rules(instance, FLAT)
    assert optimise(items, boxes, time_limit=None, effort=1000).total_placed == 0
    result = optimise(items, boxes, time_limit=None, effort=1000, rules=rules)
    assert result.total_placed == 1
    assert validate(result, items, boxes, rules=rules) == []
    assert result.boxes[0].items[0].orientation in ("WDL", "DWL", "LDW", "DLW")


def test_drawn_rules_are_fixed_per_instance_and_shared_by_a_types_copies():
    types = [(t, 20 + t, 1, 10 + t, 0, 5 + t, 1, 3) for t in range(1, 11)]
    instance = problem(*types)
    fragile = rules_bench.container_rules(instance, "fragile, support", FLAT)["items"]
    assert fragile == rules_bench.container_rules(instance, "fragile, support", FLAT)["items"]
    stops = rules_bench.container_rules(instance, "stops, support", FLAT)["items"]
    for t in range(1, 11):
        copies = [container_loading.item_code(t, c) for c in (1, 2, 3)]
        assert len({str(fragile.get(code)) for code in copies}) == 1
        assert len({str(stops[code]) for code in copies}) == 1
        assert 1 <= stops[copies[0]]["Stop"] <= 3
        assert stops[copies[0]]["Orientations"] == ["WLD", "LWD", "LDW", "DLW"]
    fragile_types = {code[:3] for code, keys in fragile.items() if keys.get("Fragile")}
    assert len(fragile_types) == 2  # a fifth of ten
    # another instance draws its own
    other = rules_bench.container_rules({**instance, "index": 2}, "stops, support", FLAT)
    assert other["items"] != stops
