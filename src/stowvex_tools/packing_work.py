"""How much packing the engine does for a request: a diagnostic of its method."""

from __future__ import annotations

from collections.abc import Mapping
from typing import Any, NamedTuple

from . import _native
from .engine_calls import PackingTimeout, on_main_thread, timeout_seconds
from .order_packing import request_text

__all__ = ["PackingWork", "packing_work"]


class PackingWork(NamedTuple):
    """The single-box packings of one engine run on a request."""

    asked: int
    """Single-box packings the engine's method calls for: one for every box type
    it tries for the items still left each time it opens a box, and one for
    every box type the weight balancing tries for a list of items."""
    packed: int
    """Those it actually had to pack; the rest it answered from what it had
    already packed. Never more than ``asked``."""


def packing_work(
    request: str | bytes | Mapping[str, Any], *, timeout: float | None = None
) -> PackingWork:
    """How many single-box packings the engine's method calls for on this
    request, and how many it actually had to pack (the rest it answered from
    what it had already packed).

    ``request`` is what :func:`stowvex_tools.pack_request` takes: a dict, or JSON
    text shaped like ``{"items": [...], "boxes": [...]}``, as :func:`stowvex.solve`
    reads it. The request is packed once with the engine, exactly as
    :func:`stowvex.solve` packs it, and the result is left out. Bad input raises
    what :func:`stowvex.solve` raises.

    The interpreter lock is released while the engine packs, as by
    :func:`stowvex_tools.solve`, and so are its ``timeout`` (seconds, or None for no
    limit: :class:`stowvex_tools.PackingTimeout` when it passes) and Ctrl-C.
    """
    seconds = timeout_seconds(timeout)
    text = request_text(request)
    work = _native.packing_work(text, timeout=seconds, watch_signals=on_main_thread())
    if work is None:
        assert seconds is not None  # only a timeout ends a call with nothing
        raise PackingTimeout(seconds)
    return PackingWork(*work)
