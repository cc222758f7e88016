"""Checks a packing result against the items and box types it was made from."""

from __future__ import annotations

import bisect
import json
import math
from collections import defaultdict
from collections.abc import Iterable, Iterator, Mapping, Sequence
from dataclasses import dataclass, field
from typing import Any, Literal, Protocol

__all__ = [
    "RELATIVE_TOLERANCE",
    "VIOLATION_KINDS",
    "Violation",
    "ViolationKind",
    "validate",
    "validate_request",
]

ViolationKind = Literal[
    "overlap",
    "outside_box",
    "orientation",
    "weight_limit",
    "quantity_limit",
    "inactive_box",
    "unknown_box",
    "box_group_split",
    "extra_item",
    "missing_item",
    "support",
    "figures",
]
"""The kinds of violation :func:`validate` reports."""

VIOLATION_KINDS: tuple[ViolationKind, ...] = (
    "overlap",
    "outside_box",
    "orientation",
    "weight_limit",
    "quantity_limit",
    "inactive_box",
    "unknown_box",
    "box_group_split",
    "extra_item",
    "missing_item",
    "support",
    "figures",
)
"""Every violation kind, in the order :func:`validate` looks for them."""

# Sizes and positions the engine computes by adding decimal sizes may land one
# rounding step away from the exact sum (a placement that ends at 0.30000000000000004
# where the next starts at 0.3). Geometric comparisons therefore allow this share of
# the box's largest dimension; weights allow the same share of the weights compared.
RELATIVE_TOLERANCE = 1e-9

_LABELS = {
    "WLD": (0, 1, 2),
    "LWD": (1, 0, 2),
    "WDL": (0, 2, 1),
    "LDW": (1, 2, 0),
    "DWL": (2, 0, 1),
    "DLW": (2, 1, 0),
}
_NEVER, _KEEP_FLAT, _BEST_FIT = 0, 1, 2
_ROTATION_WORDS = {_NEVER: "Never", _KEEP_FLAT: "KeepFlat", _BEST_FIT: "BestFit"}
_INT32 = (-(2**31), 2**31 - 1)


@dataclass(frozen=True)
class Violation:
    """One broken rule of a packing result.

    ``kind`` says which rule (one of :data:`VIOLATION_KINDS`), ``message`` says what
    is wrong in words, ``box_index`` and ``box_reference`` name the packed box
    involved (its position in the result's boxes, counting from 0, and its box type's
    reference; both None when no single box is involved) and ``item_codes`` the codes
    of the items involved. ``str()`` gives the whole violation on one line.
    """

    kind: ViolationKind
    message: str
    box_index: int | None = None
    box_reference: str | None = None
    item_codes: tuple[str, ...] = field(default=())

    def __str__(self) -> str:
        return f"{self.kind}: {self.message}"


class Cuboid(Protocol):
    """An object with the three sides of an item or a box type."""

    @property
    def width(self) -> float: ...
    @property
    def length(self) -> float: ...
    @property
    def depth(self) -> float: ...


class ItemLike(Cuboid, Protocol):
    """What the checker reads of an item object such as ``stowvex.Item``."""

    @property
    def item_code(self) -> str: ...
    @property
    def item_reference(self) -> str: ...
    @property
    def weight(self) -> float: ...
    @property
    def box_group(self) -> str | None: ...
    @property
    def allowed_rotation(self) -> Any: ...


class BoxLike(Cuboid, Protocol):
    """What the checker reads of a box type object such as ``stowvex.Box``."""

    @property
    def reference(self) -> str: ...
    @property
    def max_weight(self) -> float: ...
    @property
    def empty_weight(self) -> float: ...
    @property
    def active(self) -> bool: ...
    @property
    def max_quantity(self) -> int | None: ...


class PackResultLike(Protocol):
    """What the checker reads of a result object such as ``stowvex.PackResult``."""

    @property
    def boxes(self) -> Sequence[Any]: ...
    @property
    def unplaced_items(self) -> Sequence[Any]: ...
    def to_dict(self) -> Any: ...


ResultInput = str | bytes | bytearray | Mapping[str, Any] | PackResultLike
"""A ``stowvex.PackResult``, its ``to_dict()`` form, or the result JSON text."""

