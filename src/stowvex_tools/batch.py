"""A batch file of orders packed into a JSON Lines file of results, resumable."""

from __future__ import annotations

import contextlib
import errno
import fcntl
import json
import os
import shutil
import stat
import tempfile
import time
from collections.abc import Iterator, Mapping
from dataclasses import dataclass, field, replace
from itertools import islice
from typing import Any, BinaryIO

from .batch_lines import BatchSettings, lost_orders, order_id_of, pack_orders
from .optimiser import DEFAULT_TIME_LIMIT
from .orders import (
    InputError,
    OrderTask,
    check_csv_header,
    check_json_lines,
    count_orders,
    is_csv,
    load_catalogue,
    open_orders,
)
from .process_pool import chunks, default_workers, ordered_map, progress_bar
from .summary import BatchSummary, OrderFigures


@dataclass
class DoneOrders:
    """The complete lines an earlier run left in an output file."""

    ids: list[Any] = field(default_factory=list)
    summary: BatchSummary = field(default_factory=BatchSummary)
    size: int = 0  # bytes of the complete lines; anything after them is cut off


def read_done(path: str) -> DoneOrders:
    """The orders an output file already holds. A last line without its line break was
    cut short by an interruption and is dropped (it is packed again)."""
    done = DoneOrders()
    try:
        handle = open(path, "rb")  # noqa: SIM115 - closed by the with block below
    except FileNotFoundError:
        return done
    except OSError as error:
        raise InputError(f"{path}: cannot read: {error.strerror or error}") from None
    with handle:
        for number, line in enumerate(handle, start=1):
            if not line.endswith(b"\n"):
                break
            try:
                record = json.loads(line)
                if not isinstance(record, dict) or "id" not in record:
                    raise ValueError("no id")
                if "result" in record:
                    done.summary.add(OrderFigures.of(record["result"]))
                elif "error" in record:
                    done.summary.add(None)
                else:
                    raise ValueError("neither result nor error")
            except (ValueError, TypeError, AttributeError):
                raise InputError(
                    f"{path}: line {number} is not an output line of a batch; "
                    "give another output file"
                ) from None
            done.ids.append(record["id"])
            done.size += len(line)
    done.summary.resumed = done.summary.orders
    return done


def _skip_done(
    tasks: Iterator[OrderTask], done: DoneOrders, input_path: str, output_path: str
) -> Iterator[OrderTask]:
    """The tasks after those already done, once their ids agree with the output's."""
    for number, (task, done_id) in enumerate(zip(islice(tasks, len(done.ids)), done.ids), start=1):
        if order_id_of(task) != done_id:
            raise InputError(
                f"{output_path}: order {number} is {done_id!r}, but in "
                f"{input_path} it is {order_id_of(task)!r}; the output belongs "
                "to another input: give another output file"
            )
    return tasks


class OutputError(Exception):
    """A batch output that cannot be written: the message names the file and says what
    became of the lines already written."""


@dataclass(frozen=True)
class BatchOptions:
    """How `run_batch` packs: the box catalogue file for orders without boxes, the
    worker processes (default: every core), the optimiser and its keywords (its time per
    order, effort, seed, min_support, box_costs, threads), the progress bar, the input
    format ("jsonl" or "csv"; default: from the name), the exact engine's timeout per
    order (seconds; None: no limit), past which an order fails with an error line, and
    whether each order is checked as `check_request` checks a request first (one with
    findings gets an error line naming them)."""

    boxes: str | None = None  # box catalogue file for orders without boxes
    workers: int | None = None
    optimise: bool = False
    time_limit: float = DEFAULT_TIME_LIMIT
    progress: bool = True
    input_format: str | None = None  # "jsonl" or "csv"; None: from the file name
    timeout: float | None = None  # seconds the engine may pack one order; None: no limit
    check: bool = False  # refuse orders in which the request check finds anything
    effort: int | None = None
    seed: int = 0
    min_support: float = 0.0
    box_costs: Mapping[str, float] | None = None
    threads: int = 1


