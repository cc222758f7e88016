"""The result checker: every rule a packing result breaks, given the request it was made
from. It reads results and requests itself and never asks the engine or the optimiser."""

from __future__ import annotations

import json
from collections.abc import Mapping
from typing import Any

from ..loading_rules import LoadingRules, merged, read_rules, rules_in_request
from ..request_format import elements, number_value, read_box, read_item
from .figures import check_figures
from .loading import check_centre_of_gravity, check_loads, check_stops
from .result_reading import BoxesInput, ItemsInput, ResultInput, read_result
from .rules import (
    RELATIVE_TOLERANCE,
    check_accounting,
    check_box_types,
    check_geometry,
    check_groups,
    check_orientation,
    check_weight,
)
from .violations import VIOLATION_KINDS, Violation, ViolationKind

__all__ = [
    "RELATIVE_TOLERANCE",
    "VIOLATION_KINDS",
    "Violation",
    "ViolationKind",
    "validate",
    "validate_request",
]


def validate(
    result: ResultInput,
    items: ItemsInput,
    boxes: BoxesInput,
    *,
    min_support: float = 0.0,
    rules: LoadingRules | Mapping[str, Any] | None = None,
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
    - ``load``: an item with a ``MaxLoad`` (or ``"Fragile": true``, which is
      ``MaxLoad`` 0) under items weighing more in total, counting in full every item of
      its box whose base is at or above its top face and whose footprint overlaps its
      footprint in positive area;
    - ``stop``: an item of a later delivery ``Stop`` above an item of an earlier one,
      or between it and the door (the box's face at y = its length: x and z ranges
      overlapping, its smallest y at or above the other's largest);
    - ``centre_of_gravity``: a box whose weighted centre of items lies outside its
      type's ``CentreOfGravity`` ranges (boxes without weighted items are exempt);
    - ``figures``: reported figures (per box, the summary, ``success``, the unplaced
      codes, the flat placement list) that differ from what the placements give.

    Arithmetic is exact IEEE double arithmetic, except that geometric comparisons
    allow :data:`RELATIVE_TOLERANCE` times the box's largest dimension and weights the
    same share of the weights compared, so that one rounding step in a position built
    by adding decimal sizes is not taken for a fault. Reported figures are compared
    exactly.

    The loading rules are read from the keys of item and box dicts ("Fragile",
    "MaxLoad", "Orientations", "Stop"; "CentreOfGravity") and from ``rules``, a mapping
    by item code and box reference for objects (see :mod:`stowvex_tools.loading_rules`);
    an item's "Orientations", when given, replaces its rotation freedom in the
    ``orientation`` rule.

    Returns the violations, an empty list when the result keeps every rule. Raises
    ``ValueError`` when ``min_support`` is not within 0 to 1 or when an item, a box
    type or the result cannot be read (also one nested too deeply), and ``TypeError``
    when ``result`` has none of the accepted forms or ``min_support`` is no number.
    """
    if number_value(min_support) is None:
        raise TypeError(f"min_support must be a number, not {type(min_support).__name__}")
    if not 0.0 <= min_support <= 1.0:
        raise ValueError(f"min_support must be within 0 and 1, not {min_support!r}")
    try:
        requested_items = [read_item(value) for _, value in elements(items)]
        requested_boxes = [read_box(value) for _, value in elements(boxes)]
        loading = merged(rules_in_request(items, boxes), read_rules(rules))
        read = read_result(result)
    except RecursionError:
        raise ValueError("the result or the request is nested too deeply to read") from None
    found: list[Violation] = []
    for box in read.boxes:
        check_geometry(box, min_support, found)
        for p in box.placements:
            check_orientation(p, box, found, loading.item(p.code).orientations)
        check_weight(box, found)
        check_loads(box, loading, found)
        check_stops(box, loading, found)
        check_centre_of_gravity(box, loading, found)
    check_box_types(read.boxes, requested_boxes, found)
    check_groups(read.boxes, read.unplaced, found)
    check_accounting(requested_items, read.boxes, read.unplaced, found)
    check_figures(read, found)
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
        except RecursionError:
            raise ValueError("request is not valid JSON: nested too deeply") from None
        except ValueError as error:
            raise ValueError(f"request is not valid JSON: {error}") from None
    if not isinstance(request, Mapping):
        request = {}
    return validate(result, request.get("items"), request.get("boxes"), min_support=min_support)
