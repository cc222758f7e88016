"""The result as the checker reads it: its boxes with their placements and its unplaced
items, from any of its forms, and the keys that match them to the request."""

from __future__ import annotations

import json
import math
from collections.abc import Iterable, Mapping
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, TypeAlias

from ..request_format import (
    NO_WEIGHT_LIMIT,
    RequestBox,
    RequestItem,
    Rotation,
    read_item,
    read_number,
    read_text,
    rotation_of_value,
)

if TYPE_CHECKING:
    from stowvex import Box, Item, PackResult

ResultInput: TypeAlias = "str | bytes | bytearray | Mapping[str, Any] | PackResult"
"""A ``stowvex.PackResult``, its ``to_dict()`` form, or the result JSON text."""

ItemsInput: TypeAlias = "Iterable[Item | Mapping[str, Any]] | Mapping[str, Any] | Item | None"
"""Items as ``pack``, ``pack_dicts`` or a request holds them."""

BoxesInput: TypeAlias = "Iterable[Box | Mapping[str, Any]] | Mapping[str, Any] | Box | None"
"""Box types as ``pack``, ``pack_dicts`` or a request holds them."""


def _key_number(value: float) -> float | None:
    # Results write non-finite measures as null, so all of them are alike in keys.
    return value if math.isfinite(value) else None


def item_key(item: RequestItem) -> tuple[Any, ...]:
    """What must agree between an item of the request and one of the result."""
    return (
        item.code,
        item.reference,
        *map(_key_number, item.size),
        _key_number(item.weight),
        item.group,
    )


def box_key(
    reference: str, size: tuple[float, float, float], empty_weight: float, max_weight: float
) -> tuple[Any, ...]:
    """What must agree between a box type of the request and a packed box."""
    # Results write null for the max weight of a box type without a weight limit.
    limit = _key_number(max_weight) if max_weight >= 0.0 else None
    return (reference, *map(_key_number, size), _key_number(empty_weight), limit)


def box_type_key(box: RequestBox) -> tuple[Any, ...]:
    """The key of a requested box type, as `box_key` gives it for a packed box."""
    return box_key(box.reference, box.size, box.empty_weight, box.max_weight)


def sides_equal(a: float, b: float) -> bool:
    """Whether two sides are the same as a result can tell (non-finite ones all alike)."""
    return _key_number(a) == _key_number(b)


@dataclass
class Placement:
    """One placed item of a packed box."""

    box: int
    index: int
    item: RequestItem
    placed: tuple[float, float, float]
    position: tuple[float, float, float]
    orientation: str
    rotation_known: bool  # whether the result tells the item's rotation freedom
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
class PackedBox:
    """One packed box of the result, with the raw entry its figures are read from."""

    index: int
    reference: str
    size: tuple[float, float, float]
    empty_weight: float
    max_weight: float
    raw: Mapping[str, Any]
    placements: list[Placement]

    @property
    def key(self) -> tuple[Any, ...]:
        return box_key(self.reference, self.size, self.empty_weight, self.max_weight)

    @property
    def label(self) -> str:
        return f"box {self.index} '{self.reference}'"

    def codes(self) -> tuple[str, ...]:
        return tuple(p.code for p in self.placements)


@dataclass
class ReadResult:
    """A result as the rules check it."""

    data: Mapping[str, Any]  # the result's dict, for the figures it reports
    boxes: list[PackedBox]
    unplaced: list[RequestItem]


def _member(obj: Any, key: str, where: str) -> Any:
    if not isinstance(obj, Mapping) or key not in obj:
        raise ValueError(f"result {where} has no '{key}'".replace("  ", " "))
    return obj[key]


def _measure(obj: Mapping[str, Any], key: str, where: str) -> float:
    value = _member(obj, key, where)
    return math.nan if value is None else read_number(value, f"result {where} '{key}'")


def _measures(
    obj: Mapping[str, Any], keys: tuple[str, str, str], where: str
) -> tuple[float, float, float]:
    first, second, third = (_measure(obj, key, where) for key in keys)
    return first, second, third


def _list(obj: Any, key: str, where: str) -> list[Any]:
    value = _member(obj, key, where)
    if not isinstance(value, list):
        raise ValueError(f"result {where} '{key}' is not a list")
    return value


def _result_dict(
    result: ResultInput,
) -> tuple[Mapping[str, Any], list[list[Rotation]] | None, list[Rotation] | None]:
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
            [rotation_of_value(p.item.allowed_rotation) for p in box.items] for box in result.boxes
        ]
        unplaced = [rotation_of_value(item.allowed_rotation) for item in result.unplaced_items]
        return data, rotations, unplaced
    else:
        raise TypeError(
            "result must be a PackResult, a result dict or result JSON text, "
            f"not {type(result).__name__}"
        )
    if not isinstance(data, Mapping):
        raise ValueError("result is not a JSON object")
    return data, None, None


def _read_placement(raw: Any, box: int, index: int, rotation: Rotation | None) -> Placement:
    where = f"placement {index} of box {box}"
    code = read_text(_member(raw, "ItemCode", where), f"result {where} 'ItemCode'")
    group = raw.get("box_group")
    reference = raw.get("ItemReference", code)
    original = _measures(raw, ("original_width", "original_length", "original_depth"), where)
    entry = RequestItem(
        code,
        read_text(reference, f"result {where} 'ItemReference'"),
        original,
        _measure(raw, "weight", where),
        "" if group is None else read_text(group, f"result {where} 'box_group'"),
        Rotation.BEST_FIT if rotation is None else rotation,
    )
    return Placement(
        box,
        index,
        entry,
        _measures(raw, ("width", "length", "depth"), where),
        _measures(raw, ("x", "y", "z"), where),
        read_text(_member(raw, "orientation", where), f"result {where} 'orientation'"),
        rotation is not None,
    )


def _read_unplaced(raw: Any, index: int, rotation: Rotation | None) -> RequestItem:
    try:
        item = read_item(raw)
    except ValueError as error:
        raise ValueError(f"result unplaced item {index}: {error}") from None
    if rotation is None:
        return item
    return RequestItem(item.code, item.reference, item.size, item.weight, item.group, rotation)


def read_result(result: ResultInput) -> ReadResult:
    """The boxes, placements and unplaced items of a result in any of its forms; raises
    ValueError naming the entry that cannot be read, TypeError for another kind of value."""
    data, rotations, unplaced_rotations = _result_dict(result)
    boxes = []
    for b, raw in enumerate(_list(data, "boxes", "")):
        where = f"box {b}"
        reference = read_text(_member(raw, "box_reference", where), f"result {where} reference")
        max_weight = raw.get("max_weight")
        packed = PackedBox(
            b,
            reference,
            _measures(raw, ("width", "length", "depth"), where),
            _measure(raw, "empty_weight", where),
            NO_WEIGHT_LIMIT if max_weight is None else _measure(raw, "max_weight", where),
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
    return ReadResult(data, boxes, unplaced)
