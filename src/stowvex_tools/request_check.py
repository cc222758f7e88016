"""Checks of a request before packing: the JSON Schema of the request format, then the
mistakes the engine reads without complaint (it packs such requests as they are)."""

from __future__ import annotations

import copy
import difflib
import json
import math
import re
from collections import defaultdict
from collections.abc import Callable, Iterator, Sequence
from dataclasses import dataclass
from functools import lru_cache
from importlib import resources
from typing import Any, TypeVar

from .loading_rules import BOX_RULE_KEYS, ITEM_RULE_KEYS, read_item_rules
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

T = TypeVar("T")


@dataclass(frozen=True)
class Finding:
    """One thing worth a look in a request: where it is, the field, and what is odd."""

    where: str  # "request", "item 3 'MUG'", "box 0 'CARTON-S'", "box group 'G1'"
    field: str | None
    message: str
    # Whether `stowvex pack` and `stowvex batch` refuse a request for it: all but the
    # note on item codes used twice, which orders do on purpose (three of one mug).
    refuses: bool = True

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


@lru_cache(maxsize=1)
def _validator() -> Any:
    import jsonschema

    return jsonschema.Draft202012Validator(request_schema())


def _schema_errors(request: Any) -> list[Any]:
    if _plainly_valid(request):
        return []
    return sorted(_validator().iter_errors(request), key=_request_order)


# The JSON types of the schema as Python types (a bool, an int to Python, is no number).
_JSON_TYPES: dict[str, tuple[type, ...]] = {
    "object": (dict,),
    "array": (list,),
    "string": (str,),
    "boolean": (bool,),
    "null": (type(None),),
    "number": (int, float),
}

# Some JSON types as a test of a Python value: the Python types, and whether a bool is one.
_Types = tuple[tuple[type, ...], bool]
# An element's shape: its required keys and the JSON types of each key it may have.
_Shape = tuple[frozenset[str], dict[str, _Types]]


def _python_types(kinds: frozenset[str]) -> _Types:
    types = tuple(t for kind in sorted(kinds) for t in _JSON_TYPES[kind])
    return types, "boolean" in kinds


def _typed(value: Any, types: _Types) -> bool:
    if value is True or value is False:
        return types[1]
    return isinstance(value, types[0])


@lru_cache(maxsize=1)
def _plain_shapes() -> tuple[dict[str, _Types], dict[str, _Shape]] | None:
    """What the schema asks of a request, when it asks nothing but types, required keys
    and no other keys (as it does): the JSON types of each key of the request, and the
    shape of an element of "items" and of "boxes". None when the schema asks more, and
    only the schema validator can tell."""
    schema = request_schema()
    defs = schema.get("$defs", {})

    def types_of(rule: dict[str, Any]) -> frozenset[str] | None:
        while "$ref" in rule:
            if set(rule) - {"$ref", "description"}:
                return None
            rule = defs.get(str(rule["$ref"]).rsplit("/", 1)[-1], {"not": True})
        if set(rule) - {"type", "description"}:
            return None
        kinds = rule.get("type", list(_JSON_TYPES))
        return frozenset([kinds] if isinstance(kinds, str) else kinds)

    def shape_of(name: str) -> _Shape | None:
        rule = defs.get(name, {})
        if set(rule) - {"type", "required", "properties", "additionalProperties"}:
            return None
        if rule.get("type") != "object" or rule.get("additionalProperties") is not False:
            return None
        keys = {key: types_of(value) for key, value in rule.get("properties", {}).items()}
        # A key the schema asks more of than its types (the loading rules' ranges and
        # labels) is left out: an element that has it goes to the validator.
        typed = {k: _python_types(v) for k, v in keys.items() if v is not None}
        if any(k in rule.get("required", []) for k, v in keys.items() if v is None):
            return None
        return frozenset(rule.get("required", [])), typed

    if schema.get("type") != "object" or schema.get("additionalProperties") is not False:
        return None
    top: dict[str, _Types] = {}
    shapes: dict[str, _Shape] = {}
    for key, rule in schema.get("properties", {}).items():
        if key in ("items", "boxes"):
            element = rule.get("items", {}).get("$ref", "")
            if rule.get("additionalProperties", {}).get("$ref") != element:
                return None
            if set(rule) - {"type", "items", "additionalProperties", "description"}:
                return None
            shape = shape_of(element.rsplit("/", 1)[-1])
            kinds = types_of({"type": rule.get("type", list(_JSON_TYPES))})
            if shape is None or kinds is None:
                return None
            shapes[key], top[key] = shape, _python_types(kinds)
        else:
            kinds = types_of(rule)
            if kinds is None:
                return None
            top[key] = _python_types(kinds)
    if set(shapes) != {"items", "boxes"}:
        return None
    return top, shapes


