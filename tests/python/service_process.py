"""A real `stowvex serve` process on a free loopback port, for the service tests: started
with the options a test gives, waited for until it is ready, stopped at the end. Every
wait is bounded."""

from __future__ import annotations

import json
import os
import random
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path

import httpx

HOST = "127.0.0.1"
START_SECONDS = 90.0

EXAMPLE_REQUEST = (Path(__file__).resolve().parents[2] / "examples" / "request.json").read_bytes()


def free_port() -> int:
    with socket.socket() as probe:
        probe.bind((HOST, 0))
        return probe.getsockname()[1]


class Service:
    """One service process; its standard error goes to `log_path`."""

    def __init__(self, tmp_path: Path, *options: str, env: dict[str, str] | None = None):
        self.port = free_port()
        self.url = f"http://{HOST}:{self.port}"
        self.log_path = tmp_path / f"service-{self.port}.log"
        self.options = options
        command = [
            sys.executable,
            "-c",
            "from stowvex_tools.cli import run; run()",
            "serve",
            "--host",
            HOST,
            "--port",
            str(self.port),
            *options,
        ]
        self._log = self.log_path.open("wb")
        self.process = subprocess.Popen(
            command,
            stdout=subprocess.DEVNULL,
            stderr=self._log,
            env={**os.environ, **(env or {})},
        )
        self.client = httpx.Client(base_url=self.url, timeout=60.0)
        self.wait_ready()

    def wait_ready(self) -> dict:
        deadline = time.monotonic() + START_SECONDS
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError(f"the service ended at its start:\n{self.log()}")
            try:
                answer = self.client.get("/readyz", timeout=2.0)
                if answer.status_code == 200:
                    return answer.json()
            except httpx.TransportError:
                pass
            time.sleep(0.1)
        raise RuntimeError(f"the service was not ready within {START_SECONDS} s:\n{self.log()}")

    def log(self) -> str:
        return self.log_path.read_text(encoding="utf-8", errors="replace")

    def log_records(self) -> list[dict]:
        return [json.loads(line) for line in self.log().splitlines() if line.startswith("{")]

    def stop(self, timeout: float = 60.0) -> int:
        """SIGTERM, then the exit status (SIGKILL if it does not end in time)."""
        self.client.close()
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            status = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = self.process.wait(10)
        self._log.close()
        return status


def slow_request(n: int, seed: int = 7) -> bytes:
    """n items of 5 to 40 into one box type of 1.1 times their volume: 500 items take
    the engine about a second, 3000 many minutes."""
    rng = random.Random(seed)
    items = []
    volume = 0
    for k in range(n):
        w, l, d = (rng.randint(5, 40) for _ in range(3))
        volume += w * l * d
        items.append({"ItemCode": f"S{k}", "Width": w, "Length": l, "Depth": d, "Weight": 1})
    side = round((volume * 1.1 / 1.2) ** (1 / 3))
    box = {"Reference": "TRUCK", "Width": side, "Length": round(side * 1.2), "Depth": side}
    return json.dumps({"items": items, "boxes": [box]}).encode()


def assert_problem(answer: httpx.Response, status: int, kind: str) -> dict:
    """The answer is a problem document of this status and type; returns it."""
    assert answer.status_code == status, answer.text
    assert answer.headers["content-type"] == "application/problem+json"
    document = answer.json()
    assert document["type"] == f"urn:stowvex:problem:{kind}"
    assert document["status"] == status
    assert document["title"] and document["detail"]
    assert document["request_id"] == answer.headers["x-request-id"]
    return document
