"""What a picture of a result shows: each packed box with its items drawn as coloured
blocks, in the order a packer at the bench puts them in."""

from __future__ import annotations

import bisect
import colorsys
import heapq
import re
from collections.abc import Mapping
from dataclasses import dataclass
from typing import Any

from .loading_rules import LoadingRules
from .request_format import number_value
from .summary import result_dict, result_number

# Twenty colours that stay apart from each other and from the dark edges drawn around
# every block; item codes take them in order of first appearance.
PALETTE = (
    "#4e79a7",
    "#f28e2b",
    "#59a14f",
    "#e15759",
    "#76b7b2",
    "#edc948",
    "#b07aa1",
    "#ff9da7",
    "#9c755f",
    "#86bcb6",
    "#8cd17d",
    "#f1ce63",
    "#a0cbe8",
    "#ffbe7d",
    "#d37295",
    "#b6992d",
    "#499894",
    "#fabfd2",
    "#79706e",
    "#d4a6c8",
)

# The eight corners of a unit block and its twelve triangles (two per face) and
# twelve edges, as indices into the corners.
CORNERS = ((0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1))
TRIANGLES = (
    (0, 1, 2),
    (0, 2, 3),
    (4, 5, 6),
    (4, 6, 7),
    (0, 1, 5),
    (0, 5, 4),
    (1, 2, 6),
    (1, 6, 5),
    (2, 3, 7),
    (2, 7, 6),
    (3, 0, 4),
    (3, 4, 7),
)
EDGES = (
    (0, 1),
    (1, 2),
    (2, 3),
    (3, 0),
    (4, 5),
    (5, 6),
    (6, 7),
    (7, 4),
    (0, 4),
    (1, 5),
    (2, 6),
    (3, 7),
)
FACES = ((0, 1, 2, 3), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6), (3, 0, 4, 7))


# Items a box may hold and still have a label on each block; more would cover one
# another and the view, and hovering still names every item.
MAX_LABELLED = 150
# The longest label; longer item codes are cut short (hovering shows the whole code).
LABEL_LENGTH = 12
# The outline of an item nothing may rest on.
FRAGILE_COLOUR = "#d40000"


@dataclass(frozen=True)
class DrawnItem:
    """One placed item as a picture draws it: a block at its position with its placed
    sides, its colour, and what a packer needs to know."""

    step: int  # 1 for the first item to put in the box
    code: str
    reference: str
    x: float
    y: float
    z: float
    width: float
    length: float
    depth: float
    orientation: str
    weight: float
    colour: str
    support: float = 1.0  # the share of its base on the floor or on tops below it
    max_load: float | None = None  # its loading rules: 0 for a fragile item
    stop: int | None = None

    @property
    def rules_text(self) -> str:
        """Its loading rules in words: "fragile", "carries 20", "stop 2"."""
        words = []
        if self.fragile:
            words.append("fragile")
        elif self.max_load is not None:
            words.append(f"carries {fmt(self.max_load)}")
        if self.stop is not None:
            words.append(f"stop {self.stop}")
        return ", ".join(words)

    @property
    def fragile(self) -> bool:
        """Whether nothing may rest on it (Fragile, or a MaxLoad of 0)."""
        return self.max_load == 0.0

    @property
    def label(self) -> str:
        """The text drawn on its block: its item code, cut short when long."""
        return self.code if len(self.code) <= LABEL_LENGTH else self.code[: LABEL_LENGTH - 1] + "…"

    @property
    def top_centre(self) -> tuple[float, float, float]:
        """The centre of its top face, where its label goes."""
        return (self.x + self.width / 2, self.y + self.length / 2, self.z + self.depth)

    @property
    def poorly_supported(self) -> bool:
        """Whether it rests on less than half of its base."""
        return self.support < 0.5

    def corners(self) -> list[tuple[float, float, float]]:
        """The eight corners of its block, in the order of `CORNERS`."""
        return [
            (self.x + cx * self.width, self.y + cy * self.length, self.z + cz * self.depth)
            for cx, cy, cz in CORNERS
        ]


