"""What a picture of a result shows: each packed box with its items drawn as coloured
blocks, in the order a packer at the bench puts them in."""

from __future__ import annotations

import re
from collections.abc import Mapping
from dataclasses import dataclass
from typing import Any

from .summary import result_dict, result_number

# Twenty colours that stay apart from each other and from the dark edges drawn around
# every block; item codes take them in order of first appearance.
PALETTE = (
    "#4e79a7",
    "#f28e2b",
    "#59a14f",
    "#e15759",
    "#76b7b2",
    "#edc948",
    "#b07aa1",
    "#ff9da7",
    "#9c755f",
    "#86bcb6",
    "#8cd17d",
    "#f1ce63",
    "#a0cbe8",
    "#ffbe7d",
    "#d37295",
    "#b6992d",
    "#499894",
    "#fabfd2",
    "#79706e",
    "#d4a6c8",
)

# The eight corners of a unit block and its twelve triangles (two per face) and
# twelve edges, as indices into the corners.
CORNERS = ((0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), (0, 0, 1), (1, 0, 1), (1, 1, 1), (0, 1, 1))
TRIANGLES = (
    (0, 1, 2),
    (0, 2, 3),
    (4, 5, 6),
    (4, 6, 7),
    (0, 1, 5),
    (0, 5, 4),
    (1, 2, 6),
    (1, 6, 5),
    (2, 3, 7),
    (2, 7, 6),
    (3, 0, 4),
    (3, 4, 7),
)
EDGES = (
    (0, 1),
    (1, 2),
    (2, 3),
    (3, 0),
    (4, 5),
    (5, 6),
    (6, 7),
    (7, 4),
    (0, 4),
    (1, 5),
    (2, 6),
    (3, 7),
)
FACES = ((0, 1, 2, 3), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6), (3, 0, 4, 7))


@dataclass(frozen=True)
class DrawnItem:
    """One placed item as a picture draws it: a block at its position with its placed
    sides, its colour, and what a packer needs to know."""

    step: int  # 1 for the first item to put in the box
    code: str
    reference: str
    x: float
    y: float
    z: float
    width: float
    length: float
    depth: float
    orientation: str
    weight: float
    colour: str

    def corners(self) -> list[tuple[float, float, float]]:
        """The eight corners of its block, in the order of `CORNERS`."""
        return [
            (self.x + cx * self.width, self.y + cy * self.length, self.z + cz * self.depth)
            for cx, cy, cz in CORNERS
        ]


@dataclass(frozen=True)
class BoxScene:
    """One packed box of a result, its items in bench order."""

    index: int
    reference: str
    width: float
    length: float
    depth: float
    weight: float
    fill: float
    items: tuple[DrawnItem, ...]


def bench_order(items: list[Mapping[str, Any]]) -> list[Mapping[str, Any]]:
    """Placements in an order a person can follow: bottom up, then back to front and
    left to right. An item rests only on items whose tops are at its bottom, lower than
    its own position, so they always come first. Equal positions keep the engine's order."""
    return sorted(items, key=lambda p: tuple(result_number(p.get(axis)) for axis in "zyx"))


def scenes(result: Any) -> list[BoxScene]:
    """The boxes of a result (JSON text, dict or `PackResult`) ready to draw."""
    data = result_dict(result)
    colours: dict[str, str] = {}
    out = []
    for index, box in enumerate(data.get("boxes") or []):
        drawn = []
        for step, placed in enumerate(bench_order(list(box.get("items") or [])), start=1):
            code = str(placed.get("ItemCode", ""))
            colour = colours.setdefault(code, PALETTE[len(colours) % len(PALETTE)])
            drawn.append(
                DrawnItem(
                    step,
                    code,
                    str(placed.get("ItemReference", code)),
                    result_number(placed.get("x")),
                    result_number(placed.get("y")),
                    result_number(placed.get("z")),
                    result_number(placed.get("width")),
                    result_number(placed.get("length")),
                    result_number(placed.get("depth")),
                    str(placed.get("orientation", "")),
                    result_number(placed.get("weight")),
                    colour,
                )
            )
        out.append(
            BoxScene(
                int(box.get("box_index", index)),
                str(box.get("box_reference", "")),
                result_number(box.get("width")),
                result_number(box.get("length")),
                result_number(box.get("depth")),
                result_number(box.get("weight")),
                result_number(box.get("volume_utilisation")),
                tuple(drawn),
            )
        )
    return out


def unplaced_codes(result: Any) -> list[str]:
    """The codes of the items a result left unplaced."""
    return [str(code) for code in result_dict(result).get("unplaced_item_codes") or []]


def file_stem(scene: BoxScene) -> str:
    """A file name for a box's picture: its index and reference, safe on every system."""
    reference = re.sub(r"[^A-Za-z0-9._-]+", "_", scene.reference).strip("._")[:40]
    return f"box-{scene.index + 1:02d}" + (f"-{reference}" if reference else "")


def fmt(value: float) -> str:
    """A measure as a person reads it: 12, 12.5, 0.125."""
    return f"{value:.6g}"
