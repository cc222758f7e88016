"""Packing one order: the engine or the optimiser, and the output line of a batch."""

from __future__ import annotations

import json
import os
import tempfile
from collections.abc import Callable, Mapping
from dataclasses import dataclass
from typing import Any, cast

import stowvex

from .orders import OrderTask, csv_items, strict_loads
from .summary import BatchSummary, OrderFigures

Request = str | bytes | Mapping[str, Any]


class OptimiserMissing(RuntimeError):
    """Raised when packing with the optimiser is asked for but it is not installed."""


def optimiser() -> Callable[..., str]:
    """`stowvex_tools.optimise_json`, or a clear error when this installation lacks it."""
    import stowvex_tools

    function = getattr(stowvex_tools, "optimise_json", None)
    if function is None:
        raise OptimiserMissing(
            "the optimiser is not part of this installation "
            "(stowvex_tools.optimise_json is missing)"
        )
    return cast("Callable[..., str]", function)


@dataclass(frozen=True)
class PackSettings:
    """How every order of a run is packed."""

    optimise: bool = False
    time_limit: float = 1.0
    boxes: list[Any] | None = None  # the catalogue's box objects, for orders without boxes
    spool: str | None = None  # folder for the output lines of worker processes

    def solve(self, request_json: str | bytes) -> str:
        if not self.optimise:
            return str(stowvex.solve(request_json))
        if isinstance(request_json, bytes):
            request_json = request_json.decode("utf-8")
        return optimiser()(request_json, time_limit=self.time_limit)


def request_text(request: Request) -> str | bytes:
    """A request as the JSON text the engine reads: text is passed on unchanged."""
    if isinstance(request, (str, bytes)):
        return request
    if not isinstance(request, Mapping):
        raise TypeError(f"a request is a dict or JSON text, not {type(request).__name__}")
    return json.dumps(request, ensure_ascii=False, allow_nan=False)


def pack_request(request: Request, *, optimise: bool = False, time_limit: float = 1.0) -> str:
    """Packs one request (a dict or JSON text shaped like {"items": [...], "boxes": [...]})
    and returns the result JSON text of `stowvex.solve`, or of the optimiser with
    `optimise=True`. Bad input raises what the engine raises (`ValueError`, `RuntimeError`)."""
    return PackSettings(optimise, time_limit).solve(request_text(request))


def _json_text(value: Any) -> str:
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"))


def result_line(order_id: Any, result_json: str) -> str:
    return '{"id":' + _json_text(order_id) + ',"result":' + result_json + "}\n"


def error_line(order_id: Any, message: str) -> str:
    return '{"id":' + _json_text(order_id) + ',"error":' + _json_text(message) + "}\n"


def _order_request(task: OrderTask, settings: PackSettings) -> tuple[Any, Any, Any]:
    """The id, the items and the box types of one batch order, as parsed JSON values;
    raises ValueError with the message of its output line when the order is unreadable."""
    kind, line = task[0], task[1]
    if kind == "csv":
        return task[2], csv_items(task[3]), settings.boxes or []
    if kind == "bad":
        raise ValueError(task[3])
    try:
        order = strict_loads(task[2])
    except ValueError as error:
        raise ValueError(f"{_at(line)}not valid JSON: {error}") from None
    if not isinstance(order, dict):
        raise ValueError(f"{_at(line)}an order is a JSON object, not {type(order).__name__}")
    order_id = order.get("id")
    if "boxes" in order:
        return order_id, order.get("items"), order["boxes"]
    if settings.boxes is None:
        raise _OrderFailed(
            order_id, f'{_at(line)}the order has no "boxes" and no box catalogue was given'
        )
    return order_id, order.get("items"), settings.boxes


def _at(line: int) -> str:
    return f"line {line}: " if line > 0 else ""


class _OrderFailed(ValueError):
    def __init__(self, order_id: Any, message: str) -> None:
        super().__init__(message)
        self.order_id = order_id


def order_id_of(task: OrderTask) -> Any:
    """The id of a batch order as its output line gives it (None when unreadable)."""
    if task[0] != "json":
        return task[2]
    try:
        order = strict_loads(task[2])
    except ValueError:
        return None
    return order.get("id") if isinstance(order, dict) else None


def _packed(items: Any, boxes: Any, settings: PackSettings) -> tuple[str, OrderFigures]:
    """The result JSON text of an order and its figures. The engine reads the parsed
    values as `solve` reads their text (pack_dicts; same result, byte for byte), and
    the figures come from the result objects instead of a second parse of the text."""
    if settings.optimise:
        text = settings.solve(json.dumps({"items": items, "boxes": boxes}, ensure_ascii=False))
        return text, OrderFigures.of(json.loads(text))
    result = stowvex.pack_dicts(items, boxes)
    boxes_packed = result.boxes
    figures = OrderFigures(
        tuple(b.box.reference for b in boxes_packed),
        result.total_placed,
        result.total_unplaced,
        sum(b.used_volume for b in boxes_packed),
        sum(b.inner_volume for b in boxes_packed),
    )
    return result.to_json(-1), figures


def pack_order(task: OrderTask, settings: PackSettings) -> tuple[str, OrderFigures | None]:
    """Packs one batch order into its output line and its figures (None when it failed).
    Nothing an order holds makes this raise, except a missing optimiser."""
    order_id = task[2] if task[0] != "json" else None
    try:
        order_id, items, boxes = _order_request(task, settings)
        text, figures = _packed(items, boxes, settings)
    except OptimiserMissing:
        raise
    except _OrderFailed as error:
        return error_line(error.order_id, str(error)), None
    except (
        ValueError,
        RuntimeError,
        TypeError,
        OverflowError,
        RecursionError,
        MemoryError,
    ) as error:
        return error_line(order_id, str(error) or type(error).__name__), None
    return result_line(order_id, text), figures


def pack_orders(tasks: list[OrderTask], settings: PackSettings) -> tuple[bytes | str, BatchSummary]:
    """Packs a run of batch orders into their output lines (UTF-8) and their summary.
    With a spool folder the lines go to a new file there and its path comes back
    instead: the process that writes the output then copies them file to file in the
    kernel, rather than receiving every result through a pipe."""
    summary = BatchSummary()
    lines = []
    for task in tasks:
        line, figures = pack_order(task, settings)
        lines.append(line)
        summary.add(figures)
    data = "".join(lines).encode("utf-8")
    if settings.spool is None:
        return data, summary
    handle, path = tempfile.mkstemp(dir=settings.spool, suffix=".jsonl")
    with os.fdopen(handle, "wb") as spooled:
        spooled.write(data)
    return path, summary
