"""The service under its limits and faults, each on a server process of its own: API
keys, the body limit, timeouts with other requests answered meanwhile, a full queue, a
packing process killed mid-request, SIGTERM with a request in flight, and batches
across a restart. Also the settings a server is started with."""

import json
import os
import signal
import socket
import time
from concurrent.futures import ThreadPoolExecutor

import httpx
import pytest

import stowvex

pytest.importorskip("uvicorn", reason="the service extra is not installed")

from service_process import (
    EXAMPLE_REQUEST,
    HOST,
    Service,
    assert_problem,
    slow_request,
)
from stowvex_tools.service.gate import KeyRing
from stowvex_tools.service.settings import (
    ServiceSettings,
    SettingsError,
    parse_size,
    read_api_keys,
)

ENDLESS = slow_request(3000)  # many minutes of packing: only a timeout ends it


@pytest.fixture()
def start(tmp_path):
    started = []

    def starting(*options):
        service = Service(tmp_path, *options)
        started.append(service)
        return service

    yield starting
    for service in started:
        service.stop()


def busy_pid(service, deadline_seconds=30.0):
    deadline = time.monotonic() + deadline_seconds
    while time.monotonic() < deadline:
        busy = [w["pid"] for w in service.client.get("/readyz").json()["workers"] if w["busy"]]
        if busy:
            return busy[0]
        time.sleep(0.02)
    raise AssertionError("no packing process became busy")


class TestSettings:
    @pytest.mark.parametrize(
        "text, size",
        [("10MB", 10_000_000), ("512k", 512_000), ("2MiB", 2 * 2**20), ("1.5 GB", 1_500_000_000)]
        + [("1000", 1000), ("7b", 7)],
    )
    def test_sizes(self, text, size):
        assert parse_size(text) == size

    @pytest.mark.parametrize("text", ["", "ten", "-1MB", "0", "5 parsecs"])
    def test_bad_sizes(self, text):
        with pytest.raises(SettingsError):
            parse_size(text)

    def test_key_files(self, tmp_path):
        keys = tmp_path / "keys.txt"
        keys.write_text("# the warehouse\n  key-one  \n\nkey-two\n")
        assert read_api_keys(keys) == ("key-one", "key-two")
        keys.write_text("# nothing but a comment\n")
        with pytest.raises(SettingsError, match="no API key"):
            read_api_keys(keys)
        keys.write_text("two words\n")
        with pytest.raises(SettingsError, match="one word"):
            read_api_keys(keys)
        with pytest.raises(SettingsError, match="cannot read"):
            read_api_keys(tmp_path / "missing.txt")

    def test_key_ring(self):
        ring = KeyRing(("alpha", "beta"))
        assert ring.accepts(b"beta") and ring.accepts(b"alpha")
        assert not ring.accepts(b"gamma") and not ring.accepts(b"") and not ring.accepts(None)
        assert not ring.accepts(b"alph") and not KeyRing(())

    @pytest.mark.parametrize(
        "field, value",
        [("port", 70000), ("workers", 0), ("timeout", 0.0), ("grace", float("inf"))],
    )
    def test_bad_settings(self, field, value):
        with pytest.raises(SettingsError):
            ServiceSettings(**{field: value})

    def test_the_command_refuses_bad_options_in_one_line(self, tmp_path, capsys):
        from stowvex_tools.cli import main

        assert main(["serve", "--max-body", "lots"]) == 2
        assert main(["serve", "--api-keys", str(tmp_path / "none.txt")]) == 2
        errors = capsys.readouterr().err.splitlines()
        assert len(errors) == 2 and all(e.startswith("stowvex: error: ") for e in errors)


