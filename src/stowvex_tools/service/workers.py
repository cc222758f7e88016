"""The packing processes of the service: a fixed number of processes, each doing one
piece of work at a time, and a bounded queue of requests waiting for one.

Each process has a pipe of its own, which the event loop watches, so an answer costs
one message each way and no thread. A process that dies (killed, or crashed by a
fault) fails the one request it was working on and is replaced; one that runs past
its request's time is killed and replaced. The others never notice."""

from __future__ import annotations

import asyncio
import contextlib
import multiprocessing
import os
import pickle
import time
from collections import deque
from multiprocessing.connection import Connection
from typing import Any

from .metrics import Metrics
from .problems import Problem

# Seconds a process has beyond a request's timeout before it is taken for hung: the
# engine stops within milliseconds of its timeout, so this is only for work that
# cannot be stopped (drawing, checking), or a process that stopped answering.
OVERRUN = 1.0
# Seconds a new process may take to start and report ready.
START_TIME = 120.0


def _context() -> Any:
    # A fresh process from the fork server, whose interpreter has already imported the
    # packing code: forking the service itself, which runs threads, would be unsafe.
    methods = multiprocessing.get_all_start_methods()
    if "forkserver" not in methods:
        return multiprocessing.get_context("spawn")
    context = multiprocessing.get_context("forkserver")
    context.set_forkserver_preload(["stowvex_tools.service.work"])
    return context


class _Process:
    """One packing process, its pipe, and the piece of work it is doing."""

    def __init__(self, process: Any, connection: Connection) -> None:
        self.process = process
        self.connection = connection
        self.pid: int = process.pid
        self.job: _Job | None = None


class _Job:
    """A piece of work: its message, the answer awaited, its deadline (monotonic), and
    the process doing it once it has one."""

    def __init__(self, message: bytes, answer: asyncio.Future[Any], deadline: float) -> None:
        self.message = message
        self.answer = answer
        self.deadline = deadline
        self.worker: _Process | None = None
        self.expiry: asyncio.TimerHandle | None = None


