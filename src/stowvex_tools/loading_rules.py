"""Loading rules: what an item may carry on top, which way up it may stand, the
delivery stop it leaves the box at, and where the centre of gravity of a box may lie.

The exact engine knows none of them. A request carries them as optional keys of its
items ("Fragile", "MaxLoad", "Orientations", "Stop") and box types
("CentreOfGravity"); for ``stowvex.Item`` and ``stowvex.Box`` objects, which cannot
carry them, they come as a mapping by item code and box reference::

    {"items": {"GLASS": {"Fragile": True}, "TV": {"MaxLoad": 20, "Stop": 2}},
     "boxes": {"TRUCK": {"CentreOfGravity": {"X": [0.4, 0.6], "Y": [0.3, 0.7]}}}}

Rules are kept per item code and per box reference: two items of one code with
different rules are refused.
"""

from __future__ import annotations

import json
import math
from collections.abc import Callable, Iterable, Mapping
from dataclasses import dataclass, field
from typing import Any

from .request_format import elements

ORIENTATION_LABELS = ("WLD", "LWD", "WDL", "LDW", "DWL", "DLW")
"""The six orientation labels: letter i names the item side along box axis i."""

ITEM_RULE_KEYS = ("Fragile", "MaxLoad", "Orientations", "Stop")
"""The item keys of the loading rules."""

BOX_RULE_KEYS = ("CentreOfGravity",)
"""The box type keys of the loading rules."""

Range = tuple[float, float]


@dataclass(frozen=True)
class ItemRules:
    """The loading rules of one item code; None where a rule is not given.

    ``max_load``: the most the items lying above it may weigh in total (0 for a
    fragile item); ``orientations``: the labels it may be placed in, replacing its
    rotation freedom; ``stop``: its delivery stop, 1 being unloaded first.
    """

    max_load: float | None = None
    orientations: tuple[str, ...] | None = None
    stop: int | None = None

    def to_json_dict(self) -> dict[str, Any]:
        out: dict[str, Any] = {}
        if self.max_load is not None:
            out["MaxLoad"] = self.max_load
        if self.orientations is not None:
            out["Orientations"] = list(self.orientations)
        if self.stop is not None:
            out["Stop"] = self.stop
        return out


@dataclass(frozen=True)
class BoxRules:
    """The loading rules of one box reference: the ranges, as fractions of its width
    and length, within which the weighted centre of its items must lie."""

    centre_x: Range = (0.0, 1.0)
    centre_y: Range = (0.0, 1.0)

    def to_json_dict(self) -> dict[str, Any]:
        return {"CentreOfGravity": {"X": list(self.centre_x), "Y": list(self.centre_y)}}


@dataclass(frozen=True)
class LoadingRules:
    """The loading rules of a request, by item code and by box reference."""

    items: Mapping[str, ItemRules] = field(default_factory=dict)
    boxes: Mapping[str, BoxRules] = field(default_factory=dict)

    def __bool__(self) -> bool:
        return bool(self.items) or bool(self.boxes)

    def item(self, code: str) -> ItemRules:
        return self.items.get(code, _NO_ITEM_RULES)

    def box(self, reference: str) -> BoxRules | None:
        return self.boxes.get(reference)

    def to_json(self) -> str:
        """The rules as the optimiser reads them."""
        return json.dumps(
            {
                "items": {code: r.to_json_dict() for code, r in self.items.items()},
                "boxes": {ref: r.to_json_dict() for ref, r in self.boxes.items()},
            },
            allow_nan=False,
        )


_NO_ITEM_RULES = ItemRules()


def _number(value: Any, what: str) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise ValueError(f"{what} must be a number, not {type(value).__name__}")
    try:
        number = float(value)
    except OverflowError:
        raise ValueError(f"{what} is too large for a 64-bit float") from None
    if not math.isfinite(number):
        raise ValueError(f"{what} must be finite, not {number!r}")
    return number


