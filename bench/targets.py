"""Scale benchmark: the cases of the engine's performance targets, with the
figures of the engine before its speed-up beside today's.

Synthetic, deterministic requests (SplitMix64, fixed seeds) written as JSON
text, timed through solve() (and pack() where the table says so):

  * one box type of 1000 x 1000 x 1000, n random items (sides 5.5 ... 60.5,
    5.25 ... 60.25 and 5.125 ... 60.125, weights 0.1 ... 20);
  * six box types whose inner volumes are 4 to 22 % of the cargo volume,
    with gross weight limits of 110 % of that share of the cargo weight,
    so that about seven boxes are opened and weight balancing runs;
  * 100 such items and ten box types of 10 to 130 % of the cargo volume,
    without weight limits (two boxes), and the same with types of 2.5 times
    that volume (one box);
  * the four requests of the data directory's slow/ folder;
  * a typical carton order: 30 items, ten carton types, two or three boxes;
  * one item in one box; 100 items in one box, with the share of the time
    spent reading the request and writing the result.

For each case the table also gives the number of single-box packings the
engine's method calls for (the driver's trials plus the balancing pass's
repackings) and the time per packing.
"""

import argparse
import itertools
import json
import math
import statistics
import subprocess
import sys
import tempfile
import time
from fractions import Fraction
from pathlib import Path

import benchlib

# Inner volume of each box type as a share of the cargo volume; the weight
# limit is 110 % of the same share of the cargo weight.
SIX_TYPE_SHARES = ("0.04", "0.06", "0.09", "0.12", "0.16", "0.22")
TEN_TYPE_SHARES = ("0.1", "0.15", "0.2", "0.3", "0.4", "0.5", "0.65", "0.8", "1.0", "1.3")


def number(value, places):
    """A Fraction written with exactly `places` decimals (rounded half up)."""
    scaled = int(Fraction(value) * 10**places + Fraction(1, 2))
    if places == 0:
        return str(scaled)
    return f"{scaled // 10**places}.{scaled % 10**places:0{places}d}"


def random_items(rng, n, min_side=5, max_side=60, prefix="r"):
    """n items as (code, width, length, depth, weight), exact Fractions: sides
    k + 1/2, k + 1/4 and k + 1/8, weights in thousandths."""
    items = []
    for i in range(n):
        width = rng.between(min_side, max_side) + Fraction(1, 2)
        length = rng.between(min_side, max_side) + Fraction(1, 4)
        depth = rng.between(min_side, max_side) + Fraction(1, 8)
        weight = Fraction(rng.between(100, 20000), 1000)
        items.append((f"{prefix}{i:05d}", width, length, depth, weight))
    return items


def item_text(code, width, length, depth, weight):
    return (
        f'{{"ItemCode": "{code}", "Width": {number(width, 1)}, '
        f'"Length": {number(length, 2)}, "Depth": {number(depth, 3)}, '
        f'"Weight": {number(weight, 3)}}}'
    )


def cube_side(volume):
    """The whole side w whose box w x 1.2w x w comes nearest the volume."""
    target = Fraction(volume) / Fraction(6, 5)
    guess = round(float(target) ** (1 / 3))
    return min(
        (w for w in (guess - 1, guess, guess + 1) if w > 0), key=lambda w: (abs(w**3 - target), w)
    )


def box_types(items, shares, prefix, weight_limited):
    """Box types w x 1.2w x w of the given shares of the cargo volume; the
    k-th has an empty weight of 0.2 (k + 1) and, when weight limited, a gross
    limit of 110 % of its share of the cargo weight."""
    volume = sum(w * l * d for _, w, l, d, _ in items)
    weight = sum(item[4] for item in items)
    boxes = []
    for k, share in enumerate(shares):
        side = cube_side(volume * Fraction(share))
        text = (
            f'{{"Reference": "{prefix}{k:0{len(str(len(shares) - 1))}d}", "Width": {side}, '
            f'"Length": {(6 * side + 2) // 5}, "Depth": {side}, '
            f'"BoxWeight": {number(Fraction(k + 1, 5), 1)}'
        )
        if weight_limited:
            text += f', "MaxWeight": {number(weight * Fraction(share) * Fraction(11, 10), 1)}'
        boxes.append(text + "}")
    return boxes