ItemsInput = Iterable[ItemLike | Mapping[str, Any]] | Mapping[str, Any] | ItemLike | None
"""Items as ``pack``, ``pack_dicts`` or a request holds them."""

BoxesInput = Iterable[BoxLike | Mapping[str, Any]] | Mapping[str, Any] | BoxLike | None
"""Box types as ``pack``, ``pack_dicts`` or a request holds them."""


# ---------------------------------------------------------------- reading inputs


def _number(value: Any, what: str) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise ValueError(f"{what} must be a number, not {type(value).__name__}")
    try:
        return float(value)
    except OverflowError:
        raise ValueError(f"{what} is too large for a 64-bit float") from None


def _optional_number(obj: Mapping[str, Any], key: str, default: float, what: str) -> float:
    value = obj.get(key)
    return default if value is None else _number(value, f"{what} field '{key}'")


def _text(value: Any, what: str) -> str:
    if not isinstance(value, str):
        raise ValueError(f"{what} must be a string, not {type(value).__name__}")
    return value


def _optional_text(obj: Mapping[str, Any], key: str, default: str, what: str) -> str:
    value = obj.get(key)
    return default if value is None else _text(value, f"{what} field '{key}'")


def _rotation_from_word(word: str) -> int:
    # Only the ASCII letters change case, as the engine's reader does it.
    lowered = word.encode("utf-8", "surrogatepass").lower()
    if lowered == b"never":
        return _NEVER
    if lowered in (b"keepflat", b"keep_flat"):
        return _KEEP_FLAT
    return _BEST_FIT


def _rotation_value(value: Any) -> int:
    number = int(value)
    return number if number in (_NEVER, _KEEP_FLAT) else _BEST_FIT


def _key_number(value: float) -> float | None:
    # Results write non-finite measures as null, so all of them are alike in keys.
    return value if math.isfinite(value) else None


@dataclass(frozen=True)
class _RequestedItem:
    code: str
    reference: str
    size: tuple[float, float, float]
    weight: float
    group: str
    rotation: int

    @property
    def key(self) -> tuple[Any, ...]:
        return (
            self.code,
            self.reference,
            *map(_key_number, self.size),
            _key_number(self.weight),
            self.group,
        )


def _box_key(
    reference: str, size: tuple[float, float, float], empty_weight: float, max_weight: float
) -> tuple[Any, ...]:
    # Results write null for the max weight of a box type without a weight limit.
    limit = _key_number(max_weight) if max_weight >= 0.0 else None
    return (reference, *map(_key_number, size), _key_number(empty_weight), limit)


@dataclass(frozen=True)
class _BoxType:
    reference: str
    size: tuple[float, float, float]
    empty_weight: float
    max_weight: float
    active: bool
    max_quantity: int | None

    @property
    def key(self) -> tuple[Any, ...]:
        return _box_key(self.reference, self.size, self.empty_weight, self.max_weight)


def _elements(value: Any) -> Iterator[Any]:
    """The elements of an items or boxes value, walked as the request reader walks them."""
    if value is None:
        return
    if isinstance(value, Mapping):
        yield from value.values()
    elif isinstance(value, (str, bytes, bytearray)) or not isinstance(value, Iterable):
        yield value
    else:
        yield from value


def _read_item(value: Any) -> _RequestedItem:
    if not isinstance(value, Mapping):
        if hasattr(value, "item_code") and hasattr(value, "allowed_rotation"):
            return _item_from_object(value)
        raise ValueError("item is missing required field 'ItemCode'")
    if "ItemCode" not in value:
        raise ValueError("item is missing required field 'ItemCode'")
    code = _text(value["ItemCode"], "item field 'ItemCode'")
    rotation = _rotation_from_word(_optional_text(value, "AllowedRotation", "BestFit", "item"))
    weight = _optional_number(value, "Weight", 0.0, "item")
    dims = []
    for key in ("Width", "Length", "Depth"):
        if key not in value:
            raise ValueError(f"item '{code}' is missing required field '{key}'")
        dims.append(_number(value[key], f"item '{code}' field '{key}'"))
    reference = _optional_text(value, "ItemReference", code, "item")
    group = _optional_text(value, "BoxGroup", "", "item")
    return _RequestedItem(code, reference, (dims[0], dims[1], dims[2]), weight, group, rotation)


