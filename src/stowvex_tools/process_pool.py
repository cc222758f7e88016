"""Packing on every core: a pool of worker processes that maps tasks in input order,
and `pack_many`, which packs many requests on it."""

from __future__ import annotations

import multiprocessing
import os
import select
import signal
import sys
import threading
import time
from collections import deque
from collections.abc import Callable, Generator, Iterable, Iterator, Mapping, Sized
from concurrent.futures import Future, ProcessPoolExecutor
from concurrent.futures.process import BrokenProcessPool
from itertools import islice
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


def _install(function: Callable[[Any, Any], Any], settings: Any, caller: int) -> None:
    # Ctrl-C is the caller's to handle: it stops the pool, which ends the workers.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    _end_with_caller(caller)
    _worker_settings[:] = [function, settings]


def _end_with_caller(pid: int) -> None:
    """Ends this worker, quietly, as soon as the process that made its pool ends, such as
    a batch killed with `kill -9`: no worker stays behind packing orders whose results
    no one reads, to die later writing them to a closed pipe. (The forkserver, which
    started the worker, does not end first: each worker holds it alive.)"""
    try:
        watched: int | None = os.pidfd_open(pid)
    except ProcessLookupError:
        os._exit(1)
    except (AttributeError, OSError):  # no pidfd on this system: look twice a second
        watched = None

    def watch() -> None:
        if watched is not None:
            select.select([watched], [], [])
        else:
            while _alive(pid):
                time.sleep(0.5)
        os._exit(1)

    threading.Thread(target=watch, name="stowvex-caller-watch", daemon=True).start()


def _alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    return True


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


class _Pool:
    """A process pool that can be replaced by a new one when a worker dies."""

    def __init__(self, workers: int, function: Callable[[Any, Any], Any], settings: Any) -> None:
        self._arguments = (workers, function, settings)
        self.executor = self._start()

    def _start(self) -> ProcessPoolExecutor:
        workers, function, settings = self._arguments
        # A fresh interpreter per worker (forkserver): forking a process that runs
        # threads, such as a progress bar's, is unsafe.
        methods = multiprocessing.get_all_start_methods()
        context = multiprocessing.get_context("forkserver" if "forkserver" in methods else "spawn")
        return ProcessPoolExecutor(
            workers,
            mp_context=context,
            initializer=_install,
            initargs=(function, settings, os.getpid()),
        )

    def submit(self, chunk: list[Any]) -> Future[list[Any]]:
        return self.executor.submit(_run_chunk, chunk)

    def restart(self) -> None:
        self.stop()
        self.executor = self._start()

    def stop(self, wait: bool = True) -> None:
        """Ends the pool; without `wait`, its workers are ended at once, work in hand lost."""
        if not wait:
            # The workers ignore Ctrl-C and may be packing a long order: end them, or
            # shutting down would wait for them.
            processes = getattr(self.executor, "_processes", None) or {}
            for process in list(processes.values()):
                process.kill()
        self.executor.shutdown(wait=True, cancel_futures=not wait)


def ordered_map(
    function: Callable[[T, Any], R],
    tasks: Iterable[T],
    settings: Any,
    *,
    workers: int | None = None,
    largest_chunk: int = MAX_CHUNK,
    lost: Callable[[T], R] | None = None,
    split: Callable[[T], list[T]] | None = None,
) -> Generator[R, None, None]:
    """function(task, settings) for every task, in task order, on `workers` processes
    (default: every core); with one worker in this process. `function` and `settings`
    must be picklable (a module-level function; settings travel once per worker).
    Tasks travel in chunks of up to `largest_chunk`.

    When a worker process dies (killed, out of memory), the tasks in flight are lost.
    Without `lost`, the map raises `BrokenProcessPool` when the first of them is due.
    With `lost`, they are given to a new pool, one task a chunk (or, with `split`, the
    parts `split(task)` makes of it, each yielding a result of its own), and a task
    whose worker dies once more gives `lost(task)` instead of its result; the map goes
    on with a new pool."""
    workers = default_workers() if workers is None else workers
    if workers < 1:
        raise ValueError(f"workers must be at least 1, not {workers}")
    if workers == 1:
        for task in tasks:
            yield function(task, settings)
        return
    pool = _Pool(workers, function, settings)
    # Each entry: the chunk, its future, and whether it is already a second try.
    pending: deque[tuple[list[T], Future[list[R]], bool]] = deque()
    finished = False
    try:
        for chunk in chunks(tasks, largest_chunk):
            pending.append((chunk, pool.submit(chunk), False))
            if len(pending) >= workers * CHUNKS_PER_WORKER:
                yield from _next_done(pool, pending, lost, split)
        while pending:
            yield from _next_done(pool, pending, lost, split)
        finished = True
    finally:
        pool.stop(wait=finished)


