"""Packing on a Dask cluster: the same packing as `pack_many` and `stowvex batch`, spread
over the cluster's workers. Needs Dask (pip install 'stowvex[dask]')."""

from __future__ import annotations

import json
from typing import Any

from .batch_lines import BatchSettings, error_line, pack_order
from .engine_calls import PackingTimeout
from .optimiser import DEFAULT_TIME_LIMIT
from .optional_dependencies import require
from .order_packing import Failed, PackSettings, pack_one
from .orders import load_catalogue
from .summary import BatchSummary, summarise

require("dask.bag", "dask", "Packing on Dask")


def _pack_requests(requests: Any, settings: PackSettings) -> list[str]:
    results = []
    for request in requests:
        outcome = pack_one(request, settings)
        if isinstance(outcome, Failed):
            message = f"{outcome.message} (request {_short(request)})"
            if outcome.timeout is not None:
                raise PackingTimeout(outcome.timeout, message)
            raise ValueError(message)
        results.append(outcome.result)
    return results


def _short(request: Any) -> str:
    text = request if isinstance(request, str) else json.dumps(request, default=repr)
    return text if len(text) <= 80 else text[:77] + "..."


def _pack_lines(lines: Any, settings: BatchSettings) -> list[str]:
    out = []
    for number, line in enumerate(lines, start=1):
        if not isinstance(line, (str, bytes)):
            message = f"line {number}: an order line is text (str or bytes), not "
            out.append(error_line(None, message + type(line).__name__).rstrip("\n"))
            continue
        if not line.strip():
            continue
        text = line.rstrip(b"\r\n") if isinstance(line, bytes) else line.rstrip("\r\n")
        out.append(pack_order(("json", number, text, None), settings)[0].rstrip("\n"))
    return out


def pack_bag(
    bag: Any,
    *,
    optimise: bool = False,
    time_limit: float = DEFAULT_TIME_LIMIT,
    timeout: float | None = None,
) -> Any:
    """A Dask bag of the result JSON texts of a bag of requests, in the bag's order:
    for each request (a dict or JSON text shaped like {"items": [...], "boxes": [...]})
    what `stowvex.solve` returns, or the optimiser with `optimise=True`. A request the
    engine refuses fails the computation with a `ValueError` naming it, and one that the
    engine packs for longer than `timeout` seconds (when given; not with `optimise`)
    with a `PackingTimeout`; see `pack_lines` for a batch that records failures
    instead."""
    settings = PackSettings(optimise=optimise, time_limit=time_limit, timeout=timeout)
    return bag.map_partitions(_pack_requests, settings)


def pack_lines(
    lines: Any,
    *,
    boxes: str | None = None,
    optimise: bool = False,
    time_limit: float = DEFAULT_TIME_LIMIT,
    timeout: float | None = None,
    check: bool = False,
) -> Any:
    """`stowvex batch` on Dask: a bag of JSON Lines orders (str or bytes), such as
    ``dask.bag.read_text("orders-*.jsonl")``, becomes a bag of output lines
    {"id": ..., "result": {...}} or {"id": ..., "error": "..."}, one per order in the same
    order; `boxes` names a box catalogue file for orders without their own boxes. An
    order the engine packs for longer than `timeout` seconds (when given) gets an error
    line, and so does one with findings when `check` is true (as `stowvex batch`
    checks). An error line names the order's line, counted within its partition of the
    bag (for ``read_text`` of files without a ``blocksize``, the line of its file).
    Write them with ``.to_textfiles(...)``; add them up with `summarise_bag`."""
    catalogue = None if boxes is None else load_catalogue(boxes)
    settings = BatchSettings(
        optimise=optimise, time_limit=time_limit, timeout=timeout, boxes=catalogue, check=check
    )
    return lines.map_partitions(_pack_lines, settings)


def _partition_summary(results: Any) -> list[BatchSummary]:
    return [summarise(results)]


def summarise_bag(results: Any) -> BatchSummary:
    """The summary of a bag of results or output lines, added up on the workers."""
    total = BatchSummary()
    for part in results.map_partitions(_partition_summary).compute():
        total.merge(part)
    return total