def _item_from_object(item: ItemLike) -> _RequestedItem:
    size = (float(item.width), float(item.length), float(item.depth))
    return _RequestedItem(
        str(item.item_code),
        str(item.item_reference),
        size,
        float(item.weight),
        item.box_group or "",
        _rotation_value(item.allowed_rotation),
    )


def _quantity(value: Any) -> int:
    if isinstance(value, bool):
        return int(value)
    number = _number(value, "box field 'MaximumBoxes'")
    if not (math.isfinite(number) and _INT32[0] <= math.trunc(number) <= _INT32[1]):
        raise ValueError("box field 'MaximumBoxes' is outside the 32-bit integer range")
    return math.trunc(number)


def _read_box(value: Any) -> _BoxType:
    if not isinstance(value, Mapping):
        if hasattr(value, "reference") and hasattr(value, "empty_weight"):
            return _box_from_object(value)
        raise ValueError("box is missing required field 'Reference'")
    if "Reference" not in value:
        raise ValueError("box is missing required field 'Reference'")
    active = value.get("Active")
    if active is not None and not isinstance(active, bool):
        raise ValueError(f"box field 'Active' must be a boolean, not {type(active).__name__}")
    empty_weight = _optional_number(value, "BoxWeight", 0.0, "box")
    max_weight = _optional_number(value, "MaxWeight", -1.0, "box")
    dims = []
    for key in ("Width", "Length", "Depth"):
        if key not in value:
            raise ValueError(f"box is missing required field '{key}'")
        dims.append(_number(value[key], f"box field '{key}'"))
    reference = _text(value["Reference"], "box field 'Reference'")
    quantity = value.get("MaximumBoxes")
    return _BoxType(
        reference,
        (dims[0], dims[1], dims[2]),
        empty_weight,
        max_weight,
        active is not False,
        None if quantity is None else _quantity(quantity),
    )


def _box_from_object(box: BoxLike) -> _BoxType:
    size = (float(box.width), float(box.length), float(box.depth))
    quantity = box.max_quantity
    return _BoxType(
        str(box.reference),
        size,
        float(box.empty_weight),
        float(box.max_weight),
        bool(box.active),
        None if quantity is None else int(quantity),
    )


# ---------------------------------------------------------------- reading the result


@dataclass
class _Placement:
    box: int
    index: int
    item: _RequestedItem
    placed: tuple[float, float, float]
    position: tuple[float, float, float]
    orientation: str
    rotation_known: bool
    spans: tuple[tuple[float, float], ...] = field(init=False)

    def __post_init__(self) -> None:
        # The block each placement fills, per axis from its low to its high face.
        spans = []
        for start, side in zip(self.position, self.placed):
            end = start + side
            spans.append((start, end) if start <= end else (end, start))
        self.spans = tuple(spans)

    @property
    def code(self) -> str:
        return self.item.code


@dataclass
class _PackedBox:
    index: int
    reference: str
    size: tuple[float, float, float]
    empty_weight: float
    max_weight: float
    raw: Mapping[str, Any]
    placements: list[_Placement]

    @property
    def key(self) -> tuple[Any, ...]:
        return _box_key(self.reference, self.size, self.empty_weight, self.max_weight)

    @property
    def label(self) -> str:
        return f"box {self.index} '{self.reference}'"

    def codes(self) -> tuple[str, ...]:
        return tuple(p.code for p in self.placements)


def _member(obj: Any, key: str, where: str) -> Any:
    if not isinstance(obj, Mapping) or key not in obj:
        raise ValueError(f"result {where} has no '{key}'".replace("  ", " "))
    return obj[key]


def _measure(obj: Mapping[str, Any], key: str, where: str) -> float:
    value = _member(obj, key, where)
    return math.nan if value is None else _number(value, f"result {where} '{key}'")


def _list(obj: Any, key: str, where: str) -> list[Any]:
    value = _member(obj, key, where)
    if not isinstance(value, list):
        raise ValueError(f"result {where} '{key}' is not a list")
    return value