def request_text(items, boxes):
    return (
        '{"items": ['
        + ", ".join(item_text(*item) for item in items)
        + '], "boxes": ['
        + ", ".join(boxes)
        + "]}"
    )


def one_box_request(n, seed=1):
    """n random items and one box type of 1000 x 1000 x 1000."""
    items = random_items(benchlib.SplitMix64(seed * 1_000_003 + n), n)
    box = '{"Reference": "BIG", "Width": 1000, "Length": 1000, "Depth": 1000}'
    return request_text(items, [box])


def six_types_request(n, seed=1):
    """n random items and six weight-limited box types (about seven boxes)."""
    items = random_items(benchlib.SplitMix64(seed * 2_000_003 + n), n)
    return request_text(items, box_types(items, SIX_TYPE_SHARES, "T", True))


def ten_types_request(boxes, n=100, seed=1):
    """n random items and ten box types without weight limits, sized so that
    the items take two boxes (boxes=2) or fit one (boxes=1)."""
    items = random_items(benchlib.SplitMix64(seed * 3_000_003 + n), n)
    scale = Fraction(1) if boxes == 2 else Fraction(5, 2)
    shares = [Fraction(share) * scale for share in TEN_TYPE_SHARES]
    return request_text(items, box_types(items, shares, "C", False))


def carton_order_request(seed, n=30):
    """A carton order: n items of 5 to 40 cm with weights, ten carton types
    whose volumes are 8 to 70 % of the cargo volume, weight-limited, so that
    two or three boxes are used."""
    rng = benchlib.SplitMix64(seed * 4_000_003 + n)
    items = random_items(rng, n, min_side=5, max_side=40, prefix="p")
    shares = ("0.08", "0.1", "0.13", "0.17", "0.22", "0.28", "0.35", "0.45", "0.55", "0.7")
    return request_text(items, box_types(items, shares, "K", True))


def single_item_request():
    return (
        '{"items": [{"ItemCode": "A", "Width": 10, "Length": 20, "Depth": 5, '
        '"Weight": 1.5}], "boxes": [{"Reference": "B", "Width": 30, "Length": 30, '
        '"Depth": 30}]}'
    )


def hundred_in_one_box_request(seed=1):
    """100 random items that all fit the one box type."""
    items = random_items(benchlib.SplitMix64(seed * 5_000_003 + 100), 100)
    box = '{"Reference": "BIG", "Width": 400, "Length": 400, "Depth": 400}'
    return request_text(items, [box])


# The figures of the engine before its speed-up, quoted from the issue that
# set the targets (2-core machine, Release build, quiet).
BEFORE = {
    "one box 100": "0.6 ms",
    "one box 1000": "6.8 ms",
    "one box 3000": "22 ms",
    "one box 8000": "91 ms",
    "one box 9000": "25 s",
    "one box 10000": "37 s",
    "six types 100": "9.5 ms",
    "six types 300": "245 ms",
    "six types 1000": "9-20 s",
    "six types 3000": "> 15 min",
    "ten types, one box": "2 ms",
    "ten types, two boxes": "368 ms",
    "slow/balancing_100_items_2_boxes": "~0.4 s",
    "slow/balancing_1000_items_6_types": "12-20 s",
    "slow/groups_limits_2000_items": "15-83 s",
    "slow/one_box_9000_items": "~25 s",
    "carton order (median of 50)": "853 us",
    "one item, one box": "14 us",
}
TARGET = {
    "one box 10000": "<= 0.3 s",
    "one box 20000": "no cliff",
    "six types 1000": "<= 0.5 s",
    "six types 3000": "<= 3 s",
    "carton order (median of 50)": "<= 150 us",
    "slow/balancing_100_items_2_boxes": "<= 1 s",
    "slow/balancing_1000_items_6_types": "<= 1 s",
    "slow/groups_limits_2000_items": "<= 1 s",
    "slow/one_box_9000_items": "<= 1 s",
}
ONE_BOX_SIZES = (100, 1000, 3000, 8000, 9000, 10000, 11000, 20000)
SIX_TYPE_SIZES = (100, 300, 1000, 3000)
SLOW = (
    "balancing_100_items_2_boxes",
    "balancing_1000_items_6_types",
    "groups_limits_2000_items",
    "one_box_9000_items",
)