def _plainly_valid(request: Any) -> bool:
    """Whether the schema surely finds nothing in a request, told quickly: True only
    when it keeps every rule of the schema; False when it may not, for the validator to
    say. Checking a batch of small orders is mostly this."""
    shapes = _plain_shapes()
    if shapes is None or not isinstance(request, dict):
        return False
    top, elements_of = shapes
    for key, value in request.items():
        kinds = top.get(key)
        if kinds is None or not _typed(value, kinds):
            return False
        shape = elements_of.get(key)
        if shape is None or value is None:
            continue
        required, keys = shape
        for element in value.values() if isinstance(value, dict) else value:
            if not isinstance(element, dict) or not required <= element.keys():
                return False
            for name, field in element.items():
                types = keys.get(name)
                if types is None or not _typed(field, types):
                    return False
    return True


def _schema_findings(request: Any) -> Iterator[Finding]:
    for error in _schema_errors(request):
        where, rest = _where(request, list(error.absolute_path))
        field = ".".join(map(str, rest)) or None
        if error.validator == "additionalProperties" and isinstance(error.instance, dict):
            known = list(error.schema.get("properties", {}))
            for key in sorted(k for k in error.instance if k not in known):
                yield Finding(where, key, _unknown_key(key, known, where))
        else:
            yield Finding(where, field, _schema_message(error))


def _schema_message(error: Any) -> str:
    if error.validator == "required":
        return f"missing required field {error.message.split()[0]}"
    if error.validator == "type":
        expected = error.validator_value
        if isinstance(expected, list):
            expected = " or ".join(expected)
        path = list(error.absolute_path)
        if path in (["items"], ["boxes"]):
            expected = f"a list of {'item' if path == ['items'] else 'box'} objects"
        elif not path and _catalogue(error.instance):
            return (
                'a request is an object, {"items": [...], "boxes": [...]}, not a list '
                "of box types (a catalogue, which stowvex batch takes with --boxes)"
            )
        instance = json.dumps(error.instance, default=repr)
        shown = instance if len(instance) <= 40 else instance[:37] + "..."
        return f"must be {expected}, not {_json_type(error.instance)} ({shown})"
    return str(error.message)


def _catalogue(value: Any) -> bool:
    return (
        isinstance(value, list)
        and bool(value)
        and all(isinstance(v, dict) and "Reference" in v for v in value)
    )


def _path_text(path: Any) -> str:
    """A place in a request as a reader writes it: items[3].Weight."""
    text = ""
    for part in path:
        text += f"[{part}]" if isinstance(part, int) else (f".{part}" if text else str(part))
    return text or "the request"


# What the engine's errors say of the value they refuse, and the schema's word for it.
_ENGINE_TYPES = {"string": "string", "number": "number", "boolean": "boolean", "null": "null"}
_ENGINE_TYPES.update(array="array", object="object")


def fault_place(request: Any, message: str) -> str | None:
    """Where in a request (a parsed JSON value) the engine's error `message` points, as
    "items[3].Weight: must be number, not string ("5")", or None when the request keeps
    to the request format there (such as a number too large for the engine). Unknown
    keys, which the engine ignores, are never the place."""
    try:
        errors = [e for e in _schema_errors(request) if e.validator != "additionalProperties"]
    except RecursionError:
        return None
    if not errors:
        return None
    chosen = errors[0]
    typed = re.search(r"type must be \w+, but is (\w+)", message)
    missing = re.search(r"missing required field '(\w+)'", message)
    for error in errors:
        if (
            typed
            and error.validator == "type"
            and _json_type(error.instance) == _ENGINE_TYPES.get(typed.group(1))
        ) or (
            missing and error.validator == "required" and f"'{missing.group(1)}'" in error.message
        ):
            chosen = error
            break
    return f"{_path_text(chosen.absolute_path)}: {_schema_message(chosen)}"