def _result_dict(
    result: ResultInput,
) -> tuple[Mapping[str, Any], list[list[int]] | None, list[int] | None]:
    """The result as a dict, plus item rotations when the result object knows them."""
    if isinstance(result, (str, bytes, bytearray)):
        try:
            data = json.loads(result)
        except ValueError as error:
            raise ValueError(f"result is not valid JSON: {error}") from None
    elif isinstance(result, Mapping):
        data = result
    elif hasattr(result, "to_dict") and hasattr(result, "boxes"):
        data = result.to_dict()
        if not isinstance(data, Mapping):
            raise ValueError("result.to_dict() did not give a dict")
        rotations = [
            [_rotation_value(p.item.allowed_rotation) for p in box.items] for box in result.boxes
        ]
        unplaced = [_rotation_value(item.allowed_rotation) for item in result.unplaced_items]
        return data, rotations, unplaced
    else:
        raise TypeError(
            "result must be a PackResult, a result dict or result JSON text, "
            f"not {type(result).__name__}"
        )
    if not isinstance(data, Mapping):
        raise ValueError("result is not a JSON object")
    return data, None, None


def _read_placement(raw: Any, box: int, index: int, rotation: int | None) -> _Placement:
    where = f"placement {index} of box {box}"
    code = _text(_member(raw, "ItemCode", where), f"result {where} 'ItemCode'")
    group = raw.get("box_group")
    reference = raw.get("ItemReference", code)
    original = tuple(_measure(raw, f"original_{k}", where) for k in ("width", "length", "depth"))
    entry = _RequestedItem(
        code,
        _text(reference, f"result {where} 'ItemReference'"),
        (original[0], original[1], original[2]),
        _measure(raw, "weight", where),
        "" if group is None else _text(group, f"result {where} 'box_group'"),
        _BEST_FIT if rotation is None else rotation,
    )
    placed = tuple(_measure(raw, k, where) for k in ("width", "length", "depth"))
    position = tuple(_measure(raw, k, where) for k in ("x", "y", "z"))
    return _Placement(
        box,
        index,
        entry,
        (placed[0], placed[1], placed[2]),
        (position[0], position[1], position[2]),
        _text(_member(raw, "orientation", where), f"result {where} 'orientation'"),
        rotation is not None,
    )


def _read_unplaced(raw: Any, index: int, rotation: int | None) -> _RequestedItem:
    try:
        item = _read_item(raw)
    except ValueError as error:
        raise ValueError(f"result unplaced item {index}: {error}") from None
    if rotation is None:
        return item
    return _RequestedItem(item.code, item.reference, item.size, item.weight, item.group, rotation)


def _read_result(
    result: ResultInput,
) -> tuple[Mapping[str, Any], list[_PackedBox], list[_RequestedItem]]:
    data, rotations, unplaced_rotations = _result_dict(result)
    boxes = []
    for b, raw in enumerate(_list(data, "boxes", "")):
        where = f"box {b}"
        reference = _text(_member(raw, "box_reference", where), f"result {where} reference")
        size = tuple(_measure(raw, k, where) for k in ("width", "length", "depth"))
        max_weight = raw.get("max_weight")
        packed = _PackedBox(
            b,
            reference,
            (size[0], size[1], size[2]),
            _measure(raw, "empty_weight", where),
            -1.0 if max_weight is None else _measure(raw, "max_weight", where),
            raw,
            [],
        )
        for i, item in enumerate(_list(raw, "items", where)):
            rotation = None if rotations is None else rotations[b][i]
            packed.placements.append(_read_placement(item, b, i, rotation))
        boxes.append(packed)
    unplaced = [
        _read_unplaced(raw, i, None if unplaced_rotations is None else unplaced_rotations[i])
        for i, raw in enumerate(_list(data, "unplaced_items", ""))
    ]
    return data, boxes, unplaced


# ---------------------------------------------------------------- the rules


def _tolerance(box: _PackedBox) -> float:
    largest = max((abs(s) for s in box.size if math.isfinite(s)), default=0.0)
    return RELATIVE_TOLERANCE * largest


def _codes_text(codes: Iterable[str], limit: int = 6) -> str:
    listed = [repr(c) for c in codes]
    if len(listed) > limit:
        listed = listed[:limit] + [f"and {len(listed) - limit} more"]
    return ", ".join(listed)


def _check_geometry(box: _PackedBox, min_support: float, out: list[Violation]) -> None:
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


def _area_overlap(a: _Placement, b: _Placement) -> float:
    area = 1.0
    for axis in (0, 1):
        side = min(a.spans[axis][1], b.spans[axis][1]) - max(a.spans[axis][0], b.spans[axis][0])
        if not side > 0.0:
            return 0.0
        area *= side
    return area