SPOOL_PREFIX = "stowvex-batch-"
# The file in a spool folder that its batch holds locked while it runs.
_SPOOL_OWNER = "owner.lock"
# A spool folder without an owner file (made by an earlier version) is taken for
# the leftover of a killed run when nothing in it changed for so long.
_UNOWNED_SPOOL_AGE = 3600.0


def run_batch(
    input_path: str, output_path: str, options: BatchOptions = BatchOptions()
) -> BatchSummary:
    """Packs every order of `input_path` (JSON Lines requests, or CSV order lines with a
    box catalogue) into `output_path`, one line per order in input order:
    {"id": ..., "result": {...}} or {"id": ..., "error": "..."}. An existing output is
    continued: its complete lines are kept and their orders skipped. Returns the summary
    of all orders in the output. KeyboardInterrupt leaves every written line in place.
    An order that runs past `options.timeout` gets an error line naming the timeout, and
    the batch goes on; so do the orders of a worker process that dies, which are packed
    again on a new one (an order whose worker dies twice gets an error line).

    The output is locked while the batch runs: a second batch on the same output is
    refused with `OutputError`, as is an output that cannot be written (a missing
    folder, a full disk); the lines written before stay, complete. Bad input raises
    `InputError` before the output is touched."""
    settings = _settings(input_path, options)
    try:
        open(input_path, "rb").close()  # before the output is touched
    except OSError as error:
        raise InputError(f"{input_path}: cannot read: {error.strerror or error}") from None
    if is_csv(input_path, options.input_format):
        check_csv_header(input_path)
    else:
        check_json_lines(input_path)
    with _locked_output(output_path) as out:
        done = read_done(output_path)
        tasks = _skip_done(
            open_orders(input_path, options.input_format), done, input_path, output_path
        )
        total = count_orders(input_path, options.input_format) if options.progress else None
        workers = default_workers() if options.workers is None else options.workers
        with _spool(workers > 1) as spool:
            settings = replace(settings, spool=spool)
            return _pack_into(out, output_path, tasks, settings, workers, done, total, options)


def _settings(input_path: str, options: BatchOptions) -> BatchSettings:
    boxes = None
    if options.boxes is not None:
        boxes = load_catalogue(options.boxes)
    elif is_csv(input_path, options.input_format):
        raise InputError("a CSV of order lines needs a box catalogue: --boxes CATALOGUE.json")
    return BatchSettings(
        optimise=options.optimise,
        time_limit=options.time_limit,
        timeout=options.timeout,
        effort=options.effort,
        seed=options.seed,
        min_support=options.min_support,
        box_costs=options.box_costs,
        threads=options.threads,
        boxes=boxes,
        check=options.check,
    )


def _pack_into(
    out: BinaryIO,
    output_path: str,
    tasks: Iterator[OrderTask],
    settings: BatchSettings,
    workers: int,
    done: DoneOrders,
    total: int | None,
    options: BatchOptions,
) -> BatchSummary:
    summary = done.summary
    start = time.perf_counter()
    regular = stat.S_ISREG(os.fstat(out.fileno()).st_mode)
    complete = done.size  # the bytes of whole blocks of lines in the output
    try:
        if regular:
            out.truncate(done.size)
        out.seek(done.size)
    except OSError as error:
        raise _output_error(output_path, error) from None
    results = ordered_map(
        pack_orders,
        chunks(tasks),
        settings,
        workers=workers,
        largest_chunk=1,
        lost=lost_orders,
        split=_one_by_one,
    )
    try:
        with progress_bar(total, options.progress, initial=len(done.ids)) as bar:
            for lines, part in results:
                try:
                    if isinstance(lines, bytes):
                        _write(out, lines)
                    else:
                        _append_file(out, lines)
                    complete = out.tell()
                except OSError as error:
                    raise _output_error(output_path, error) from None
                summary.merge(part)
                bar.update(part.orders)
    finally:
        # A block cut short by Ctrl-C or a full disk leaves no part of a line behind;
        # its orders are packed again by the next run.
        summary.seconds = time.perf_counter() - start
        results.close()
        with contextlib.suppress(OSError):
            if regular:
                out.truncate(complete)
            os.fsync(out.fileno())
    return summary


