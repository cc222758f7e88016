"""The output lines of a batch: each order of a batch file packed into its line,
{"id": ..., "result": {...}} or {"id": ..., "error": "..."}, and runs of orders into
blocks of such lines."""

from __future__ import annotations

import json
import os
import tempfile
from dataclasses import dataclass
from typing import Any

from .order_packing import (
    ORDER_ERRORS,
    Failed,
    PackSettings,
    RequestValues,
    fault_message,
    pack_one,
)
from .orders import OrderTask, csv_items, strict_loads
from .summary import BatchSummary, OrderFigures


@dataclass(frozen=True)
class BatchSettings(PackSettings):
    """How every order of a batch is packed, and where its lines go."""

    boxes: list[Any] | None = None  # the catalogue's box objects, for orders without boxes
    spool: str | None = None  # folder for the output lines of worker processes


def _json_text(value: Any) -> str:
    return json.dumps(value, ensure_ascii=False, separators=(",", ":"))


def result_line(order_id: Any, result_json: str) -> str:
    """The output line of a packed order: {"id": ..., "result": {...}}."""
    return '{"id":' + _json_text(order_id) + ',"result":' + result_json + "}\n"


def error_line(order_id: Any, message: str) -> str:
    """The output line of an order that failed: {"id": ..., "error": "..."}."""
    return '{"id":' + _json_text(order_id) + ',"error":' + _json_text(message) + "}\n"


class _Unreadable(ValueError):
    """An order that cannot be read, with its id as far as it is known."""

    def __init__(self, order_id: Any, message: str) -> None:
        super().__init__(message)
        self.order_id = order_id


def _at(line: int) -> str:
    return f"line {line}: " if line > 0 else ""


def _read_order(task: OrderTask, settings: BatchSettings) -> tuple[Any, RequestValues]:
    """The id and the request of one batch order; raises _Unreadable with the message of
    its output line when the order cannot be read."""
    kind, line = task[0], task[1]
    if kind == "bad":
        raise _Unreadable(task[2], task[3])
    if kind == "csv":
        try:
            return task[2], RequestValues(csv_items(task[3]), settings.boxes or [])
        except ValueError as error:
            raise _Unreadable(task[2], str(error)) from None
    try:
        order = strict_loads(task[2])
    except (ValueError, RecursionError) as error:
        raise _Unreadable(None, f"{_at(line)}not valid JSON: {error}") from None
    if not isinstance(order, dict):
        raise _Unreadable(None, f"{_at(line)}an order is a JSON object, not {type(order).__name__}")
    order_id = order.get("id")
    if "boxes" in order:
        return order_id, RequestValues(order.get("items"), order["boxes"])
    if settings.boxes is None:
        raise _Unreadable(
            order_id, f'{_at(line)}the order has no "boxes" and no box catalogue was given'
        )
    return order_id, RequestValues(order.get("items"), settings.boxes)


def order_id_of(task: OrderTask) -> Any:
    """The id of a batch order as its output line gives it (None when unreadable)."""
    if task[0] != "json":
        return task[2]
    try:
        order = strict_loads(task[2])
    except ValueError:
        return None
    return order.get("id") if isinstance(order, dict) else None


def pack_order(task: OrderTask, settings: BatchSettings) -> tuple[str, OrderFigures | None]:
    """Packs one batch order into its output line and its figures (None when it failed).
    Nothing an order holds makes this raise."""
    try:
        order_id, request = _read_order(task, settings)
    except _Unreadable as unreadable:
        return error_line(unreadable.order_id, str(unreadable)), None
    except ORDER_ERRORS as error:  # such as a line too large to read
        return error_line(task[2] if task[0] != "json" else None, fault_message(error)), None
    outcome = pack_one(request, settings)
    if isinstance(outcome, Failed):
        return error_line(order_id, outcome.message), None
    return result_line(order_id, outcome.result), outcome.figures


def pack_orders(
    tasks: list[OrderTask], settings: BatchSettings
) -> tuple[bytes | str, BatchSummary]:
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