def cases(data, skip):
    """(name, request text) of every case, the slow/ ones when there is data."""
    for n in ONE_BOX_SIZES:
        yield f"one box {n}", lambda n=n: one_box_request(n)
    for n in SIX_TYPE_SIZES:
        yield f"six types {n}", lambda n=n: six_types_request(n)
    yield "ten types, one box", lambda: ten_types_request(1)
    yield "ten types, two boxes", lambda: ten_types_request(2)
    if data is not None:
        for name in SLOW:
            path = data / "slow" / f"{name}.json"
            yield f"slow/{name}", lambda p=path: p.read_text(encoding="utf-8")
    yield "one item, one box", single_item_request
    yield "100 items, one box", hundred_in_one_box_request


def solve_time(stowvex, text, budget):
    """The median of solve() over repeats that fit into about `budget` seconds
    after a first run, and the number of runs; the first run alone when it
    takes longer than the budget."""
    start = time.perf_counter()
    stowvex.solve(text)
    first = time.perf_counter() - start
    if first > budget:
        return first, 1
    runs = max(1, min(200, int(budget / max(first, 1e-6))))
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        stowvex.solve(text)
        times.append(time.perf_counter() - start)
    return statistics.median(times), runs


def peak_memory_mb(text_path):
    """Peak resident memory of a fresh interpreter that solves the request."""
    code = (
        "import resource, sys, stowvex; stowvex.solve(open(sys.argv[1]).read()); "
        "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)"
    )
    out = subprocess.run(
        [sys.executable, "-c", code, str(text_path)], check=True, capture_output=True, text=True
    ).stdout
    return int(out) / 1024


