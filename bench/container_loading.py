"""Container loading benchmark on the Bischoff-Ratcliff instances (OR-Library
thpack format, ../shared/data/br/set_N.txt).

Each instance becomes one request:
  * one box type, reference "CONTAINER": width = the container's W (second
    number of the container line), length = its L (first number), depth = its
    H (third number). Depth is the engine's vertical axis, so the container
    stands on its L x W floor with height H, as in the literature.
  * for every box type, `count` items with distinct item codes (T03-017 is the
    17th copy of type 3), weight 0.
  * the rotation freedom comes from the vertical flags (fl, fw, fh: may this
    side stand vertical?), never granting more than the instance allows:
      - all three sides may stand vertical -> BEST_FIT (any of the 6 orientations);
      - exactly one side may               -> KEEP_FLAT with that side as depth
        (it stays vertical, the other two may swap on the floor);
      - two sides may                      -> KEEP_FLAT with one of the two as
        depth (--two-way chooses which); the other allowed orientation is given
        up, so the engine solves a slightly more constrained problem;
      - no side may                        -> the type cannot be loaded at all;
        it is left out and counted (does not occur in the published sets).
    Rotation.NEVER is never needed: turning a box about the vertical axis is
    always allowed in these instances. This is the flat mapping, the only one
    the engine can take. The optimiser also reads loading rules, and
    optimiser_quality.py gives it the exact mapping as well: the same items with
    an "Orientations" rule each (orientation_rules) naming exactly the
    orientations the flags allow, both orientations with each allowed side
    vertical, so the two-way types keep both of theirs.

The literature quotes the fill of ONE container ("how much of this cargo fits
in one container"). By default the container type therefore gets
MaximumBoxes = 1: the engine fills one container and reports the rest of the
cargo as unplaced, and that container's volume utilisation is the figure
reported. With --max-containers 0 (unlimited) the engine goes on opening
containers until all cargo is placed; it orders the packed boxes by item count,
most first, so result.boxes[0] is then NOT necessarily the first container
filled (the first one takes the large boxes, a later one may hold more small
ones). In that mode the table reports the fullest container and, separately,
the fill of result.boxes[0].
"""

import argparse
import csv
import sys

import benchlib
from stowvex_tools.loading_rules import ORIENTATION_LABELS

PUBLISHED = "best published average on BR0-BR15: 95.9 % (30 s per instance)"


def parse_sets(text):
    """'1,4,7' or '1-7' or '1-3,9' -> [1, 4, 7] ..."""
    numbers = []
    for part in text.split(","):
        part = part.strip()
        if "-" in part:
            first, last = part.split("-", 1)
            numbers.extend(range(int(first), int(last) + 1))
        elif part:
            numbers.append(int(part))
    return numbers


def read_thpack(path):
    """All problems of one thpack file: dicts with index, container (L, W, H) and
    types [(type, l, fl, w, fw, h, fh, count)]."""
    tokens = path.read_text().split()
    position = 0

    def take(n):
        nonlocal position
        values = [int(float(t)) for t in tokens[position : position + n]]
        position += n
        return values

    (problem_count,) = take(1)
    problems = []
    for _ in range(problem_count):
        index, _seed = take(2)
        container = tuple(take(3))
        (type_count,) = take(1)
        types = [tuple(take(8)) for _ in range(type_count)]
        problems.append({"index": index, "container": container, "types": types})
    if position != len(tokens):
        raise ValueError(f"{path}: {len(tokens) - position} numbers after the last problem")
    return problems


