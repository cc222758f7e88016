"""Settled layouts: every item of a result moved straight down, lowest first, until it
rests on the box floor or on items below it, so that no item floats.

Positions are compared exactly, except that a top face a rounding step (a relative
1e-9 of the box's largest side, as the checker allows) above an item's base still
carries it: sizes written in decimals, such as 0.1 and 0.2, add up to positions one
rounding step away from the decimal sum. Such an item is not moved up.

Moving an item down keeps its footprint, so the items above and below it stay the same
ones: what an item carries (MaxLoad, Fragile) and the centre of gravity of its box do
not change. Only the delivery stops can be broken by a move, when an item comes down
between another and the door; such an item stops at the lowest height that breaks no
stop rule it did not already break.
"""

from __future__ import annotations

import bisect
from collections.abc import Iterable, Mapping, Sequence
from dataclasses import dataclass
from typing import Any

import stowvex

from . import _native
from .checker.result_reading import (
    BoxesInput,
    ItemsInput,
    ResultInput,
    box_type_key,
    item_key,
    read_result,
)
from .checker.rules import RELATIVE_TOLERANCE
from .loading_rules import LoadingRules, merged, read_rules, rules_in_request
from .request_format import elements, read_box, read_item


@dataclass(frozen=True)
class Settled:
    """A settled result, with the share of each item's base that rests on the floor or
    on the tops of items directly beneath it: ``support[b][i]`` for placement ``i`` of
    box ``b`` of ``result.boxes`` (1.0 on the floor)."""

    result: stowvex.PackResult
    support: list[list[float]]


@dataclass
class _Piece:
    """One placement while it settles: its item, placed sides, label and position."""

    item: Any
    sides: tuple[float, float, float]
    orientation: str
    x: float
    y: float
    z: float
    stop: int | None

    @property
    def top(self) -> float:
        return self.z + self.sides[2]

    def span(self, axis: int) -> tuple[float, float]:
        start = (self.x, self.y, self.z)[axis]
        return start, start + self.sides[axis]


def _overlap(a: tuple[float, float], b: tuple[float, float]) -> float:
    return min(a[1], b[1]) - max(a[0], b[0])


def _footprints_meet(a: _Piece, b: _Piece) -> bool:
    return _overlap(a.span(0), b.span(0)) > 0.0 and _overlap(a.span(1), b.span(1)) > 0.0


def _between(a: _Piece, b: _Piece, z_of_a: float) -> bool:
    """Whether, with `a` at height `z_of_a`, the later stop of the two lies between the
    other and the door (x and z ranges overlapping, its y beyond the other's)."""
    if a.stop is None or b.stop is None or a.stop == b.stop:
        return False
    if not _overlap(a.span(0), b.span(0)) > 0.0:
        return False
    if not _overlap((z_of_a, z_of_a + a.sides[2]), b.span(2)) > 0.0:
        return False
    early, late = (a, b) if a.stop < b.stop else (b, a)
    return late.span(1)[0] >= early.span(1)[1]


def _settle_box(pieces: list[_Piece]) -> None:
    order = sorted(range(len(pieces)), key=lambda i: pieces[i].z)
    settled: list[_Piece] = []
    with_stops = any(p.stop is not None for p in pieces)
    for i in order:
        p = pieces[i]
        # Every settled item had its base no higher than this one's: one whose
        # footprint meets this one's lies below it (a top face a rounding step above
        # this base included), and the highest top of those is where it comes to rest.
        floor = 0.0
        for q in settled:
            if q.top > floor and _footprints_meet(p, q):
                floor = q.top
        if floor < p.z and with_stops:
            floor = _lowest_keeping_stops(p, pieces, floor)
        if floor < p.z:
            p.z = floor
        settled.append(p)


def _lowest_keeping_stops(p: _Piece, pieces: list[_Piece], floor: float) -> float:
    others = [q for q in pieces if q is not p and q.stop is not None]
    already = {id(q) for q in others if _between(p, q, p.z)}
    candidates = {floor}
    for q in others:
        candidates.add(q.top)
        candidates.add(q.z - p.sides[2])
    for z in sorted(c for c in candidates if floor <= c < p.z):
        if all(id(q) in already or not _between(p, q, z) for q in others):
            return z
    return p.z


def _support_shares(pieces: list[_Piece], tolerance: float) -> list[float]:
    # A top face within a rounding step of the base carries it, as the checker sees it.
    shares = []
    for p in pieces:
        if p.z <= tolerance:
            shares.append(1.0)
            continue
        base = p.sides[0] * p.sides[1]
        resting = 0.0
        for q in pieces:
            if q is p or abs(q.top - p.z) > tolerance:
                continue
            dx, dy = _overlap(p.span(0), q.span(0)), _overlap(p.span(1), q.span(1))
            if dx > 0.0 and dy > 0.0:
                resting += dx * dy
        shares.append(min(1.0, resting / base) if base > 0.0 else 0.0)
    return shares