@dataclass(frozen=True)
class BoxScene:
    """One packed box of a result, its items in bench order."""

    index: int
    reference: str
    width: float
    length: float
    depth: float
    weight: float
    fill: float
    items: tuple[DrawnItem, ...]
    by_stop: bool = False  # its items take the colour of their delivery stop

    def poorly_supported(self) -> list[DrawnItem]:
        """Its items that rest on less than half of their base, in step order."""
        return [item for item in self.items if item.poorly_supported]

    @property
    def labelled(self) -> bool:
        """Whether its blocks carry labels: not beyond `MAX_LABELLED` items, where they
        would cover one another."""
        return 0 < len(self.items) <= MAX_LABELLED

    def extent(self) -> tuple[tuple[float, float], tuple[float, float], tuple[float, float]]:
        """The ranges of x, y and z a picture shows: the box from its corner at 0, and
        every item, even one that juts out of it."""
        ranges = []
        for axis, side in (("x", "width"), ("y", "length"), ("z", "depth")):
            low = min([0.0] + [getattr(item, axis) for item in self.items])
            high = max(
                [getattr(self, side)]
                + [getattr(item, axis) + getattr(item, side) for item in self.items]
            )
            ranges.append((low, high if high > low else low + 1.0))
        return ranges[0], ranges[1], ranges[2]

    def legend(self) -> list[tuple[str, str]]:
        """What its colours mean, as (text, colour): the item codes in order of first
        step, or with delivery stops the stops, last first."""
        entries: dict[str, str] = {}
        if self.by_stop:
            for item in sorted(self.items, key=lambda i: -(i.stop or 0)):
                entries.setdefault(f"stop {item.stop}" if item.stop else "no stop", item.colour)
        else:
            for item in self.items:
                entries.setdefault(item.code, item.colour)
        return list(entries.items())


def bench_order(
    items: list[Mapping[str, Any]], stops: Mapping[str, int] | None = None
) -> list[Mapping[str, Any]]:
    """Placements in an order a person can follow: bottom up, then back to front and
    left to right, so that nothing goes in before an item underneath it (one whose top
    is at or below its bottom, overlapping its base), whether it rests on that item or
    hangs above it. Equal positions keep the engine's order.

    With delivery stops (by item code; items without one count as the last stop), the
    last stop goes in first as far as that rule allows: of the items whose underneath
    is already in, one of the latest stop goes next. In a packing that keeps the stop
    rule that is the whole of each stop, last stop first."""

    def position(p: Mapping[str, Any]) -> tuple[float, ...]:
        return tuple(result_number(p.get(axis)) for axis in "zyx")

    if not stops:
        # Whatever lies underneath an item starts lower, so this order already puts
        # it first.
        return sorted(items, key=position)
    latest = max(stops.values())
    # The heap's keys: the stop (latest first), the position, and the index last.
    keys = [
        (-stops.get(str(p.get("ItemCode", "")), latest), *position(p), float(n))
        for n, p in enumerate(items)
    ]
    below = _underneath(items)
    waiting = [len(under) for under in below]
    above: list[list[int]] = [[] for _ in items]
    for n, under in enumerate(below):
        for m in under:
            above[m].append(n)
    ready = [keys[n] for n in range(len(items)) if waiting[n] == 0]
    heapq.heapify(ready)
    order = []
    while ready:
        n = int(heapq.heappop(ready)[-1])
        order.append(items[n])
        for m in above[n]:
            waiting[m] -= 1
            if waiting[m] == 0:
                heapq.heappush(ready, keys[m])
    return order


