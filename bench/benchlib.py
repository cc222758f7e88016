"""Shared helpers of the benchmark scripts: paths, timing, statistics, placement
checks and table printing. Standard library only."""

import os
import platform
import statistics
import sys
import time
from pathlib import Path

PROJECT_ROOT = Path(__file__).resolve().parent.parent
DEFAULT_DATA = PROJECT_ROOT.parent / "shared" / "data"

# The labels the engine writes for the six orientations, by rotation freedom.
ORIENTATIONS = {
    "NEVER": {"WLD"},
    "KEEP_FLAT": {"WLD", "LWD"},
    "BEST_FIT": {"WLD", "LWD", "WDL", "LDW", "DWL", "DLW"},
}


class SplitMix64:
    """A small seeded generator (Steele, Lea and Flood's SplitMix64) whose
    sequence depends on nothing but the seed: synthetic requests come out the
    same on every Python version, unlike those of the random module."""

    MASK = (1 << 64) - 1

    def __init__(self, seed):
        self.state = seed & self.MASK

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & self.MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & self.MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & self.MASK
        return z ^ (z >> 31)

    def below(self, n):
        """An integer in [0, n); n is far below 2**64, so the bias is negligible."""
        return self.next() % n

    def between(self, low, high):
        """An integer in [low, high]."""
        return low + self.below(high - low + 1)

    def chance(self, percent):
        return self.below(100) < percent

    def pick(self, choices):
        return choices[self.below(len(choices))]


def data_dir(option):
    """The data directory: the --data option, else ../shared/data beside the project."""
    path = Path(option) if option else DEFAULT_DATA
    if not path.is_dir():
        sys.exit(f"data directory not found: {path} (use --data DIR)")
    return path


def import_engine():
    try:
        import stowvex
    except ImportError as error:
        sys.exit(
            f"cannot import stowvex ({error}); build it with `make module` and run "
            "the benchmark with .venv/bin/python"
        )
    return stowvex


def timed(function, *args):
    """Calls function(*args); returns (result, seconds)."""
    start = time.perf_counter()
    result = function(*args)
    return result, time.perf_counter() - start


def quantile(values, q):
    """Linear interpolation between closest ranks (q in [0, 1])."""
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    position = q * (len(ordered) - 1)
    low = int(position)
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (position - low)


def mean(values):
    return statistics.fmean(values) if values else float("nan")


def rotation_name(rotation):
    return str(rotation).rsplit(".", 1)[-1]


def check_packed_box(packed, slack=0.0):
    """Independent check of one packed box: every placement lies inside the box,
    has the item's own sides in an orientation its rotation freedom allows, and
    no two placements overlap. Returns a list of problems (empty when sound)."""
    box = packed.box
    problems = []
    cuboids = []
    for placed in packed.items:
        item = placed.item
        code = item.item_code
        dims = (placed.width, placed.length, placed.depth)
        if sorted(dims) != sorted((item.width, item.length, item.depth)):
            problems.append(f"{code}: placed sides {dims} are not the item's")
        allowed = ORIENTATIONS[rotation_name(item.allowed_rotation)]
        if placed.orientation not in allowed:
            problems.append(f"{code}: orientation {placed.orientation} not allowed")
        low = (placed.x, placed.y, placed.z)
        high = (placed.x + dims[0], placed.y + dims[1], placed.z + dims[2])
        if (
            min(low) < 0
            or high[0] > box.width + slack
            or high[1] > box.length + slack
            or high[2] > box.depth + slack
        ):
            problems.append(f"{code}: outside the box")
        cuboids.append((low, high, code))
    # Sweep along x: only cuboids whose x ranges meet are compared.
    cuboids.sort(key=lambda c: c[0][0])
    for i, (low_a, high_a, code_a) in enumerate(cuboids):
        for low_b, high_b, code_b in cuboids[i + 1 :]:
            if low_b[0] >= high_a[0] - slack:
                break
            if all(low_a[k] < high_b[k] - slack and low_b[k] < high_a[k] - slack for k in (1, 2)):
                problems.append(f"{code_a} and {code_b} overlap")
    return problems


def used_volume(packed):
    return sum(p.width * p.length * p.depth for p in packed.items)


def duration(seconds):
    """Three significant figures in ms below 1 s, else seconds."""
    if seconds >= 1:
        return f"{seconds:.2f} s"
    milliseconds = seconds * 1000
    if milliseconds >= 100:
        return f"{milliseconds:.0f} ms"
    if milliseconds >= 10:
        return f"{milliseconds:.1f} ms"
    if milliseconds >= 1:
        return f"{milliseconds:.2f} ms"
    return f"{milliseconds:.3f} ms"


def table(headers, rows, aligns=None):
    """A compact fixed-width text table; numbers right-aligned."""
    cells = [[str(h) for h in headers]] + [[str(c) for c in row] for row in rows]
    widths = [max(len(row[i]) for row in cells) for i in range(len(headers))]
    if aligns is None:
        aligns = ["<"] + [">"] * (len(headers) - 1)
    lines = []
    for n, row in enumerate(cells):
        lines.append("  ".join(f"{c:{a}{w}}" for c, a, w in zip(row, aligns, widths)).rstrip())
        if n == 0:
            lines.append("  ".join("-" * w for w in widths))
    return "\n".join(lines)


def fill_columns(records):
    """The common columns of a container fill table over records with fill, placed,
    seconds, cpu and faults: fill mean, min and max, items placed, the median, p90 and
    worst time, the CPU time over the wall time, and the faults."""
    fills = [r["fill"] for r in records]
    times = [r["seconds"] for r in records]
    return [
        f"{mean(fills):.2f}",
        f"{min(fills):.2f}",
        f"{max(fills):.2f}",
        f"{mean([r['placed'] for r in records]):.1f}",
        duration(quantile(times, 0.5)),
        duration(quantile(times, 0.9)),
        duration(max(times)),
        f"{sum(r['cpu'] for r in records) / max(sum(times), 1e-9):.2f}",
        sum(r["faults"] for r in records),
    ]


def machine_line():
    cpus = os.cpu_count() or 0
    line = (
        f"{platform.machine()}, {cpus} logical CPUs, Python {platform.python_version()}, "
        f"{platform.system()}"
    )
    if hasattr(os, "getloadavg"):
        line += f", load average {os.getloadavg()[0]:.2f}"
    return line