def settle(
    result: ResultInput,
    items: ItemsInput,
    boxes: BoxesInput,
    *,
    rules: LoadingRules | Mapping[str, Any] | None = None,
) -> Settled:
    """Moves every item of `result` straight down, lowest first, until it rests on the
    floor or on items below, keeping each item in its box, at its x and y, in its
    orientation, and keeping every loading rule given (an item that cannot go lower
    without breaking a stop rule stops where it can). Never creates an overlap.

    `result`, `items` and `boxes` take the forms :func:`stowvex_tools.validate` takes;
    the loading rules are read from the item and box dicts and from `rules`, as there.
    Returns a :class:`Settled`: the engine's ``PackResult`` of the new positions, with
    every figure computed from them, and the supported share of each item's base.
    Raises ``ValueError`` when the result, an item or a rule cannot be read.
    """
    loading = merged(rules_in_request(items, boxes), read_rules(rules))
    if isinstance(result, stowvex.PackResult):
        packed = [(box.box, [_piece_of(p, loading) for p in box.items]) for box in result.boxes]
        unplaced = list(result.unplaced_items)
    else:
        packed, unplaced = _objects_of(result, items, boxes, loading)
    for _, pieces in packed:
        _settle_box(pieces)
    made = _native.result_of(
        [
            (box, [(p.item, *p.sides, p.orientation, p.x, p.y, p.z) for p in pieces])
            for box, pieces in packed
        ],
        unplaced,
    )
    support = [
        _support_shares(
            [_piece_of(p, loading) for p in box.items],
            RELATIVE_TOLERANCE * max(box.box.width, box.box.length, box.box.depth),
        )
        for box in made.boxes
    ]
    return Settled(made, support)


def _piece_of(p: stowvex.PackedItem, loading: LoadingRules) -> _Piece:
    return _Piece(
        p.item,
        (p.width, p.length, p.depth),
        p.orientation,
        p.x,
        p.y,
        p.z,
        loading.item(p.item.item_code).stop,
    )


def _objects_of(
    result: ResultInput, items: ItemsInput, boxes: BoxesInput, loading: LoadingRules
) -> tuple[list[tuple[stowvex.Box, list[_Piece]]], list[stowvex.Item]]:
    """The result's boxes and items as the module's objects, for a result given as a
    dict or as JSON text; given objects are used where the request holds them."""
    read = read_result(result)
    given_items: dict[Any, Any] = {}
    for _, value in elements(items):
        if isinstance(value, stowvex.Item):
            given_items.setdefault(item_key(read_item(value)), value)
    given_boxes: dict[Any, Any] = {}
    for _, value in elements(boxes):
        requested_box = read_box(value)
        given_boxes.setdefault(box_type_key(requested_box), (value, requested_box))

    def item_object(item: Any) -> stowvex.Item:
        found = given_items.get(item_key(item))
        if found is None:
            width, length, depth = item.size
            found = stowvex.Item(
                item.code,
                item.reference,
                width,
                length,
                depth,
                item.weight,
                item.group,
                stowvex.Rotation(int(item.rotation)),
            )
            given_items[item_key(item)] = found
        return found

    packed = []
    for box in read.boxes:
        value, requested = given_boxes.get(box.key, (None, None))
        if isinstance(value, stowvex.Box):
            box_object = value
        else:
            width, length, depth = box.size
            box_object = stowvex.Box(
                box.reference,
                width,
                length,
                depth,
                box.max_weight,
                box.empty_weight,
                True if requested is None else requested.active,
                None if requested is None else requested.max_quantity,
            )
        pieces = [
            _Piece(
                item_object(p.item),
                p.placed,
                p.orientation,
                p.position[0],
                p.position[1],
                p.position[2],
                loading.item(p.code).stop,
            )
            for p in box.placements
        ]
        packed.append((box_object, pieces))
    return packed, [item_object(item) for item in read.unplaced]


Extent = tuple[float, float, float, float, float, float]  # x, y, z, width, length, depth


def poorly_supported(boxes: Iterable[Sequence[Extent]], share: float = 0.5) -> int:
    """How many items, over boxes of placements (x, y, z, placed width, length and
    depth), rest on less than `share` of their base: not on the floor and carried by
    the top faces at their base height (within the checker's rounding step) over less
    than that share of their base area."""
    count = 0
    for extents in boxes:
        placed = list(extents)
        if not placed:
            continue
        largest = max(max(abs(e[0] + e[3]), abs(e[1] + e[4]), abs(e[2] + e[5])) for e in placed)
        tolerance = RELATIVE_TOLERANCE * largest
        by_top = sorted(placed, key=lambda e: e[2] + e[5])
        tops = [e[2] + e[5] for e in by_top]
        for x, y, z, width, length, _ in placed:
            if z <= tolerance:
                continue
            low = bisect.bisect_left(tops, z - tolerance)
            high = bisect.bisect_right(tops, z + tolerance)
            carried = 0.0
            for qx, qy, _, qw, ql, _ in by_top[low:high]:
                dx = min(x + width, qx + qw) - max(x, qx)
                dy = min(y + length, qy + ql) - max(y, qy)
                if dx > 0.0 and dy > 0.0:
                    carried += dx * dy
            if carried < share * width * length:
                count += 1
    return count


def result_extents(result: Mapping[str, Any]) -> list[list[Extent]]:
    """The placements of a result dict, box by box, as `poorly_supported` reads them."""
    boxes = []
    for box in result.get("boxes") or []:
        extents = []
        for p in box.get("items") or []:
            try:
                extents.append(
                    tuple(float(p[k]) for k in ("x", "y", "z", "width", "length", "depth"))
                )
            except (KeyError, TypeError, ValueError):
                continue
        boxes.append(extents)
    return boxes  # type: ignore[return-value]
