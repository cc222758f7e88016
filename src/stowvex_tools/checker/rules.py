"""The rules of a packing result: geometry and support, orientations, weight limits,
box types and their quantities, box groups, and every requested item accounted for."""

from __future__ import annotations

import bisect
import math
from collections import defaultdict
from collections.abc import Iterable
from typing import Any

from ..request_format import RequestBox, RequestItem, Rotation
from .result_reading import PackedBox, Placement, box_type_key, item_key, sides_equal
from .violations import Violation

# Sizes and positions the engine computes by adding decimal sizes may land one
# rounding step away from the exact sum (a placement that ends at 0.30000000000000004
# where the next starts at 0.3). Geometric comparisons therefore allow this share of
# the box's largest dimension; weights allow the same share of the weights compared.
RELATIVE_TOLERANCE = 1e-9

# The sides of the item that each orientation label puts along width, length and depth.
LABELS = {
    "WLD": (0, 1, 2),
    "LWD": (1, 0, 2),
    "WDL": (0, 2, 1),
    "LDW": (1, 2, 0),
    "DWL": (2, 0, 1),
    "DLW": (2, 1, 0),
}


def _tolerance(box: PackedBox) -> float:
    largest = max((abs(s) for s in box.size if math.isfinite(s)), default=0.0)
    return RELATIVE_TOLERANCE * largest


def _codes_text(codes: Iterable[str], limit: int = 6) -> str:
    listed = [repr(c) for c in codes]
    if len(listed) > limit:
        listed = listed[:limit] + [f"and {len(listed) - limit} more"]
    return ", ".join(listed)


def check_geometry(box: PackedBox, min_support: float, out: list[Violation]) -> None:
    """Placements outside the box, placements that overlap, and with `min_support` above
    0 the items resting on too little."""
    tol = _tolerance(box)
    for p in box.placements:
        inside = all(p.spans[a][0] >= -tol and p.spans[a][1] <= box.size[a] + tol for a in range(3))
        if not inside:
            out.append(
                Violation(
                    "outside_box",
                    f"item {p.code!r} at {p.position} with sides {p.placed} "
                    f"reaches outside {box.label} of {box.size}",
                    box.index,
                    box.reference,
                    (p.code,),
                )
            )
    # Sweep along x: only placements whose x spans meet can overlap.
    by_x = sorted(box.placements, key=lambda q: q.spans[0])
    for i, a in enumerate(by_x):
        a_end = a.spans[0][1]
        for b in by_x[i + 1 :]:
            if b.spans[0][0] >= a_end - tol:
                break
            if all(
                min(a.spans[k][1], b.spans[k][1]) - max(a.spans[k][0], b.spans[k][0]) > tol
                for k in range(3)
            ):
                first, second = sorted((a, b), key=lambda q: q.index)
                out.append(
                    Violation(
                        "overlap",
                        f"items {first.code!r} (placement {first.index}) and "
                        f"{second.code!r} (placement {second.index}) intersect in {box.label}",
                        box.index,
                        box.reference,
                        (first.code, second.code),
                    )
                )
    if min_support > 0.0:
        _check_support(box, min_support, tol, out)


def _area_overlap(a: Placement, b: Placement) -> float:
    area = 1.0
    for axis in (0, 1):
        side = min(a.spans[axis][1], b.spans[axis][1]) - max(a.spans[axis][0], b.spans[axis][0])
        if not side > 0.0:
            return 0.0
        area *= side
    return area


def _check_support(box: PackedBox, min_support: float, tol: float, out: list[Violation]) -> None:
    tops = sorted(box.placements, key=lambda q: q.spans[2][1])
    top_heights = [q.spans[2][1] for q in tops]
    for p in box.placements:
        bottom = p.spans[2][0]
        base = abs(p.placed[0] * p.placed[1])
        if not bottom > tol or not base > 0.0:
            continue  # on the floor, below it (reported as outside), or without a base
        supported = 0.0
        first = bisect.bisect_left(top_heights, bottom - tol)
        last = bisect.bisect_right(top_heights, bottom + tol)
        for q in tops[first:last]:
            if q is not p:
                supported += _area_overlap(p, q)
        share = min(supported / base, 1.0)
        if share < min_support - RELATIVE_TOLERANCE:
            out.append(
                Violation(
                    "support",
                    f"item {p.code!r} (placement {p.index}) at height {bottom} in "
                    f"{box.label} rests on {share:.4g} of its base, below {min_support:.4g}",
                    box.index,
                    box.reference,
                    (p.code,),
                )
            )


