"""Turns a file of parcel orders (one order a line, parcels written WIDTHxLENGTHxHEIGHT in
mm, such as orders/parcel_orders.txt of the benchmark data) into CSV order lines for
`stowvex batch`: order_id,item_code,width,length,depth,weight,quantity.

Each parcel weighs 1 kg per 6000 cm3 (the usual courier volumetric divisor).

    python examples/parcel_orders_csv.py ORDERS.txt > orders.csv
    stowvex batch orders.csv --boxes examples/cartons.json -o results.jsonl
"""

import csv
import sys
from typing import TextIO

KG_PER_MM3 = 1 / 6e6


def main(path: str, out: TextIO = sys.stdout, copies: int = 1) -> None:
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(["order_id", "item_code", "width", "length", "depth", "weight", "quantity"])
    with open(path, encoding="utf-8") as lines:
        orders = [line.split() for line in lines if line.split()]
    for copy in range(copies):
        for number, parcels in enumerate(orders, start=1):
            order_id = f"order-{number:04d}" + (f"-{copy + 1}" if copies > 1 else "")
            for n, parcel in enumerate(parcels, start=1):
                w, l, h = (float(side) for side in parcel.split("x"))
                writer.writerow(
                    [
                        order_id,
                        f"P{n:03d}",
                        f"{w:g}",
                        f"{l:g}",
                        f"{h:g}",
                        round(w * l * h * KG_PER_MM3, 3),
                        1,
                    ]
                )


if __name__ == "__main__":
    if len(sys.argv) not in (2, 3):
        sys.exit("usage: parcel_orders_csv.py ORDERS.txt [COPIES] > orders.csv")
    main(sys.argv[1], copies=int(sys.argv[2]) if len(sys.argv) == 3 else 1)
