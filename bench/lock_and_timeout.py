"""The interpreter lock and the timeout of stowvex_tools.solve: what other Python threads
get while it packs, two threads packing at once, how soon a timeout stops a packing,
and the memory of many stopped calls.

  (a) a thread that counts as fast as it can, alone and while solve() packs a request of
      half a second or more on the main thread (target: at least 90 % of its rate
      alone); beside it the same with stowvex.solve, which holds the lock;
  (b) two requests packed by two threads at once against one after the other (target:
      at most 0.6 times the time);
  (c) solve(timeout=0.2) on a request that takes the engine many minutes: the time to
      the PackingTimeout over --calls-timed calls (target: 0.25 s at most), and the
      resident memory before and after --calls-memory stopped calls with timeouts
      spread from 5 ms to 0.2 s, so that they stop at every stage of the run;
  (d) the cost of the call itself: microseconds per call of stowvex.solve and
      stowvex_tools.solve on 30-item carton orders.

Requests are those of bench/large_orders.py and bench/targets.py (fixed seeds); each
result is compared with stowvex.solve's, untimed.
"""

import argparse
import json
import os
import resource
import statistics
import sys
import threading
import time

import benchlib
import large_orders
import targets


def resident_mb():
    """The resident memory of this process now, in MB (Linux), else its peak."""
    try:
        with open("/proc/self/statm") as statm:
            pages = int(statm.read().split()[1])
        return pages * os.sysconf("SC_PAGE_SIZE") / 1e6
    except OSError:
        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1e3


class Counter:
    """A thread that counts until stopped."""

    def __init__(self):
        self.count = 0
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def _run(self):
        while not self._stop.is_set():
            self.count += 1

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()


def counting_rate(seconds):
    """Counts per second of the counter alone."""
    with Counter() as counter:
        start, before = time.perf_counter(), counter.count
        time.sleep(seconds)
        return (counter.count - before) / (time.perf_counter() - start)


def rate_during(solve, request):
    """Counts per second of the counter while `solve` packs the request here; and the
    seconds the packing took."""
    with Counter() as counter:
        time.sleep(0.05)  # under way
        start, before = time.perf_counter(), counter.count
        solve(request)
        seconds = time.perf_counter() - start
        return (counter.count - before) / seconds, seconds


def lock_rates(stowvex, tools, request, repeat):
    expected = stowvex.solve(request)
    if tools.solve(request) != expected:
        raise SystemExit("stowvex_tools.solve differs from stowvex.solve")
    alone_seconds = min(benchlib.timed(tools.solve, request)[1] for _ in range(2))
    rows, shares = [], []
    for name, solve in (("stowvex_tools.solve", tools.solve), ("stowvex.solve", stowvex.solve)):
        alone, during, seconds = [], [], []
        for _ in range(repeat):
            alone.append(counting_rate(min(alone_seconds, 1.0)))
            rate, took = rate_during(solve, request)
            during.append(rate)
            seconds.append(took)
        share = statistics.median(during) / statistics.median(alone)
        shares.append(share)
        rows.append(
            [
                name,
                f"{statistics.median(alone) / 1e6:.2f} M/s",
                f"{statistics.median(during) / 1e6:.2f} M/s",
                f"{100 * share:.0f} %",
                benchlib.duration(alone_seconds),
                benchlib.duration(statistics.median(seconds)),
            ]
        )
    return rows, shares[0]


def pack_into(tools, requests, results, k):
    results[k] = tools.solve(requests[k])


def two_threads(stowvex, tools, requests, repeat):
    expected = [stowvex.solve(r) for r in requests]
    sequential, parallel = [], []
    for _ in range(repeat):
        start = time.perf_counter()
        one_after_the_other = [tools.solve(r) for r in requests]
        sequential.append(time.perf_counter() - start)
        results = [None] * len(requests)
        threads = [
            threading.Thread(target=pack_into, args=(tools, requests, results, k))
            for k in range(len(requests))
        ]
        start = time.perf_counter()
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        parallel.append(time.perf_counter() - start)
        if one_after_the_other != expected or results != expected:
            raise SystemExit("threads packing at once gave other results")
    return statistics.median(sequential), statistics.median(parallel)


def timeouts(tools, request, calls, timeout):
    seconds = []
    for _ in range(calls):
        start = time.perf_counter()
        try:
            tools.solve(request, timeout=timeout)
        except tools.PackingTimeout:
            seconds.append(time.perf_counter() - start)
        else:
            raise SystemExit("the request packed within its timeout: give a longer one")
    return seconds


