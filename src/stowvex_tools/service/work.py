"""What a packing process of the service does: it reads one piece of work at a time from
its pipe (pack, check, validate or render a body), does it and sends back the answer's
bytes or the problem it met. Nothing a body holds makes it raise: every fault becomes
a problem, and only the process's own death ends it mid-work."""

from __future__ import annotations

import json
import math
import os
import pickle
import signal
import tempfile
import time
from dataclasses import dataclass
from functools import lru_cache
from multiprocessing.connection import Connection
from pathlib import Path
from typing import Any

from .. import engine_calls
from ..engine_calls import PackingTimeout
from ..optimiser import DEFAULT_TIME_LIMIT, optimise_json
from ..order_packing import ORDER_ERRORS, fault_message
from ..orders import strict_loads
from ..request_check import Finding, check_request, ignored_rule_findings
from ..request_format import number_value
from ..settling import settle
from .problems import Problem

WARM_UP = (
    b'{"items": [{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1}], '
    b'"boxes": [{"Reference": "B", "Width": 2, "Length": 2, "Depth": 2}]}'
)

Reply = tuple[str, Any, Any]
"""("ok", media type, body bytes) or ("problem", Problem, None)."""


@dataclass(frozen=True)
class PackOptions:
    """How one request is packed: the exact engine with its timeout, or the optimiser
    with its settings; `check` runs the request check first."""

    optimise: bool = False
    time_limit: float = DEFAULT_TIME_LIMIT
    effort: int | None = None
    seed: int = 0
    min_support: float = 0.0
    threads: int = 1
    timeout: float = 10.0
    check: bool = True
    settle: bool = False  # every item moved straight down onto what is below it
    deadline: float | None = None  # time.monotonic() at which the request's time is up


def body_text(body: bytes) -> str:
    try:
        return body.decode("utf-8")
    except UnicodeDecodeError as error:
        raise Problem(
            "unreadable-body", f"the body is not UTF-8 text (byte {error.start}: {error.reason})"
        ) from None


def body_json(body: bytes) -> Any:
    """The parsed JSON of a body, read as the engine reads numbers; a problem of type
    unreadable-body when it is not UTF-8, not JSON, or nested too deeply to read."""
    text = body_text(body)
    try:
        return strict_loads(text)
    except RecursionError:
        raise Problem("unreadable-body", "the JSON is nested too deeply to be read") from None
    except ValueError as error:
        raise Problem("unreadable-body", f"the body is not valid JSON: {error}") from None


def finding_dict(finding: Finding) -> dict[str, Any]:
    return {
        "where": finding.where,
        "field": finding.field,
        "message": finding.message,
        "text": str(finding),
    }


def _cost_findings(costs: Any) -> list[Finding]:
    if costs is None:
        return []
    if not isinstance(costs, dict):
        return [Finding("request", "box_costs", "must be an object of box reference to cost")]
    found = []
    for reference, cost in costs.items():
        value = number_value(cost)
        if value is None or not (math.isfinite(value) and value >= 0):
            found.append(
                Finding("request", f"box_costs.{reference}", "a cost is a finite number, 0 or more")
            )
    return found


def _refuse_findings(findings: list[Finding]) -> None:
    if findings:
        more = f" (and {len(findings) - 1} more)" if len(findings) > 1 else ""
        raise Problem(
            "request-findings",
            f"{findings[0]}{more}",
            findings=[finding_dict(f) for f in findings],
        )


def _engine_problem(error: Exception) -> Problem:
    message = fault_message(error)
    if "parse_error" in message:
        return Problem("unreadable-body", f"the body is not valid JSON: {message}")
    return Problem("engine-refused", message)


def pack(body: bytes, options: PackOptions) -> bytes:
    """The result JSON text of a request body, as stowvex.solve (or the optimiser) writes
    it. The body goes to the engine as it came, so the answer is byte for byte what
    stowvex.solve returns for it."""
    costs = None
    value: Any = None
    if options.check or options.optimise or options.settle:
        value = body_json(body)
        if isinstance(value, dict):
            value = dict(value)
            costs = value.pop("box_costs", None)
        if options.check:
            ignored = [] if options.optimise else ignored_rule_findings(value)
            _refuse_findings(check_request(value) + _cost_findings(costs) + ignored)
        elif _cost_findings(costs):
            raise Problem("engine-refused", str(_cost_findings(costs)[0]))
    # The time the request has left, once read and checked (the clock is the machine's
    # monotonic clock, which every process reads alike).
    left = options.timeout
    if options.deadline is not None:
        left = options.deadline - time.monotonic()
        if left <= 0.0:
            raise Problem(
                "timeout",
                f"the request ran past its timeout of {options.timeout:g} s before it was packed",
                timeout=options.timeout,
            )
    try:
        if options.optimise:
            result = optimise_json(
                body,
                time_limit=min(options.time_limit, left),
                effort=options.effort,
                seed=options.seed,
                min_support=options.min_support,
                box_costs=costs,
                threads=options.threads,
            )
        else:
            result = engine_calls.solve(body, timeout=left, threads=options.threads)
    except PackingTimeout:
        message = (
            f"the packing ran past the request's timeout of {options.timeout:g} s and was stopped"
        )
        raise Problem("timeout", message, timeout=options.timeout) from None
    except ORDER_ERRORS as error:
        raise _engine_problem(error) from None
    if options.settle and isinstance(value, dict):
        settled = settle(result, value.get("items"), value.get("boxes"))
        result = settled.result.to_json(-1)
    return result.encode("utf-8")