def engine_work(tool, paths, repeat, limit=None):
    """The engine timer's line for each file, by file; None when the run takes
    longer than `limit` seconds."""
    try:
        out = subprocess.run(
            [str(tool), "--repeat", str(repeat), *map(str, paths)],
            check=True,
            capture_output=True,
            text=True,
            timeout=limit,
        ).stdout
    except subprocess.TimeoutExpired:
        return None
    return {json.loads(line)["file"]: json.loads(line) for line in out.splitlines()}


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--data", help="data directory (default: ../shared/data)")
    parser.add_argument(
        "--engine-work",
        help="the engine timer, bench/engine_work.cpp built "
        "(make bench-tool); without it no packing counts are given",
    )
    parser.add_argument(
        "--budget",
        type=float,
        default=2.0,
        help="seconds of repeats per case (default: %(default)s)",
    )
    parser.add_argument(
        "--limit",
        type=float,
        default=60.0,
        help="with --engine-work, a case whose one run takes longer than this "
        "many seconds is reported as such and not timed through solve() "
        "(default: %(default)s)",
    )
    parser.add_argument(
        "--skip",
        default="",
        help="comma-separated words; cases whose name holds one are left out "
        "(for instance 3000 for the slowest)",
    )
    args = parser.parse_args(argv)
    stowvex = benchlib.import_engine()
    data = Path(args.data) if args.data else benchlib.DEFAULT_DATA
    if not (data / "slow").is_dir():
        print(f"data directory {data} has no slow/: its cases are left out", file=sys.stderr)
        data = None
    skip = [word for word in args.skip.split(",") if word]

    rows = []
    with tempfile.TemporaryDirectory() as folder:
        for name, make in cases(data, skip):
            if any(word in name for word in skip):
                continue
            text = make()
            path = Path(folder) / (
                name.replace("/", "_").replace(" ", "_").replace(",", "") + ".json"
            )
            path.write_text(text, encoding="utf-8")
            row = {"name": name, "path": path, "items": len(json.loads(text)["items"])}
            rows.append(row)
            if args.engine_work:
                # One bounded run first: a case past the limit is not timed further.
                work = engine_work(args.engine_work, [path], 1, args.limit)
                if work is None:
                    row["over"] = args.limit
                    print(f"  {name}: over {args.limit:g} s", file=sys.stderr, flush=True)
                    continue
                row.update(work[str(path)])
            row["seconds"], row["runs"] = solve_time(stowvex, text, args.budget)
            if name == "one box 10000":
                row["memory"] = peak_memory_mb(path)
            print(f"  {name}: {benchlib.duration(row['seconds'])}", file=sys.stderr, flush=True)
            if args.engine_work and row["seconds"] < 1:
                row.update(engine_work(args.engine_work, [path], 3)[str(path)])
        carton = [solve_time(stowvex, carton_order_request(seed), 0.05)[0] for seed in range(1, 51)]
        pack_times = []
        items = [stowvex.Item("A", "A", 10, 20, 5, 1.5)]
        boxes = [stowvex.Box("B", 30, 30, 30)]
        for _ in range(2000):
            start = time.perf_counter()
            stowvex.pack(items, boxes)
            pack_times.append(time.perf_counter() - start)

    print("Performance targets, through solve() (median of repeats)")
    print(benchlib.machine_line())
    table = []
    for row in rows:
        name = row["name"]
        extra = []
        if "memory" in row:
            extra.append(f"peak {row['memory']:.0f} MB")
        if name == "one item, one box":
            extra.append(f"pack() {benchlib.duration(statistics.median(pack_times))}")
        if "asked" in row:
            json_share = (row["read"] + row["write"]) / (row["read"] + row["pack"] + row["write"])
            if name == "100 items, one box":
                extra.append(f"JSON {json_share * 100:.0f} % of solve (before: 31 %)")
        asked = row.get("asked", "")
        per = benchlib.duration(row["pack"] / row["asked"]) if row.get("asked") else ""
        now = f"> {row['over']:g} s" if "over" in row else benchlib.duration(row["seconds"])
        table.append(
            [
                name,
                row["items"],
                row.get("boxes", ""),
                BEFORE.get(name, ""),
                now,
                TARGET.get(name, ""),
                asked,
                row.get("packed", ""),
                per,
                "; ".join(extra),
            ]
        )
    table.append(
        [
            "carton order (median of 50)",
            30,
            "",
            BEFORE["carton order (median of 50)"],
            benchlib.duration(statistics.median(carton)),
            TARGET["carton order (median of 50)"],
            "",
            "",
            "",
            "",
        ]
    )
    print(
        benchlib.table(
            [
                "case",
                "items",
                "boxes",
                "before",
                "now",
                "target",
                "packings",
                "packed",
                "per packing",
                "",
            ],
            table,
            ["<", ">", ">", ">", ">", ">", ">", ">", ">", "<"],
        )
    )
    sizes = [r for r in rows if r["name"].startswith("one box ") and "seconds" in r]
    growth = [
        f"{a['items']}->{b['items']}: "
        f"{math.log(b['seconds'] / a['seconds']) / math.log(b['items'] / a['items']):.2f}"
        for a, b in itertools.pairwise(sizes)
    ]
    print("growth exponent of one box (log t2/t1 / log n2/n1): " + ", ".join(growth))
    print(
        "packings: the single-box packings the method calls for (driver trials and every "
        "box type the balancing pass tries); packed: those not answered by an earlier packing "
        "of the same list; per packing: the engine's packing time / packings"
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
