"""What an effort unit of the optimiser costs: CPU seconds per 10^8 units on four
workloads, which should agree within a factor 2 (and come to about 1 s on BR1).

  BR1, BR15   the first instances of Bischoff-Ratcliff sets 1 and 15
              (../shared/data/br/set_N.txt, as bench/optimiser_quality.py maps them:
              one container, rotation freedom from the vertical flags)
  carton      the first three real parcel orders of 28 to 32 parcels
              (../shared/data/orders) into the five carton types of
              bench/parcel_orders.py that the optimiser searches at all
  many boxes  200 items of 10 to 40 units, fixed orientation, into identical bins
              (SplitMix64, fixed seed), some 15 boxes

Each call runs with time_limit=None and a fixed effort on one thread; the units it
really spent are read from stowvex_tools.effort_spent (a call may end
before its effort is used up), the CPU time from time.process_time. The last
column is how far the call that spent the most went past its effort.

Usage: effort_rate.py [--data DIR] [--effort N] [--instances N]
"""

import argparse
import sys
import time
from types import SimpleNamespace

import benchlib
import container_loading
from parcel_orders import DEFAULT_DENSITY, carton_objects, read_orders

MAPPING = SimpleNamespace(free_rotation=False, two_way="height", max_containers=1)


def br_requests(stowvex, data, number, count):
    problems = container_loading.read_thpack(data / "br" / f"set_{number}.txt")
    for problem in problems[:count]:
        items, boxes, _cargo, _excluded = container_loading.build_request(stowvex, problem, MAPPING)
        yield items, boxes


def carton_requests(stowvex, data, count):
    """The first `count` real orders of 28 to 32 parcels that the engine's result
    does not settle at once (the optimiser searches them)."""
    from stowvex_tools import effort_spent, optimise

    for parcels in read_orders(data / "orders" / "parcel_orders.txt"):
        if not 28 <= len(parcels) <= 32:
            continue
        items = []
        for n, (w, l, h) in enumerate(parcels, start=1):
            weight = round(w * l * h * 1e-9 * DEFAULT_DENSITY, 3)
            items.append(stowvex.Item(f"P{n:03d}", "parcel", w, l, h, weight))
        boxes = carton_objects(stowvex)
        before = effort_spent()
        optimise(items, boxes, time_limit=None, effort=1000)
        if effort_spent() == before:
            continue
        yield items, boxes
        count -= 1
        if count == 0:
            return


def many_boxes_request(stowvex, n=200, seed=7):
    rng = benchlib.SplitMix64(seed)
    items = [
        stowvex.Item(
            f"M{i:03d}",
            "",
            rng.between(10, 40),
            rng.between(10, 40),
            rng.between(10, 40),
            1.0,
            allowed_rotation=stowvex.Rotation.NEVER,
        )
        for i in range(n)
    ]
    return items, [stowvex.Box("BIN", 60, 72, 60)]


def measure(tools, requests, effort):
    """(calls, units spent, CPU seconds, most units one call spent) over the requests."""
    units = cpu = 0.0
    calls = most = 0
    for items, boxes in requests:
        before, start = tools.effort_spent(), time.process_time()
        result = tools.optimise(items, boxes, time_limit=None, effort=effort)
        cpu += time.process_time() - start
        spent = tools.effort_spent() - before
        units += spent
        most = max(most, spent)
        calls += 1
        if tools.validate(result, items, boxes):
            sys.exit("a result failed validation")
    return calls, units, cpu, most


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--data", help="data directory (default ../shared/data)")
    parser.add_argument("--effort", type=int, default=20_000_000, help="effort of each call")
    parser.add_argument("--instances", type=int, default=5, help="BR instances per set")
    args = parser.parse_args(argv)
    stowvex = benchlib.import_engine()
    import stowvex_tools

    data = benchlib.data_dir(args.data)
    workloads = (
        ("BR1", list(br_requests(stowvex, data, 1, args.instances))),
        ("BR15", list(br_requests(stowvex, data, 15, args.instances))),
        ("carton orders, 30 items", list(carton_requests(stowvex, data, 3))),
        ("many boxes, 200 items", [many_boxes_request(stowvex)]),
    )
    rows = []
    rates = []
    for name, requests in workloads:
        calls, units, cpu, most = measure(stowvex_tools, requests, args.effort)
        rate = cpu / units * 1e8 if units else float("nan")
        rates.append(rate)
        overshoot = max(0.0, most / args.effort - 1.0)
        rows.append((name, calls, f"{units:,.0f}", f"{cpu:.2f}", f"{rate:.2f}", f"{overshoot:.1%}"))
    header = ("workload", "calls", "units", "CPU s", "CPU s per 1e8 units", "most over effort")
    print(benchlib.table(header, rows))
    spread = max(rates) / min(rates)
    verdict = "met" if spread <= 2.0 else "NOT MET"
    print(f"spread (slowest / fastest): {spread:.2f}; target within a factor 2: {verdict}")
    print(benchlib.machine_line())
    return 0 if spread <= 2.0 else 1


if __name__ == "__main__":
    sys.exit(main())