def _stop(value: Any, what: str) -> int:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise ValueError(f"{what} must be an integer of at least 1, not {type(value).__name__}")
    if isinstance(value, float) and not (math.isfinite(value) and value.is_integer()):
        raise ValueError(f"{what} must be an integer of at least 1, not {value!r}")
    stop = int(value)
    if not 1 <= stop <= 2**31 - 1:
        raise ValueError(f"{what} must be an integer of at least 1, not {value!r}")
    return stop


def _orientations(value: Any, what: str) -> tuple[str, ...]:
    if isinstance(value, (str, bytes)) or not isinstance(value, Iterable):
        raise ValueError(f"{what} must be a list of orientation labels, not {type(value).__name__}")
    labels: list[str] = []
    for label in value:
        if label not in ORIENTATION_LABELS:
            raise ValueError(
                f"{what} holds {label!r}, which is not one of {', '.join(ORIENTATION_LABELS)}"
            )
        if label not in labels:
            labels.append(label)
    if not labels:
        raise ValueError(f"{what} must name at least one orientation")
    return tuple(labels)


def _range(value: Any, what: str) -> Range:
    if isinstance(value, (str, bytes, Mapping)) or not isinstance(value, Iterable):
        raise ValueError(f"{what} must be a list [lo, hi] of fractions from 0 to 1")
    bounds = list(value)
    if len(bounds) != 2:
        raise ValueError(f"{what} must be a list [lo, hi] of fractions from 0 to 1")
    lo, hi = (_number(b, what) for b in bounds)
    if not 0.0 <= lo <= hi <= 1.0:
        raise ValueError(f"{what} must have 0 <= lo <= hi <= 1, not [{lo!r}, {hi!r}]")
    return lo, hi


def read_item_rules(obj: Mapping[str, Any], what: str) -> ItemRules | None:
    """The loading rules among an item's keys, None when it has none. `what` names the
    item in messages, e.g. "item 'A'". Raises ValueError naming the field."""
    if not any(obj.get(key) is not None for key in ITEM_RULE_KEYS):
        return None
    max_load: float | None = None
    fragile = obj.get("Fragile")
    if fragile is not None:
        if not isinstance(fragile, bool):
            raise ValueError(
                f"{what} field 'Fragile' must be true or false, not {type(fragile).__name__}"
            )
        if fragile:
            max_load = 0.0
    if obj.get("MaxLoad") is not None:
        load = _number(obj["MaxLoad"], f"{what} field 'MaxLoad'")
        if load < 0.0:
            raise ValueError(f"{what} field 'MaxLoad' must be at least 0, not {load!r}")
        max_load = load if max_load is None else min(max_load, load)
    orientations = None
    if obj.get("Orientations") is not None:
        orientations = _orientations(obj["Orientations"], f"{what} field 'Orientations'")
    stop = None if obj.get("Stop") is None else _stop(obj["Stop"], f"{what} field 'Stop'")
    rules = ItemRules(max_load, orientations, stop)
    return rules if rules != _NO_ITEM_RULES else None


def read_box_rules(obj: Mapping[str, Any], what: str) -> BoxRules | None:
    """The loading rules among a box type's keys, None when it has none."""
    value = obj.get("CentreOfGravity")
    if value is None:
        return None
    field_name = f"{what} field 'CentreOfGravity'"
    if not isinstance(value, Mapping):
        raise ValueError(f'{field_name} must be an object with "X" and "Y" ranges')
    unknown = sorted(str(k) for k in value if k not in ("X", "Y"))
    if unknown:
        raise ValueError(f'{field_name} has unknown keys {unknown}; only "X" and "Y"')
    x = (0.0, 1.0) if value.get("X") is None else _range(value["X"], f"{field_name} 'X'")
    y = (0.0, 1.0) if value.get("Y") is None else _range(value["Y"], f"{field_name} 'Y'")
    return BoxRules(x, y)


