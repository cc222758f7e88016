"""The optimiser's time limit on large requests: each call of
stowvex_tools.optimise_json must return within its time limit plus the engine's own
packing time (the starting point, which always runs to its end) plus 5 %.

Deterministic requests (SplitMix64, fixed seeds) of 5,000 and 10,000 items into one
box type and into three, and 2,000 and 5,000 items under min_support 1.0 (which the
engine's result breaks, so that the optimiser must build its own), each timed against
the engine (stowvex.solve on the same text) and a few time limits. (The engine's own
time grows steeply past 11,000 items into one box, bench/README.md, so the sizes stop
at 10,000.) For every call: the engine's time, the call's wall time and CPU time (of
the process, with threads=1), the target "limit + engine time + 5 %" and whether both
times met it. Every result is checked by stowvex_tools.validate. The exit status is 1
when a target is not met or a result has a violation.

Usage: optimiser_deadline.py [--repeat N] [--quick]
"""

import argparse
import json
import sys
import time

import benchlib
from targets import item_text, random_items

# (name, items, box types, min_support, time limits in seconds)
CASES = (
    ("5,000 items, 1 type", 5000, 1, 0.0, (0.01, 0.1)),
    ("10,000 items, 1 type", 10000, 1, 0.0, (0.05, 0.5)),
    ("10,000 items, 3 types", 10000, 3, 0.0, (0.1, 1.0)),
    ("5,000 items, support 1.0", 5000, 1, 1.0, (0.01, 0.1, 1.0)),
    ("2,000 items, support 1.0", 2000, 1, 1.0, (0.01, 0.1)),
)
QUICK = (("5,000 items, 1 type", 5000, 1, 0.0, (0.01,)),)


def request_text(n, types):
    """n random weighted items (sides 5.5 to 60.5) and box types of 1000 x 1000 x
    1000, 1100 x 1100 x 1100, ... (each takes them all), as bench/targets.py's one
    box type."""
    items = random_items(benchlib.SplitMix64(1_000_003 + n), n)
    boxes = [
        f'{{"Reference": "B{k}", "Width": {s}, "Length": {s}, "Depth": {s}}}'
        for k, s in enumerate(1000 + 100 * k for k in range(types))
    ]
    return (
        '{"items": ['
        + ", ".join(item_text(*i) for i in items)
        + '], "boxes": ['
        + ", ".join(boxes)
        + "]}"
    )


def timed(call, *args, **keywords):
    wall, cpu = time.perf_counter(), time.process_time()
    result = call(*args, **keywords)
    return result, time.perf_counter() - wall, time.process_time() - cpu


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=1, help="calls per limit (the worst counts)")
    parser.add_argument("--quick", action="store_true", help="the 5,000-item request only")
    args = parser.parse_args(argv)
    stowvex = benchlib.import_engine()
    from stowvex_tools import optimise_json, validate

    status = 0
    header = (
        f"{'request':24s} {'engine s':>9s} {'limit s':>8s} {'wall s':>8s} {'CPU s':>8s} "
        f"{'target s':>9s}  target"
    )
    print(header)
    print("-" * len(header))
    for name, n, types, support, limits in QUICK if args.quick else CASES:
        text = request_text(n, types)
        request = json.loads(text)
        _, engine, _ = timed(stowvex.solve, text)
        for limit in limits:
            worst_wall = worst_cpu = 0.0
            faults = 0
            for _ in range(args.repeat):
                result, wall, cpu = timed(
                    optimise_json, text, time_limit=limit, min_support=support
                )
                worst_wall, worst_cpu = max(worst_wall, wall), max(worst_cpu, cpu)
                data = json.loads(result)
                faults += bool(
                    validate(data, request["items"], request["boxes"], min_support=support)
                )
            target = (limit + engine) * 1.05
            met = worst_wall <= target and worst_cpu <= target and not faults
            status = status or not met
            verdict = "met" if met else "NOT MET"
            if faults:
                verdict += f" ({faults} invalid)"
            print(
                f"{name:24s} {engine:9.3f} {limit:8.3f} {worst_wall:8.3f} {worst_cpu:8.3f} "
                f"{target:9.3f}  {verdict}",
                flush=True,
            )
    print(benchlib.machine_line())
    return int(status)


if __name__ == "__main__":
    sys.exit(main())