def _underneath(items: list[Mapping[str, Any]]) -> list[list[int]]:
    """For each placement, the placements underneath it: starting lower, with their top
    at or below its bottom (within a rounding step) and overlapping its base. As each
    starts lower than the items it is underneath, no item is ever underneath itself,
    however far down."""
    blocks = [_block(p) for p in items]
    tolerance = _tolerance(blocks)
    by_top = sorted(range(len(blocks)), key=lambda n: blocks[n][2] + blocks[n][5])
    tops = [blocks[n][2] + blocks[n][5] for n in by_top]
    out = []
    for x, y, z, width, length, _ in blocks:
        under = []
        for m in by_top[: bisect.bisect_right(tops, z + tolerance)]:
            qx, qy, qz, qw, ql, _ = blocks[m]
            if (
                qz < z - tolerance
                and min(x + width, qx + qw) - max(x, qx) > 0.0
                and min(y + length, qy + ql) - max(y, qy) > 0.0
            ):
                under.append(m)
        out.append(under)
    return out


def _block(p: Mapping[str, Any]) -> tuple[float, ...]:
    return tuple(result_number(p.get(k)) for k in ("x", "y", "z", "width", "length", "depth"))


def _tolerance(blocks: list[tuple[float, ...]]) -> float:
    """A rounding step of a box's coordinates, as the checker allows."""
    return 1e-9 * max((abs(b[a] + b[a + 3]) for b in blocks for a in range(3)), default=0.0)


# The largest coordinate or side a picture draws. Beyond it the arithmetic of drawing
# (a box's extent, its scale on the page) loses every digit a picture shows, or
# overflows.
MAX_DRAWN = 1e12


def drawable_result(result: Any) -> dict[str, Any]:
    """A result (JSON text, dict or `PackResult`) as a dict, once it is known to hold what
    a picture reads: a list of boxes with their finite sizes, each with a list of placed
    items with their finite positions and sides. Raises ValueError saying what is not
    so, starting "not a result" for a value that is none at all (such as a request)."""
    try:
        data = result_dict(result)
    except TypeError as error:
        raise ValueError(str(error)) from None
    except ValueError as error:
        raise ValueError(f"{error}{_request_hint(result)}") from None
    boxes = data.get("boxes")
    if not isinstance(boxes, list):
        raise ValueError(f'not a packing result: "boxes" is {_kind(boxes)}, not a list')
    if "items" in data and "summary" not in data:
        raise ValueError(
            'not a packing result: it is a request ("items" and "boxes"); '
            "pack it first (stowvex pack) and draw its result"
        )
    for b, box in enumerate(boxes):
        where = f"box {b}"
        if not isinstance(box, Mapping):
            raise ValueError(f"not a packing result: {where} is {_kind(box)}, not an object")
        _drawable_numbers(box, ("width", "length", "depth"), where)
        placed = box.get("items")
        if not isinstance(placed, list):
            raise ValueError(f'not a packing result: {where} "items" is {_kind(placed)}')
        for i, item in enumerate(placed):
            spot = f"item {i} of {where}"
            if not isinstance(item, Mapping):
                raise ValueError(f"not a packing result: {spot} is {_kind(item)}")
            _drawable_numbers(item, ("x", "y", "z", "width", "length", "depth"), spot)
    return data


def _request_hint(result: Any) -> str:
    if isinstance(result, Mapping) and "items" in result:
        return " (it is a request: pack it first, with stowvex pack, and draw its result)"
    return ""


def _kind(value: Any) -> str:
    if value is None:
        return "missing"
    return {str: "a string", bool: "a boolean", list: "a list", dict: "an object"}.get(
        type(value), "a number" if isinstance(value, (int, float)) else type(value).__name__
    )


def _drawable_numbers(obj: Mapping[str, Any], keys: tuple[str, ...], where: str) -> None:
    for key in keys:
        value = obj.get(key)
        number = number_value(value)
        if number is None:
            raise ValueError(f'not a packing result: {where} "{key}" is {_kind(value)}')
        if not abs(number) <= MAX_DRAWN:
            raise ValueError(
                f'cannot draw this result: {where} "{key}" is {number:g}, beyond the '
                f"{MAX_DRAWN:g} a picture can draw"
            )


