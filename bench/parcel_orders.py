"""Parcel order benchmark: real shipping orders (../shared/data/orders/
parcel_orders.txt, one order per line, parcels written WIDTHxLENGTHxHEIGHT in mm)
packed into a fixed carton catalogue, timed through all three entry functions.

Request of one order:
  * items: one per parcel, width/length/depth = W/L/H in mm, any orientation
    (BEST_FIT, --rotation to change), weight from a volumetric density of
    166.7 kg/m3 (1 kg per 6000 cm3, the usual courier volumetric divisor, so
    a 600x400x390 mm parcel weighs 15.6 kg; --density to change, 0 = weightless).
  * boxes: the CARTONS catalogue below, unlimited supply of each.

Timed per order and entry function, inputs built beforehand (not timed):
pack() with stowvex.Item/Box objects, pack_dicts() with plain dicts, solve()
with JSON text.
"""

import argparse
import json
import sys
from collections import Counter

import benchlib

# Carton catalogue: reference, inner width x length x depth (mm), empty weight
# and gross weight limit (kg). Single-wall and double-wall folding cartons in
# common shipping sizes; the XL is the 600 x 400 mm Euro footprint and takes
# the largest parcel of the data (600 x 400 x 390). Gross limits follow the
# usual 31.5 kg parcel-carrier limit. Unlimited supply of each.
CARTONS = [
    ("CARTON-S", 300, 200, 150, 0.15, 10.0),
    ("CARTON-M", 400, 300, 250, 0.35, 20.0),
    ("CARTON-L", 500, 400, 300, 0.55, 31.5),
    ("CARTON-XL", 600, 400, 400, 0.80, 31.5),
    ("CARTON-XXL", 800, 600, 500, 1.40, 31.5),
]

ROTATION_TEXT = {"NEVER": "Never", "KEEP_FLAT": "KeepFlat", "BEST_FIT": "BestFit"}
DEFAULT_DENSITY = 1e6 / 6000.0  # kg per m3


def read_orders(path):
    """Orders as lists of (W, L, H) in mm; blank lines skipped."""
    orders = []
    for line in path.read_text().splitlines():
        parcels = [tuple(float(v) for v in token.split("x")) for token in line.split()]
        if parcels:
            orders.append(parcels)
    return orders


def order_inputs(stowvex, parcels, rotation, density, boxes):
    """The same request three ways: (Item objects, dicts, JSON text)."""
    dict_items = []
    for n, (w, l, h) in enumerate(parcels, start=1):
        weight = round(w * l * h * 1e-9 * density, 3)
        dict_items.append(
            {
                "ItemCode": f"P{n:03d}",
                "ItemReference": f"parcel {w:g}x{l:g}x{h:g}",
                "Width": w,
                "Length": l,
                "Depth": h,
                "Weight": weight,
                "AllowedRotation": ROTATION_TEXT[rotation],
            }
        )
    objects = [
        stowvex.Item(
            d["ItemCode"],
            d["ItemReference"],
            d["Width"],
            d["Length"],
            d["Depth"],
            d["Weight"],
            allowed_rotation=getattr(stowvex.Rotation, rotation),
        )
        for d in dict_items
    ]
    dict_boxes = carton_dicts()
    text = json.dumps({"items": dict_items, "boxes": dict_boxes})
    return objects, (dict_items, dict_boxes), text


def carton_dicts():
    return [
        {"Reference": r, "Width": w, "Length": l, "Depth": d, "BoxWeight": e, "MaxWeight": m}
        for r, w, l, d, e, m in CARTONS
    ]


def carton_objects(stowvex):
    return [stowvex.Box(r, w, l, d, max_weight=m, empty_weight=e) for r, w, l, d, e, m in CARTONS]


