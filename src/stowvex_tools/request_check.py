"""Checks of a request before packing: the JSON Schema of the request format, then the
mistakes the engine reads without complaint (it packs such requests as they are)."""

from __future__ import annotations

import difflib
import json
import math
from collections import defaultdict
from collections.abc import Callable, Iterator
from dataclasses import dataclass
from functools import lru_cache
from importlib import resources
from typing import Any, TypeVar

from .request_format import (
    NO_WEIGHT_LIMIT,
    ROTATION_WORDS,
    SIDES,
    RequestBox,
    RequestItem,
    Rotation,
    elements,
    number_value,
    read_box,
    read_item,
    rotation_word_key,
)
from .request_shape import plainly_valid

T = TypeVar("T")


@dataclass(frozen=True)
class Finding:
    """One thing worth a look in a request: where it is, the field, and what is odd."""

    where: str  # "request", "item 3 'MUG'", "box 0 'CARTON-S'", "box group 'G1'"
    field: str | None
    message: str

    def __str__(self) -> str:
        return (
            f"{self.where}, {self.field}: {self.message}"
            if self.field
            else f"{self.where}: {self.message}"
        )


@lru_cache(maxsize=1)
def request_schema() -> dict[str, Any]:
    """The JSON Schema of the request format, shipped with the package."""
    text = resources.files("stowvex_tools").joinpath("request.schema.json").read_text("utf-8")
    schema: dict[str, Any] = json.loads(text)
    return schema


def _where(request: Any, path: list[Any]) -> tuple[str, list[Any]]:
    """The name of the item or box a schema path points into, and the rest of the path."""
    if len(path) >= 2 and path[0] in ("items", "boxes") and isinstance(request, dict):
        kind, key = ("item", "ItemCode") if path[0] == "items" else ("box", "Reference")
        element = request[path[0]][path[1]]
        name = element.get(key) if isinstance(element, dict) else None
        return _label(kind, path[1], name), path[2:]
    return "request", path


def _request_order(error: Any) -> tuple[int, list[str]]:
    """Findings about the request as a whole first, then the items, then the boxes."""
    path = list(error.absolute_path)
    part = {"items": 1, "boxes": 2}.get(path[0], 0) if path else 0
    return part, [f"{p:>12}" if isinstance(p, int) else str(p) for p in path]


def _schema_findings(request: Any) -> Iterator[Finding]:
    import jsonschema

    schema = request_schema()
    validator = jsonschema.Draft202012Validator(schema)
    for error in sorted(validator.iter_errors(request), key=_request_order):
        where, rest = _where(request, list(error.absolute_path))
        field = ".".join(map(str, rest)) or None
        if error.validator == "additionalProperties" and isinstance(error.instance, dict):
            known = list(error.schema.get("properties", {}))
            for key in sorted(k for k in error.instance if k not in known):
                yield Finding(where, key, _unknown_key(key, known, where))
        elif error.validator == "required":
            yield Finding(where, None, f"missing required field {error.message.split()[0]}")
        elif error.validator == "type":
            expected = error.validator_value
            expected = " or ".join(expected) if isinstance(expected, list) else expected
            yield Finding(
                where,
                field,
                f"must be {expected}, not {_json_type(error.instance)} "
                f"({json.dumps(error.instance)[:40]})",
            )
        else:
            yield Finding(where, field, error.message)


def _unknown_key(key: str, known: list[str], where: str) -> str:
    close = [k for k in known if k.lower() == key.lower()] or difflib.get_close_matches(
        key, known, n=1, cutoff=0.75
    )
    hint = f" (did you mean {close[0]!r}?)" if close else f" (known: {', '.join(known)})"
    return f"unknown key, which the engine ignores{hint}"


def _json_type(value: Any) -> str:
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "boolean"
    if isinstance(value, (int, float)):
        return "number"
    if isinstance(value, str):
        return "string"
    return (
        "array"
        if isinstance(value, list)
        else "object"
        if isinstance(value, dict)
        else type(value).__name__
    )


def _value_findings(
    where: str, element: dict[str, Any], fields: tuple[str, ...], weights: tuple[str, ...]
) -> Iterator[Finding]:
    for field in fields:
        value = number_value(element.get(field))
        if value is not None and not (math.isfinite(value) and value > 0):
            yield Finding(where, field, f"size {value:g} is not a finite positive number")
    for field in weights:
        value = number_value(element.get(field))
        if value is not None and not (math.isfinite(value) and value >= 0):
            yield Finding(where, field, f"weight {value:g} is negative or not finite")


def _sound(size: tuple[float, float, float]) -> bool:
    return all(math.isfinite(s) and s > 0 for s in size)


def _readable(read: Callable[[Any], T], element: Any) -> T | None:
    """The element as the engine reads it; None when it cannot (the schema says why)."""
    try:
        return read(element)
    except ValueError:
        return None


@dataclass(frozen=True)
class _Item:
    where: str
    item: RequestItem

    @property
    def volume(self) -> float:
        return math.prod(self.item.size)


