"""The engine's entry points for long packings: :func:`solve`, :func:`pack` and
:func:`pack_dicts` return exactly what the functions of :mod:`stowvex` of the same
names return, and raise exactly their errors for bad input, but they release the
interpreter lock while they pack, so that other Python threads run meanwhile, and they
can be stopped: by a timeout, and by Ctrl-C."""

from __future__ import annotations

import math
import threading
from collections.abc import Sequence
from typing import Any, TypedDict

from stowvex import Box, Item, PackResult

from . import _native
from .request_format import number_value

__all__ = ["MAX_THREADS", "PackingTimeout", "pack", "pack_dicts", "solve"]

MAX_THREADS = 256
"""The most threads a call may give the engine."""


class PackingTimeout(TimeoutError):
    """A packing that ran past its timeout and was stopped. Everything it had made is
    freed, and the next call packs as if it had never run.

    :param timeout: The limit it ran past, in seconds (also the attribute ``timeout``).
    :param message: The message; by default one that names the limit.
    """

    def __init__(self, timeout: float, message: str | None = None) -> None:
        if message is None:
            message = f"the packing ran past its timeout of {timeout:g} s and was stopped"
        super().__init__(message)
        self.timeout = timeout

    def __reduce__(self) -> tuple[Any, ...]:
        return (PackingTimeout, (self.timeout, str(self)))


class _Control(TypedDict):
    # The keywords of the extension's calls, each of the type it takes.
    timeout: float | None
    threads: int
    watch_signals: bool


def timeout_seconds(timeout: object) -> float | None:
    """A timeout as the calls take it: None, or a positive finite number of seconds (an
    int or a float, not a bool). Raises TypeError or ValueError for anything else."""
    if timeout is None:
        return None
    seconds = number_value(timeout)
    if seconds is None:
        kind = type(timeout).__name__
        raise TypeError(f"timeout must be a number of seconds or None, not {kind}")
    if not (seconds > 0 and math.isfinite(seconds)):
        raise ValueError(f"timeout must be a positive finite number of seconds, not {timeout!r}")
    return seconds


def on_main_thread() -> bool:
    """Whether this is the main thread, the one that runs signal handlers, such as the
    one that turns Ctrl-C into KeyboardInterrupt; a call there watches for them."""
    return threading.current_thread() is threading.main_thread()


def _control(timeout: object, threads: object) -> _Control:
    seconds = timeout_seconds(timeout)
    if isinstance(threads, bool) or not isinstance(threads, int):
        raise TypeError(f"threads must be an int, not {type(threads).__name__}")
    if not 1 <= threads <= MAX_THREADS:
        raise ValueError(f"threads must be from 1 to {MAX_THREADS}, not {threads!r}")
    return {"timeout": seconds, "threads": threads, "watch_signals": on_main_thread()}


def _finished(result: Any, control: _Control) -> Any:
    if result is None:
        timeout = control["timeout"]
        assert timeout is not None  # only a timeout ends a call with nothing
        raise PackingTimeout(timeout)
    return result


def solve(
    request_json: str | bytes | bytearray, *, timeout: float | None = None, threads: int = 1
) -> str:
    """:func:`stowvex.solve` with the interpreter lock released while it packs: the
    result JSON text of a request's JSON text, the very same text, and for bad input
    the very same error (type and message).

    :param request_json: A request, ``{"items": [...], "boxes": [...]}``, as
        :func:`stowvex.solve` reads it (str, bytes or bytearray). It is copied before
        the lock is released.
    :param timeout: Seconds the call may take, reading and packing (a positive finite
        number), or None (the default) for no limit. A call that runs longer stops
        within some milliseconds and raises :class:`PackingTimeout`.
    :param threads: Threads the engine may use, 1 to 256 (default 1). The result never
        depends on it; today the engine packs on the calling thread alone.
    :returns: The result JSON text, compact.
    :raises PackingTimeout: The timeout passed.
    :raises KeyboardInterrupt: Ctrl-C, on the main thread: the packing stops at once.
        So does any other exception that a signal handler raises meanwhile.
    :raises TypeError: ``timeout`` or ``threads`` of the wrong type, or whatever
        :func:`stowvex.solve` raises.
    :raises ValueError: ``timeout`` or ``threads`` out of range, or whatever
        :func:`stowvex.solve` raises.
    """
    control = _control(timeout, threads)
    return str(_finished(_native.solve(request_json, **control), control))


def pack(
    items: Sequence[Item],
    boxes: Sequence[Box],
    *,
    timeout: float | None = None,
    threads: int = 1,
) -> PackResult:
    """:func:`stowvex.pack` with the interpreter lock released while it packs: a
    :class:`stowvex.PackResult` with the same figures, whose placements refer to these
    very objects, and for bad input the very same error.

    ``timeout`` and ``threads`` are those of :func:`solve`, with the same errors.
    """
    control = _control(timeout, threads)
    result: PackResult = _finished(
        _native.pack(_readable_twice(items), _readable_twice(boxes), **control), control
    )
    return result


def _readable_twice(values: Any) -> Any:
    # The extension reads the sequences and, when it cannot take them, hands them to
    # stowvex.pack for its error: an iterator, which gives its elements once, is made a
    # list first. (An error for a list then names the list where stowvex.pack would
    # name the iterator.)
    try:
        one_shot = iter(values) is values
    except TypeError:
        return values
    return list(values) if one_shot else values


def pack_dicts(
    items: Any, boxes: Any, *, timeout: float | None = None, threads: int = 1
) -> PackResult:
    """:func:`stowvex.pack_dicts` with the interpreter lock released while it packs:
    the values are read exactly as :func:`stowvex.pack_dicts` reads them (through
    :func:`json.dumps`, with the lock held), the result has the same figures, and bad
    input raises the very same error.

    ``timeout`` and ``threads`` are those of :func:`solve`, with the same errors; the
    time of the call includes the reading of the values.
    """
    control = _control(timeout, threads)
    result: PackResult = _finished(_native.pack_dicts(items, boxes, **control), control)
    return result
