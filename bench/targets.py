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

from fractions import Fraction

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
    return (f'{{"ItemCode": "{code}", "Width": {number(width, 1)}, '
            f'"Length": {number(length, 2)}, "Depth": {number(depth, 3)}, '
            f'"Weight": {number(weight, 3)}}}')


def cube_side(volume):
    """The whole side w whose box w x 1.2w x w comes nearest the volume."""
    target = Fraction(volume) / Fraction(6, 5)
    guess = int(round(float(target) ** (1 / 3)))
    return min((w for w in (guess - 1, guess, guess + 1) if w > 0),
               key=lambda w: (abs(w**3 - target), w))


def box_types(items, shares, prefix, weight_limited):
    """Box types w x 1.2w x w of the given shares of the cargo volume; the
    k-th has an empty weight of 0.2 (k + 1) and, when weight limited, a gross
    limit of 110 % of its share of the cargo weight."""
    volume = sum(w * l * d for _, w, l, d, _ in items)
    weight = sum(item[4] for item in items)
    boxes = []
    for k, share in enumerate(shares):
        side = cube_side(volume * Fraction(share))
        text = (f'{{"Reference": "{prefix}{k:0{len(str(len(shares) - 1))}d}", "Width": {side}, '
                f'"Length": {(6 * side + 2) // 5}, "Depth": {side}, '
                f'"BoxWeight": {number(Fraction(k + 1, 5), 1)}')
        if weight_limited:
            text += f', "MaxWeight": {number(weight * Fraction(share) * Fraction(11, 10), 1)}'
        boxes.append(text + "}")
    return boxes


def request_text(items, boxes):
    return ('{"items": [' + ", ".join(item_text(*item) for item in items) + '], "boxes": [' +
            ", ".join(boxes) + "]}")


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
    return ('{"items": [{"ItemCode": "A", "Width": 10, "Length": 20, "Depth": 5, '
            '"Weight": 1.5}], "boxes": [{"Reference": "B", "Width": 30, "Length": 30, '
            '"Depth": 30}]}')


def hundred_in_one_box_request(seed=1):
    """100 random items that all fit the one box type."""
    items = random_items(benchlib.SplitMix64(seed * 5_000_003 + 100), 100)
    box = '{"Reference": "BIG", "Width": 400, "Length": 400, "Depth": 400}'
    return request_text(items, [box])
