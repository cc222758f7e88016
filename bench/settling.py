"""The exact engine's results on the 501 real parcel orders before and after
stowvex_tools.settle: how many items rest on less than half of their base, and the
time settle takes per order (median, p90, worst). Every settled result is checked by
stowvex_tools.validate; a violation makes the script exit with status 1.

Usage: settling.py [--data DIR]
"""

import argparse
import json
import statistics
import sys
import time

import benchlib
from parcel_orders import DEFAULT_DENSITY, order_inputs, read_orders


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", help="data directory (default ../shared/data)")
    args = parser.parse_args(argv)
    import stowvex
    from stowvex_tools import settle, validate
    from stowvex_tools.settling import poorly_supported, result_extents

    orders = read_orders(benchlib.data_dir(args.data) / "orders" / "parcel_orders.txt")
    before = after = placed = 0
    orders_before = orders_after = 0
    times = []
    faults = 0
    for parcels in orders:
        _, (items, boxes), text = order_inputs(stowvex, parcels, "BEST_FIT", DEFAULT_DENSITY, None)
        result = stowvex.solve(text)
        start = time.perf_counter()
        settled = settle(result, items, boxes)
        times.append(time.perf_counter() - start)
        settled_dict = settled.result.to_dict()
        if validate(settled_dict, items, boxes):
            faults += 1
        n_before = poorly_supported(result_extents(json.loads(result)))
        n_after = poorly_supported(result_extents(settled_dict))
        before += n_before
        after += n_after
        orders_before += n_before > 0
        orders_after += n_after > 0
        placed += settled_dict["summary"]["total_placed"]
    times.sort()
    p90 = times[int(0.9 * (len(times) - 1))]
    print(f"orders: {len(orders)}, parcels placed: {placed:,}")
    print(
        "resting on less than half of their base, engine: "
        f"{before:,} items in {orders_before} orders"
    )
    print(f"after settle: {after:,} items in {orders_after} orders")
    print(
        f"settle per order: median {statistics.median(times) * 1e3:.2f} ms, "
        f"p90 {p90 * 1e3:.2f} ms, worst {times[-1] * 1e3:.2f} ms"
    )
    print(f"settled results with a violation: {faults}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
