"""The HTTP service under load, on the loopback interface only: `stowvex serve` driven by
wrk (Debian's), beside stowvex_tools.pack_many on the same cores in the same run.

  (a) peak: the 30-item, 10-type carton orders of bench/targets.py (50 orders, sent in
      turn) at 1 and 2 packing processes, with the request check (the default) and
      without it (check=false): requests per second and p50/p95/p99 latency, against
      pack_many's orders per second with as many worker processes (target: at least
      60 % of it);
  (b) half the peak rate of 2 processes, paced: p50/p95/p99 (target: p99 at most 25 ms);
  (c) a soak at half the peak rate for --soak seconds (default 600): errors, and the
      resident memory of the service and its packing processes at the start and end;
  (d) the same paced load with 1 % more requests, each one that runs into its timeout
      (--slow-timeout, default 0.1 s; a truck-sized order), sent beside wrk: the p99 of
      wrk's requests against (b) (target: at most 2 times); then (d') the same rate on
      --mix-workers processes (default 4, more than the cores), without and with the
      slow requests, so that two slow ones at once still leave a process free.

Every run is bounded in time (--seconds a run); the service binds 127.0.0.1 on a free
port and is stopped at the end. The machine's load average is printed before and after.

Usage: service_load.py [--seconds 10] [--soak 600] [--slow-timeout 0.1] [--mix-workers 4]
"""

import argparse
import json
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import benchlib
import targets

HOST = "127.0.0.1"
ORDERS = 50

# wrk's script: the bodies in turn; with PACE_MS a connection waits that long before
# each request (wrk's delay()), which paces the load; at the end the figures as JSON.
WRK_SCRIPT = """
local bodies = {}
local next_body = 0
local pace = tonumber(os.getenv("PACE_MS") or "0")
function init(args)
  for line in io.lines(os.getenv("BODIES")) do bodies[#bodies + 1] = line end
end
function request()
  next_body = next_body % #bodies + 1
  return wrk.format("POST", os.getenv("TARGET_PATH"), {["Content-Type"] = "application/json"},
                    bodies[next_body])
end
function delay()
  if pace > 0 then return pace * (0.5 + math.random()) end
  return 0
end
function done(summary, latency, requests)
  local errors = summary.errors
  io.write(string.format(
    'WRK {"requests": %d, "seconds": %f, "non2xx": %d, "socket_errors": %d, ' ..
    '"p50": %f, "p95": %f, "p99": %f, "max": %f}\\n',
    summary.requests, summary.duration / 1e6, errors.status,
    errors.connect + errors.read + errors.write + errors.timeout,
    latency:percentile(50) / 1e3, latency:percentile(95) / 1e3,
    latency:percentile(99) / 1e3, latency.max / 1e3))
end
"""


def free_port():
    with socket.socket() as probe:
        probe.bind((HOST, 0))
        return probe.getsockname()[1]


def load_average():
    return " ".join(f"{x:.2f}" for x in os.getloadavg())


class Service:
    def __init__(self, workers, work):
        self.port = free_port()
        self.url = f"http://{HOST}:{self.port}"
        self.log = open(work / f"service-{self.port}.log", "wb")  # noqa: SIM115
        self.process = subprocess.Popen(
            [
                sys.executable,
                "-c",
                "from stowvex_tools.cli import run; run()",
                "serve",
                "--host",
                HOST,
                "--port",
                str(self.port),
                "--workers",
                str(workers),
                "--log-level",
                "warning",
                "--queue",
                "1000",
            ],
            stdout=subprocess.DEVNULL,
            stderr=self.log,
        )
        deadline = time.monotonic() + 90
        while time.monotonic() < deadline:
            try:
                self.ready = json.loads(self.get("/readyz"))
                return
            except OSError:
                time.sleep(0.1)
        self.stop()
        sys.exit("the service did not start")

    def get(self, path):
        import http.client

        connection = http.client.HTTPConnection(HOST, self.port, timeout=5)
        try:
            connection.request("GET", path)
            answer = connection.getresponse()
            if answer.status != 200:
                raise OSError(f"status {answer.status}")
            return answer.read()
        finally:
            connection.close()

    def post(self, path, body, timeout=30):
        import http.client

        connection = http.client.HTTPConnection(HOST, self.port, timeout=timeout)
        try:
            connection.request("POST", path, body, {"Content-Type": "application/json"})
            answer = connection.getresponse()
            answer.read()
            return answer.status
        finally:
            connection.close()

    def resident_mb(self):
        """The resident memory of the service and of its packing processes, in MB."""
        pids = [self.process.pid] + [w["pid"] for w in json.loads(self.get("/readyz"))["workers"]]
        total = 0
        for pid in pids:
            with open(f"/proc/{pid}/status") as status:
                for line in status:
                    if line.startswith("VmRSS:"):
                        total += int(line.split()[1])
        return total / 1024

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.log.close()


