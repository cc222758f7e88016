"""The request format read in Python as the engine reads it: the elements of "items" and
"boxes", their keys and defaults, rotation words, numbers, box groups, quantities and
active flags. The result checker and the request check read requests here, so that
neither needs the engine to know what a request says."""

from __future__ import annotations

import enum
import math
import string
from collections.abc import Iterable, Iterator, Mapping
from dataclasses import dataclass
from typing import Any

SIDES = ("Width", "Length", "Depth")
"""The keys of an item's or a box type's three sides, in the order of their sizes."""

NO_WEIGHT_LIMIT = -1.0
"""The max weight of a box type without a weight limit (any negative value means that)."""

INT32_RANGE = (-(2**31), 2**31 - 1)


class Rotation(enum.IntEnum):
    """How far an item may turn; the numbers are those of ``stowvex.Rotation``."""

    NEVER = 0
    KEEP_FLAT = 1
    BEST_FIT = 2

    @property
    def word(self) -> str:
        """The rotation word that names it in a request: Never, KeepFlat or BestFit."""
        return ("Never", "KeepFlat", "BestFit")[self]


# The words the engine knows, in lower case. It reads every other word as BestFit.
ROTATION_WORDS = {
    "never": Rotation.NEVER,
    "keepflat": Rotation.KEEP_FLAT,
    "keep_flat": Rotation.KEEP_FLAT,
    "bestfit": Rotation.BEST_FIT,
    "best_fit": Rotation.BEST_FIT,
}

# The engine changes the case of ASCII letters only.
_ASCII_LOWER = str.maketrans(string.ascii_uppercase, string.ascii_lowercase)


def rotation_word_key(word: str) -> str:
    """A rotation word as the engine compares it: its ASCII letters in lower case."""
    return word.translate(_ASCII_LOWER)


def rotation_of_word(word: str) -> Rotation:
    """The rotation a word of "AllowedRotation" gives: Never, KeepFlat or Keep_Flat in
    any case of their ASCII letters; any other word gives BestFit."""
    return ROTATION_WORDS.get(rotation_word_key(word), Rotation.BEST_FIT)


def rotation_of_value(value: Any) -> Rotation:
    """The rotation of a ``stowvex.Rotation`` (or its number); other numbers give BestFit."""
    number = int(value)
    return Rotation(number) if number in (Rotation.NEVER, Rotation.KEEP_FLAT) else Rotation.BEST_FIT


