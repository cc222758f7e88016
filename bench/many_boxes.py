"""The optimiser on many-box orders: items of fixed orientation into identical
cubic bins, in the eight classes of the three-dimensional bin packing literature
(Martello, Pisinger and Vigo, 2000), generated here with fixed seeds from their
published description:

  classes 1-5  bins 100 x 100 x 100; items of five shapes, each side drawn from a
               range: (1) narrow, [1, 50] x [67, 100] x [67, 100]; (2) short,
               [67, 100] x [1, 50] x [67, 100]; (3) flat, [67, 100] x [67, 100] x
               [1, 50]; (4) large, [50, 100] on every side; (5) small, [1, 50] on
               every side. In class k, an item has shape k with chance 60 % and
               each other shape with chance 10 %.
  class 6      bins 10 on every side, items [1, 10] on every side
  class 7      bins 40, items [1, 35]
  class 8      bins 100, items [1, 100]

For every instance: the bins of the engine, of the optimiser at a time limit and
at a fixed effort, and a lower bound computed apart from the optimiser
(box_bounds.py: volume, items that cannot share a bin, dual feasible functions).
Every result is checked by stowvex_tools.validate; a fault makes the script exit 1.

Usage: many_boxes.py [--items 200] [--instances 5] [--classes 1-8] [--time-limit 1]
       [--effort 1e8] [--jobs N]
"""

import argparse
import multiprocessing
import os
import sys
import time

import benchlib
import box_bounds
from container_loading import parse_sets

SHAPES = {
    1: ((1, 50), (67, 100), (67, 100)),
    2: ((67, 100), (1, 50), (67, 100)),
    3: ((67, 100), (67, 100), (1, 50)),
    4: ((50, 100), (50, 100), (50, 100)),
    5: ((1, 50), (1, 50), (1, 50)),
}
UNIFORM = {6: (10, (1, 10)), 7: (40, (1, 35)), 8: (100, (1, 100))}


def instance(klass, items, number):
    """(bin side, [(w, l, d)]) of one instance, the same on every machine."""
    rng = benchlib.SplitMix64(1_000_003 * klass + 7919 * items + number)
    if klass in UNIFORM:
        side, (low, high) = UNIFORM[klass]
        return side, [tuple(rng.between(low, high) for _ in range(3)) for _ in range(items)]
    sizes = []
    for _ in range(items):
        roll = rng.below(10)
        others = [s for s in SHAPES if s != klass]
        shape = klass if roll < 6 else others[roll - 6]
        sizes.append(tuple(rng.between(low, high) for low, high in SHAPES[shape]))
    return 100, sizes


_engine = _tools = None


def _start_worker():
    global _engine, _tools
    _engine = benchlib.import_engine()
    import stowvex_tools

    _tools = stowvex_tools


def _solve(task):
    klass, items, number, time_limit, effort = task
    side, sizes = instance(klass, items, number)
    never = _engine.Rotation.NEVER
    order = [
        _engine.Item(f"I{n:03d}", "", w, l, d, 0, "", never) for n, (w, l, d) in enumerate(sizes)
    ]
    boxes = [_engine.Box("BIN", side, side, side)]
    engine = _engine.pack(order, boxes)
    record = {"class": klass, "number": number, "engine": len(engine.boxes), "faults": 0}
    for name, keywords in (
        ("timed", {"time_limit": time_limit}),
        ("effort", {"time_limit": None, "effort": effort}),
    ):
        start, cpu = time.perf_counter(), time.process_time()
        result = _tools.optimise(order, boxes, **keywords)
        record[f"{name}_seconds"] = time.perf_counter() - start
        record[f"{name}_cpu"] = time.process_time() - cpu
        record[name] = len(result.boxes) if result.total_placed == len(order) else None
        record["faults"] += len(_tools.validate(result, order, boxes))
    record["bound"] = box_bounds.box_bound([[s] for s in sizes], (side, side, side))
    return record


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--items", type=int, default=200, help="items per instance (%(default)s)")
    parser.add_argument(
        "--instances", type=int, default=5, help="instances per class (%(default)s)"
    )
    parser.add_argument("--classes", default="1-8", help="classes (default: %(default)s)")
    parser.add_argument("--time-limit", type=float, default=1.0, help="seconds (%(default)s)")
    parser.add_argument("--effort", type=float, default=1e8, help="effort units (%(default)s)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="at once")
    args = parser.parse_args(argv)
    tasks = [
        (k, args.items, n, args.time_limit, int(args.effort))
        for k in parse_sets(args.classes)
        for n in range(args.instances)
    ]
    started = time.perf_counter()
    with multiprocessing.Pool(args.jobs, initializer=_start_worker) as pool:
        records = list(pool.imap(_solve, tasks))
    print(
        f"stowvex optimiser, many-box orders: {args.items} items of fixed orientation, "
        f"identical bins, {args.instances} instances a class, time_limit {args.time_limit} s "
        f"and effort {args.effort:.0e}, {args.jobs} at once, {time.perf_counter() - started:.0f} s"
    )
    print(f"machine: {benchlib.machine_line()}")
    rows = []
    for klass in sorted({r["class"] for r in records}):
        rows.append(_row(f"class {klass}", [r for r in records if r["class"] == klass]))
    rows.append(_row("all", records))
    print(
        benchlib.table(
            [
                "",
                "inst",
                "engine",
                "timed",
                "effort",
                "bound",
                "timed at bound",
                "effort at bound",
                "timed cpu max",
                "effort cpu median",
            ],
            rows,
        )
    )
    faults = sum(r["faults"] for r in records)
    unplaced = sum(r["timed"] is None or r["effort"] is None for r in records)
    print(f"checks: {faults} faults; {unplaced} results leave items unplaced")
    return 1 if faults or unplaced else 0


def _row(name, records):
    def total(key):
        return sum(r[key] or 0 for r in records)

    return [
        name,
        len(records),
        total("engine"),
        total("timed"),
        total("effort"),
        total("bound"),
        sum(r["timed"] == r["bound"] for r in records),
        sum(r["effort"] == r["bound"] for r in records),
        benchlib.duration(max(r["timed_cpu"] for r in records)),
        benchlib.duration(benchlib.quantile([r["effort_cpu"] for r in records], 0.5)),
    ]


if __name__ == "__main__":
    sys.exit(main())
