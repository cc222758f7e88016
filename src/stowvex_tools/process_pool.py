"""Packing on every core: a pool of worker processes that maps tasks in input order,
and `pack_many`, which packs many requests on it."""

from __future__ import annotations

import multiprocessing
import os
import signal
import sys
from collections import deque
from collections.abc import Callable, Generator, Iterable, Iterator, Sized
from itertools import islice
from multiprocessing.pool import AsyncResult
from typing import Any, TypeVar

from tqdm import tqdm

from .engine_calls import PackingTimeout
from .optimiser import DEFAULT_TIME_LIMIT
from .order_packing import Failed, PackSettings, Request, pack_one

T = TypeVar("T")
R = TypeVar("R")

# Orders go to the workers in chunks, which double in size from 1 up to this, so a
# few requests spread over all workers at once and long runs pay little per order:
# each chunk costs the process that hands them out about a millisecond (pickling,
# pipes, its threads), as much as the packing of a few orders.
MAX_CHUNK = 1024
# Chunks in flight per worker: enough to keep every worker busy, few enough that
# memory stays bounded however long the input is.
CHUNKS_PER_WORKER = 4


class OrderError(ValueError):
    """A request of `pack_many` that the engine refused; `index` counts from 0."""

    def __init__(self, index: int, message: str) -> None:
        super().__init__(f"request {index}: {message}")
        self.index = index
        self.message = message

    def __reduce__(self) -> tuple[Any, ...]:
        return (OrderError, (self.index, self.message))


def default_workers() -> int:
    """The cores this process may run on."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except AttributeError:  # not on Linux
        return max(1, os.cpu_count() or 1)


def progress_bar(total: int | None, enabled: bool, initial: int = 0) -> tqdm[Any]:
    """The progress bar of long runs, on standard error, counting orders per second."""
    return tqdm(
        total=total,
        initial=initial,
        unit=" orders",
        disable=not enabled,
        file=sys.stderr,
        dynamic_ncols=True,
        smoothing=0.1,
        mininterval=0.25,
    )


# Settings of the worker process, installed once by the pool's initialiser.
_worker_settings: list[Any] = []


def _install(function: Callable[[Any, Any], Any], settings: Any) -> None:
    # Ctrl-C is the caller's to handle: it stops the pool, which ends the workers.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    _worker_settings[:] = [function, settings]


def _run_chunk(chunk: list[Any]) -> list[Any]:
    function, settings = _worker_settings
    return [function(task, settings) for task in chunk]


def chunks(tasks: Iterable[T], largest: int = MAX_CHUNK) -> Iterator[list[T]]:
    """The tasks in lists of 1, 2, 4, ... up to `largest` tasks."""
    iterator = iter(tasks)
    size = 1
    while chunk := list(islice(iterator, size)):
        yield chunk
        size = min(size * 2, largest)


def ordered_map(
    function: Callable[[T, Any], R],
    tasks: Iterable[T],
    settings: Any,
    *,
    workers: int | None = None,
    largest_chunk: int = MAX_CHUNK,
) -> Generator[R, None, None]:
    """function(task, settings) for every task, in task order, on `workers` processes
    (default: every core); with one worker in this process. `function` and `settings`
    must be picklable (a module-level function; settings travel once per worker).
    Tasks travel in chunks of up to `largest_chunk`."""
    workers = default_workers() if workers is None else workers
    if workers < 1:
        raise ValueError(f"workers must be at least 1, not {workers}")
    if workers == 1:
        for task in tasks:
            yield function(task, settings)
        return
    # A fresh interpreter per worker (forkserver): forking a process that runs threads,
    # such as a progress bar's, is unsafe.
    methods = multiprocessing.get_all_start_methods()
    context = multiprocessing.get_context("forkserver" if "forkserver" in methods else "spawn")
    pool = context.Pool(workers, initializer=_install, initargs=(function, settings))
    pending: deque[AsyncResult[list[R]]] = deque()
    finished = False
    try:
        for chunk in chunks(tasks, largest_chunk):
            pending.append(pool.apply_async(_run_chunk, (chunk,)))
            if len(pending) >= workers * CHUNKS_PER_WORKER:
                yield from pending.popleft().get()
        while pending:
            yield from pending.popleft().get()
        finished = True
    finally:
        if finished:
            pool.close()
        else:  # stopped early (an error, Ctrl-C, or the caller left): drop the work in hand
            pool.terminate()
        pool.join()


def pack_many(
    requests: Iterable[Request],
    *,
    workers: int | None = None,
    optimise: bool = False,
    progress: bool = True,
    time_limit: float = DEFAULT_TIME_LIMIT,
    timeout: float | None = None,
) -> Iterator[str]:
    """Packs every request on worker processes and yields the result JSON texts of
    `stowvex.solve` in input order.

    `requests` is any iterable of requests, each a dict or JSON text shaped like
    {"items": [...], "boxes": [...]}; it is read as the workers need more, so it may
    be longer than memory. `workers` defaults to every core (1 packs in this process).
    `optimise=True` packs with the optimiser for up to `time_limit` seconds a request.
    `progress` shows a progress bar on standard error. A request the engine refuses
    raises `OrderError` (a `ValueError` naming the request's index) when its turn comes.
    With a `timeout` (seconds; the exact engine's, not given with `optimise`), a request
    that packs longer raises `PackingTimeout`, naming its index, when its turn comes.
    Turn the texts into dicts with `result_dict` and add them up with `summarise`.

    Worker processes are started afresh, which re-imports the calling script: call
    `pack_many` from under ``if __name__ == "__main__":`` in a script."""
    settings = PackSettings(optimise=optimise, time_limit=time_limit, timeout=timeout)
    total = len(requests) if isinstance(requests, Sized) else None
    results = ordered_map(pack_one, requests, settings, workers=workers)
    try:
        with progress_bar(total, progress) as bar:
            for index, outcome in enumerate(results):
                if isinstance(outcome, Failed):
                    if outcome.timeout is not None:
                        raise PackingTimeout(outcome.timeout, f"request {index}: {outcome.message}")
                    raise OrderError(index, outcome.message)
                bar.update()
                yield outcome.result
    finally:
        results.close()