def outline(result):
    """What must agree between entry functions: box references in order, placed
    item codes per box, unplaced codes."""
    if isinstance(result, str):
        data = json.loads(result)
        return (
            tuple(
                (b["box_reference"], tuple(p["ItemCode"] for p in b["items"]))
                for b in data["boxes"]
            ),
            tuple(data["unplaced_item_codes"]),
        )
    return (
        tuple((b.box.reference, tuple(p.item.item_code for p in b.items)) for b in result.boxes),
        tuple(i.item_code for i in result.unplaced_items),
    )


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument(
        "--data", help="data directory (default: ../shared/data beside the project root)"
    )
    parser.add_argument(
        "--orders", type=int, default=None, help="use the first N orders (default: all)"
    )
    parser.add_argument(
        "--entries",
        default="pack,pack_dicts,solve",
        help="entry functions to time, comma separated (default: %(default)s)",
    )
    parser.add_argument(
        "--repeat",
        type=int,
        default=5,
        help="timed runs per order and entry; every run is a sample (default: %(default)s)",
    )
    parser.add_argument(
        "--warmup",
        type=int,
        default=10,
        help="orders packed untimed per entry before timing (default: %(default)s)",
    )
    parser.add_argument(
        "--density",
        type=float,
        default=DEFAULT_DENSITY,
        help="parcel density in kg/m3 for the weights; 0 = weightless (default: 166.7)",
    )
    parser.add_argument(
        "--rotation",
        choices=sorted(ROTATION_TEXT),
        default="BEST_FIT",
        help="rotation freedom of every parcel (default: %(default)s)",
    )
    parser.add_argument(
        "--no-check",
        action="store_true",
        help="skip the placement check and the cross-entry comparison",
    )
    parser.add_argument(
        "--slowest",
        type=int,
        default=5,
        help="list the N slowest orders of pack() (default: %(default)s)",
    )
    args = parser.parse_args(argv)

    stowvex = benchlib.import_engine()
    data = benchlib.data_dir(args.data)
    orders = read_orders(data / "orders" / "parcel_orders.txt")
    if args.orders is not None:
        orders = orders[: args.orders]
    entries = [e.strip() for e in args.entries.split(",") if e.strip()]
    for entry in entries:
        if entry not in ("pack", "pack_dicts", "solve"):
            sys.exit(f"unknown entry function: {entry}")

    boxes = carton_objects(stowvex)
    inputs = [
        order_inputs(stowvex, parcels, args.rotation, args.density, boxes) for parcels in orders
    ]
    calls = {
        "pack": lambda i: stowvex.pack(i[0], boxes),
        "pack_dicts": lambda i: stowvex.pack_dicts(*i[1]),
        "solve": lambda i: stowvex.solve(i[2]),
    }

    times = {e: [[] for _ in orders] for e in entries}
    outlines = {e: [None] * len(orders) for e in entries}
    results = [None] * len(orders)
    for entry in entries:
        call = calls[entry]
        for i in range(min(args.warmup, len(orders))):
            call(inputs[i])
        for n, request in enumerate(inputs):
            for _ in range(args.repeat):
                result, seconds = benchlib.timed(call, request)
                times[entry][n].append(seconds)
            if not args.no_check:
                outlines[entry][n] = outline(result)
            if entry == "pack" or (results[n] is None and entry == "pack_dicts"):
                results[n] = result

    # Quality figures from PackResult objects (pack or pack_dicts; solve alone
    # is re-packed once here, untimed).
    for n, request in enumerate(inputs):
        if results[n] is None:
            results[n] = calls["pack"](request)
    box_counts = [len(r.boxes) for r in results]
    overall = [r.overall_volume_utilisation for r in results]
    per_box = [b.volume_utilisation for r in results for b in r.boxes]
    with_unplaced = sum(1 for r in results if r.total_unplaced)
    unplaced = sum(r.total_unplaced for r in results)
    usage = Counter(b.box.reference for r in results for b in r.boxes)

    bad_orders = mismatches = 0
    if not args.no_check:
        for n, result in enumerate(results):
            found = [p for b in result.boxes for p in benchlib.check_packed_box(b)]
            for b in result.boxes:
                if b.box.has_weight_limit and b.weight > b.box.max_weight + 1e-9:
                    found.append(f"{b.box.reference} over its weight limit")
            if found:
                bad_orders += 1
                print(f"order {n + 1}: {found[0]}", file=sys.stderr)
            if len({outlines[e][n] for e in entries}) > 1:
                mismatches += 1

    parcels = sum(len(o) for o in orders)
    weights = "weightless" if args.density == 0 else f"{args.density:.1f} kg/m3"
    print(
        f"stowvex parcel orders: {len(orders)} orders, {parcels} parcels, "
        f"{len(CARTONS)} carton types, {args.rotation}, {weights}, repeat {args.repeat}"
    )
    print(f"machine: {benchlib.machine_line()}")
    rows = []
    for entry in entries:
        # latency of an order: the median of its runs; throughput: all calls
        samples = [benchlib.quantile(per_order, 0.5) for per_order in times[entry]]
        calls_made = sum(len(per_order) for per_order in times[entry])
        total = sum(sum(per_order) for per_order in times[entry])
        rows.append(
            [
                f"{entry}()",
                calls_made,
                f"{total:.2f} s",
                f"{calls_made / total:.0f}",
                ms(benchlib.mean(samples)),
                ms(benchlib.quantile(samples, 0.5)),
                ms(benchlib.quantile(samples, 0.9)),
                ms(benchlib.quantile(samples, 0.99)),
                ms(max(samples)),
            ]
        )
    print(
        benchlib.table(
            ["entry", "calls", "total", "orders/s", "mean", "median", "p90", "p99", "max"], rows
        )
    )
    print(
        f"boxes per order: mean {benchlib.mean(box_counts):.2f}, max {max(box_counts)}; "
        f"volume utilisation: mean per order {benchlib.mean(overall):.1f} %, "
        f"mean per box {benchlib.mean(per_box):.1f} %"
    )
    print(f"orders with unplaced parcels: {with_unplaced} ({unplaced} parcels)")
    print("boxes used: " + ", ".join(f"{ref} {usage[ref]}" for ref, *_ in CARTONS))
    if args.slowest and "pack" in entries:
        latency = [benchlib.quantile(t, 0.5) for t in times["pack"]]
        slow = sorted(range(len(orders)), key=lambda n: -latency[n])[: args.slowest]
        print(
            "slowest pack() orders: "
            + "; ".join(
                f"#{n + 1} {len(orders[n])} parcels, {len(results[n].boxes)} boxes, "
                f"{ms(latency[n])}"
                for n in slow
            )
        )
    if not args.no_check:
        print(
            f"checks: {bad_orders} orders with unsound placements, {mismatches} orders where "
            "the entry functions disagree"
        )
    return 1 if bad_orders or mismatches else 0


def ms(seconds):
    return benchlib.duration(seconds)


if __name__ == "__main__":
    sys.exit(main())
