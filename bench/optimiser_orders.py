"""Optimiser on the real parcel orders (../shared/data/orders/parcel_orders.txt),
side by side with the engine: fewer cartons, never worse.

Each order is the request of parcel_orders.py: one item per parcel, any
orientation, weights from a volumetric density of 166.7 kg/m3. Two runs:

  one carton   every order into CARTON-XL only (600 x 400 x 400 mm, 31.5 kg),
               one order after another, with the optimiser's time measured:
               total cartons of the engine, the optimiser and a lower bound
               per order, and how many orders reach their bound
  catalogue    every order into the five cartons of parcel_orders.py: total
               cartons and carton volume, and the orders where the optimiser
               is better than, equal to or worse than the engine (by its
               objective: placed, then cartons, then volume)

The optimiser runs with time_limit 1 s on one thread. Every result, the
engine's included, is checked by stowvex_tools.validate.

The lower bound of an order is that of box_bounds.py, written apart from the
optimiser's own: the parcel volume over the carton volume; a largest-first set of
parcels no two of which fit a carton together, plus the volume bound of the
parcels that fit a carton with none of them; and a bound by dual feasible
functions, which counts how parcels too long to lie side by side add up.
"""

import argparse
import multiprocessing
import os
import sys
import time
from itertools import permutations

import benchlib
import box_bounds
import parcel_orders

XL = [c for c in parcel_orders.CARTONS if c[0] == "CARTON-XL"]
TIME_LIMIT = 1.0

_engine = _tools = None


def _start_worker():
    global _engine, _tools
    _engine = benchlib.import_engine()
    import stowvex_tools

    _tools = stowvex_tools


def request_of(parcels, cartons, density):
    items = [
        _engine.Item(f"P{n:03d}", "", w, l, h, round(w * l * h * 1e-9 * density, 3))
        for n, (w, l, h) in enumerate(parcels, start=1)
    ]
    boxes = [_engine.Box(r, w, l, d, max_weight=m, empty_weight=e) for r, w, l, d, e, m in cartons]
    return items, boxes


def _solve(task):
    """Engine and optimiser on one order: their rank, figures and faults."""
    n, parcels, cartons, density = task
    items, boxes = request_of(parcels, cartons, density)
    engine = _engine.pack(items, boxes)
    start = time.perf_counter()
    result = _tools.optimise(items, boxes, time_limit=TIME_LIMIT)
    seconds = time.perf_counter() - start
    return {
        "order": n,
        "engine": figures(engine),
        "optimiser": figures(result),
        "seconds": seconds,
        "faults": len(_tools.validate(result, items, boxes)),
        "engine_faults": len(_tools.validate(engine, items, boxes)),
    }


def figures(result):
    volume = sum(sorted(b.box.inner_volume for b in result.boxes))
    return {"placed": result.total_placed, "boxes": len(result.boxes), "volume": volume}


def rank(f):
    return (-f["placed"], f["boxes"], f["volume"])


def lower_bound(parcels, room):
    """The bound of box_bounds.py, every parcel free to turn."""
    return box_bounds.box_bound([sorted(set(permutations(p))) for p in parcels], room)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument(
        "--data", help="data directory (default: ../shared/data beside the project root)"
    )
    parser.add_argument("--orders", type=int, default=None, help="the first N orders only")
    parser.add_argument(
        "--jobs",
        type=int,
        default=os.cpu_count() or 1,
        help="orders packed at once in the catalogue run (default: the "
        "number of CPUs, %(default)s)",
    )
    args = parser.parse_args(argv)
    data = benchlib.data_dir(args.data)
    orders = parcel_orders.read_orders(data / "orders" / "parcel_orders.txt")[: args.orders]
    density = parcel_orders.DEFAULT_DENSITY

    # One carton type, one order at a time: the times are the optimiser's own.
    _start_worker()
    _solve((0, orders[0], XL, density))  # warm-up
    one = [_solve((n, parcels, XL, density)) for n, parcels in enumerate(orders, start=1)]
    room = XL[0][1:4]
    bounds = [lower_bound(parcels, room) for parcels in orders]
    with multiprocessing.Pool(args.jobs, initializer=_start_worker) as pool:
        catalogue = list(
            pool.imap(
                _solve,
                [(n, p, parcel_orders.CARTONS, density) for n, p in enumerate(orders, start=1)],
            )
        )

    print(
        f"stowvex optimiser, parcel orders: {len(orders)} orders, "
        f"{sum(len(o) for o in orders)} parcels, time_limit {TIME_LIMIT} s, one thread"
    )
    print(f"machine: {benchlib.machine_line()}")
    times = [r["seconds"] for r in one]
    engine_boxes = sum(r["engine"]["boxes"] for r in one)
    boxes = sum(r["optimiser"]["boxes"] for r in one)
    print("\none carton type, CARTON-XL 600 x 400 x 400 mm:")
    print(
        benchlib.table(
            ["", "cartons", "orders at bound"],
            [
                [
                    "engine",
                    engine_boxes,
                    sum(r["engine"]["boxes"] == b for r, b in zip(one, bounds)),
                ],
                [
                    "optimiser",
                    boxes,
                    sum(r["optimiser"]["boxes"] == b for r, b in zip(one, bounds)),
                ],
                ["lower bound", sum(bounds), len(orders)],
            ],
        )
    )
    slow = sum(t > TIME_LIMIT for t in times)
    print(
        f"optimiser time per order: median {benchlib.duration(benchlib.quantile(times, 0.5))}, "
        f"p90 {benchlib.duration(benchlib.quantile(times, 0.9))}, "
        f"max {benchlib.duration(max(times))}; {slow} orders over {TIME_LIMIT:g} s"
    )
    met = boxes <= 1680 and slow == 0 and benchlib.quantile(times, 0.5) <= 0.005
    print(
        f"target at most 1680 cartons, every order within 1 s, median at most 5 ms: "
        f"{'met' if met else 'NOT MET'}"
    )

    better = sum(rank(r["optimiser"]) < rank(r["engine"]) for r in catalogue)
    worse = sum(rank(r["optimiser"]) > rank(r["engine"]) for r in catalogue)
    print(f"\nfive carton types ({', '.join(c[0] for c in parcel_orders.CARTONS)}):")
    print(
        benchlib.table(
            ["", "cartons", "carton volume m3", "placed"],
            [
                [
                    who,
                    sum(r[who]["boxes"] for r in catalogue),
                    f"{sum(r[who]['volume'] for r in catalogue) * 1e-9:.2f}",
                    sum(r[who]["placed"] for r in catalogue),
                ]
                for who in ("engine", "optimiser")
            ],
        )
    )
    print(
        f"orders where the optimiser is better: {better}, equal: "
        f"{len(catalogue) - better - worse}, worse: {worse} (target: worse 0, "
        f"{'met' if worse == 0 else 'NOT MET'})"
    )
    faults = sum(r["faults"] for r in one + catalogue)
    engine_faults = sum(r["engine_faults"] for r in one + catalogue)
    print(f"\nchecks: {faults} faults in optimiser results, {engine_faults} in the engine's")
    return 1 if faults or worse else 0


if __name__ == "__main__":
    sys.exit(main())
