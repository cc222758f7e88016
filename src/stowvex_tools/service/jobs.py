"""Batches of the service: files of orders packed in the background, each a folder of
the jobs folder, and box catalogues stored by name for them.

A job's folder holds its orders as they came (input.jsonl or input.csv), the
catalogue it was given (catalogue.json), its settings (job.json), its state
(state.json) and the output of `stowvex batch` (results.jsonl). Each batch is packed
by `run_batch` in a process of its own, which a cancel ends. A job that was queued or
running when the service stopped is packed on at the next start: `run_batch` keeps the
complete lines of its output and packs only the orders still missing."""

from __future__ import annotations

import asyncio
import contextlib
import json
import multiprocessing
import os
import re
import shutil
import sys
import time
import uuid
from collections.abc import AsyncIterator
from dataclasses import asdict, dataclass
from pathlib import Path
from typing import Any

from .metrics import Metrics
from .problems import Problem

JOB_ID = re.compile(r"^[0-9a-f]{32}$")
CATALOGUE_NAME = re.compile(r"^[A-Za-z0-9][A-Za-z0-9._-]{0,63}$")
FINAL_STATES = ("done", "failed", "cancelled")
# How often a stream of results looks for new lines while its batch runs.
POLL_SECONDS = 0.1


@dataclass(frozen=True)
class JobSettings:
    """How a batch is packed, as it was asked for."""

    input_format: str  # "jsonl" or "csv"
    catalogue: str | None
    optimise: bool
    time_limit: float
    timeout: float | None


def _write_json(path: Path, value: Any) -> None:
    """Writes a small JSON file whole or not at all."""
    partial = path.with_suffix(".partial")
    partial.write_text(json.dumps(value), encoding="utf-8")
    os.replace(partial, path)


def _read_json(path: Path) -> Any:
    return json.loads(path.read_text(encoding="utf-8"))


def run_job(folder: str) -> None:
    """The process of one batch: packs its orders into results.jsonl with `run_batch`,
    continuing an output an earlier run left. An input that cannot be read is reported
    in error.txt and the process ends with status 2."""
    import signal

    from ..batch import BatchOptions, run_batch
    from ..orders import InputError

    signal.signal(signal.SIGINT, signal.SIG_IGN)
    root = Path(folder)
    meta = _read_json(root / "job.json")
    settings = JobSettings(**meta["settings"])
    catalogue = root / "catalogue.json"
    options = BatchOptions(
        boxes=str(catalogue) if catalogue.exists() else None,
        workers=1,
        optimise=settings.optimise,
        time_limit=settings.time_limit,
        progress=False,
        input_format=settings.input_format,
        timeout=settings.timeout,
    )
    try:
        run_batch(
            str(root / f"input.{settings.input_format}"), str(root / "results.jsonl"), options
        )
    except InputError as error:
        (root / "error.txt").write_text(str(error), encoding="utf-8")
        sys.exit(2)
    except Exception as error:  # a fault of its own, reported with the job, not as a traceback
        (root / "error.txt").write_text(f"{type(error).__name__}: {error}", encoding="utf-8")
        sys.exit(1)


class _Progress:
    """Counts of the complete lines of an output, read on from where it was left."""

    def __init__(self) -> None:
        self.offset = 0
        self.done = 0
        self.failed = 0

    def update(self, path: Path) -> None:
        try:
            with path.open("rb") as handle:
                if os.fstat(handle.fileno()).st_size < self.offset:  # cut back by a resume
                    self.offset = self.done = self.failed = 0
                handle.seek(self.offset)
                data = handle.read()
        except FileNotFoundError:
            return
        end = data.rfind(b"\n") + 1
        for line in data[:end].splitlines():
            try:
                record = json.loads(line)
            except ValueError:
                continue
            if isinstance(record, dict) and "error" in record:
                self.failed += 1
            else:
                self.done += 1
        self.offset += end