class WorkerPool:
    """`size` packing processes and at most `queue` requests waiting for one. A process
    that answers is given the next waiting piece of work at once, in the same callback,
    so it never waits for the event loop to come round to a waiting request."""

    def __init__(self, size: int, queue: int, metrics: Metrics) -> None:
        self.size = size
        self.queue_limit = queue
        self.metrics = metrics
        self._context = _context()
        self._idle: deque[_Process] = deque()
        self._all: set[_Process] = set()
        self._waiting: deque[_Job] = deque()
        self._closed = False
        self._tasks: set[asyncio.Task[None]] = set()

    @property
    def ready(self) -> bool:
        return not self._closed and len(self._all) == self.size

    def describe(self) -> list[dict[str, Any]]:
        """Each process: its pid and whether it is working."""
        return [
            {"pid": p.pid, "busy": p.job is not None}
            for p in sorted(self._all, key=lambda p: p.pid)
        ]

    async def start(self) -> None:
        """Starts every process and waits until each is ready."""
        await asyncio.gather(*(self._add() for _ in range(self.size)))

    def _spawn(self) -> tuple[Any, Connection]:
        parent, child = self._context.Pipe(duplex=True)
        from .work import serve_pipe

        process = self._context.Process(
            target=serve_pipe, args=(child,), name="stowvex-packer", daemon=True
        )
        process.start()
        child.close()
        return process, parent

    async def _add(self) -> None:
        try:
            process, connection = await asyncio.to_thread(self._spawn)
            ready = await asyncio.to_thread(connection.poll, START_TIME)
            if not ready or pickle.loads(connection.recv_bytes())[0] != "ready":
                raise RuntimeError("a packing process did not start")
        except (EOFError, OSError) as error:
            raise RuntimeError(f"a packing process did not start: {error}") from None
        worker = _Process(process, connection)
        if self._closed:
            self._stop(worker)
            return
        self._all.add(worker)
        asyncio.get_running_loop().add_reader(connection.fileno(), self._readable, worker)
        self._next(worker)

    def _replace(self) -> None:
        if self._closed:
            return
        task = asyncio.get_running_loop().create_task(self._add())
        self._tasks.add(task)
        task.add_done_callback(self._tasks.discard)
        self.metrics.worker_restarts.inc()

    def _readable(self, worker: _Process) -> None:
        try:
            # Some event loops (uvloop) make a watched descriptor non-blocking; a message
            # is read whole, so the pipe is made blocking again for the read.
            os.set_blocking(worker.connection.fileno(), True)
            reply = pickle.loads(worker.connection.recv_bytes())
        except (EOFError, OSError):
            reply = None
        job, worker.job = worker.job, None
        if reply is None:  # the process ended
            self._discard(worker)
            if job is not None and not job.answer.done():
                job.answer.set_exception(
                    Problem(
                        "worker-lost",
                        f"the packing process {worker.pid} ended while working on this "
                        "request; the service goes on with a new one",
                    )
                )
            self._replace()
            return
        if job is not None and not job.answer.done():
            job.answer.set_result(reply)
        self._next(worker)

    def _discard(self, worker: _Process, kill: bool = False) -> None:
        if worker not in self._all:
            return
        self._all.discard(worker)
        with contextlib.suppress(ValueError):
            self._idle.remove(worker)
        with contextlib.suppress(Exception):
            asyncio.get_running_loop().remove_reader(worker.connection.fileno())
        if kill:
            worker.process.kill()
        self._stop(worker)
        self._update_gauges()

    @staticmethod
    def _stop(worker: _Process) -> None:
        worker.connection.close()
        # The process has ended or ends on its closed pipe; the reaping is the thread
        # pool's, so the event loop never waits for it.
        asyncio.get_running_loop().run_in_executor(None, worker.process.join, 5)

    def _next(self, worker: _Process) -> None:
        """Gives a free process the oldest waiting piece of work, or lets it idle."""
        while self._waiting:
            job = self._waiting.popleft()
            if job.answer.done():  # its request gave up
                continue
            if job.expiry is not None:
                job.expiry.cancel()
            self._send(worker, job)
            return
        self._idle.append(worker)
        self._update_gauges()

    def _send(self, worker: _Process, job: _Job) -> None:
        worker.job = job
        job.worker = worker
        try:
            os.set_blocking(worker.connection.fileno(), True)
            worker.connection.send_bytes(job.message)
        except OSError:
            worker.job = None
            self._discard(worker)
            self._replace()
            job.answer.set_exception(
                Problem("worker-lost", "the packing process had ended; try again")
            )
        self._update_gauges()

    def _expire(self, job: _Job) -> None:
        if job.worker is None and not job.answer.done():
            job.answer.set_exception(
                Problem("timeout", "the request waited for a packing process past its timeout")
            )
            with contextlib.suppress(ValueError):
                self._waiting.remove(job)
            self._update_gauges()

    def _update_gauges(self) -> None:
        self.metrics.queue_depth.set(len(self._waiting))
        self.metrics.busy_workers.set(sum(1 for w in self._all if w.job is not None))

    async def run(self, kind: str, body: bytes, options: Any, deadline: float) -> Any:
        """Does one piece of work on a packing process: waits for a free one until the
        monotonic `deadline`, then gives it until the deadline and OVERRUN more. Returns
        the reply of `work.do`; raises Problem for a full queue, a timeout or a lost
        process."""
        if self._closed:
            raise Problem("not-ready", "the service is stopping", headers={"Retry-After": "1"})
        loop = asyncio.get_running_loop()
        message = pickle.dumps((kind, body, options), protocol=pickle.HIGHEST_PROTOCOL)
        job = _Job(message, loop.create_future(), deadline)
        if self._idle:
            self._send(self._idle.popleft(), job)
        elif len(self._waiting) >= self.queue_limit:
            raise Problem(
                "queue-full",
                f"{len(self._waiting)} requests are already waiting for the {self.size} "
                "packing processes; try again shortly",
                headers={"Retry-After": "1"},
            )
        else:
            self._waiting.append(job)
            job.expiry = loop.call_at(
                loop.time() + max(0.0, deadline - time.monotonic()), self._expire, job
            )
            self._update_gauges()
        try:
            wait = max(0.0, deadline - time.monotonic()) + OVERRUN
            return await asyncio.wait_for(asyncio.shield(job.answer), wait)
        except asyncio.TimeoutError:
            worker = job.worker
            if worker is not None and worker.job is job:
                worker.job = None
                self._discard(worker, kill=True)
                self._replace()
            raise Problem(
                "timeout",
                "the request ran past its timeout; its packing process was stopped",
            ) from None
        except asyncio.CancelledError:
            # The client left: work not yet begun is dropped; work begun goes on, and
            # its process is free again when it answers.
            if not job.answer.done():
                job.answer.cancel()
            raise

    async def close(self) -> None:
        """Stops every process: each ends when its pipe closes."""
        self._closed = True
        for job in self._waiting:
            if not job.answer.done():
                job.answer.set_exception(Problem("not-ready", "the service is stopping"))
        self._waiting.clear()
        for worker in list(self._all):
            self._discard(worker)
        for task in list(self._tasks):
            task.cancel()