def item_sides(l, fl, w, fw, h, fh, two_way):
    """(rotation name, ((size, may stand vertical) of the item's width, length and
    depth)) for one box type, or None when no side may stand vertical. With two
    sides allowed vertical, `two_way` chooses the one that becomes the depth."""
    sides = [(l, fl), (w, fw), (h, fh)]
    vertical = [i for i, (_, flag) in enumerate(sides) if flag]
    if not vertical:
        return None
    if len(vertical) == 3:
        return "BEST_FIT", tuple((size, True) for size, _ in sides)
    if len(vertical) == 2:
        if two_way == "height":
            # the side given as height if it may stand, else the side given as width
            choice = 2 if 2 in vertical else 1
        elif two_way == "shortest":
            choice = min(vertical, key=lambda i: (sides[i][0], -i))
        else:
            choice = max(vertical, key=lambda i: (sides[i][0], i))
    else:
        choice = vertical[0]
    floor = [(size, bool(flag)) for i, (size, flag) in enumerate(sides) if i != choice]
    return "KEEP_FLAT", (floor[0], floor[1], (sides[choice][0], True))


def orient(l, fl, w, fw, h, fh, two_way):
    """(rotation name, width, length, depth) for one box type, or None when no
    side may stand vertical."""
    mapped = item_sides(l, fl, w, fw, h, fh, two_way)
    if mapped is None:
        return None
    rotation, sides = mapped
    return (rotation, *(size for size, _ in sides))


def orientation_labels(vertical):
    """The orientation labels that stand one of the allowed sides vertical.
    `vertical` holds three flags, for the item's width, length and depth: may
    this side stand vertical? Letter i of a label names the item side along box
    axis i, so the last letter names the vertical side; each allowed side gives
    the two labels with it last (the other two sides may swap on the floor)."""
    upright = {letter for letter, flag in zip("WLD", vertical) if flag}
    return tuple(label for label in ORIENTATION_LABELS if label[2] in upright)


def orientation_rules(problem, args):
    """The exact mapping's loading rules of one instance: {"items": {code:
    {"Orientations": labels}}} for the items of every type whose flags allow
    fewer than all six orientations. The items are those of build_request, so
    their flat rotation freedom is one of the orientations given here and the
    engine's packing of them keeps these rules too."""
    rules = {}
    for type_id, l, fl, w, fw, h, fh, count in problem["types"]:
        if args.free_rotation:
            continue
        mapped = item_sides(l, fl, w, fw, h, fh, args.two_way)
        if mapped is None:
            continue
        labels = orientation_labels([flag for _, flag in mapped[1]])
        if len(labels) < len(ORIENTATION_LABELS):
            for copy in range(1, count + 1):
                rules[item_code(type_id, copy)] = {"Orientations": list(labels)}
    return {"items": rules}


def item_code(type_id, copy):
    return f"T{type_id:02d}-{copy:03d}"


def build_request(stowvex, problem, args, density=0.0):
    """(items, boxes, cargo volume, excluded item count) of one instance; each item
    weighs `density` times its volume (0 by default: the instances give no weights)."""
    L, W, H = problem["container"]
    box = stowvex.Box("CONTAINER", W, L, H, max_quantity=args.max_containers or None)
    items, cargo, excluded = [], 0, 0
    for type_id, l, fl, w, fw, h, fh, count in problem["types"]:
        if args.free_rotation:
            mapped = ("BEST_FIT", l, w, h)
        else:
            mapped = orient(l, fl, w, fw, h, fh, args.two_way)
        if mapped is None:
            excluded += count
            continue
        rotation, width, length, depth = mapped
        for copy in range(1, count + 1):
            items.append(
                stowvex.Item(
                    item_code(type_id, copy),
                    f"type {type_id}",
                    width,
                    length,
                    depth,
                    round(density * l * w * h, 3),
                    allowed_rotation=getattr(stowvex.Rotation, rotation),
                )
            )
            cargo += l * w * h
    return items, [box], cargo, excluded


