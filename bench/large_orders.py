"""Truck-scale requests: 1,000 to 3,000 items over 2 to 12 boxes, with weight
balancing, box groups, weight limits and quantity limits, and one box type past
the point where its first box spills over into a second.

Deterministic (SplitMix64, fixed seeds), written as JSON text the way callers
write it. bench/targets.py times them; the golden corpus freezes their results.

Usage: large_orders.py [--list] [--write DIR]
"""

import argparse
import sys
from fractions import Fraction
from pathlib import Path

import benchlib
from targets import box_types, cube_side, number, random_items, six_types_request

ROTATIONS = ("BestFit", "KeepFlat", "Never")


def weighted_item_text(code, width, length, depth, weight, rotation=None, group=None):
    text = (
        f'{{"ItemCode": "{code}", "Width": {number(width, 1)}, '
        f'"Length": {number(length, 2)}, "Depth": {number(depth, 3)}, '
        f'"Weight": {number(weight, 3)}'
    )
    if rotation is not None:
        text += f', "AllowedRotation": "{rotation}"'
    if group is not None:
        text += f', "BoxGroup": "{group}"'
    return text + "}"


def request(item_texts, box_texts):
    return '{"items": [' + ", ".join(item_texts) + '], "boxes": [' + ", ".join(box_texts) + "]}"


def cargo(items):
    return sum(w * l * d for _, w, l, d, _ in items), sum(item[4] for item in items)


def one_box_type(items, share, reference="TRUCK", weight_share=None):
    """One box type w x 1.2w x w of `share` of the cargo volume; with
    `weight_share`, a gross limit of that share of the cargo weight."""
    volume, weight = cargo(items)
    side = cube_side(volume * Fraction(share))
    text = (
        f'{{"Reference": "{reference}", "Width": {side}, "Length": {(6 * side + 2) // 5}, '
        f'"Depth": {side}, "BoxWeight": 25'
    )
    if weight_share is not None:
        text += f', "MaxWeight": {number(weight * Fraction(weight_share), 1)}'
    return text + "}"


def one_type_request(n, share, seed):
    """n weighted items and one box type without a weight limit."""
    items = random_items(benchlib.SplitMix64(seed * 6_000_011 + n), n)
    return request([weighted_item_text(*item) for item in items], [one_box_type(items, share)])


def groups_limits_request(n, seed):
    """n items, a few box groups of 3 to 8 items, mixed rotation freedoms, and
    3 to 6 box types that either all have a weight limit or some of which have a
    quantity limit; some types are inactive."""
    rng = benchlib.SplitMix64(seed * 7_000_003 + n)
    items = random_items(rng, n, min_side=4, max_side=50, prefix="g")
    groups = {}
    for g in range(rng.between(2, 4)):
        for _ in range(rng.between(3, 8)):
            groups[rng.below(n)] = f"G{g}"
    texts = []
    for k, item in enumerate(items):
        rotation = ROTATIONS[rng.below(3)] if rng.chance(40) else None
        texts.append(weighted_item_text(*item, rotation=rotation, group=groups.get(k)))
    type_count = rng.between(3, 6)
    shares = sorted(Fraction(rng.between(8, 45), 100) for _ in range(type_count))
    weight_limited = rng.chance(50)
    boxes = []
    for box in box_types(items, shares, "B", weight_limited):
        extra = ""
        if not weight_limited and rng.chance(60):
            extra = f', "MaximumBoxes": {rng.between(1, 4)}'
        if rng.chance(10):
            extra += ', "Active": false'
        boxes.append(box[:-1] + extra + "}")
    return request(texts, boxes)


def many_boxes_request(n, seed):
    """n items into small weight-limited box types, so that 8 to 12 boxes open."""
    rng = benchlib.SplitMix64(seed * 8_000_009 + n)
    items = random_items(rng, n, min_side=5, max_side=45, prefix="m")
    shares = ("0.06", "0.08", "0.1", "0.12")
    return request(
        [weighted_item_text(*item) for item in items], box_types(items, shares, "S", True)
    )


def large_requests():
    """(name, function making the request text) of every large request."""
    for n in (1000, 2000, 3000):
        yield f"one_type_two_boxes/{n}", lambda n=n: one_type_request(n, "1.1", 1)
    for n in (1000, 2000, 3000):
        yield f"spill_over/{n}", lambda n=n: one_type_request(n, "1.9", 2)
    for n in (1500, 2000, 3000):
        yield f"six_weight_limited/{n}", lambda n=n: six_types_request(n)
    for k, n in enumerate((1000, 1200, 1500, 1800, 2000, 2200, 2500, 2800, 3000, 3000)):
        yield f"groups_limits/{n}/{k}", lambda n=n, k=k: groups_limits_request(n, k)
    for n in (1000, 2000, 3000):
        yield f"many_boxes/{n}", lambda n=n: many_boxes_request(n, 1)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--list", action="store_true", help="print the names")
    parser.add_argument("--write", metavar="DIR", help="write each request as DIR/NAME.json")
    args = parser.parse_args(argv)
    for name, make in large_requests():
        if args.write:
            path = Path(args.write) / f"{name.replace('/', '-')}.json"
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_text(make(), encoding="utf-8")
        if args.list or args.write:
            print(name)


if __name__ == "__main__":
    sys.exit(main())