def scenes(result: Any, rules: LoadingRules | None = None) -> list[BoxScene]:
    """The boxes of a result (JSON text, dict or `PackResult`) ready to draw; ValueError
    when it holds no such boxes (`drawable_result`). With loading rules, items show
    them, and with delivery stops they take the colour of their stop and go in last
    stop first."""
    data = drawable_result(result)
    rules = rules or LoadingRules()
    stops = {code: r.stop for code, r in rules.items.items() if r.stop is not None}
    colours: dict[str, str] = {}
    out = []
    for index, box in enumerate(data.get("boxes") or []):
        drawn = []
        ordered = bench_order(list(box.get("items") or []), stops)
        shares = support_shares(ordered)
        for step, placed in enumerate(ordered, start=1):
            code = str(placed.get("ItemCode", ""))
            item_rules = rules.item(code)
            if stops:
                colour = colour_of(item_rules.stop - 1) if item_rules.stop else "#bbbbbb"
            else:
                colour = colours.setdefault(code, colour_of(len(colours)))
            drawn.append(
                DrawnItem(
                    step,
                    code,
                    str(placed.get("ItemReference", code)),
                    result_number(placed.get("x")),
                    result_number(placed.get("y")),
                    result_number(placed.get("z")),
                    result_number(placed.get("width")),
                    result_number(placed.get("length")),
                    result_number(placed.get("depth")),
                    str(placed.get("orientation", "")),
                    result_number(placed.get("weight")),
                    colour,
                    shares[step - 1],
                    item_rules.max_load,
                    item_rules.stop,
                )
            )
        out.append(
            BoxScene(
                int(box.get("box_index", index)),
                str(box.get("box_reference", "")),
                result_number(box.get("width")),
                result_number(box.get("length")),
                result_number(box.get("depth")),
                result_number(box.get("weight")),
                result_number(box.get("volume_utilisation")),
                tuple(drawn),
                bool(stops),
            )
        )
    return out


def colour_of(n: int) -> str:
    """The colour of the n-th item code of a result: the palette's twenty first, then
    hues a golden angle apart in three lightnesses, so that codes do not repeat
    colours."""
    if n < len(PALETTE):
        return PALETTE[n]
    k = n - len(PALETTE)
    hue = (k * 0.381966) % 1.0
    lightness = (0.45, 0.62, 0.78)[k % 3]
    red, green, blue = colorsys.hls_to_rgb(hue, lightness, 0.55)
    return f"#{round(red * 255):02x}{round(green * 255):02x}{round(blue * 255):02x}"


def support_shares(placements: list[Mapping[str, Any]]) -> list[float]:
    """For each placement of one box, the share of its base that rests on the floor or
    on the top faces at its base height (within a rounding step, as the checker sees
    it)."""
    blocks = [_block(p) for p in placements]
    tolerance = _tolerance(blocks)
    shares = []
    for x, y, z, width, length, _ in blocks:
        base = width * length
        if z <= tolerance or not base > 0.0:
            shares.append(1.0)
            continue
        carried = 0.0
        for qx, qy, qz, qw, ql, qd in blocks:
            if abs(qz + qd - z) > tolerance:
                continue
            dx = min(x + width, qx + qw) - max(x, qx)
            dy = min(y + length, qy + ql) - max(y, qy)
            if dx > 0.0 and dy > 0.0:
                carried += dx * dy
        shares.append(min(1.0, carried / base))
    return shares


def unplaced_codes(result: Any) -> list[str]:
    """The codes of the items a result left unplaced."""
    return [str(code) for code in result_dict(result).get("unplaced_item_codes") or []]


def file_stem(scene: BoxScene) -> str:
    """A file name for a box's picture: its index and reference, safe on every system."""
    reference = re.sub(r"[^A-Za-z0-9._-]+", "_", scene.reference).strip("._")[:40]
    return f"box-{scene.index:02d}" + (f"-{reference}" if reference else "")


def fmt(value: float) -> str:
    """A measure as a person reads it: 12, 12.5, 0.125."""
    return f"{value:.6g}"
