"""Packing one order, by the engine or by the optimiser, with every fault an order can
cause turned into its message: the one way the process pool, the batch, Dask and the
command line pack an order."""

from __future__ import annotations

import json
from collections.abc import Mapping
from dataclasses import dataclass
from typing import Any, NamedTuple

from . import engine_calls
from .engine_calls import PackingTimeout, timeout_seconds
from .optimiser import DEFAULT_TIME_LIMIT, optimise_json, optimiser_keywords
from .settling import poorly_supported
from .summary import OrderFigures

Request = str | bytes | Mapping[str, Any]
"""A request: a dict shaped like {"items": [...], "boxes": [...]}, or its JSON text."""

ORDER_ERRORS: tuple[type[Exception], ...] = (
    ValueError,  # the engine refuses the request, or its text is not JSON
    RuntimeError,  # the engine's JSON reader refuses it
    TypeError,  # a value of another type than the request format has
    OverflowError,  # a number too large
    RecursionError,  # nested too deeply
    MemoryError,  # too large to pack
)
"""What packing one order raises for a fault of that order. A timeout
(`stowvex_tools.PackingTimeout`) also fails the order alone; any other exception, such
as KeyboardInterrupt, is no fault of the order and ends the run."""


def fault_message(error: Exception) -> str:
    """The message an order's output gives for the fault that stopped it."""
    return str(error) or type(error).__name__


class RequestValues(NamedTuple):
    """The items and box types of a request as parsed JSON values."""

    items: Any
    boxes: Any


class Packed(NamedTuple):
    """A packed order: its result JSON text, and its figures when they came with it."""

    result: str
    figures: OrderFigures | None = None


class Failed(NamedTuple):
    """An order that could not be packed, and why; `timeout` is the limit it ran past
    when its timeout stopped it."""

    message: str
    timeout: float | None = None


@dataclass(frozen=True)
class PackSettings:
    """How every order of a run is packed: by the engine, stopped after `timeout`
    seconds an order when one is given, or by the optimiser for up to `time_limit`
    seconds an order, with the other keywords of `optimise` (`effort`, `seed`,
    `min_support`, `box_costs`, `threads`). The timeout is the exact engine's: the
    optimiser ends its search at its time limit instead, so the two are not given
    together. Every setting is checked when the settings are made, before any order is
    packed: TypeError or ValueError."""

    optimise: bool = False
    time_limit: float | None = DEFAULT_TIME_LIMIT
    timeout: float | None = None
    effort: int | None = None
    seed: int = 0
    min_support: float = 0.0
    box_costs: Mapping[str, float] | None = None
    threads: int = 1

    def __post_init__(self) -> None:
        object.__setattr__(self, "timeout", timeout_seconds(self.timeout))
        if self.optimise and self.timeout is not None:
            raise ValueError(
                "timeout applies to the exact engine; the optimiser stops at its time_limit"
            )
        if self.optimise:
            keywords = optimiser_keywords(
                time_limit=self.time_limit,
                effort=self.effort,
                seed=self.seed,
                min_support=self.min_support,
                box_costs=self.box_costs,
                threads=self.threads,
            )
            for name, value in keywords.items():
                object.__setattr__(self, name, value)

    def _keywords(self) -> dict[str, Any]:
        return {
            "time_limit": self.time_limit,
            "effort": self.effort,
            "seed": self.seed,
            "min_support": self.min_support,
            "box_costs": self.box_costs,
            "threads": self.threads,
        }

    def solve(self, request_json: str | bytes) -> str:
        """The result JSON text of a request's JSON text."""
        if not self.optimise:
            return engine_calls.solve(request_json, timeout=self.timeout)
        if isinstance(request_json, bytes):
            request_json = request_json.decode("utf-8")
        return optimise_json(request_json, **self._keywords())

    def pack_values(self, request: RequestValues) -> Packed:
        """The result JSON text of a request of parsed values, and its figures. The engine
        reads the values as `solve` reads their text (pack_dicts; the same result, byte
        for byte), and the figures come from the result objects instead of a second
        reading of the text."""
        if self.optimise:
            text = self.solve(json.dumps(request._asdict(), ensure_ascii=False))
            return Packed(text, OrderFigures.of(json.loads(text)))
        result = engine_calls.pack_dicts(request.items, request.boxes, timeout=self.timeout)
        boxes = result.boxes
        figures = OrderFigures(
            tuple(b.box.reference for b in boxes),
            result.total_placed,
            result.total_unplaced,
            sum(b.used_volume for b in boxes),
            sum(b.inner_volume for b in boxes),
            poorly_supported(
                [(p.x, p.y, p.z, p.width, p.length, p.depth) for p in b.items] for b in boxes
            ),
        )
        return Packed(result.to_json(-1), figures)


def request_text(request: Request) -> str | bytes:
    """A request as the JSON text the engine reads: text is passed on unchanged."""
    if isinstance(request, (str, bytes)):
        return request
    if not isinstance(request, Mapping):
        raise TypeError(f"a request is a dict or JSON text, not {type(request).__name__}")
    return json.dumps(request, ensure_ascii=False, allow_nan=False)


def pack_request(
    request: Request,
    *,
    optimise: bool = False,
    time_limit: float = DEFAULT_TIME_LIMIT,
    timeout: float | None = None,
) -> str:
    """Packs one request (a dict or JSON text shaped like {"items": [...], "boxes": [...]})
    and returns the result JSON text of `stowvex.solve`, or of the optimiser with
    `optimise=True`. Bad input raises what the engine raises (`ValueError`, `RuntimeError`).
    The engine packs with the interpreter lock released (`stowvex_tools.solve`); with a
    `timeout` (seconds, the engine's only) a longer packing raises `PackingTimeout`."""
    settings = PackSettings(optimise, time_limit, timeout)
    return settings.solve(request_text(request))


def pack_one(request: Request | RequestValues, settings: PackSettings) -> Packed | Failed:
    """Packs one order: a request (text, or a dict that becomes text), packed as `solve`
    packs it, or the parsed values of one, packed from the values with the figures of
    the result. Every fault the order can cause (`ORDER_ERRORS`), and its timeout, comes
    back as `Failed` with its message instead of being raised."""
    try:
        if isinstance(request, RequestValues):
            return settings.pack_values(request)
        return Packed(settings.solve(request_text(request)))
    except PackingTimeout as timeout:
        return Failed(fault_message(timeout), timeout.timeout)
    except ORDER_ERRORS as error:
        return Failed(fault_message(error))
