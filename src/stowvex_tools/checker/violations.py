"""What the checker reports: a violation of one of its rules, and the kinds of rule."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Literal, get_args

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
    "load",
    "stop",
    "centre_of_gravity",
    "figures",
]
"""The kinds of violation :func:`validate` reports."""

VIOLATION_KINDS: tuple[ViolationKind, ...] = get_args(ViolationKind)
"""Every violation kind, in the order :func:`validate` looks for them."""


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