def findings_message(findings: Sequence[Finding], shown: int = 5) -> str:
    """The findings of a refused request on one line: the first few, and how many more."""
    count = len(findings)
    head = "; ".join(map(str, findings[:shown]))
    more = f"; and {count - shown} more" if count > shown else ""
    noun = "finding" if count == 1 else "findings"
    return f"the request check found {count} {noun} (--no-check packs it as it is): {head}{more}"


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
    box_findings, boxes = _box_types(request.get("boxes"))
    yield from box_findings
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
    yield from _rule_findings(request)
    for code, indices in codes.items():
        if len(indices) > 1:
            yield Finding(
                f"item {indices[1]} {code!r}",
                "ItemCode",
                f"the code is used by {len(indices)} items ({_listing(indices)}); "
                "results name items by code only",
                refuses=False,
            )


def _rule_findings(request: dict[str, Any]) -> Iterator[Finding]:
    """Loading rules the schema cannot judge: a centre of gravity range whose low end
    is above its high end, and one item code given two sets of rules."""
    for index, element in elements(request.get("boxes")):
        if not isinstance(element, dict) or not isinstance(element.get("CentreOfGravity"), dict):
            continue
        for axis, bounds in element["CentreOfGravity"].items():
            readable = isinstance(bounds, list) and len(bounds) == 2
            if (
                readable
                and all(isinstance(b, (int, float)) for b in bounds)
                and bounds[0] > bounds[1]
            ):
                yield Finding(
                    _label("box", index, element.get("Reference")),
                    "CentreOfGravity",
                    f"the {axis} range {bounds} ends below where it starts",
                )
    seen: dict[str, tuple[Any, Any]] = {}
    for index, element in elements(request.get("items")):
        if not isinstance(element, dict) or not isinstance(element.get("ItemCode"), str):
            continue
        try:
            rules = read_item_rules(element, "item")
        except ValueError:
            continue  # the schema has said what is wrong
        code = element["ItemCode"]
        if code in seen and seen[code][1] != rules:
            yield Finding(
                _label("item", index, code),
                "Fragile/MaxLoad/Orientations/Stop",
                f"the loading rules differ from those of item {seen[code][0]} of the same "
                "code; rules are kept by item code",
            )
        seen.setdefault(code, (index, rules))


# The box types of the last catalogue read, with a copy to see that it is unchanged: a
# batch checks every order against the one list of its catalogue.
# One tuple, read and replaced whole, so that threads checking at once see one catalogue.
_last_boxes: list[tuple[Any, Any, list[Finding], list[_BoxType]]] = []


def _box_types(value: Any) -> tuple[list[Finding], list[_BoxType]]:
    """The findings of a request's box types alone, and those a packing may open."""
    last = _last_boxes[-1] if _last_boxes else None
    if last is not None and last[0] is value and last[1] == value:
        return last[2], last[3]
    findings: list[Finding] = []
    boxes = []
    for index, element in elements(value):
        if isinstance(element, dict):
            where = _label("box", index, element.get("Reference"))
            findings.extend(_value_findings(where, element, SIDES, ("BoxWeight",)))
            usable = _BoxType.usable(_readable(read_box, element))
            if usable is not None:
                boxes.append(usable)
    if isinstance(value, list):
        _last_boxes[:] = [(value, copy.deepcopy(value), findings, boxes)]
    return findings, boxes


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


def ignored_rule_findings(request: Any) -> list[Finding]:
    """The loading rules of a request, each a finding for a packing by the exact engine,
    which ignores them: such a request is packed with the optimiser."""
    if not isinstance(request, dict):
        return []
    found = []
    for kind, keys, name_key, value in (
        ("item", ITEM_RULE_KEYS, "ItemCode", request.get("items")),
        ("box", BOX_RULE_KEYS, "Reference", request.get("boxes")),
    ):
        for index, element in elements(value):
            if not isinstance(element, dict):
                continue
            for key in keys:
                if element.get(key) is not None:
                    found.append(
                        Finding(
                            _label(kind, index, element.get(name_key)),
                            key,
                            "a loading rule, which the exact engine ignores: pack with "
                            "the optimiser (--optimise), which keeps it",
                        )
                    )
    return found


def check_request(request: Any) -> list[Finding]:
    """Every finding in a request (a parsed JSON value): schema violations first, then
    unknown keys, unknown rotation words, sizes that are not finite and positive,
    negative weights, items no active box type takes, box groups no single box type can
    hold and item codes used twice. An empty list means nothing was found. Raises
    ValueError for a value nested too deeply to walk."""
    try:
        findings = list(_schema_findings(request))
        if isinstance(request, dict):
            findings.extend(_semantic_findings(request))
    except RecursionError:
        raise ValueError("the request is nested too deeply to check") from None
    return findings
