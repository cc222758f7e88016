"""The optimiser under loading rules on the 501 real parcel orders: full support
(min_support 1.0), 10 % of the parcels fragile, every other parcel with a MaxLoad of
ten times its own weight, and delivery stops 1 to 3, drawn with a fixed seed. Beside it
the same orders without the rules. For each: cartons, their volume, and the time per
order (median, p90, worst; target: no order over 1 s). Every result is checked by
stowvex_tools.validate with its rules; a violation makes the script exit with status 1.

Usage: loading_rules.py [--data DIR] [--orders N] [--time-limit S]
"""

import argparse
import json
import random
import statistics
import sys
import time

import benchlib
from parcel_orders import DEFAULT_DENSITY, order_inputs, read_orders


def with_rules(items, rng):
    ruled = []
    for item in items:
        item = dict(item)
        if rng.random() < 0.1:
            item["Fragile"] = True
        else:
            item["MaxLoad"] = round(10 * item["Weight"], 3)
        item["Stop"] = rng.randint(1, 3)
        ruled.append(item)
    return ruled


def run(orders, time_limit, rules, min_support):
    from stowvex_tools import optimise_json, validate

    rng = random.Random(501)
    cartons = volume = faults = 0
    times = []
    for items, boxes in orders:
        if rules:
            items = with_rules(items, rng)
        text = json.dumps({"items": items, "boxes": boxes})
        start = time.perf_counter()
        result = optimise_json(text, time_limit=time_limit, min_support=min_support)
        times.append(time.perf_counter() - start)
        data = json.loads(result)
        if validate(data, items, boxes, min_support=min_support):
            faults += 1
        cartons += len(data["boxes"])
        volume += sum(b["inner_volume"] for b in data["boxes"])
    times.sort()
    return cartons, volume, times, faults


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", help="data directory (default ../shared/data)")
    parser.add_argument("--orders", type=int, default=501, help="the first N orders")
    parser.add_argument("--time-limit", type=float, default=1.0, help="seconds per order")
    args = parser.parse_args(argv)
    import stowvex

    parcels = read_orders(benchlib.data_dir(args.data) / "orders" / "parcel_orders.txt")
    orders = []
    for order in parcels[: args.orders]:
        _, (items, boxes), _ = order_inputs(stowvex, order, "BEST_FIT", DEFAULT_DENSITY, None)
        orders.append((items, boxes))
    status = 0
    for label, rules, support in (("without rules", False, 0.0), ("with rules", True, 1.0)):
        cartons, volume, times, faults = run(orders, args.time_limit, rules, support)
        p90 = times[int(0.9 * (len(times) - 1))]
        print(
            f"{label:14s} orders {len(orders)}: {cartons:,} cartons, {volume / 1e9:.2f} m3; "
            f"time per order median {statistics.median(times):.3f} s, p90 {p90:.3f} s, "
            f"worst {times[-1]:.3f} s; results with a violation: {faults}"
        )
        if faults or times[-1] > 1.0 + 0.05:
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
