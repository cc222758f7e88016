"""Lower bounds on the boxes a set of items needs, written for the benchmarks apart
from the optimiser's own, so that "at the bound" is judged independently.

Items are lists of orientations, each a (width, length, depth) tuple; the room is
the box's (width, length, depth). Three bounds, the largest counts:

  volume   the items' volume over the box's;
  apart    a largest-first set of items no two of which fit one box together,
           plus the volume bound of the items that fit a box with none of them;
  worth    dual feasible functions (Fekete and Schepers): per axis a map of a
           side's share of the box such that shares that fit side by side still
           add up to at most 1 after it; an item is worth the product of its
           mapped shares in its least worthy orientation, and the worth of one
           box's items is at most 1.
"""

import math
from fractions import Fraction
from itertools import product


def volume_bound(items, room):
    volume = sum(min(math.prod(o) for o in orientations) for orientations in items)
    return math.ceil(Fraction(volume) / math.prod(room)) if items else 0


def _fits(size, room):
    return all(s <= r for s, r in zip(size, room))


def fit_together(a, b, room):
    """Two items in one box lie on either side of a plane across one axis."""
    for p in a:
        if not _fits(p, room):
            continue
        for q in b:
            if _fits(q, room) and any(p[k] + q[k] <= room[k] for k in range(3)):
                return True
    return False


def apart_bound(items, room):
    by_volume = sorted(items, key=lambda o: math.prod(o[0]), reverse=True)
    best = volume_bound(by_volume, room)
    members = []
    for index, item in enumerate(by_volume):
        if not all(not fit_together(item, by_volume[m], room) for m in members):
            continue
        members.append(index)
        alone = [
            other
            for n, other in enumerate(by_volume)
            if n not in members
            and all(not fit_together(other, by_volume[m], room) for m in members)
        ]
        best = max(best, len(members) + volume_bound(alone, room))
    return best


def _maps(extents, side, cuts):
    """(name, function of a side) pairs: the share, steps of 1 to 3, thresholds."""
    side = Fraction(side)
    maps = [lambda s: Fraction(s) / side]
    for k in (1, 2, 3):

        def steps(s, k=k):
            scaled = (k + 1) * Fraction(s) / side
            return scaled / (k + 1) if scaled.denominator == 1 else Fraction(math.floor(scaled), k)

        maps.append(steps)
    small = sorted({e for e in extents if 0 < 2 * e <= side})
    chosen = small[:: max(1, len(small) // cuts)][-cuts:] if small else []
    for c in chosen:

        def threshold(s, c=c):
            if s < c:
                return Fraction(0)
            return Fraction(1) if s > side - c else Fraction(s) / side

        maps.append(threshold)
    return maps


def worth_bound(items, room, cuts=4):
    """In exact arithmetic (fractions of the sizes as given)."""
    fitting = [[o for o in orientations if _fits(o, room)] for orientations in items]
    fitting = [f for f in fitting if f]
    if not fitting:
        return 0
    maps = [_maps([o[a] for f in fitting for o in f], room[a], cuts) for a in range(3)]
    values = [[[[m(o[a]) for o in f] for f in fitting] for m in maps[a]] for a in range(3)]
    best = Fraction(0)
    for mx, my, mz in product(range(len(maps[0])), range(len(maps[1])), range(len(maps[2]))):
        vx, vy, vz = values[0][mx], values[1][my], values[2][mz]
        total = sum(
            min(x * y * z for x, y, z in zip(vx[i], vy[i], vz[i])) for i in range(len(fitting))
        )
        best = max(best, total)
    return math.ceil(best)


def box_bound(items, room):
    """The largest of the three bounds."""
    return max(apart_bound(items, room), worth_bound(items, room))