def run_instance(stowvex, entry, items, boxes):
    if entry == "pack":
        return benchlib.timed(stowvex.pack, items, boxes)
    dict_items = [
        {
            "ItemCode": i.item_code,
            "ItemReference": i.item_reference,
            "Width": i.width,
            "Length": i.length,
            "Depth": i.depth,
            "Weight": i.weight,
            "AllowedRotation": {"NEVER": "Never", "KEEP_FLAT": "KeepFlat", "BEST_FIT": "BestFit"}[
                benchlib.rotation_name(i.allowed_rotation)
            ],
        }
        for i in items
    ]
    dict_boxes = [
        {
            "Reference": b.reference,
            "Width": b.width,
            "Length": b.length,
            "Depth": b.depth,
            "MaximumBoxes": b.max_quantity,
        }
        for b in boxes
    ]
    return benchlib.timed(stowvex.pack_dicts, dict_items, dict_boxes)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument(
        "--data", help="data directory (default: ../shared/data beside the project root)"
    )
    parser.add_argument(
        "--sets", default="1-10", help="BR sets, e.g. '1,4,7' or '1-10' (default: %(default)s)"
    )
    parser.add_argument(
        "--instances",
        type=int,
        default=10,
        help="instances per set, from --first on (default: %(default)s)",
    )
    parser.add_argument(
        "--first",
        type=int,
        default=1,
        help="first instance index of each set (default: %(default)s)",
    )
    parser.add_argument("--all", action="store_true", help="all 100 instances of each set")
    parser.add_argument(
        "--two-way",
        choices=("height", "shortest", "longest"),
        default="height",
        help="types with two sides allowed vertical: which one is kept vertical "
        "(default: %(default)s = the side given as height)",
    )
    parser.add_argument(
        "--free-rotation",
        action="store_true",
        help="ignore the vertical flags (BEST_FIT for all; NOT comparable with the literature)",
    )
    parser.add_argument(
        "--max-containers",
        type=int,
        default=1,
        help="MaximumBoxes of the container type; 0 = unlimited, the engine "
        "packs leftover cargo into further containers (default: %(default)s)",
    )
    parser.add_argument(
        "--entry",
        choices=("pack", "pack_dicts"),
        default="pack",
        help="entry function to time (default: %(default)s)",
    )
    parser.add_argument(
        "--warmup",
        type=int,
        default=1,
        help="untimed runs of the first instance (default: %(default)s)",
    )
    parser.add_argument(
        "--no-check",
        action="store_true",
        help="skip the independent placement check (not timed either way)",
    )
    parser.add_argument("--csv", help="write one row per instance to this file")
    parser.add_argument("-v", "--verbose", action="store_true", help="one line per instance")
    args = parser.parse_args(argv)

    stowvex = benchlib.import_engine()
    data = benchlib.data_dir(args.data)
    sets = parse_sets(args.sets)

    work = []
    for number in sets:
        path = data / "br" / f"set_{number}.txt"
        if not path.is_file():
            sys.exit(f"no such set: {path}")
        problems = read_thpack(path)
        chosen = (
            problems if args.all else problems[args.first - 1 : args.first - 1 + args.instances]
        )
        work.append((number, chosen))

    if args.warmup and work and work[0][1]:
        items, boxes, _, _ = build_request(stowvex, work[0][1][0], args)
        for _ in range(args.warmup):
            run_instance(stowvex, args.entry, items, boxes)

    rows, per_instance, failures = [], [], 0
    for number, problems in work:
        records = []
        for problem in problems:
            items, boxes, cargo, excluded = build_request(stowvex, problem, args)
            result, seconds = run_instance(stowvex, args.entry, items, boxes)
            L, W, H = problem["container"]
            capacity = L * W * H
            first = result.boxes[0] if result.boxes else None
            fills = [packed.volume_utilisation for packed in result.boxes] or [0.0]
            fullest = result.boxes[fills.index(max(fills))] if result.boxes else None
            problems_found = []
            if result.boxes and not args.no_check:
                for packed in result.boxes:
                    problems_found += benchlib.check_packed_box(packed)
                own_fill = 100.0 * benchlib.used_volume(first) / capacity
                if abs(own_fill - fills[0]) > 1e-6:
                    problems_found.append(f"reported fill {fills[0]} != placed volume {own_fill}")
            if problems_found:
                failures += 1
                print(
                    f"BR{number} #{problem['index']}: {len(problems_found)} problems, e.g. "
                    f"{problems_found[0]}",
                    file=sys.stderr,
                )
            record = {
                "set": number,
                "instance": problem["index"],
                "types": len(problem["types"]),
                "items": len(items),
                "excluded": excluded,
                "cargo_pct": 100.0 * cargo / capacity,
                "fill_pct": max(fills),
                "items_fullest": len(fullest) if fullest is not None else 0,
                "fill_box0_pct": fills[0],
                "items_box0": len(first) if first is not None else 0,
                "containers": len(result.boxes),
                "unplaced": result.total_unplaced,
                "seconds": seconds,
                "problems": len(problems_found),
            }
            records.append(record)
            if args.verbose:
                print(
                    f"BR{number} #{record['instance']:3d}: {record['items']:4d} items, "
                    f"fill {max(fills):6.2f} %, {record['items_fullest']} in it, "
                    f"{record['containers']} containers, {benchlib.duration(seconds):>10}",
                    file=sys.stderr,
                    flush=True,
                )
        per_instance += records
        if records:
            rows.append(summary_row(f"BR{number}", records, not args.max_containers))
    if len(rows) > 1:
        rows.append(summary_row("all", per_instance, not args.max_containers))

    unlimited = not args.max_containers
    mapping = (
        "free rotation (NOT comparable)"
        if args.free_rotation
        else f"vertical flags respected, two-way types: {args.two_way}"
    )
    print(
        f"stowvex container loading: {args.entry}(), {mapping}, containers: "
        f"{args.max_containers or 'unlimited'}"
    )
    print(f"machine: {benchlib.machine_line()}")
    headers = ["set", "inst", "items", "cargo%", "fill% mean", "min", "max", "placed"]
    if unlimited:
        headers += ["boxes", "box0 fill%", "box0 fullest"]
    headers += ["t median", "t p90", "t max"]
    print(benchlib.table(headers, rows))
    if unlimited:
        print(
            "fill = volume utilisation of the fullest container, placed = items in it; "
            "box0 = result.boxes[0]"
        )
    else:
        print("fill = volume utilisation of the container, placed = items in it")
    print(f"cargo% = all cargo / container volume; t = wall time of one {args.entry}() call")
    print(f"context only: {PUBLISHED}")
    if failures:
        print(f"PLACEMENT CHECK FAILED on {failures} instances (details on stderr)")

    if args.csv:
        with open(args.csv, "w", newline="") as f:
            writer = csv.DictWriter(f, fieldnames=list(per_instance[0].keys()))
            writer.writeheader()
            writer.writerows(per_instance)
    return 1 if failures else 0


def summary_row(name, records, unlimited):
    fills = [r["fill_pct"] for r in records]
    times = [r["seconds"] for r in records]
    row = [
        name,
        len(records),
        f"{benchlib.mean([r['items'] for r in records]):.0f}",
        f"{benchlib.mean([r['cargo_pct'] for r in records]):.1f}",
        f"{benchlib.mean(fills):.2f}",
        f"{min(fills):.2f}",
        f"{max(fills):.2f}",
        f"{benchlib.mean([r['items_fullest'] for r in records]):.1f}",
    ]
    if unlimited:
        row += [
            f"{benchlib.mean([r['containers'] for r in records]):.1f}",
            f"{benchlib.mean([r['fill_box0_pct'] for r in records]):.2f}",
            f"{sum(r['fill_box0_pct'] == r['fill_pct'] for r in records)}/{len(records)}",
        ]
    row += [
        benchlib.duration(benchlib.quantile(times, 0.5)),
        benchlib.duration(benchlib.quantile(times, 0.9)),
        benchlib.duration(max(times)),
    ]
    return row


if __name__ == "__main__":
    sys.exit(main())