def _check_support(box: _PackedBox, min_support: float, tol: float, out: list[Violation]) -> None:
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


def _check_orientation(p: _Placement, box: _PackedBox, out: list[Violation]) -> None:
    order = _LABELS.get(p.orientation)
    size = p.item.size
    if order is None or any(
        _key_number(size[i]) != _key_number(s) for i, s in zip(order, p.placed)
    ):
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
    if p.rotation_known and _level(p.orientation) > p.item.rotation:
        out.append(_rotation_violation(p, box, p.item.rotation))


def _level(label: str) -> int:
    """The least rotation freedom that allows an orientation label."""
    return _NEVER if label == "WLD" else _KEEP_FLAT if label == "LWD" else _BEST_FIT


def _rotation_violation(p: _Placement, box: _PackedBox, rotation: int) -> Violation:
    return Violation(
        "orientation",
        f"item {p.code!r} (placement {p.index}) in {box.label} is placed as "
        f"{p.orientation!r}, which rotation {_ROTATION_WORDS[rotation]} does not allow",
        box.index,
        box.reference,
        (p.code,),
    )


def _check_weight(box: _PackedBox, out: list[Violation]) -> None:
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


def _check_box_types(
    boxes: list[_PackedBox], box_types: list[_BoxType], out: list[Violation]
) -> None:
    by_key: dict[tuple[Any, ...], list[_BoxType]] = defaultdict(list)
    for entry in box_types:
        by_key[entry.key].append(entry)
    limited: dict[str, list[tuple[int, _PackedBox]]] = defaultdict(list)
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


def _check_groups(
    boxes: list[_PackedBox], unplaced: list[_RequestedItem], out: list[Violation]
) -> None:
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


def _check_accounting(
    items: list[_RequestedItem],
    boxes: list[_PackedBox],
    unplaced: list[_RequestedItem],
    out: list[Violation],
) -> None:
    """Every requested item once, placed or unplaced, matched by code, sizes and weight."""
    pools: dict[tuple[Any, ...], list[int]] = defaultdict(lambda: [0, 0, 0])
    for item in items:
        pools[item.key][item.rotation] += 1
    extra: dict[tuple[Any, ...], list[str]] = defaultdict(list)
    for item in unplaced:
        pool = pools[item.key]
        if pool[item.rotation] > 0:
            pool[item.rotation] -= 1
        else:
            extra[item.key].append("unplaced")
    placements = [p for box in boxes for p in box.placements]
    # Placements whose item's rotation freedom is unknown take the item with the least
    # freedom that allows their orientation: the most demanding orientations go first.
    placements.sort(key=lambda p: (not p.rotation_known, -_level(p.orientation)))
    for p in placements:
        pool = pools[p.item.key]
        if p.rotation_known:
            choices = [p.item.rotation]
        else:
            choices = list(range(_level(p.orientation) if p.orientation in _LABELS else 0, 3))
        taken = next((r for r in choices if pool[r] > 0), None)
        if taken is not None:
            pool[taken] -= 1
        elif not p.rotation_known and any(pool):
            # The request holds this item, but only with less freedom than this needs.
            rotation = max(r for r in range(3) if pool[r] > 0)
            pool[rotation] -= 1
            out.append(_rotation_violation(p, boxes[p.box], rotation))
        else:
            extra[p.item.key].append(f"box {p.box}")
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


# ---------------------------------------------------------------- reported figures


def _same(reported: Any, computed: float | None) -> bool:
    if reported is None:
        return computed is None or not math.isfinite(computed)
    if isinstance(reported, bool) or not isinstance(reported, (int, float)):
        return False
    if computed is None:
        return False
    return float(reported) == computed or (math.isnan(reported) and math.isnan(computed))