def number_value(value: Any) -> float | None:
    """A number (a JSON number, an int or a float) as a float, or None for any other
    value, booleans included. An integer too large for a float gives an infinity of
    its sign."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        return None
    try:
        return float(value)
    except OverflowError:
        return math.inf if value > 0 else -math.inf


def read_number(value: Any, what: str) -> float:
    """A JSON number as a float; ValueError naming `what` for any other value and for an
    integer too large for a float."""
    number = number_value(value)
    if number is None:
        raise ValueError(f"{what} must be a number, not {type(value).__name__}")
    if isinstance(value, int) and math.isinf(number):
        raise ValueError(f"{what} is too large for a 64-bit float")
    return number


def read_text(value: Any, what: str) -> str:
    """A JSON string; ValueError naming `what` for any other value."""
    if not isinstance(value, str):
        raise ValueError(f"{what} must be a string, not {type(value).__name__}")
    return value


def _optional_number(obj: Mapping[str, Any], key: str, default: float, what: str) -> float:
    # Absent and null both give the default, as for every optional member.
    value = obj.get(key)
    return default if value is None else read_number(value, f"{what} field '{key}'")


def _optional_text(obj: Mapping[str, Any], key: str, default: str, what: str) -> str:
    value = obj.get(key)
    return default if value is None else read_text(value, f"{what} field '{key}'")


def read_quantity(value: Any) -> int:
    """A box type's "MaximumBoxes": booleans count as 1 and 0, numbers are truncated
    toward 0; ValueError outside the 32-bit integer range."""
    if isinstance(value, bool):
        return int(value)
    number = read_number(value, "box field 'MaximumBoxes'")
    if not (math.isfinite(number) and INT32_RANGE[0] <= math.trunc(number) <= INT32_RANGE[1]):
        raise ValueError("box field 'MaximumBoxes' is outside the 32-bit integer range")
    return math.trunc(number)


def elements(value: Any) -> Iterator[tuple[Any, Any]]:
    """The elements of a request's "items" or "boxes", each with its index or key, in the
    order the engine reads them: a list's elements, an object's values in key order,
    nothing for null and the value itself for any other value."""
    if value is None:
        return
    if isinstance(value, Mapping):
        keys = list(value)
        if all(isinstance(key, str) for key in keys):
            keys.sort()
        for key in keys:
            yield key, value[key]
    elif isinstance(value, (str, bytes, bytearray)) or not isinstance(value, Iterable):
        yield 0, value
    else:
        yield from enumerate(value)


@dataclass(frozen=True)
class RequestItem:
    """An item as the engine reads it."""

    code: str
    reference: str
    size: tuple[float, float, float]
    weight: float
    group: str  # "" for none
    rotation: Rotation


@dataclass(frozen=True)
class RequestBox:
    """A box type as the engine reads it."""

    reference: str
    size: tuple[float, float, float]
    empty_weight: float
    max_weight: float  # negative: no weight limit
    active: bool
    max_quantity: int | None

    @property
    def opens(self) -> bool:
        """Whether a packing may open a box of this type at all."""
        return self.active and (self.max_quantity is None or self.max_quantity >= 1)


def _sizes(obj: Mapping[str, Any], missing: str, what: str) -> tuple[float, float, float]:
    sizes = []
    for key in SIDES:
        if key not in obj:
            raise ValueError(f"{missing} is missing required field '{key}'")
        sizes.append(read_number(obj[key], f"{what} field '{key}'"))
    return sizes[0], sizes[1], sizes[2]


def _is_object(value: Any, kind: str, key: str, attributes: tuple[str, ...]) -> bool:
    """Whether an element is an object of the module (read by its attributes) rather than
    a request's dict; ValueError, as the engine says it, for neither or a dict without
    its required `key`."""
    if isinstance(value, Mapping):
        if key in value:
            return False
    elif all(hasattr(value, attribute) for attribute in attributes):
        return True
    raise ValueError(f"{kind} is missing required field '{key}'")


def read_item(value: Any) -> RequestItem:
    """An item of a request, or an item object such as ``stowvex.Item``. Raises
    ValueError when the engine could not read it, naming the field."""
    if _is_object(value, "item", "ItemCode", ("item_code", "allowed_rotation")):
        return _item_from_object(value)
    code = read_text(value["ItemCode"], "item field 'ItemCode'")
    rotation = rotation_of_word(_optional_text(value, "AllowedRotation", "BestFit", "item"))
    weight = _optional_number(value, "Weight", 0.0, "item")
    size = _sizes(value, f"item '{code}'", f"item '{code}'")
    reference = _optional_text(value, "ItemReference", code, "item")
    group = _optional_text(value, "BoxGroup", "", "item")
    return RequestItem(code, reference, size, weight, group, rotation)


def _item_from_object(item: Any) -> RequestItem:
    return RequestItem(
        str(item.item_code),
        str(item.item_reference),
        (float(item.width), float(item.length), float(item.depth)),
        float(item.weight),
        item.box_group or "",
        rotation_of_value(item.allowed_rotation),
    )


def read_box(value: Any) -> RequestBox:
    """A box type of a request, or a box object such as ``stowvex.Box``. Raises
    ValueError when the engine could not read it, naming the field."""
    if _is_object(value, "box", "Reference", ("reference", "empty_weight")):
        return _box_from_object(value)
    active = value.get("Active")
    if active is not None and not isinstance(active, bool):
        raise ValueError(f"box field 'Active' must be a boolean, not {type(active).__name__}")
    empty_weight = _optional_number(value, "BoxWeight", 0.0, "box")
    max_weight = _optional_number(value, "MaxWeight", NO_WEIGHT_LIMIT, "box")
    size = _sizes(value, "box", "box")
    reference = read_text(value["Reference"], "box field 'Reference'")
    quantity = value.get("MaximumBoxes")
    return RequestBox(
        reference,
        size,
        empty_weight,
        max_weight,
        active is not False,
        None if quantity is None else read_quantity(quantity),
    )


def _box_from_object(box: Any) -> RequestBox:
    quantity = box.max_quantity
    return RequestBox(
        str(box.reference),
        (float(box.width), float(box.length), float(box.depth)),
        float(box.empty_weight),
        float(box.max_weight),
        bool(box.active),
        None if quantity is None else int(quantity),
    )