def _one_by_one(tasks: list[OrderTask]) -> list[list[OrderTask]]:
    return [[task] for task in tasks]


def _output_error(path: str, error: OSError) -> OutputError:
    reason = error.strerror or str(error)
    if error.errno in (errno.ENOSPC, errno.EDQUOT):
        reason += "; every complete line written is kept: make room and run the same command again"
    return OutputError(f"{path}: cannot write: {reason}")


@contextlib.contextmanager
def _locked_output(path: str) -> Iterator[BinaryIO]:
    """The output file open for reading and writing (made when missing, never cut),
    locked for this batch alone."""
    try:
        fd = os.open(path, os.O_RDWR | os.O_CREAT | getattr(os, "O_CLOEXEC", 0), 0o666)
    except OSError as error:
        raise _output_error(path, error) from None
    # Unbuffered: every block of lines goes to the file as it comes, and spooled blocks
    # join it in the kernel. Not in append mode, which the kernel's copy refuses.
    with os.fdopen(fd, "r+b", buffering=0) as out:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            raise OutputError(f"{path}: not a regular file; a batch output is one")
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            raise OutputError(
                f"{path}: in use by another stowvex batch; wait for it to end, or give "
                "another output file"
            ) from None
        except OSError:
            pass  # a file system without locks: the batch runs unlocked
        yield out


@contextlib.contextmanager
def _spool(wanted: bool) -> Iterator[str | None]:
    """A spool folder for the lines of worker processes, or None; removed at the end.
    Folders left by killed batches are removed first."""
    if not wanted:
        yield None
        return
    remove_stale_spools()
    folder = tempfile.mkdtemp(prefix=f"{SPOOL_PREFIX}{os.getpid()}-")
    try:
        with open(os.path.join(folder, _SPOOL_OWNER), "wb") as owner:
            fcntl.flock(owner.fileno(), fcntl.LOCK_EX)
            yield folder
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def remove_stale_spools(directory: str | None = None) -> list[str]:
    """Removes the spool folders of batches that no longer run (killed ones) from the
    temporary folder (or `directory`) and returns their paths. A running batch holds a
    lock on its folder's owner file, which is how a stale folder is told apart."""
    directory = directory or tempfile.gettempdir()
    removed: list[str] = []
    try:
        names = [n for n in os.listdir(directory) if n.startswith(SPOOL_PREFIX)]
    except OSError:
        return removed
    for name in names:
        folder = os.path.join(directory, name)
        if _stale(folder):
            shutil.rmtree(folder, ignore_errors=True)
            removed.append(folder)
    return removed


def _stale(folder: str) -> bool:
    owner = os.path.join(folder, _SPOOL_OWNER)
    try:
        handle = open(owner, "rb")  # noqa: SIM115 - closed by the with block below
    except FileNotFoundError:
        try:
            age = time.time() - os.stat(folder).st_mtime
        except OSError:
            return False
        return os.path.isdir(folder) and age > _UNOWNED_SPOOL_AGE
    except OSError:
        return False
    with handle:
        try:
            fcntl.flock(handle.fileno(), fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            return False  # its batch runs
        return True


def _write(out: BinaryIO, data: bytes) -> None:
    view = memoryview(data)
    while view:
        view = view[out.write(view) or 0 :]


def _append_file(out: BinaryIO, path: str) -> None:
    """Moves a spooled file's bytes to the end of `out` (kernel to kernel) and deletes it."""
    with open(path, "rb") as source:
        size = os.fstat(source.fileno()).st_size
        copied = 0
        while copied < size:
            sent = os.sendfile(out.fileno(), source.fileno(), copied, size - copied)
            if sent == 0:
                raise OSError(f"{path}: could not copy the packed orders")
            copied += sent
    os.unlink(path)