def memory_of_stopped_calls(tools, request, calls, check):
    start = resident_mb()
    for k in range(calls):
        timeout = 0.005 + 0.195 * (k % 40) / 39  # 5 ms to 0.2 s
        try:
            if k % 4 == 3:
                tools.pack_dicts(*check["values"], timeout=timeout)
            else:
                tools.solve(request, timeout=timeout)
        except tools.PackingTimeout:
            pass
        if k % 100 == 99 and tools.solve(check["text"]) != check["expected"]:
            raise SystemExit("a call after stopped calls gave another result")
    return start, resident_mb()


def call_cost(stowvex, tools, requests, rounds):
    costs = {}
    for name, solve in (("stowvex.solve", stowvex.solve), ("stowvex_tools.solve", tools.solve)):
        best = []
        for _ in range(rounds):
            start = time.perf_counter()
            for r in requests:
                solve(r)
            best.append((time.perf_counter() - start) / len(requests))
        costs[name] = min(best)
    return costs


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=3, help="runs of (a) and (b)")
    parser.add_argument("--calls-timed", type=int, default=50, help="timed calls of (c)")
    parser.add_argument("--calls-memory", type=int, default=1000, help="stopped calls of (c)")
    parser.add_argument("--timeout", type=float, default=0.2, help="the timeout of (c), s")
    args = parser.parse_args(argv)

    stowvex = benchlib.import_engine()
    import stowvex_tools as tools

    print("stowvex_tools.solve: the interpreter lock released, two threads, timeouts")
    print(f"machine: {benchlib.machine_line()}")
    failed = []

    # (a)
    request = large_orders.groups_limits_request(500, 1)
    rows, share = lock_rates(stowvex, tools, request, args.repeat)
    print("\n(a) a counting thread while the main thread packs groups_limits/500/1")
    print(
        benchlib.table(
            ["packing with", "count alone", "count during", "share", "pack alone", "pack during"],
            rows,
        )
    )
    if share < 0.9:
        failed.append(f"(a) the counter kept {100 * share:.0f} % of its rate (target 90 %)")

    # (b)
    pair = [
        large_orders.groups_limits_request(500, 1),
        large_orders.groups_limits_request(500, 3),
    ]
    sequential, parallel = two_threads(stowvex, tools, pair, args.repeat)
    ratio = parallel / sequential
    print("\n(b) groups_limits/500/1 and groups_limits/500/3, median of", args.repeat)
    print(
        benchlib.table(
            ["one after the other", "two threads at once", "ratio"],
            [[benchlib.duration(sequential), benchlib.duration(parallel), f"{ratio:.2f}"]],
            [">", ">", ">"],
        )
    )
    if ratio > 0.6:
        failed.append(f"(b) two threads took {ratio:.2f} of the time (target 0.6)")

    # (c)
    endless = large_orders.one_type_request(3000, "1.1", 1)
    seconds = timeouts(tools, endless, args.calls_timed, args.timeout)
    late = [s - args.timeout for s in seconds]
    print(
        f"\n(c) solve(timeout={args.timeout:g}) on one_type_two_boxes/3000 (minutes of "
        f"packing), {len(seconds)} calls: seconds to the PackingTimeout"
    )
    print(
        benchlib.table(
            ["min", "median", "p90", "max", "latest past the limit"],
            [
                [
                    f"{min(seconds):.4f}",
                    f"{statistics.median(seconds):.4f}",
                    f"{benchlib.quantile(seconds, 0.9):.4f}",
                    f"{max(seconds):.4f}",
                    benchlib.duration(max(late)),
                ]
            ],
            [">"] * 5,
        )
    )
    if max(seconds) > args.timeout + 0.05:
        failed.append(f"(c) a call took {max(seconds):.3f} s (target {args.timeout + 0.05:g} s)")
    small = large_orders.groups_limits_request(100, 1)
    value = json.loads(endless)
    check = {
        "text": small,
        "expected": stowvex.solve(small),
        "values": (value["items"], value["boxes"]),
    }
    start, end = memory_of_stopped_calls(tools, endless, args.calls_memory, check)
    print(
        f"    resident memory: {start:.1f} MB before, {end:.1f} MB after "
        f"{args.calls_memory} stopped calls (timeouts 5 ms to 0.2 s; solve, and pack_dicts)"
    )
    if end > start * 1.1 + 5:
        failed.append(f"(c) memory grew from {start:.1f} MB to {end:.1f} MB")

    # (d)
    cartons = [targets.carton_order_request(seed) for seed in range(1, 51)]
    costs = call_cost(stowvex, tools, cartons, 20)
    print("\n(d) 30-item carton orders (50 orders, best of 20 rounds): time per call")
    print(
        benchlib.table(
            ["stowvex.solve", "stowvex_tools.solve"],
            [[f"{1e6 * costs[n]:.1f} us" for n in ("stowvex.solve", "stowvex_tools.solve")]],
            [">", ">"],
        )
    )

    for line in failed:
        print(f"target missed: {line}", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