def check(body: bytes) -> bytes:
    """The findings of the request check, as {"findings": [...]}."""
    value = body_json(body)
    costs = None
    if isinstance(value, dict) and "box_costs" in value:
        value = dict(value)
        costs = value.pop("box_costs")
    findings = check_request(value) + _cost_findings(costs)
    answer = {"findings": [finding_dict(f) for f in findings], "count": len(findings)}
    return json.dumps(answer, ensure_ascii=False).encode("utf-8")


def validate(body: bytes, min_support: float) -> bytes:
    """The violations of {"request": ..., "result": ...}, as {"violations": [...]}."""
    from ..checker import validate_request

    value = body_json(body)
    if not isinstance(value, dict) or "request" not in value or "result" not in value:
        raise Problem(
            "unusable-input",
            'the body is an object with the request under "request" and its result under "result"',
        )
    request, result = value["request"], value["result"]
    if not isinstance(request, dict):
        raise Problem("unusable-input", '"request" must be a request object')
    try:
        violations = validate_request(result, request, min_support=min_support)
    except (TypeError, ValueError) as error:
        raise Problem("unusable-input", fault_message(error)) from None
    answer = {
        "violations": [
            {
                "kind": v.kind,
                "message": v.message,
                "box_index": v.box_index,
                "box_reference": v.box_reference,
                "item_codes": list(v.item_codes),
                "text": str(v),
            }
            for v in violations
        ],
        "count": len(violations),
    }
    return json.dumps(answer, ensure_ascii=False).encode("utf-8")


@lru_cache(maxsize=1)
def _plotly_js() -> str:
    from ..optional_dependencies import require

    offline = require("plotly.offline", "render", "Drawing a result as HTML")
    source: str = offline.get_plotlyjs()
    return source


def _result(body: bytes) -> dict[str, Any]:
    from ..checker.result_reading import read_result
    from ..summary import result_dict

    value = body_json(body)
    try:
        data = result_dict(value)
        read_result(data)
    except (TypeError, ValueError) as error:
        raise Problem("unusable-input", f"not a result: {fault_message(error)}") from None
    for box in data["boxes"]:
        for item in box["items"]:
            for key in ("x", "y", "z", "width", "length", "depth"):
                number = number_value(item.get(key))
                if number is None or not math.isfinite(number) or abs(number) > 1e15:
                    raise Problem(
                        "unusable-input",
                        f"not a result that can be drawn: {key} {item.get(key)!r} of item "
                        f"{item.get('ItemCode')!r}",
                    )
    return data


def render(body: bytes, picture: str, title: str, box: int) -> Reply:
    """The HTML page of a result, or the PNG picture of its box number `box` (from 1)."""
    data = _result(body)
    if picture == "html":
        from ..render_html import page

        return ("ok", "text/html; charset=utf-8", page(data, title, _plotly_js()).encode())
    from ..render_png import render_png

    if not data["boxes"]:
        raise Problem("unusable-input", "the result has no packed box to draw")
    if not 1 <= box <= len(data["boxes"]):
        raise Problem("unusable-input", f"box {box}: the result has {len(data['boxes'])} boxes")
    one = dict(data, boxes=[data["boxes"][box - 1]])
    with tempfile.TemporaryDirectory(prefix="stowvex-render-") as folder:
        (path,) = render_png(one, folder, title=title)
        return ("ok", "image/png", Path(path).read_bytes())


def do(kind: str, body: bytes, options: Any) -> Reply:
    """One piece of work; every fault it meets comes back as a problem."""
    try:
        if kind == "pack":
            return ("ok", "application/json", pack(body, options))
        if kind == "check":
            return ("ok", "application/json", check(body))
        if kind == "validate":
            return ("ok", "application/json", validate(body, options))
        if kind == "render":
            return render(body, *options)
        raise Problem("internal-error", f"unknown work {kind!r}")
    except Problem as problem:
        return ("problem", problem, None)
    except RecursionError:
        return ("problem", Problem("unreadable-body", "nested too deeply to be read"), None)
    except MemoryError:
        return ("problem", Problem("body-too-large", "too large to be handled"), None)
    except Exception as error:  # a fault of the service itself: its message, no traceback
        message = f"{type(error).__name__}: {fault_message(error)}"
        return ("problem", Problem("internal-error", message), None)


def serve_pipe(connection: Connection) -> None:
    """The loop of a packing process: work in, answer out, until the pipe closes."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # the service's to handle
    do("pack", WARM_UP, PackOptions())  # the first request then pays no imports
    connection.send_bytes(pickle.dumps(("ready", os.getpid(), None)))
    while True:
        try:
            kind, body, options = pickle.loads(connection.recv_bytes())
        except (EOFError, OSError):
            return
        reply = do(kind, body, options)
        try:
            connection.send_bytes(pickle.dumps(reply, protocol=pickle.HIGHEST_PROTOCOL))
        except (BrokenPipeError, OSError):
            return