@dataclass(frozen=True)
class _BoxType:
    sizes: tuple[float, float, float]
    budget: float  # weight the contents may have; negative: no limit

    @classmethod
    def usable(cls, box: RequestBox | None) -> _BoxType | None:
        """A box type the engine may open, or None (inactive, none allowed, or bad sizes)."""
        if box is None or not box.opens or not _sound(box.size):
            return None
        limit = box.max_weight
        return cls(box.size, NO_WEIGHT_LIMIT if limit < 0 else max(limit - box.empty_weight, 0.0))

    @property
    def volume(self) -> float:
        return math.prod(self.sizes)

    def takes(self, entry: _Item) -> bool:
        return self.takes_shape(entry) and (self.budget < 0 or entry.item.weight <= self.budget)

    def takes_shape(self, entry: _Item) -> bool:
        (w, l, d), (bw, bl, bd) = entry.item.size, self.sizes
        if entry.item.rotation == Rotation.NEVER:
            return w <= bw and l <= bl and d <= bd
        if entry.item.rotation == Rotation.KEEP_FLAT:
            return d <= bd and ((w <= bw and l <= bl) or (l <= bw and w <= bl))
        return all(a <= b for a, b in zip(sorted(entry.item.size), sorted(self.sizes)))


def _label(kind: str, index: Any, name: Any) -> str:
    return f"{kind} {index}" + (f" {name!r}" if isinstance(name, str) else "")


def _semantic_findings(request: dict[str, Any]) -> Iterator[Finding]:
    items: list[_Item] = []
    groups: dict[str, list[_Item]] = defaultdict(list)
    codes: dict[str, list[Any]] = defaultdict(list)
    for index, element in elements(request.get("items")):
        if not isinstance(element, dict):
            continue
        code = element.get("ItemCode")
        where = _label("item", index, code)
        yield from _value_findings(where, element, SIDES, ("Weight",))
        word = element.get("AllowedRotation")
        if isinstance(word, str) and rotation_word_key(word) not in ROTATION_WORDS:
            yield Finding(
                where,
                "AllowedRotation",
                f"{word!r} is not a rotation word the engine knows (Never, "
                "KeepFlat, BestFit in any letter case): it is read as BestFit, "
                "which lets the item turn every way",
            )
        if isinstance(code, str):
            codes[code].append(index)
        item = _readable(read_item, element)
        if item is not None and _sound(item.size) and math.isfinite(item.weight):
            items.append(_Item(where, item))
            if item.group:
                groups[item.group].append(items[-1])
    boxes = []
    for index, element in elements(request.get("boxes")):
        if isinstance(element, dict):
            where = _label("box", index, element.get("Reference"))
            yield from _value_findings(where, element, SIDES, ("BoxWeight",))
            usable = _BoxType.usable(_readable(read_box, element))
            if usable is not None:
                boxes.append(usable)
    yield from _fit_findings(items, boxes)
    for group, members in sorted(groups.items()):
        volume, weight = sum(i.volume for i in members), sum(i.item.weight for i in members)
        if boxes and not any(
            all(b.takes(i) for i in members)
            and volume <= b.volume
            and (b.budget < 0 or weight <= b.budget)
            for b in boxes
        ):
            yield Finding(
                f"box group {group!r}",
                "BoxGroup",
                f"no single active box type can hold its {len(members)} items "
                f"(volume {volume:g}, weight {weight:g}), which must share one box",
            )
    for code, indices in codes.items():
        if len(indices) > 1:
            yield Finding(
                f"item {indices[1]} {code!r}",
                "ItemCode",
                f"the code is used by {len(indices)} items ({_listing(indices)}); "
                "results name items by code only",
            )


def _fit_findings(items: list[_Item], boxes: list[_BoxType]) -> Iterator[Finding]:
    if items and not boxes:
        yield Finding(
            "request", "boxes", "no active box type that may be used: nothing will be packed"
        )
        return
    for item in items:
        if not any(b.takes_shape(item) for b in boxes):
            turn = {Rotation.NEVER: "unturned", Rotation.KEEP_FLAT: "this way up"}.get(
                item.item.rotation, "in any orientation"
            )
            yield Finding(
                item.where,
                "Width/Length/Depth",
                f"{' x '.join(f'{s:g}' for s in item.item.size)} fits no active box type {turn}",
            )
        elif not any(b.takes(item) for b in boxes):
            yield Finding(
                item.where,
                "Weight",
                f"{item.item.weight:g} is more than any active box type it fits may hold",
            )


def _listing(indices: list[Any]) -> str:
    shown = ", ".join(map(str, indices[:5]))
    return shown + (f" and {len(indices) - 5} more" if len(indices) > 5 else "")


def check_request(request: Any) -> list[Finding]:
    """Every finding in a request (a parsed JSON value): schema violations first, then
    unknown keys, unknown rotation words, sizes that are not finite and positive,
    negative weights, items no active box type takes, box groups no single box type can
    hold and item codes used twice. An empty list means nothing was found."""
    findings = [] if plainly_valid(request) else list(_schema_findings(request))
    if isinstance(request, dict):
        findings.extend(_semantic_findings(request))
    return findings