def test_api_keys_are_asked_for_and_never_logged(start, tmp_path):
    keys = tmp_path / "keys.txt"
    keys.write_text("# one key a line\nsecret-key-1\nsecret-key-2\n")
    service = start("--workers", "1", "--api-keys", str(keys))
    client = service.client
    document = assert_problem(client.post("/v1/pack", content=EXAMPLE_REQUEST), 401, "unauthorized")
    assert "X-API-Key" in document["detail"]
    wrong = client.post("/v1/pack", content=EXAMPLE_REQUEST, headers={"X-API-Key": "secret-key"})
    assert_problem(wrong, 401, "unauthorized")
    assert_problem(client.get(f"/v1/batches/{'0' * 32}"), 401, "unauthorized")
    right = client.post("/v1/pack", content=EXAMPLE_REQUEST, headers={"X-API-Key": "secret-key-2"})
    assert right.status_code == 200
    for path in ("/healthz", "/readyz", "/metrics", "/openapi.json", "/docs"):
        assert client.get(path).status_code == 200, path
    time.sleep(0.2)
    assert "secret-key" not in service.log()
    assert service.log_records()[0]["api_keys"] == 2


def test_a_body_over_the_limit_is_refused_before_it_is_read(start):
    service = start("--workers", "1", "--max-body", "4kB")
    with socket.create_connection((HOST, service.port), timeout=10) as connection:
        connection.sendall(
            b"POST /v1/pack HTTP/1.1\r\nHost: stowvex\r\nContent-Type: application/json\r\n"
            b"Content-Length: 50000000\r\n\r\n" + b" " * 1000
        )
        reply = b""
        while part := connection.recv(65536):  # the service closes the connection
            reply += part
    head, _, body = reply.decode().partition("\r\n\r\n")
    assert head.startswith("HTTP/1.1 413")
    assert json.loads(body)["type"] == "urn:stowvex:problem:body-too-large"

    def chunks():
        for _ in range(10):
            yield b" " * 500

    streamed = service.client.post("/v1/pack", content=chunks())  # no Content-Length
    assert_problem(streamed, 413, "body-too-large")
    assert service.client.post("/v1/pack", content=EXAMPLE_REQUEST).status_code == 200


def test_a_timeout_is_504_and_other_requests_are_answered_meanwhile(start):
    service = start("--workers", "2", "--timeout", "4")
    client = service.client
    with ThreadPoolExecutor(2) as pool:
        started = time.monotonic()
        slow = pool.submit(client.post, "/v1/pack", params={"timeout": "2.5"}, content=ENDLESS)
        busy_pid(service)
        fast_times = []
        while not slow.done() and len(fast_times) < 50:
            answer = client.post("/v1/pack", content=EXAMPLE_REQUEST)
            assert answer.status_code == 200
            fast_times.append(time.monotonic() - started)
        timed_out = slow.result(timeout=30)
        slow_time = time.monotonic() - started
    document = assert_problem(timed_out, 504, "timeout")
    assert "2.5 s" in document["detail"]
    assert 2.4 <= slow_time < 8.0
    assert fast_times and fast_times[0] < 2.4
    # Without a timeout of its own a request has the server's.
    started = time.monotonic()
    assert_problem(client.post("/v1/pack", content=ENDLESS), 504, "timeout")
    assert 3.9 <= time.monotonic() - started < 10.0
    assert "stowvex_timeouts_total 2.0" in client.get("/metrics").text


def test_a_full_queue_is_503_with_retry_after(start):
    service = start("--workers", "1", "--queue", "1")
    client = service.client
    with ThreadPoolExecutor(2) as pool:
        first = pool.submit(client.post, "/v1/pack", params={"timeout": "2"}, content=ENDLESS)
        busy_pid(service)
        second = pool.submit(
            client.post, "/v1/pack", params={"timeout": "6"}, content=EXAMPLE_REQUEST
        )
        deadline = time.monotonic() + 10
        while "stowvex_queue_depth 1.0" not in client.get("/metrics").text:
            assert time.monotonic() < deadline
            time.sleep(0.02)
        refused = client.post("/v1/pack", content=EXAMPLE_REQUEST)
        document = assert_problem(refused, 503, "queue-full")
        assert refused.headers["retry-after"] == "1" and "waiting" in document["detail"]
        assert first.result(timeout=30).status_code == 504
        assert second.result(timeout=30).content == stowvex.solve(EXAMPLE_REQUEST).encode()