def _same_value(a: Any, b: Any) -> bool:
    """Equal values, where NaN equals NaN (a to_dict value holds NaN for a NaN
    weight, and == never finds two NaNs equal)."""
    if isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b):
        return True
    if isinstance(a, Mapping) and isinstance(b, Mapping):
        return a.keys() == b.keys() and all(_same_value(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(_same_value(x, y) for x, y in zip(a, b))
    return bool(a == b)


def _running_max(values: Iterable[float]) -> float:
    largest = 0.0
    for value in values:
        if value > largest:
            largest = value
    return largest


def _box_figures(box: _PackedBox) -> dict[str, Any]:
    item_weight = 0.0
    used_volume = 0.0
    for p in box.placements:
        item_weight += p.item.weight
        used_volume += p.placed[0] * p.placed[1] * p.placed[2]
    width, length, depth = box.size
    inner = width * length * depth
    used = [_running_max(p.position[a] + p.placed[a] for p in box.placements) for a in range(3)]
    remaining_weight: float | None = None
    if box.max_weight >= 0.0:
        remaining = box.max_weight - (box.empty_weight + item_weight)
        remaining_weight = remaining if remaining >= 0.0 else 0.0
    return {
        "box_index": box.index,
        "item_count": len(box.placements),
        "item_weight": item_weight,
        "weight": box.empty_weight + item_weight,
        "used_volume": used_volume,
        "inner_volume": inner,
        "unused_volume": inner - used_volume,
        "volume_utilisation": 0.0 if inner <= 0.0 else used_volume / inner * 100.0,
        "used_width": used[0],
        "used_length": used[1],
        "used_depth": used[2],
        "remaining_width": width - used[0],
        "remaining_length": length - used[1],
        "remaining_depth": depth - used[2],
        "remaining_weight": remaining_weight,
    }


def _check_figures(
    data: Mapping[str, Any],
    boxes: list[_PackedBox],
    unplaced: list[_RequestedItem],
    out: list[Violation],
) -> None:
    """Reported figures against the placements; figures the result leaves out are skipped."""

    def wrong(name: str, reported: Any, computed: Any, box: _PackedBox | None = None) -> None:
        where = f"{box.label}: " if box else ""
        out.append(
            Violation(
                "figures",
                f"{where}{name} is reported as {reported!r} but the result gives {computed!r}",
                box.index if box else None,
                box.reference if box else None,
                box.codes() if box else (),
            )
        )

    used_total, inner_total = 0.0, 0.0
    for box in boxes:
        figures = _box_figures(box)
        used_total += figures["used_volume"]
        inner_total += figures["inner_volume"]
        for name, computed in figures.items():
            if name in box.raw and not _same(box.raw[name], computed):
                wrong(name, box.raw[name], computed, box)
        for p in box.placements:
            rotated = box.raw["items"][p.index].get("rotated")
            if rotated is not None and rotated != (p.orientation != "WLD"):
                wrong(f"'rotated' of placement {p.index}", rotated, p.orientation != "WLD", box)
    total_placed = sum(len(box.placements) for box in boxes)
    expected = {
        "box_count": len(boxes),
        "total_placed": total_placed,
        "total_unplaced": len(unplaced),
        "overall_volume_utilisation": 0.0
        if not boxes or inner_total <= 0.0
        else used_total / inner_total * 100.0,
    }
    summary = data.get("summary")
    if isinstance(summary, Mapping):
        for name, computed in expected.items():
            if name in summary and not _same(summary[name], computed):
                wrong(f"summary {name}", summary[name], computed)
    if "success" in data and data["success"] is not (not unplaced):
        wrong("success", data["success"], not unplaced)
    codes = data.get("unplaced_item_codes")
    if codes is not None and codes != [item.code for item in unplaced]:
        wrong("unplaced_item_codes", codes, [item.code for item in unplaced])
    listed = data.get("placements")
    if listed is not None:
        flat = [
            dict(box.raw["items"][p.index], box_index=box.index, box_reference=box.reference)
            for box in boxes
            for p in box.placements
        ]
        if not _same_value(listed, flat):
            wrong("placements", f"{len(listed)} entries", "the placements of the boxes, box by box")


# ---------------------------------------------------------------- entry points


def validate(
    result: ResultInput, items: ItemsInput, boxes: BoxesInput, *, min_support: float = 0.0
) -> list[Violation]:
    """Every rule a packing result breaks, given the items and box types it was made from.

    ``result`` is a ``stowvex.PackResult``, its ``to_dict()`` form (also the parsed JSON
    of ``solve``), or the result JSON text as ``str`` or ``bytes``. ``items`` and
    ``boxes`` are what ``pack``, ``pack_dicts`` or a request would hold: ``stowvex.Item``
    and ``stowvex.Box`` objects or request dicts (mixing both is fine), given as a list,
    a dict of them (its values), a single one, or None for none. Dicts are read with the
    request reader's rules: ``AllowedRotation`` "Never", "KeepFlat" or "Keep_Flat" in
    any letter case, anything else meaning BestFit; ``Weight``, ``BoxWeight`` 0 and
    ``MaxWeight`` -1 (no limit) when absent or null; ``ItemReference`` the item code;
    ``Active`` true; ``MaximumBoxes`` a quantity limit when present (booleans count as
    1 and 0, floats are truncated).

    The rules checked, each reported as a :class:`Violation` of its ``kind``:

    - ``overlap``: two placements in one box share a positive volume;
    - ``outside_box``: a placement reaches outside its box;
    - ``orientation``: placed sides that are not the item's sides in the order its
      orientation label says, or a label its rotation freedom does not allow
      (Never: "WLD"; KeepFlat: "WLD", "LWD"; BestFit: all six);
    - ``weight_limit``: a box with a weight limit whose items weigh more than its max
      weight less its empty weight (0 when the empty box alone reaches the limit),
      counting only positive weights, since a negative weight makes no room for others;
    - ``quantity_limit``: more boxes of a reference than its ``MaximumBoxes`` (0 or
      below: none at all); box types sharing a reference share one count;
    - ``inactive_box``: a box of an inactive box type;
    - ``unknown_box``: a box whose reference, sizes and weights match no box type;
    - ``box_group_split``: the items of one box group in more than one box, or some of
      them placed and some unplaced (the engine packs a box group whole or not at all);
    - ``extra_item`` and ``missing_item``: placed and unplaced items together differ
      from the items given, counted by item code, reference, sizes, weight and box
      group (codes may repeat);
    - ``support``: only when ``min_support`` is above 0: an item not on the box floor
      whose base rests on the tops of items directly beneath it (top face at its
      bottom height) over less than ``min_support`` of its area;
    - ``figures``: reported figures (per box, the summary, ``success``, the unplaced
      codes, the flat placement list) that differ from what the placements give.

    Arithmetic is exact IEEE double arithmetic, except that geometric comparisons
    allow :data:`RELATIVE_TOLERANCE` times the box's largest dimension and weights the
    same share of the weights compared, so that one rounding step in a position built
    by adding decimal sizes is not taken for a fault. Reported figures are compared
    exactly.

    Returns the violations, an empty list when the result keeps every rule. Raises
    ``ValueError`` when ``min_support`` is not within 0 to 1 or when an item, a box
    type or the result cannot be read, and ``TypeError`` when ``result`` has none of
    the accepted forms.
    """
    if not 0.0 <= min_support <= 1.0:
        raise ValueError(f"min_support must be within 0 and 1, not {min_support!r}")
    requested_items = [_read_item(value) for value in _elements(items)]
    requested_boxes = [_read_box(value) for value in _elements(boxes)]
    data, packed, unplaced = _read_result(result)
    found: list[Violation] = []
    for box in packed:
        _check_geometry(box, min_support, found)
        for p in box.placements:
            _check_orientation(p, box, found)
        _check_weight(box, found)
    _check_box_types(packed, requested_boxes, found)
    _check_groups(packed, unplaced, found)
    _check_accounting(requested_items, packed, unplaced, found)
    _check_figures(data, packed, unplaced, found)
    order = {kind: i for i, kind in enumerate(VIOLATION_KINDS)}
    found.sort(key=lambda v: order[v.kind])
    return found


def validate_request(
    result: ResultInput,
    request: str | bytes | bytearray | Mapping[str, Any],
    *,
    min_support: float = 0.0,
) -> list[Violation]:
    """:func:`validate` against a whole request, as ``solve`` takes it.

    ``request`` is the request JSON text or its parsed form, {"items": [...],
    "boxes": [...]}; a missing or null list holds nothing, as for ``solve``.
    """
    if isinstance(request, (str, bytes, bytearray)):
        try:
            request = json.loads(request)
        except ValueError as error:
            raise ValueError(f"request is not valid JSON: {error}") from None
    if not isinstance(request, Mapping):
        request = {}
    return validate(result, request.get("items"), request.get("boxes"), min_support=min_support)