class JobStore:
    """The batches and catalogues of a service, in `root`; `workers` batches are packed
    at once, each in its own process."""

    def __init__(self, root: Path, metrics: Metrics, workers: int = 1) -> None:
        self.root = root
        self.jobs = root / "jobs"
        self.catalogues = root / "catalogues"
        self.metrics = metrics
        self.workers = workers
        self._queue: asyncio.Queue[str] = asyncio.Queue()
        self._running: dict[str, Any] = {}  # job id: its process
        self._cancelled: set[str] = set()
        self._progress: dict[str, _Progress] = {}
        self._runners: list[asyncio.Task[None]] = []
        self._closed = False
        methods = multiprocessing.get_all_start_methods()
        self._context: Any = multiprocessing.get_context(
            "forkserver" if "forkserver" in methods else "spawn"
        )

    async def start(self) -> None:
        """Makes the folders and queues every job that was waiting or running, oldest
        first; then starts the runners."""
        self.jobs.mkdir(parents=True, exist_ok=True)
        self.catalogues.mkdir(parents=True, exist_ok=True)
        pending = []
        for folder in self.jobs.iterdir():
            if not JOB_ID.match(folder.name) or not (folder / "state.json").exists():
                continue
            try:
                state = _read_json(folder / "state.json")
                created = _read_json(folder / "job.json")["created"]
            except (OSError, ValueError, KeyError, TypeError):
                continue  # a folder left half made: no job of this service
            if state.get("state") not in FINAL_STATES:
                pending.append((created, folder.name))
        for _, job_id in sorted(pending):
            self._queue.put_nowait(job_id)
        loop = asyncio.get_running_loop()
        self._runners = [loop.create_task(self._runner()) for _ in range(self.workers)]

    async def close(self) -> None:
        """Stops the runners and the batches they run; a stopped batch keeps its state,
        "running", and is packed on at the next start."""
        self._closed = True
        for runner in self._runners:
            runner.cancel()
        for process in list(self._running.values()):
            process.terminate()
        for process in list(self._running.values()):
            await asyncio.to_thread(process.join, 10)

    # Catalogues

    def catalogue_path(self, name: str) -> Path:
        if not CATALOGUE_NAME.match(name):
            raise Problem(
                "not-found", "a catalogue name is 1 to 64 letters, digits, '.', '_' or '-'"
            )
        return self.catalogues / f"{name}.json"

    def put_catalogue(self, name: str, boxes: list[Any]) -> bool:
        """Stores a catalogue; True when it was new."""
        path = self.catalogue_path(name)
        new = not path.exists()
        _write_json(path, boxes)
        return new

    def get_catalogue(self, name: str) -> bytes:
        path = self.catalogue_path(name)
        try:
            return path.read_bytes()
        except FileNotFoundError:
            raise Problem("not-found", f"no catalogue named {name!r}") from None

    # Jobs

    def _folder(self, job_id: str) -> Path:
        folder = self.jobs / job_id
        if not JOB_ID.match(job_id) or not (folder / "state.json").exists():
            raise Problem("not-found", f"no batch {job_id!r}")
        return folder

    async def create(
        self, chunks: AsyncIterator[bytes], settings: JobSettings, limit: int
    ) -> dict[str, Any]:
        """A new job of the orders the chunks hold (at most `limit` bytes), queued."""
        catalogue = None
        if settings.catalogue is not None:
            catalogue = self.get_catalogue(settings.catalogue)
        elif settings.input_format == "csv":
            raise Problem(
                "unusable-input",
                "a CSV of order lines needs a box catalogue: store one with "
                "PUT /v1/catalogues/NAME and give ?catalogue=NAME",
            )
        job_id = uuid.uuid4().hex
        folder = self.jobs / job_id
        folder.mkdir()
        try:
            size = 0
            with (folder / f"input.{settings.input_format}").open("wb") as orders:
                async for chunk in chunks:
                    size += len(chunk)
                    if size > limit:
                        raise Problem(
                            "body-too-large", f"the orders of a batch may be {limit} bytes at most"
                        )
                    orders.write(chunk)
            if catalogue is not None:
                (folder / "catalogue.json").write_bytes(catalogue)
            from ..orders import count_orders

            total = await asyncio.to_thread(
                count_orders, str(folder / f"input.{settings.input_format}"), settings.input_format
            )
            meta = {"id": job_id, "created": time.time(), "total": total}
            _write_json(folder / "job.json", dict(meta, settings=asdict(settings)))
            _write_json(folder / "state.json", {"state": "queued"})
        except BaseException:
            shutil.rmtree(folder, ignore_errors=True)
            raise
        self._queue.put_nowait(job_id)
        return self.status(job_id)

    def _read(self, job_id: str) -> tuple[Path, dict[str, Any], dict[str, Any]]:
        """A job's folder, settings and state; not found when any is unreadable."""
        folder = self._folder(job_id)
        try:
            return folder, _read_json(folder / "job.json"), _read_json(folder / "state.json")
        except (OSError, ValueError):
            raise Problem("not-found", f"no batch {job_id!r}") from None

    def status(self, job_id: str) -> dict[str, Any]:
        """The state of a job and its progress: orders done, failed and in all."""
        folder, meta, state = self._read(job_id)
        progress = self._progress.setdefault(job_id, _Progress())
        progress.update(folder / "results.jsonl")
        answer = {
            "id": job_id,
            "state": state["state"],
            "done": progress.done,
            "failed": progress.failed,
            "total": meta["total"],
            "created": meta["created"],
            "settings": meta["settings"],
            "results": f"/v1/batches/{job_id}/results",
        }
        if "error" in state:
            answer["error"] = state["error"]
        return answer

    def state(self, job_id: str) -> str:
        state: str = self._read(job_id)[2]["state"]
        return state

    async def cancel(self, job_id: str) -> dict[str, Any]:
        """Stops a job that is queued or running; its complete lines stay readable."""
        folder = self._folder(job_id)
        if self.state(job_id) not in FINAL_STATES:
            self._cancelled.add(job_id)
            process = self._running.get(job_id)
            if process is not None:
                process.terminate()
                await asyncio.to_thread(process.join, 10)
            _write_json(folder / "state.json", {"state": "cancelled"})
        return self.status(job_id)

    async def results(self, job_id: str) -> AsyncIterator[bytes]:
        """The complete lines of a job's output in input order, as they are written,
        until the job ends (or the service stops)."""
        folder = self._folder(job_id)
        path = folder / "results.jsonl"
        offset = 0
        while True:
            final = self.state(job_id) in FINAL_STATES or self._closed
            try:
                with path.open("rb") as handle:
                    handle.seek(offset)
                    data = handle.read()
            except FileNotFoundError:
                data = b""
            end = data.rfind(b"\n") + 1
            if end:
                offset += end
                yield data[:end]
            elif final:
                return
            else:
                await asyncio.sleep(POLL_SECONDS)

    async def _runner(self) -> None:
        while True:
            job_id = await self._queue.get()
            try:
                if job_id in self._cancelled or self.state(job_id) in FINAL_STATES:
                    continue
                await self._run(job_id)
            except (OSError, ValueError, Problem) as error:  # its folder is gone or broken
                with contextlib.suppress(OSError):
                    state = {"state": "failed", "error": f"the batch could not run: {error}"}
                    _write_json(self.jobs / job_id / "state.json", state)

    async def _run(self, job_id: str) -> None:
        folder = self.jobs / job_id
        _write_json(folder / "state.json", {"state": "running"})
        with contextlib.suppress(FileNotFoundError):
            (folder / "error.txt").unlink()
        process = self._context.Process(
            target=run_job, args=(str(folder),), name="stowvex-batch", daemon=True
        )
        await asyncio.to_thread(process.start)
        self._running[job_id] = process
        loop = asyncio.get_running_loop()
        ended: asyncio.Future[None] = loop.create_future()

        def end() -> None:
            if not ended.done():
                ended.set_result(None)

        loop.add_reader(process.sentinel, end)
        try:
            await ended
        finally:
            loop.remove_reader(process.sentinel)
            self._running.pop(job_id, None)
        await asyncio.to_thread(process.join, 10)
        if job_id in self._cancelled or self._closed:
            return
        if process.exitcode == 0:
            state: dict[str, Any] = {"state": "done"}
        else:
            error = folder / "error.txt"
            reason = (
                error.read_text(encoding="utf-8")
                if error.exists()
                else f"the batch process ended with status {process.exitcode}"
            )
            state = {"state": "failed", "error": reason}
        _write_json(folder / "state.json", state)
        self.metrics.batches.labels(state["state"]).inc()
