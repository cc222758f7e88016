"""Results as plain dicts, and the figures of many results added up into a summary."""

from __future__ import annotations

import json
from collections import Counter
from collections.abc import Iterable, Mapping
from dataclasses import dataclass, field
from typing import Any, NamedTuple

from .request_format import number_value
from .settling import poorly_supported, result_extents

ResultLike = str | bytes | Mapping[str, Any]


def result_dict(result: ResultLike | Any) -> dict[str, Any]:
    """The result object of `stowvex.solve` as a dict, from its JSON text, a dict, a
    `PackResult`, or a line of a batch output file ({"id": ..., "result": {...}})."""
    if isinstance(result, (str, bytes, bytearray)):
        result = json.loads(result)
    elif hasattr(result, "to_dict") and not isinstance(result, Mapping):
        result = result.to_dict()
    if not isinstance(result, Mapping):
        raise TypeError(f"not a packing result: {type(result).__name__}")
    if "result" in result and "boxes" not in result:
        inner = result["result"]
        if isinstance(inner, Mapping):
            result = inner
    if "boxes" not in result:
        raise ValueError('not a packing result: it has no "boxes"')
    return dict(result)


class OrderFigures(NamedTuple):
    """What a summary needs of one packed order."""

    boxes: tuple[str, ...]  # box type reference of every packed box
    placed: int
    unplaced: int
    used_volume: float
    inner_volume: float
    poorly_supported: int = 0  # items resting on less than half of their base

    @classmethod
    def of(cls, result: Mapping[str, Any]) -> OrderFigures:
        """The figures of a result dict."""
        boxes = result.get("boxes") or []
        summary = result.get("summary") or {}
        return cls(
            tuple(str(b.get("box_reference")) for b in boxes),
            int(summary.get("total_placed", 0)),
            int(summary.get("total_unplaced", 0)),
            sum(result_number(b.get("used_volume")) for b in boxes),
            sum(result_number(b.get("inner_volume")) for b in boxes),
            poorly_supported(result_extents(result)),
        )


def result_number(value: Any) -> float:
    """A number of a result as a float; 0 for a value that is missing or no number."""
    number = number_value(value)
    return 0.0 if number is None else number


@dataclass
class BatchSummary:
    """Totals over the orders of a batch."""

    orders: int = 0
    failures: int = 0
    placed: int = 0
    unplaced: int = 0
    orders_with_unplaced: int = 0
    poorly_supported: int = 0  # placed items resting on less than half of their base
    boxes: Counter[str] = field(default_factory=Counter)
    used_volume: float = 0.0
    inner_volume: float = 0.0
    seconds: float = 0.0
    resumed: int = 0  # orders that an earlier run had already packed

    def add(self, figures: OrderFigures | None) -> None:
        """Counts one order: its figures, or None for an order that failed."""
        self.orders += 1
        if figures is None:
            self.failures += 1
            return
        self.placed += figures.placed
        self.unplaced += figures.unplaced
        self.orders_with_unplaced += figures.unplaced > 0
        self.poorly_supported += figures.poorly_supported
        self.boxes.update(figures.boxes)
        self.used_volume += figures.used_volume
        self.inner_volume += figures.inner_volume

    def add_result(self, result: ResultLike | Any) -> None:
        """Counts one result, or one batch output line (failed when it holds an error)."""
        if isinstance(result, (str, bytes, bytearray)):
            result = json.loads(result)
        if isinstance(result, Mapping) and "error" in result and "boxes" not in result:
            self.add(None)
        else:
            self.add(OrderFigures.of(result_dict(result)))

    def merge(self, other: BatchSummary) -> None:
        """Adds the orders of another summary (the times add up too)."""
        self.orders += other.orders
        self.failures += other.failures
        self.placed += other.placed
        self.unplaced += other.unplaced
        self.orders_with_unplaced += other.orders_with_unplaced
        self.poorly_supported += other.poorly_supported
        self.boxes.update(other.boxes)
        self.used_volume += other.used_volume
        self.inner_volume += other.inner_volume
        self.seconds += other.seconds
        self.resumed += other.resumed

    @property
    def box_count(self) -> int:
        return sum(self.boxes.values())

    @property
    def fill(self) -> float:
        """Volume utilisation over all boxes, in percent."""
        return self.used_volume / self.inner_volume * 100 if self.inner_volume > 0 else 0.0

    def lines(self) -> list[str]:
        """The summary as a few lines of text."""
        packed = self.orders - self.failures
        rate = (
            f", {(self.orders - self.resumed) / self.seconds:,.0f} orders/s"
            if self.seconds > 0 and self.orders > self.resumed
            else ""
        )
        earlier = f" ({self.resumed:,} packed by an earlier run)" if self.resumed else ""
        by_type = ", ".join(
            f"{reference} {count:,}"
            for reference, count in sorted(
                self.boxes.items(), key=lambda entry: (-entry[1], entry[0])
            )
        )
        return [
            f"orders: {self.orders:,}{earlier}; packed {packed:,}, failed {self.failures:,}",
            f"boxes: {self.box_count:,}" + (f" ({by_type})" if by_type else ""),
            f"items: {self.placed:,} placed, {self.unplaced:,} unplaced "
            f"(in {self.orders_with_unplaced:,} orders); "
            f"{self.poorly_supported:,} rest on less than half of their base",
            f"fill: {self.fill:.1f} % of the boxes' volume",
            f"time: {self.seconds:.1f} s{rate}",
        ]


def summarise(results: Iterable[ResultLike | Any]) -> BatchSummary:
    """Adds up results (JSON texts, dicts, `PackResult` objects or batch output lines); a batch
    line holding an error counts as a failed order."""
    summary = BatchSummary()
    for result in results:
        summary.add_result(result)
    return summary