def test_a_killed_packing_process_fails_only_its_request(start):
    service = start("--workers", "2")
    client = service.client
    with ThreadPoolExecutor(1) as pool:
        doomed = pool.submit(client.post, "/v1/pack", params={"timeout": "9"}, content=ENDLESS)
        pid = busy_pid(service)
        os.kill(pid, signal.SIGKILL)
        document = assert_problem(doomed.result(timeout=30), 500, "worker-lost")
    assert str(pid) in document["detail"]
    for _ in range(4):  # on the other process, then on the new one
        assert client.post("/v1/pack", content=EXAMPLE_REQUEST).status_code == 200
    ready = service.wait_ready()
    pids = {w["pid"] for w in ready["workers"]}
    assert len(pids) == 2 and pid not in pids
    assert "stowvex_worker_restarts_total 1.0" in client.get("/metrics").text


def test_sigterm_finishes_the_request_in_flight_then_exits_0(start):
    # Time enough for a build with sanitizers, where the packing takes ten times longer.
    service = start("--workers", "1", "--grace", "200", "--timeout", "150")
    request = slow_request(500)
    with ThreadPoolExecutor(1) as pool:
        in_flight = pool.submit(service.client.post, "/v1/pack", content=request)
        busy_pid(service)
        service.process.send_signal(signal.SIGTERM)
        time.sleep(0.3)
        with pytest.raises(httpx.TransportError):  # no longer accepting
            httpx.get(f"{service.url}/healthz", timeout=2)
        answer = in_flight.result(timeout=200)
    assert answer.status_code == 200
    assert answer.content == stowvex.solve(request).encode()
    assert service.process.wait(60) == 0


def test_batches_survive_a_restart(start, tmp_path):
    jobs = tmp_path / "jobs"
    service = start("--workers", "1", "--jobs-dir", str(jobs))
    quick = {"items": [{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1}]}
    quick["boxes"] = [{"Reference": "B", "Width": 2, "Length": 2, "Depth": 2}]
    headers = {"Content-Type": "application/x-ndjson"}
    finished = service.client.post(
        "/v1/batches", content=json.dumps(dict(quick, id="f")), headers=headers
    ).headers["location"]
    lines = [dict(quick, id=1), dict(json.loads(ENDLESS), id=2), dict(quick, id=3)]
    running = service.client.post(
        "/v1/batches",
        params={"timeout": "3"},
        content="\n".join(json.dumps(line) for line in lines),
        headers=headers,
    ).headers["location"]
    deadline = time.monotonic() + 30
    while service.client.get(running).json()["done"] < 1:
        assert time.monotonic() < deadline
        time.sleep(0.05)
    assert service.client.get(finished).json()["state"] == "done"
    assert service.stop() == 0
    broken = jobs / "jobs" / ("f" * 32)  # a folder left half made by a crash
    broken.mkdir()
    (broken / "state.json").write_text("{not json")

    again = start("--workers", "1", "--jobs-dir", str(jobs))
    assert again.client.get(finished).json()["state"] == "done"
    assert_problem(again.client.get(f"/v1/batches/{'f' * 32}"), 404, "not-found")
    deadline = time.monotonic() + 60
    while (status := again.client.get(running).json())["state"] != "done":
        assert time.monotonic() < deadline, status
        time.sleep(0.1)
    records = [json.loads(line) for line in again.client.get(f"{running}/results").iter_lines()]
    assert [r["id"] for r in records] == [1, 2, 3]
    assert "timeout" in records[1]["error"] and (status["done"], status["failed"]) == (2, 1)
