"""A quick test that a parsed request keeps the JSON Schema of the request format
(request.schema.json): the schema's own rules, written out for the values JSON parsing
gives. The request check runs the schema validator only on requests this does not pass,
so the usual request is checked in microseconds and an unusual one is reported exactly
as before. It answers True only when sure; anything of another type goes to the
validator."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any


def _number(value: Any) -> bool:
    return type(value) is int or type(value) is float


def _optional_number(value: Any) -> bool:
    return value is None or type(value) is int or type(value) is float


def _text(value: Any) -> bool:
    return type(value) is str


def _optional_text(value: Any) -> bool:
    return value is None or type(value) is str


def _maximum_boxes(value: Any) -> bool:
    return value is None or type(value) in (int, float, bool)


def _active(value: Any) -> bool:
    return value is None or type(value) is bool


Rules = dict[str, Callable[[Any], bool]]

ITEM_RULES: Rules = {
    "ItemCode": _text,
    "ItemReference": _optional_text,
    "Width": _number,
    "Length": _number,
    "Depth": _number,
    "Weight": _optional_number,
    "AllowedRotation": _optional_text,
    "BoxGroup": _optional_text,
    "Volume": _optional_number,
}
BOX_RULES: Rules = {
    "Reference": _text,
    "Width": _number,
    "Length": _number,
    "Depth": _number,
    "BoxWeight": _optional_number,
    "MaxWeight": _optional_number,
    "MaximumBoxes": _maximum_boxes,
    "Active": _active,
    "InnerVolume": _optional_number,
}
ITEM_REQUIRED = ("ItemCode", "Width", "Length", "Depth")
BOX_REQUIRED = ("Reference", "Width", "Length", "Depth")


def _element(value: Any, rules: Rules, required: tuple[str, ...]) -> bool:
    if type(value) is not dict:
        return False
    for key in required:
        if key not in value:
            return False
    for key, member in value.items():
        rule = rules.get(key)
        if rule is None or not rule(member):
            return False
    return True


def _elements(value: Any, rules: Rules, required: tuple[str, ...]) -> bool:
    if value is None:
        return True
    if type(value) is list:
        members = value
    elif type(value) is dict:
        members = list(value.values())
    else:
        return False
    return all(_element(member, rules, required) for member in members)


def plainly_valid(request: Any) -> bool:
    """True when the request certainly keeps the request schema; False when it does
    not, or when only the schema validator can tell."""
    if type(request) is not dict:
        return False
    for key, value in request.items():
        if key == "items":
            if not _elements(value, ITEM_RULES, ITEM_REQUIRED):
                return False
        elif key == "boxes":
            if not _elements(value, BOX_RULES, BOX_REQUIRED):
                return False
        elif key != "id":
            return False
    return True
