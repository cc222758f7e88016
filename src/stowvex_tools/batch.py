"""A batch file of orders packed into a JSON Lines file of results, resumable."""

from __future__ import annotations

import json
import os
import shutil
import tempfile
import time
from collections.abc import Iterator
from dataclasses import dataclass, field, replace
from itertools import islice
from typing import Any, BinaryIO

from .batch_lines import BatchSettings, order_id_of, pack_orders
from .optimiser import DEFAULT_TIME_LIMIT
from .orders import InputError, OrderTask, count_orders, is_csv, load_catalogue, open_orders
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


@dataclass(frozen=True)
class BatchOptions:
    """How `run_batch` packs: the box catalogue file for orders without boxes, the
    worker processes (default: every core), the optimiser and its time per order, the
    progress bar, the input format ("jsonl" or "csv"; default: from the name), and the
    exact engine's timeout per order (seconds; None: no limit), past which an order
    fails with an error line."""

    boxes: str | None = None  # box catalogue file for orders without boxes
    workers: int | None = None
    optimise: bool = False
    time_limit: float = DEFAULT_TIME_LIMIT
    progress: bool = True
    input_format: str | None = None  # "jsonl" or "csv"; None: from the file name
    timeout: float | None = None  # seconds the engine may pack one order; None: no limit


def run_batch(
    input_path: str, output_path: str, options: BatchOptions = BatchOptions()
) -> BatchSummary:
    """Packs every order of `input_path` (JSON Lines requests, or CSV order lines with a
    box catalogue) into `output_path`, one line per order in input order:
    {"id": ..., "result": {...}} or {"id": ..., "error": "..."}. An existing output is
    continued: its complete lines are kept and their orders skipped. Returns the summary
    of all orders in the output. KeyboardInterrupt leaves every written line in place.
    An order that runs past `options.timeout` gets an error line naming the timeout, and
    the batch goes on."""
    boxes = None
    if options.boxes is not None:
        boxes = load_catalogue(options.boxes)
    elif is_csv(input_path, options.input_format):
        raise InputError("a CSV of order lines needs a box catalogue: --boxes CATALOGUE.json")
    settings = BatchSettings(
        optimise=options.optimise,
        time_limit=options.time_limit,
        timeout=options.timeout,
        boxes=boxes,
    )
    try:
        open(input_path, "rb").close()  # before the output is touched
    except OSError as error:
        raise InputError(f"{input_path}: cannot read: {error.strerror or error}") from None
    done = read_done(output_path)
    tasks = _skip_done(open_orders(input_path, options.input_format), done, input_path, output_path)
    total = count_orders(input_path, options.input_format) if options.progress else None
    summary = done.summary
    start = time.perf_counter()
    # Unbuffered: every block of lines goes to the file as it comes, and spooled blocks
    # join it in the kernel. Not in append mode, which the kernel's copy refuses.
    with open(output_path, "r+b" if os.path.exists(output_path) else "wb", buffering=0) as out:
        out.truncate(done.size)
        out.seek(done.size)
        workers = default_workers() if options.workers is None else options.workers
        if workers > 1:
            settings = replace(settings, spool=tempfile.mkdtemp(prefix="stowvex-batch-"))
        results = ordered_map(
            pack_orders, chunks(tasks), settings, workers=workers, largest_chunk=1
        )
        complete = done.size  # the bytes of whole blocks of lines in the output
        try:
            with progress_bar(total, options.progress, initial=len(done.ids)) as bar:
                for lines, part in results:
                    if isinstance(lines, bytes):
                        _write(out, lines)
                    else:
                        _append_file(out, lines)
                    complete = out.tell()
                    summary.merge(part)
                    bar.update(part.orders)
        finally:
            # A block cut short by Ctrl-C leaves no part of a line behind; its orders
            # are packed again by the next run.
            out.truncate(complete)
            os.fsync(out.fileno())
            summary.seconds = time.perf_counter() - start
            results.close()
            if settings.spool is not None:
                shutil.rmtree(settings.spool, ignore_errors=True)
    return summary


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
