"""The optimiser's time limit answered in construction, and its work tally: a limit
already used up still gives a complete, valid result when the engine's result keeps
the rules, and a valid one otherwise; a fixed effort counts the same work twice. No
test measures time."""

import json

import stowvex
from stowvex_tools import effort_spent, optimise, optimise_json, validate


def _items(n, rotation=stowvex.Rotation.BEST_FIT):
    return [
        stowvex.Item(
            f"I{k:03d}",
            "",
            1 + k % 5,
            1 + (k * 7) % 4,
            1 + (k * 3) % 6,
            0.0,
            allowed_rotation=rotation,
        )
        for k in range(n)
    ]


def test_a_used_up_limit_returns_the_engines_result_whole():
    items = _items(200)
    boxes = [stowvex.Box("B", 12, 12, 12)]
    engine = stowvex.pack(items, boxes)
    result = optimise(items, boxes, time_limit=1e-9)
    assert validate(result, items, boxes) == []
    assert result.total_placed == engine.total_placed
    assert len(result.boxes) == len(engine.boxes)


def test_a_used_up_limit_under_full_support_gives_a_valid_result():
    items = [
        {"ItemCode": f"C{k}", "Width": 2, "Length": 2, "Depth": 2, "Weight": 0} for k in range(40)
    ]
    boxes = [{"Reference": "B", "Width": 4, "Length": 4, "Depth": 4}]
    text = json.dumps({"items": items, "boxes": boxes})
    result = json.loads(optimise_json(text, time_limit=1e-9, min_support=1.0))
    assert validate(result, items, boxes, min_support=1.0) == []


def test_a_fixed_effort_counts_the_same_work_twice():
    items = _items(60, stowvex.Rotation.NEVER)
    boxes = [stowvex.Box("B", 7, 8, 6)]
    spent = []
    for _ in range(2):
        before = effort_spent()
        optimise(items, boxes, time_limit=None, effort=200_000)
        spent.append(effort_spent() - before)
    assert spent[0] > 0
    assert abs(spent[0] - spent[1]) <= 1  # whole units of ticks summed over calls
