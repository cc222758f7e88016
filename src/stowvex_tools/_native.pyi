"""The compiled part of stowvex_tools; use that package's functions."""

from collections.abc import Mapping, Sequence

from stowvex import Box, Item, PackResult

def optimise(
    items: Sequence[Item],
    boxes: Sequence[Box],
    *,
    time_limit: float | None,
    effort: int | None,
    seed: int,
    min_support: float,
    box_costs: Mapping[str, float] | None,
    threads: int,
    rules: str | None = None,
) -> PackResult: ...
def optimise_request(
    request_json: str | bytes,
    *,
    time_limit: float | None,
    effort: int | None,
    seed: int,
    min_support: float,
    box_costs: Mapping[str, float] | None,
    threads: int,
    rules: str | None = None,
) -> PackResult: ...
def optimiser_work() -> int: ...
def packing_work(
    request_json: str | bytes, *, timeout: float | None = None, watch_signals: bool = False
) -> tuple[int, int] | None: ...
def solve(
    request_json: object, *, timeout: float | None, threads: int, watch_signals: bool
) -> str | None: ...
def pack(
    items: object, boxes: object, *, timeout: float | None, threads: int, watch_signals: bool
) -> PackResult | None: ...
def pack_dicts(
    items: object, boxes: object, *, timeout: float | None, threads: int, watch_signals: bool
) -> PackResult | None: ...
def result_of(
    boxes: Sequence[
        tuple[Box, Sequence[tuple[Item, float, float, float, str, float, float, float]]]
    ],
    unplaced: Sequence[Item],
) -> PackResult: ...