def wrk(service, work, path, seconds, connections, pace_ms=0.0, bodies="bodies.txt"):
    script = work / "load.lua"
    script.write_text(WRK_SCRIPT)
    env = dict(
        os.environ,
        BODIES=str(work / bodies),
        TARGET_PATH=path,
        PACE_MS=f"{pace_ms:.3f}",
    )
    command = [
        "wrk",
        "-t1",
        f"-c{connections}",
        f"-d{seconds}s",
        "--timeout",
        "10s",
        "-s",
        str(script),
        service.url,
    ]
    output = subprocess.run(
        command, env=env, capture_output=True, text=True, timeout=seconds + 60
    ).stdout
    for line in output.splitlines():
        if line.startswith("WRK "):
            figures = json.loads(line[4:])
            figures["rate"] = figures["requests"] / figures["seconds"]
            return figures
    sys.exit(f"wrk gave no figures:\n{output}")


def in_process_rate(requests, workers, seconds):
    """pack_many's orders per second on `workers` processes, over about `seconds`."""
    from stowvex_tools import pack_many

    count = len(requests) * 4
    list(pack_many(requests * 4, workers=workers, progress=False))  # start-up, untimed
    while True:
        start = time.perf_counter()
        for _ in pack_many(requests * (count // len(requests)), workers=workers, progress=False):
            pass
        elapsed = time.perf_counter() - start
        if elapsed >= seconds * 0.5 or count > 10**6:
            return count / elapsed
        count = int(count * seconds / max(elapsed, 0.01))


def row(name, figures, extra=""):
    return (
        f"  {name:<34} {figures['rate']:8.0f} req/s  p50 {figures['p50']:6.2f}  "
        f"p95 {figures['p95']:6.2f}  p99 {figures['p99']:6.2f} ms  errors "
        f"{figures['non2xx'] + figures['socket_errors']}{extra}"
    )


def slow_sender(service, rate, timeout, body, stop, outcomes):
    """Sends `rate` slow requests a second until `stop` is set; records their statuses."""
    rng = random.Random(11)
    path = f"/v1/pack?timeout={timeout}"
    while not stop.is_set():
        threading.Thread(
            target=lambda: outcomes.append(service.post(path, body)), daemon=True
        ).start()
        stop.wait(rng.expovariate(rate))


def with_slow_requests(service, work, paced, pace, seconds, slow_timeout):
    """wrk's paced load with 1 % more requests beside it that run into their timeout."""
    slow_body = json.dumps(json.loads(targets_slow_request()))
    stop = threading.Event()
    outcomes = []
    sender = threading.Thread(
        target=slow_sender,
        args=(service, paced["rate"] / 99, slow_timeout, slow_body, stop, outcomes),
    )
    sender.start()
    try:
        mixed = wrk(service, work, "/v1/pack", seconds, 8, pace)
    finally:
        stop.set()
        sender.join()
    time.sleep(slow_timeout + 1.5)
    timeouts = sum(1 for status in outcomes if status == 504)
    mixed["slow"] = f"  ({timeouts} of {len(outcomes)} slow ones timed out)"
    return mixed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=10.0, help="seconds a load run")
    parser.add_argument("--soak", type=float, default=600.0, help="seconds of the soak")
    parser.add_argument("--slow-timeout", type=float, default=0.1)
    parser.add_argument(
        "--mix-workers", type=int, default=4, help="processes of the second mix (d')"
    )
    args = parser.parse_args()
    if shutil.which("wrk") is None:
        sys.exit("wrk is not installed (apt-get install wrk, or make bench-service)")
    benchlib.import_engine()
    seconds = max(1, round(args.seconds))
    requests = [targets.carton_order_request(seed) for seed in range(1, ORDERS + 1)]
    work = Path(tempfile.mkdtemp(prefix="stowvex-service-bench-"))
    (work / "bodies.txt").write_text("\n".join(json.dumps(json.loads(r)) for r in requests))
    print(benchlib.machine_line())
    print(f"load average before: {load_average()}")
    print(f"{ORDERS} carton orders of 30 items in 10 carton types, sent in turn\n")
    met = []
    try:
        print("(a) peak, closed loop (wrk, 1 thread, 4 connections a process)")
        peak = {}
        for workers in (1, 2):
            baseline = in_process_rate(requests, workers, args.seconds)
            print(f"  pack_many, {workers} process(es)           {baseline:8.0f} orders/s")
            service = Service(workers, work)
            try:
                wrk(service, work, "/v1/pack", 2, 4 * workers)  # warm-up
                for check in ("true", "false"):
                    figures = wrk(service, work, f"/v1/pack?check={check}", seconds, 4 * workers)
                    share = figures["rate"] / baseline
                    peak[workers, check] = figures
                    print(
                        row(
                            f"service, {workers} process(es), check={check}",
                            figures,
                            f"  ({100 * share:.0f} % of pack_many)",
                        )
                    )
                    met.append((f"peak {workers} w check={check}: >= 60 %", share >= 0.6))
            finally:
                service.stop()

        half = peak[2, "true"]["rate"] / 2
        service = Service(2, work)
        try:
            connections = 8
            pace = 1000 * connections / half
            wrk(service, work, "/v1/pack", 2, 8)  # warm-up
            print(f"\n(b) paced at half the peak of 2 processes ({half:.0f} req/s wanted)")
            paced = wrk(service, work, "/v1/pack", seconds, connections, pace)
            print(row("service, 2 processes", paced))
            met.append(("half peak: p99 <= 25 ms", paced["p99"] <= 25))

            print(f"\n(d) the same with 1 % slow requests (timeout {args.slow_timeout:g} s)")
            mixed = with_slow_requests(service, work, paced, pace, seconds, args.slow_timeout)
            print(row("service, 2 processes, the 99 %", mixed, mixed["slow"]))
            ratio = mixed["p99"] / paced["p99"]
            print(f"  p99 with slow requests / without: {ratio:.2f}")
            met.append(("1 % slow, 2 processes: p99 <= 2 x", ratio <= 2.0))

            print(f"\n(c) soak at half the peak rate for {args.soak:g} s")
            before = service.resident_mb()
            soak = wrk(service, work, "/v1/pack", max(1, round(args.soak)), connections, pace)
            after = service.resident_mb()
            print(row("service, 2 processes", soak))
            print(
                f"  resident memory, service and packing processes: {before:.1f} MB at the "
                f"start, {after:.1f} MB at the end"
            )
            errors = soak["non2xx"] + soak["socket_errors"]
            met.append(("soak: no error", errors == 0))
            met.append(("soak: memory flat (within 10 %)", after <= before * 1.1))
        finally:
            service.stop()
        workers = args.mix_workers
        print(f"\n(d') the same rate on {workers} processes, without and with 1 % slow requests")
        service = Service(workers, work)
        try:
            wrk(service, work, "/v1/pack", 2, connections)  # warm-up
            alone = wrk(service, work, "/v1/pack", seconds, connections, pace)
            print(row(f"service, {workers} processes", alone))
            mixed = with_slow_requests(service, work, alone, pace, seconds, args.slow_timeout)
            print(row(f"service, {workers} processes, the 99 %", mixed, mixed["slow"]))
            ratio = mixed["p99"] / alone["p99"]
            print(f"  p99 with slow requests / without: {ratio:.2f}")
            met.append((f"1 % slow, {workers} processes: p99 <= 2 x", ratio <= 2.0))
        finally:
            service.stop()
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print(f"\nload average after: {load_average()}")
    print("\ntargets:")
    for name, ok in met:
        print(f"  {'met' if ok else 'NOT met'}: {name}")
    return 0


def targets_slow_request():
    """A truck-sized order that takes the engine minutes: only its timeout ends it."""
    import large_orders

    return large_orders.one_type_request(3000, "1.1", 1)


if __name__ == "__main__":
    sys.exit(main())
