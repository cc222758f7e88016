"""Balanced orders benchmark: one pack() call for a large order that needs
several boxes under weight limits, so that the weight balancing pass runs.
Synthetic, deterministic requests (fixed seeds): n items with integer sides
drawn uniformly from [--min-side, --max-side] (or tenths of them, --tenths), any
orientation, and weights of 0.1 to 5.0 in steps of 0.1, drawn independently of
the size. Five box types, each with sides in the ratio 1 : 1.2 : 1, whose inner
volumes are 6, 9, 12, 16 and 22 % of the cargo volume, empty weights 1 to 5,
and gross weight limits of 110 % of the same share of the cargo weight plus the
empty weight. The weight limits decide how many boxes are used, typically 4 to
12, so that the balancing pass runs.

Reports per size and seed the wall time of the call (median of --repeat), the
boxes by type, the spread of item weight between the boxes, the mean fill and
the unplaced items.
"""

import argparse
import random
import sys
from collections import Counter

import benchlib

SHARES = (0.06, 0.09, 0.12, 0.16, 0.22)


def request(stowvex, n, seed, min_side, max_side, tenths):
    rng = random.Random(seed)
    scale = 0.1 if tenths else 1
    low, high = (min_side * 10, max_side * 10) if tenths else (min_side, max_side)
    items = []
    for i in range(n):
        sides = [rng.randint(low, high) * scale for _ in range(3)]
        items.append(stowvex.Item(f"I{i:05d}", "synthetic", *sides, rng.randint(1, 50) * 0.1))
    cargo_volume = sum(i.volume for i in items)
    cargo_weight = sum(i.weight for i in items)
    boxes = []
    for k, share in enumerate(SHARES):
        side = round((cargo_volume * share) ** (1 / 3))
        empty = 1 + k
        boxes.append(
            stowvex.Box(
                f"T{k}",
                side,
                round(side * 1.2),
                side,
                max_weight=round(cargo_weight * share * 1.1) + empty,
                empty_weight=empty,
            )
        )
    return items, boxes


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument(
        "--sizes", default="300,600", help="item counts, comma separated (default: %(default)s)"
    )
    parser.add_argument(
        "--seeds", default="1", help="random seeds, comma separated (default: %(default)s)"
    )
    parser.add_argument(
        "--repeat",
        type=int,
        default=1,
        help="timed runs per request; the median is reported (default: %(default)s)",
    )
    parser.add_argument("--min-side", type=int, default=5)
    parser.add_argument("--max-side", type=int, default=30)
    parser.add_argument(
        "--tenths",
        action="store_true",
        help="sides in tenths (5.0, 5.1, ... 30.0) instead of whole numbers",
    )
    parser.add_argument(
        "--no-check", action="store_true", help="skip the placement and weight-limit checks"
    )
    args = parser.parse_args(argv)

    stowvex = benchlib.import_engine()
    sizes = [int(s) for s in args.sizes.split(",") if s.strip()]
    seeds = [int(s) for s in args.seeds.split(",") if s.strip()]

    warm_items, warm_boxes = request(stowvex, 50, 0, args.min_side, args.max_side, args.tenths)
    stowvex.pack(warm_items, warm_boxes)

    # Positions are sums of the sides; in tenths they carry rounding errors,
    # by which two items may overlap or an item pass the wall (some 1e-14).
    slack = 1e-9 if args.tenths else 0.0
    rows, bad = [], 0
    for n in sizes:
        for seed in seeds:
            items, boxes = request(stowvex, n, seed, args.min_side, args.max_side, args.tenths)
            times = []
            for _ in range(args.repeat):
                result, seconds = benchlib.timed(stowvex.pack, items, boxes)
                times.append(seconds)
            if not args.no_check:
                for b in result.boxes:
                    problems = benchlib.check_packed_box(b, slack)
                    if b.weight > b.box.max_weight + 1e-9:
                        problems.append(f"{b.box.reference} over its weight limit")
                    if problems:
                        bad += 1
                        print(f"{n} items, seed {seed}: {problems[0]}", file=sys.stderr)
            usage = Counter(b.box.reference for b in result.boxes)
            item_weights = [b.item_weight for b in result.boxes]
            spread = max(item_weights) - min(item_weights) if item_weights else 0.0
            fill = benchlib.mean([b.volume_utilisation for b in result.boxes])
            rows.append(
                [
                    n,
                    seed,
                    len(result.boxes),
                    " ".join(f"{ref}x{usage[ref]}" for ref in sorted(usage)),
                    f"{spread:.1f}",
                    f"{fill:.1f}",
                    result.total_unplaced,
                    benchlib.duration(benchlib.quantile(times, 0.5)),
                ]
            )

    sides = f"{args.min_side}-{args.max_side}" + (" in tenths" if args.tenths else "")
    print(
        f"stowvex balanced orders: pack(), sides {sides}, BEST_FIT, 5 box types with weight "
        f"limits, median of {args.repeat}"
    )
    print(f"machine: {benchlib.machine_line()}")
    print(
        benchlib.table(
            ["items", "seed", "boxes", "types", "weight spread", "fill%", "unplaced", "t median"],
            rows,
        )
    )
    if not args.no_check:
        print(f"checks: {bad} boxes with unsound placements or over their weight limit")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