def _next_done(
    pool: _Pool,
    pending: deque[tuple[list[T], Future[list[R]], bool]],
    lost: Callable[[T], R] | None,
    split: Callable[[T], list[T]] | None,
) -> list[R]:
    """The results of the first chunk in flight, once it is done."""
    future = pending[0][1]
    try:
        results = future.result()
    except BrokenProcessPool:
        if lost is None:
            raise BrokenProcessPool(
                "a worker process ended unexpectedly (killed, or out of memory): the tasks "
                "it was given are lost"
            ) from None
        _retry(pool, pending, lost, split or (lambda task: [task]))
        return []
    pending.popleft()
    return results


def _retry(
    pool: _Pool,
    pending: deque[tuple[list[T], Future[list[R]], bool]],
    lost: Callable[[T], R],
    split: Callable[[T], list[T]],
) -> None:
    """Gives the chunks in flight of a broken pool to a new one: those done keep their
    results, the others go again one part of a task a chunk, and a task that was
    already a second try gets its `lost` result."""
    entries = list(pending)
    pending.clear()
    pool.restart()
    for chunk, future, retried in entries:
        if future.done() and not future.cancelled() and future.exception() is None:
            pending.append((chunk, future, retried))
        elif retried:
            done: Future[list[R]] = Future()
            done.set_result([lost(task) for task in chunk])
            pending.append((chunk, done, True))
        else:
            for task in chunk:
                for part in split(task):
                    pending.append(([part], pool.submit([part]), True))


def pack_many(
    requests: Iterable[Request],
    *,
    workers: int | None = None,
    optimise: bool = False,
    progress: bool = True,
    time_limit: float | None = DEFAULT_TIME_LIMIT,
    timeout: float | None = None,
    effort: int | None = None,
    seed: int = 0,
    min_support: float = 0.0,
    box_costs: Mapping[str, float] | None = None,
    threads: int = 1,
) -> Iterator[str]:
    """Packs every request on worker processes and yields the result JSON texts of
    `stowvex.solve` in input order.

    `requests` is any iterable of requests, each a dict or JSON text shaped like
    {"items": [...], "boxes": [...]}; it is read as the workers need more, so it may
    be longer than memory. `workers` defaults to every core (1 packs in this process).
    `optimise=True` packs with the optimiser for up to `time_limit` seconds a request,
    with the other keywords of `optimise` (`effort`, `seed`, `min_support`,
    `box_costs`, `threads`); they are checked before any request is packed, and raise
    TypeError or ValueError at the call.
    `progress` shows a progress bar on standard error. A request the engine refuses
    raises `OrderError` (a `ValueError` naming the request's index) when its turn comes.
    With a `timeout` (seconds; the exact engine's, not given with `optimise`), a request
    that packs longer raises `PackingTimeout`, naming its index, when its turn comes.
    A worker process that dies (killed, out of memory) raises
    `concurrent.futures.process.BrokenProcessPool` when the first request it held is
    due; the results before it have been yielded, and the other workers are ended.
    Turn the texts into dicts with `result_dict` and add them up with `summarise`.

    Worker processes are started afresh, which re-imports the calling script: call
    `pack_many` from under ``if __name__ == "__main__":`` in a script."""
    settings = PackSettings(
        optimise=optimise,
        time_limit=time_limit,
        timeout=timeout,
        effort=effort,
        seed=seed,
        min_support=min_support,
        box_costs=box_costs,
        threads=threads,
    )
    if workers is not None and (isinstance(workers, bool) or not isinstance(workers, int)):
        raise TypeError(f"workers must be an int or None, not {type(workers).__name__}")
    if workers is not None and workers < 1:
        raise ValueError(f"workers must be at least 1, not {workers}")
    total = len(requests) if isinstance(requests, Sized) else None
    return _packed(requests, settings, workers, progress, total)


def _packed(
    requests: Iterable[Request],
    settings: PackSettings,
    workers: int | None,
    progress: bool,
    total: int | None,
) -> Iterator[str]:
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
