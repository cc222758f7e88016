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
from .orders import OrderTask, csv_items, decode_line, strict_loads
from .request_check import (
    check_request,
    fault_place,
    findings_message,
    ignored_rule_findings,
)
from .summary import BatchSummary, OrderFigures


@dataclass(frozen=True)
class BatchSettings(PackSettings):
    """How every order of a batch is packed, and where its lines go."""

    boxes: list[Any] | None = None  # the catalogue's box objects, for orders without boxes
    spool: str | None = None  # folder for the output lines of worker processes
    check: bool = False  # refuse an order in which the request check finds anything


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


def _read_order(
    task: OrderTask, settings: BatchSettings
) -> tuple[Any, RequestValues, dict[str, Any]]:
    """The id and the request of one batch order, and the order as the request check
    reads it; raises _Unreadable with the message of its output line when the order
    cannot be read."""
    kind, line = task[0], task[1]
    if kind == "bad":
        raise _Unreadable(task[2], task[3])
    if kind == "csv":
        try:
            items = csv_items(task[3])
        except ValueError as error:
            raise _Unreadable(task[2], str(error)) from None
        boxes = settings.boxes or []
        # The check reads the rows as written, one item a row, not their copies.
        rows = csv_items(task[3], copies=False)
        return task[2], RequestValues(items, boxes), {"items": rows, "boxes": boxes}
    order = _json_order(task[2], line)
    if not isinstance(order, dict):
        raise _Unreadable(None, f"{_at(line)}an order is a JSON object, not {_json_kind(order)}")
    order_id = order.get("id")
    if "boxes" in order:
        return order_id, RequestValues(order.get("items"), order["boxes"]), order
    if settings.boxes is None:
        raise _Unreadable(
            order_id, f'{_at(line)}the order has no "boxes" and no box catalogue was given'
        )
    return (
        order_id,
        RequestValues(order.get("items"), settings.boxes),
        {
            **order,
            "boxes": settings.boxes,
        },
    )


def _json_order(data: str | bytes, line: int) -> Any:
    try:
        text = decode_line(data)
    except UnicodeDecodeError as error:
        raise _Unreadable(
            None, f"{_at(line)}not UTF-8 text ({error.reason} at byte {error.start + 1})"
        ) from None
    try:
        return strict_loads(text)
    except RecursionError:
        raise _Unreadable(None, f"{_at(line)}not valid JSON: nested too deeply") from None
    except ValueError as error:
        raise _Unreadable(None, f"{_at(line)}not valid JSON: {error}") from None


def _json_kind(value: Any) -> str:
    kinds = {list: "an array", str: "a string", bool: "a boolean", type(None): "null"}
    return kinds.get(type(value), "a number")


def order_id_of(task: OrderTask) -> Any:
    """The id of a batch order as its output line gives it (None when unreadable)."""
    if task[0] != "json":
        return task[2]
    try:
        order = strict_loads(decode_line(task[2]))
    except (ValueError, RecursionError):
        return None
    return order.get("id") if isinstance(order, dict) else None


def pack_order(task: OrderTask, settings: BatchSettings) -> tuple[str, OrderFigures | None]:
    """Packs one batch order into its output line and its figures (None when it failed).
    Nothing an order holds makes this raise."""
    try:
        order_id, request, checked = _read_order(task, settings)
        if settings.check:
            findings = [f for f in check_request(checked) if f.refuses]
            if not settings.optimise:
                findings += ignored_rule_findings(checked)
            if findings:
                return error_line(order_id, _at(task[1]) + findings_message(findings)), None
    except _Unreadable as unreadable:
        return error_line(unreadable.order_id, str(unreadable)), None
    except ORDER_ERRORS as error:  # such as a line too large to read
        return error_line(task[2] if task[0] != "json" else None, fault_message(error)), None
    outcome = pack_one(request, settings)
    if isinstance(outcome, Failed):
        message = outcome.message
        if outcome.timeout is None:
            place = fault_place(checked, message)
            if place is not None:
                message = f"{message} (at {place})"
        return error_line(order_id, message), None
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


LOST_ORDER = (
    "the worker process packing this order ended unexpectedly (killed, or out of "
    "memory), on a second try as well; the order was not packed"
)


def lost_orders(tasks: list[OrderTask]) -> tuple[bytes, BatchSummary]:
    """The output lines of orders whose worker process died while packing them twice."""
    summary = BatchSummary()
    lines = []
    for task in tasks:
        lines.append(error_line(order_id_of(task), _at(task[1]) + LOST_ORDER))
        summary.add(None)
    return "".join(lines).encode("utf-8"), summary