def _add(found: dict[str, Any], key: str, rules: Any, what: str) -> None:
    known = found.get(key)
    if known is not None and known != rules:
        raise ValueError(f"{what} {key!r} is given two different sets of loading rules")
    found[key] = rules


def _rules_by_key(
    listed: Any, key: str, noun: str, what: str, read: Callable[[Mapping[str, Any], str], Any]
) -> dict[str, Any]:
    # Elements that are not dicts, or have no text key, carry no rules to read here;
    # the request's own check reports them.
    found: dict[str, Any] = {}
    for _, element in elements(listed):
        if not isinstance(element, Mapping):
            continue
        name = element.get(key)
        if not isinstance(name, str):
            continue
        rules = read(element, f"{noun} '{name}'")
        if rules is not None:
            _add(found, name, rules, what)
    return found


def rules_in_request(items: Any, boxes: Any) -> LoadingRules:
    """The loading rules written inline in a request's item and box dicts (objects
    carry none). Raises ValueError for a rule that cannot be read."""
    item_rules: dict[str, ItemRules] = _rules_by_key(
        items, "ItemCode", "item", "item code", read_item_rules
    )
    box_rules: dict[str, BoxRules] = _rules_by_key(
        boxes, "Reference", "box", "box reference", read_box_rules
    )
    return LoadingRules(item_rules, box_rules)


def read_rules(rules: LoadingRules | Mapping[str, Any] | None) -> LoadingRules:
    """The ``rules`` argument: a :class:`LoadingRules`, None, or a mapping
    {"items": {code: {key: value}}, "boxes": {reference: {key: value}}}."""
    if rules is None:
        return LoadingRules()
    if isinstance(rules, LoadingRules):
        return rules
    if not isinstance(rules, Mapping):
        raise TypeError(f"rules must be a mapping or None, not {type(rules).__name__}")
    unknown = sorted(str(k) for k in rules if k not in ("items", "boxes"))
    if unknown:
        raise ValueError(f"rules has unknown keys {unknown}; only 'items' and 'boxes'")
    item_rules: dict[str, ItemRules] = {}
    for code, keys in _keyed(rules.get("items"), "items"):
        _known_keys(keys, ITEM_RULE_KEYS, f"rules for item '{code}'")
        found = read_item_rules(keys, f"item '{code}'")
        if found is not None:
            item_rules[code] = found
    box_rules: dict[str, BoxRules] = {}
    for reference, keys in _keyed(rules.get("boxes"), "boxes"):
        _known_keys(keys, BOX_RULE_KEYS, f"rules for box '{reference}'")
        found_box = read_box_rules(keys, f"box '{reference}'")
        if found_box is not None:
            box_rules[reference] = found_box
    return LoadingRules(item_rules, box_rules)


def _keyed(value: Any, name: str) -> Iterable[tuple[str, Mapping[str, Any]]]:
    if value is None:
        return []
    if not isinstance(value, Mapping):
        raise ValueError(f"rules '{name}' must map codes to their rules")
    out = []
    for key, keys in value.items():
        if not isinstance(key, str) or not isinstance(keys, Mapping):
            raise ValueError(f"rules '{name}' must map codes (strings) to objects of rule keys")
        out.append((key, keys))
    return out


def _known_keys(keys: Mapping[str, Any], known: tuple[str, ...], what: str) -> None:
    unknown = sorted(str(k) for k in keys if k not in known)
    if unknown:
        raise ValueError(f"{what} has unknown keys {unknown}; known: {', '.join(known)}")


def merged(inline: LoadingRules, given: LoadingRules) -> LoadingRules:
    """Inline rules and the ``rules`` argument together; an item code or box reference
    given both ways must be given the same rules."""
    items: dict[str, Any] = dict(inline.items)
    for code, item_rules in given.items.items():
        _add(items, code, item_rules, "item code")
    boxes: dict[str, Any] = dict(inline.boxes)
    for reference, box_rules in given.boxes.items():
        _add(boxes, reference, box_rules, "box reference")
    return LoadingRules(items, boxes)
