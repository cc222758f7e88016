"""Scaling benchmark: how the time of one pack() call grows with the number of
items. Synthetic, deterministic requests (fixed seed): n items with integer
sides drawn uniformly from [--min-side, --max-side], any orientation, weight 0,
and one cubic box type whose volume is the cargo's volume / --fill (so one box
cannot take everything and the engine opens a second one for the rest).

Reports per size the median wall time over --repeat runs, the growth exponent
against the previous size (log(t2/t1) / log(n2/n1)), and the fill and item
count of the fullest box.
"""

import argparse
import math
import random
import sys

import benchlib


def request(stowvex, n, seed, min_side, max_side, fill, rotation):
    rng = random.Random(seed * 1_000_003 + n)
    items = [
        stowvex.Item(
            f"I{i:05d}",
            "synthetic",
            rng.randint(min_side, max_side),
            rng.randint(min_side, max_side),
            rng.randint(min_side, max_side),
            0.0,
            allowed_rotation=getattr(stowvex.Rotation, rotation),
        )
        for i in range(n)
    ]
    side = math.ceil((sum(i.volume for i in items) / fill) ** (1 / 3))
    return items, [stowvex.Box("CUBE", side, side, side)], side


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument(
        "--sizes",
        default="25,50,100,200,400",
        help="item counts, comma separated (default: %(default)s)",
    )
    parser.add_argument(
        "--repeat",
        type=int,
        default=3,
        help="timed runs per size; the median is reported (default: %(default)s)",
    )
    parser.add_argument("--seed", type=int, default=1, help="random seed (default: %(default)s)")
    parser.add_argument("--min-side", type=int, default=5)
    parser.add_argument("--max-side", type=int, default=30)
    parser.add_argument(
        "--fill", type=float, default=0.9, help="cargo volume / box volume (default: %(default)s)"
    )
    parser.add_argument(
        "--rotation",
        choices=("NEVER", "KEEP_FLAT", "BEST_FIT"),
        default="BEST_FIT",
        help="rotation freedom of every item",
    )
    args = parser.parse_args(argv)

    stowvex = benchlib.import_engine()
    sizes = [int(s) for s in args.sizes.split(",") if s.strip()]

    warm_items, warm_boxes, _ = request(
        stowvex, sizes[0], args.seed, args.min_side, args.max_side, args.fill, args.rotation
    )
    stowvex.pack(warm_items, warm_boxes)

    rows, previous = [], None
    for n in sizes:
        items, boxes, side = request(
            stowvex, n, args.seed, args.min_side, args.max_side, args.fill, args.rotation
        )
        times = []
        for _ in range(args.repeat):
            result, seconds = benchlib.timed(stowvex.pack, items, boxes)
            times.append(seconds)
        t = benchlib.quantile(times, 0.5)
        fullest = max(result.boxes, key=lambda b: b.volume_utilisation)
        exponent = (
            ""
            if previous is None
            else f"{math.log(t / previous[1]) / math.log(n / previous[0]):.1f}"
        )
        rows.append(
            [
                n,
                side,
                len(result.boxes),
                len(fullest),
                f"{fullest.volume_utilisation:.1f}",
                benchlib.duration(t),
                exponent,
            ]
        )
        previous = (n, t)

    print(
        f"stowvex scaling: pack(), sides {args.min_side}-{args.max_side}, {args.rotation}, "
        f"cargo = {args.fill:.0%} of the box, seed {args.seed}, median of {args.repeat}"
    )
    print(f"machine: {benchlib.machine_line()}")
    print(
        benchlib.table(
            ["items", "box side", "boxes", "in fullest", "fill%", "t median", "exponent"], rows
        )
    )
    return 0


if __name__ == "__main__":
    sys.exit(main())