def check_orientation(
    p: Placement, box: PackedBox, out: list[Violation], labels: tuple[str, ...] | None = None
) -> None:
    """Placed sides that its orientation label does not give, or a label its item's
    rotation freedom forbids (when the result tells that freedom); with `labels`, the
    item's "Orientations", a label not among them instead."""
    order = LABELS.get(p.orientation)
    size = p.item.size
    if order is None or any(not sides_equal(size[i], s) for i, s in zip(order, p.placed)):
        out.append(
            Violation(
                "orientation",
                f"item {p.code!r} (placement {p.index}) in {box.label} has "
                f"sides {p.placed} that do not match orientation {p.orientation!r} of "
                f"its sides {size}",
                box.index,
                box.reference,
                (p.code,),
            )
        )
        return
    if labels is not None:
        if p.orientation not in labels:
            out.append(
                Violation(
                    "orientation",
                    f"item {p.code!r} (placement {p.index}) in {box.label} is placed as "
                    f"{p.orientation!r}, which is not among its Orientations {list(labels)}",
                    box.index,
                    box.reference,
                    (p.code,),
                )
            )
        return
    if p.rotation_known and _level(p.orientation) > p.item.rotation:
        out.append(_rotation_violation(p, box, p.item.rotation))


def _level(label: str) -> Rotation:
    """The least rotation freedom that allows an orientation label."""
    if label == "WLD":
        return Rotation.NEVER
    return Rotation.KEEP_FLAT if label == "LWD" else Rotation.BEST_FIT


def _rotation_violation(p: Placement, box: PackedBox, rotation: Rotation) -> Violation:
    return Violation(
        "orientation",
        f"item {p.code!r} (placement {p.index}) in {box.label} is placed as "
        f"{p.orientation!r}, which rotation {rotation.word} does not allow",
        box.index,
        box.reference,
        (p.code,),
    )


def check_weight(box: PackedBox, out: list[Violation]) -> None:
    """Items heavier than the box's weight limit leaves after its empty weight."""
    if not box.max_weight >= 0.0:
        return
    budget = box.max_weight - box.empty_weight
    budget = budget if budget >= 0.0 else 0.0
    # Only positive weights count: a negative weight is no room for other items.
    carried = 0.0
    for p in box.placements:
        if not p.item.weight <= 0.0:
            carried += p.item.weight
    slack = RELATIVE_TOLERANCE * max(abs(carried), abs(budget))
    if carried - budget > slack or math.isnan(carried):
        out.append(
            Violation(
                "weight_limit",
                f"{box.label} holds {carried} of items, over the {budget} its "
                f"max weight {box.max_weight} leaves after its empty weight {box.empty_weight}",
                box.index,
                box.reference,
                box.codes(),
            )
        )


def check_box_types(
    boxes: list[PackedBox], box_types: list[RequestBox], out: list[Violation]
) -> None:
    """Boxes of no requested box type or of an inactive one, and more boxes of a
    reference than its quantity limit allows."""
    by_key: dict[tuple[Any, ...], list[RequestBox]] = defaultdict(list)
    for entry in box_types:
        by_key[box_type_key(entry)].append(entry)
    limited: dict[str, list[tuple[int, PackedBox]]] = defaultdict(list)
    for box in boxes:
        candidates = by_key.get(box.key, [])
        if not candidates:
            out.append(
                Violation(
                    "unknown_box",
                    f"{box.label} of {box.size} matches none of the box types given",
                    box.index,
                    box.reference,
                    box.codes(),
                )
            )
            continue
        active = [c for c in candidates if c.active]
        if not active:
            out.append(
                Violation(
                    "inactive_box",
                    f"{box.label} is of an inactive box type",
                    box.index,
                    box.reference,
                    box.codes(),
                )
            )
            active = candidates
        quantities = [c.max_quantity for c in active]
        if None not in quantities:
            limited[box.reference].append((max(q for q in quantities if q is not None), box))
    # The k-th box opened with a reference may be of a limited type only while k is
    # below that type's limit; limited boxes go first, the tightest limits earliest.
    for reference, entries in limited.items():
        entries.sort(key=lambda e: (e[0], e[1].index))
        for position, (quantity, box) in enumerate(entries):
            if position >= quantity:
                out.append(
                    Violation(
                        "quantity_limit",
                        f"{box.label} is one box too many: box types with "
                        f"reference {reference!r} may be used {max(quantity, 0)} time(s) and "
                        f"{len(entries)} such boxes are packed",
                        box.index,
                        box.reference,
                        box.codes(),
                    )
                )


