"""The figures a result reports (per box, in its summary, its success, its unplaced
codes and its flat list of placements), recomputed from its placements."""

from __future__ import annotations

import math
from collections.abc import Iterable, Mapping
from typing import Any

from .result_reading import PackedBox, ReadResult
from .violations import Violation


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


def _box_figures(box: PackedBox) -> dict[str, Any]:
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


def check_figures(result: ReadResult, out: list[Violation]) -> None:
    """Reported figures against the placements; figures the result leaves out are skipped."""
    data, boxes, unplaced = result.data, result.boxes, result.unplaced

    def wrong(name: str, reported: Any, computed: Any, box: PackedBox | None = None) -> None:
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
