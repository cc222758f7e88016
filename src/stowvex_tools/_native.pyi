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
) -> PackResult: ...
def packing_work(request_json: str | bytes) -> tuple[int, int]: ...
