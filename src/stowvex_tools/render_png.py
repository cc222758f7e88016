"""A result as PNG pictures, one per box: an isometric view of coloured blocks with a
legend of item codes, for reports and emails."""

from __future__ import annotations

import math
from collections.abc import Mapping
from pathlib import Path
from typing import Any

from .loading_rules import LoadingRules, read_rules
from .optional_dependencies import require
from .scene import (
    CORNERS,
    EDGES,
    FACES,
    FRAGILE_COLOUR,
    MAX_LABELLED,
    BoxScene,
    DrawnItem,
    file_stem,
    fmt,
    scenes,
)

# Legend entries at most; further item codes are counted in a last line.
LEGEND_ENTRIES = 18
# The direction of the view: its elevation and azimuth, in degrees (near isometric,
# looking at the filled corner, from the side of the low y and high x).
ELEVATION, AZIMUTH = 30.0, -50.0
# The least side of a top face that carries a label, as a share of the box's longest
# side: on a smaller face the text would spill over its neighbours.
LABEL_ROOM = 0.06


def figure(scene: BoxScene, title: str) -> Any:
    """The matplotlib figure of one box: its outline and items to scale, labels on the
    top faces that can be seen, fragile items outlined, a title and a legend."""
    require("matplotlib", "render", "Drawing a result as PNG")
    from matplotlib.figure import Figure
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch
    from mpl_toolkits.mplot3d.art3d import Line3DCollection, Poly3DCollection

    drawing = Figure(figsize=(8, 6.4), dpi=110)
    axes: Any = drawing.add_axes((0.0, 0.03, 0.72, 0.86), projection="3d", proj_type="ortho")
    # One collection for every face, so that matplotlib sorts them all by depth;
    # the faces of fragile items get a thick outline of their own colour.
    faces, colours, edges, widths = [], [], [], []
    for item in scene.items:
        corners = item.corners()
        for face in FACES:
            faces.append([corners[n] for n in face])
            colours.append(item.colour)
            edges.append(FRAGILE_COLOUR if item.fragile else "#333333")
            widths.append(2.0 if item.fragile else 0.6)
    if faces:
        axes.add_collection3d(
            Poly3DCollection(
                faces, facecolors=colours, edgecolors=edges, linewidths=widths, alpha=1.0
            )
        )
    size = (scene.width, scene.length, scene.depth)
    outline = [
        [
            tuple(c * s for c, s in zip(CORNERS[a], size)),
            tuple(c * s for c, s in zip(CORNERS[b], size)),
        ]
        for a, b in EDGES
    ]
    axes.add_collection3d(Line3DCollection(outline, colors="black", linewidths=1.4))
    extent = scene.extent()
    axes.set_xlim(*extent[0])
    axes.set_ylim(*extent[1])
    axes.set_zlim(*extent[2])
    axes.set_box_aspect(tuple(high - low for low, high in extent))
    axes.view_init(elev=ELEVATION, azim=AZIMUTH)
    axes.set_xlabel("width")
    axes.set_ylabel("length")
    axes.set_zlabel("depth")
    axes.tick_params(labelsize=7)
    for item in labelled(scene):
        x, y, z = item.top_centre
        axes.text(x, y, z, item.label, fontsize=7, ha="center", va="center", zorder=10)
    note = "" if scene.labelled or not scene.items else f"; no labels beyond {MAX_LABELLED} items"
    drawing.suptitle(
        f"{title} - box {scene.index}: {scene.reference} "
        f"({fmt(scene.width)} x {fmt(scene.length)} x {fmt(scene.depth)})\n"
        f"{len(scene.items)} items, gross weight {fmt(scene.weight)}, "
        f"{scene.fill:.1f} % full{note}",
        fontsize=11,
    )
    entries = scene.legend()
    handles: list[Any] = [
        Patch(facecolor=colour, edgecolor="#333333", label=text)
        for text, colour in entries[:LEGEND_ENTRIES]
    ]
    if len(entries) > LEGEND_ENTRIES:
        more = len(entries) - LEGEND_ENTRIES
        handles.append(
            Patch(
                facecolor="white",
                edgecolor="white",
                label=f"and {more} more {'stops' if scene.by_stop else 'codes'}",
            )
        )
    if any(item.fragile for item in scene.items):
        handles.append(Line2D([], [], color=FRAGILE_COLOUR, linewidth=2.5, label="fragile"))
    if handles:
        drawing.legend(
            handles=handles,
            loc="center right",
            fontsize=8,
            title="delivery stop" if scene.by_stop else "item code",
            frameon=False,
        )
    return drawing


def labelled(scene: BoxScene) -> list[DrawnItem]:
    """The items whose label the picture shows: in a box of not too many items, those
    with a top face wide enough for the text that no other block hides from the view
    (matplotlib draws text over everything, so a hidden face must carry none)."""
    if not scene.labelled:
        return []
    room = LABEL_ROOM * max(scene.width, scene.length, scene.depth)
    elevation, azimuth = math.radians(ELEVATION), math.radians(AZIMUTH)
    towards = (
        math.cos(elevation) * math.cos(azimuth),
        math.cos(elevation) * math.sin(azimuth),
        math.sin(elevation),
    )
    return [
        item
        for item in scene.items
        if min(item.width, item.length) >= room
        and not any(
            other is not item and _hit(item.top_centre, towards, other) for other in scene.items
        )
    ]


def _hit(
    start: tuple[float, float, float], direction: tuple[float, float, float], block: DrawnItem
) -> bool:
    """Whether the ray from `start` along `direction` passes through the block (not
    merely touching its faces)."""
    near, far = 0.0, math.inf
    for origin, step, low, side in zip(
        start, direction, (block.x, block.y, block.z), (block.width, block.length, block.depth)
    ):
        if abs(step) < 1e-12:
            if not low < origin < low + side:
                return False
            continue
        a, b = (low - origin) / step, (low + side - origin) / step
        near, far = max(near, min(a, b)), min(far, max(a, b))
    return far - near > 1e-9 * max(1.0, far)


def render_png(
    result: Any,
    directory: str | Path,
    *,
    title: str | None = None,
    rules: LoadingRules | Mapping[str, Any] | None = None,
) -> list[Path]:
    """Writes one PNG picture per packed box of a result (JSON text, dict or
    `PackResult`) into `directory` (made when missing): box-00-REFERENCE.png, ...
    Each shows the box to scale, its items as coloured blocks labelled with their item
    codes where the label can be seen, and a legend. With `rules`, the loading rules
    of the request (as `render_html` takes them), fragile items are outlined in red and
    with delivery stops items take the colour of their stop. Needs matplotlib (pip
    install 'stowvex[render]'). Returns the paths written."""
    require("matplotlib", "render", "Drawing a result as PNG")
    from matplotlib.backends.backend_agg import FigureCanvasAgg

    folder = Path(directory)
    folder.mkdir(parents=True, exist_ok=True)
    paths = []
    for scene in scenes(result, read_rules(rules)):
        path = folder / f"{file_stem(scene)}.png"
        drawing = figure(scene, title or "stowvex packing")
        FigureCanvasAgg(drawing)
        drawing.savefig(path)
        paths.append(path)
    return paths
