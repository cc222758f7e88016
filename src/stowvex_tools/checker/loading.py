"""The loading rules of a packed box: what lies above an item (its MaxLoad, or nothing
for a fragile one), the order of delivery stops, and the centre of gravity."""

from __future__ import annotations

import bisect

from ..loading_rules import LoadingRules
from .result_reading import PackedBox, Placement
from .rules import RELATIVE_TOLERANCE, _codes_text, _tolerance
from .violations import Violation


def _footprints_overlap(a: Placement, b: Placement, tol: float) -> bool:
    return all(
        min(a.spans[k][1], b.spans[k][1]) - max(a.spans[k][0], b.spans[k][0]) > tol for k in (0, 1)
    )


def _above(upper: Placement, lower: Placement, tol: float) -> bool:
    """Whether `upper` lies above `lower`: its base at or above the other's top face,
    their footprints sharing a positive area."""
    return upper.spans[2][0] >= lower.spans[2][1] - tol and _footprints_overlap(upper, lower, tol)


def check_loads(box: PackedBox, rules: LoadingRules, out: list[Violation]) -> None:
    """Items carrying more than their MaxLoad, counting every item above them in full;
    a fragile item (MaxLoad 0) carries nothing at all."""
    limited: list[tuple[Placement, float]] = []
    for p in box.placements:
        load = rules.item(p.code).max_load
        if load is not None:
            limited.append((p, load))
    if not limited:
        return
    tol = _tolerance(box)
    by_base = sorted(box.placements, key=lambda q: q.spans[2][0])
    bases = [q.spans[2][0] for q in by_base]
    for p, max_load in limited:
        start = bisect.bisect_left(bases, p.spans[2][1] - tol)
        above = [q for q in by_base[start:] if q is not p and _above(q, p, tol)]
        if not above:
            continue
        carried = sum(q.item.weight for q in above)
        if max_load == 0.0:
            message = (
                f"item {p.code!r} (placement {p.index}) in {box.label} is fragile, "
                f"but {_codes_text(q.code for q in above)} lie above it"
            )
        elif carried > max_load + RELATIVE_TOLERANCE * max(abs(carried), abs(max_load)):
            message = (
                f"item {p.code!r} (placement {p.index}) in {box.label} carries "
                f"{carried!r} above it ({_codes_text(q.code for q in above)}), "
                f"more than its MaxLoad {max_load!r}"
            )
        else:
            continue
        codes = (p.code, *(q.code for q in above))
        out.append(Violation("load", message, box.index, box.reference, codes))


def check_stops(box: PackedBox, rules: LoadingRules, out: list[Violation]) -> None:
    """Last in, first out: an item of a later stop lies neither above an item of an
    earlier stop nor between it and the door (the face at y = the box's length)."""
    stopping: list[tuple[Placement, int]] = []
    for p in box.placements:
        stop = rules.item(p.code).stop
        if stop is not None:
            stopping.append((p, stop))
    if len({stop for _, stop in stopping}) < 2:
        return
    tol = _tolerance(box)
    for a, stop_a in stopping:
        for b, stop_b in stopping:
            if stop_b <= stop_a:
                continue
            if _above(b, a, tol):
                where = "above"
            elif (
                b.spans[1][0] >= a.spans[1][1] - tol
                and min(a.spans[0][1], b.spans[0][1]) - max(a.spans[0][0], b.spans[0][0]) > tol
                and min(a.spans[2][1], b.spans[2][1]) - max(a.spans[2][0], b.spans[2][0]) > tol
            ):
                where = "between the door and"
            else:
                continue
            out.append(
                Violation(
                    "stop",
                    f"item {b.code!r} (placement {b.index}, stop {stop_b}) lies {where} "
                    f"item {a.code!r} (placement {a.index}, stop {stop_a}) in {box.label}, "
                    f"which is unloaded first",
                    box.index,
                    box.reference,
                    (a.code, b.code),
                )
            )


def check_centre_of_gravity(box: PackedBox, rules: LoadingRules, out: list[Violation]) -> None:
    """The weighted centre of the box's items (each weight at its item's centre) within
    the box type's ranges; a box without weighted items is exempt."""
    box_rules = rules.box(box.reference)
    if box_rules is None:
        return
    total = sum(p.item.weight for p in box.placements)
    if not total > 0.0:
        return
    tol = _tolerance(box)
    for axis, name, (lo, hi) in ((0, "x", box_rules.centre_x), (1, "y", box_rules.centre_y)):
        moment = sum(
            p.item.weight * (p.spans[axis][0] + p.spans[axis][1]) / 2 for p in box.placements
        )
        centre = moment / total
        low, high = lo * box.size[axis], hi * box.size[axis]
        if low - tol <= centre <= high + tol:
            continue
        out.append(
            Violation(
                "centre_of_gravity",
                f"the centre of gravity of {box.label} lies at {name} = {centre!r}, "
                f"outside {low!r} to {high!r}",
                box.index,
                box.reference,
                box.codes(),
            )
        )
