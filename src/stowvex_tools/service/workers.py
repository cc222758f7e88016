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
    """One packing process, its pipe, and the answer it owes."""

    def __init__(self, process: Any, connection: Connection) -> None:
        self.process = process
        self.connection = connection
        self.pid: int = process.pid
        self.answer: asyncio.Future[Any] | None = None
        self.busy_since: float | None = None


class WorkerPool:
    """`size` packing processes and at most `queue` requests waiting for one."""

    def __init__(self, size: int, queue: int, metrics: Metrics) -> None:
        self.size = size
        self.queue_limit = queue
        self.metrics = metrics
        self._context = _context()
        self._idle: deque[_Process] = deque()
        self._all: set[_Process] = set()
        self._waiters: deque[asyncio.Future[_Process]] = deque()
        self._starting = 0
        self._closed = False
        self._tasks: set[asyncio.Task[None]] = set()

    @property
    def ready(self) -> bool:
        return not self._closed and len(self._all) == self.size

    def describe(self) -> list[dict[str, Any]]:
        """Each process: its pid and whether it is working."""
        return [
            {"pid": p.pid, "busy": p.busy_since is not None}
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
        self._starting += 1
        try:
            process, connection = await asyncio.to_thread(self._spawn)
            ready = await asyncio.to_thread(connection.poll, START_TIME)
            if not ready or pickle.loads(connection.recv_bytes())[0] != "ready":
                raise RuntimeError("a packing process did not start")
        except (EOFError, OSError) as error:
            raise RuntimeError(f"a packing process did not start: {error}") from None
        finally:
            self._starting -= 1
        worker = _Process(process, connection)
        if self._closed:
            self._stop(worker)
            return
        self._all.add(worker)
        asyncio.get_running_loop().add_reader(connection.fileno(), self._readable, worker)
        self._release(worker)

    def _replace(self) -> None:
        if self._closed:
            return
        task = asyncio.get_running_loop().create_task(self._add())
        self._tasks.add(task)
        task.add_done_callback(self._tasks.discard)
        self.metrics.worker_restarts.inc()

    def _readable(self, worker: _Process) -> None:
        try:
            reply = pickle.loads(worker.connection.recv_bytes())
        except (EOFError, OSError):
            reply = None
        answer, worker.answer = worker.answer, None
        if reply is None:  # the process ended
            self._discard(worker)
            if answer is not None and not answer.done():
                answer.set_exception(
                    Problem(
                        "worker-lost",
                        f"the packing process {worker.pid} ended while working on this "
                        "request; the service goes on with a new one",
                    )
                )
            self._replace()
            return
        if answer is not None and not answer.done():
            answer.set_result(reply)

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

    @staticmethod
    def _stop(worker: _Process) -> None:
        worker.connection.close()
        # The process has ended or ends on its closed pipe; the reaping is the thread
        # pool's, so the event loop never waits for it.
        asyncio.get_running_loop().run_in_executor(None, worker.process.join, 5)

    def _release(self, worker: _Process) -> None:
        worker.busy_since = None
        self._update_gauges()
        if worker not in self._all or worker in self._idle:
            return
        while self._waiters:
            waiter = self._waiters.popleft()
            if not waiter.done():
                waiter.set_result(worker)
                self._update_gauges()
                return
        self._idle.append(worker)

    def _update_gauges(self) -> None:
        self.metrics.queue_depth.set(sum(1 for w in self._waiters if not w.done()))
        self.metrics.busy_workers.set(sum(1 for w in self._all if w.busy_since is not None))

    async def _acquire(self, deadline: float) -> _Process:
        if self._closed:
            raise Problem("not-ready", "the service is stopping", headers={"Retry-After": "1"})
        if self._idle:
            return self._idle.popleft()
        waiting = sum(1 for w in self._waiters if not w.done())
        if waiting >= self.queue_limit:
            raise Problem(
                "queue-full",
                f"{waiting} requests are already waiting for the {self.size} packing "
                "processes; try again shortly",
                headers={"Retry-After": "1"},
            )
        waiter: asyncio.Future[_Process] = asyncio.get_running_loop().create_future()
        self._waiters.append(waiter)
        self._update_gauges()
        try:
            return await asyncio.wait_for(waiter, max(0.0, deadline - time.monotonic()))
        except (asyncio.TimeoutError, asyncio.CancelledError):
            if waiter.done() and not waiter.cancelled():
                self._release(waiter.result())  # given a process just as it gave up
            raise
        finally:
            with contextlib.suppress(ValueError):
                self._waiters.remove(waiter)
            self._update_gauges()

    async def run(self, kind: str, body: bytes, options: Any, deadline: float) -> Any:
        """Does one piece of work on a packing process: waits for a free one until the
        monotonic `deadline`, then gives it until the deadline and OVERRUN more. Returns
        the reply of `work.do`; raises Problem for a full queue, a timeout or a lost
        process."""
        try:
            worker = await self._acquire(deadline)
        except asyncio.TimeoutError:
            raise Problem(
                "timeout", "the request waited for a packing process past its timeout"
            ) from None
        loop = asyncio.get_running_loop()
        answer: asyncio.Future[Any] = loop.create_future()
        worker.answer = answer
        worker.busy_since = time.monotonic()
        self._update_gauges()
        try:
            worker.connection.send_bytes(pickle.dumps((kind, body, options), protocol=5))
        except (BrokenPipeError, OSError):
            worker.answer = None
            self._discard(worker)
            self._replace()
            raise Problem("worker-lost", "the packing process had ended; try again") from None
        try:
            wait = max(0.0, deadline - time.monotonic()) + OVERRUN
            return await asyncio.wait_for(asyncio.shield(answer), wait)
        except asyncio.TimeoutError:
            self._discard(worker, kill=True)
            self._replace()
            raise Problem(
                "timeout",
                "the request ran past its timeout; its packing process was stopped",
            ) from None
        except asyncio.CancelledError:
            # The client left: the process is free again once its answer comes.
            answer.add_done_callback(lambda _: self._release(worker))
            raise
        finally:
            if answer.done() and worker in self._all:
                self._release(worker)

    async def close(self) -> None:
        """Stops every process: each ends when its pipe closes."""
        self._closed = True
        for waiter in self._waiters:
            if not waiter.done():
                waiter.set_exception(Problem("not-ready", "the service is stopping"))
        for worker in list(self._all):
            self._discard(worker)
        for task in list(self._tasks):
            task.cancel()