def check_groups(boxes: list[PackedBox], unplaced: list[RequestItem], out: list[Violation]) -> None:
    """Box groups spread over several boxes, or placed in part and unplaced in part."""
    holders: dict[str, dict[int, list[str]]] = defaultdict(lambda: defaultdict(list))
    for box in boxes:
        for p in box.placements:
            if p.item.group:
                holders[p.item.group][box.index].append(p.code)
    left_out: dict[str, list[str]] = defaultdict(list)
    for item in unplaced:
        if item.group:
            left_out[item.group].append(item.code)
    for group, by_box in holders.items():
        codes = tuple(c for box_codes in by_box.values() for c in box_codes)
        if len(by_box) > 1:
            out.append(
                Violation(
                    "box_group_split",
                    f"box group {group!r} is spread over boxes "
                    f"{sorted(by_box)} ({_codes_text(codes)})",
                    None,
                    None,
                    codes,
                )
            )
        if left_out.get(group):
            missing = tuple(left_out[group])
            out.append(
                Violation(
                    "box_group_split",
                    f"box group {group!r} is partly placed "
                    f"({_codes_text(codes)}) and partly unplaced ({_codes_text(missing)})",
                    None,
                    None,
                    codes + missing,
                )
            )


def check_accounting(
    items: list[RequestItem],
    boxes: list[PackedBox],
    unplaced: list[RequestItem],
    out: list[Violation],
) -> None:
    """Every requested item once, placed or unplaced, matched by code, sizes and weight."""
    pools: dict[tuple[Any, ...], list[int]] = defaultdict(lambda: [0, 0, 0])
    for item in items:
        pools[item_key(item)][item.rotation] += 1
    extra: dict[tuple[Any, ...], list[str]] = defaultdict(list)
    for item in unplaced:
        pool = pools[item_key(item)]
        if pool[item.rotation] > 0:
            pool[item.rotation] -= 1
        else:
            extra[item_key(item)].append("unplaced")
    placements = [p for box in boxes for p in box.placements]
    # Placements whose item's rotation freedom is unknown take the item with the least
    # freedom that allows their orientation: the most demanding orientations go first.
    placements.sort(key=lambda p: (not p.rotation_known, -_level(p.orientation)))
    for p in placements:
        pool = pools[item_key(p.item)]
        if p.rotation_known:
            choices = [p.item.rotation]
        else:
            least = _level(p.orientation) if p.orientation in LABELS else Rotation.NEVER
            choices = [r for r in Rotation if r >= least]
        taken = next((r for r in choices if pool[r] > 0), None)
        if taken is not None:
            pool[taken] -= 1
        elif not p.rotation_known and any(pool):
            # The request holds this item, but only with less freedom than this needs.
            rotation = max(r for r in Rotation if pool[r] > 0)
            pool[rotation] -= 1
            out.append(_rotation_violation(p, boxes[p.box], rotation))
        else:
            extra[item_key(p.item)].append(f"box {p.box}")
    for key, where in extra.items():
        code = key[0]
        out.append(
            Violation(
                "extra_item",
                f"item {code!r} appears {len(where)} time(s) more than the request "
                f"holds it ({', '.join(where)})",
                None,
                None,
                (code,),
            )
        )
    for key, pool in pools.items():
        if sum(pool) > 0:
            code = key[0]
            out.append(
                Violation(
                    "missing_item",
                    f"item {code!r} is missing {sum(pool)} time(s) from both the "
                    "placed and the unplaced items",
                    None,
                    None,
                    (code,),
                )
            )
