"""A result as PNG pictures, one per box: an isometric view of coloured blocks with a
legend of item codes, for reports and emails."""

from __future__ import annotations

from pathlib import Path
from typing import Any

from .optional_dependencies import require
from .scene import CORNERS, EDGES, FACES, BoxScene, file_stem, fmt, scenes

# Legend entries at most; further item codes are counted in a last line.
LEGEND_ENTRIES = 18


def _draw(scene: BoxScene, path: Path, title: str) -> None:
    require("matplotlib", "render", "Drawing a result as PNG")
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure
    from matplotlib.patches import Patch
    from mpl_toolkits.mplot3d.art3d import Line3DCollection, Poly3DCollection

    figure = Figure(figsize=(8, 6.4), dpi=110)
    FigureCanvasAgg(figure)
    axes: Any = figure.add_axes((0.0, 0.03, 0.72, 0.86), projection="3d", proj_type="ortho")
    faces, colours = [], []
    for item in scene.items:
        corners = item.corners()
        for face in FACES:
            faces.append([corners[n] for n in face])
            colours.append(item.colour)
    if faces:
        axes.add_collection3d(
            Poly3DCollection(
                faces, facecolors=colours, edgecolors="#333333", linewidths=0.6, alpha=1.0
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
    axes.set_xlim(0, scene.width or 1)
    axes.set_ylim(0, scene.length or 1)
    axes.set_zlim(0, scene.depth or 1)
    axes.set_box_aspect((scene.width or 1, scene.length or 1, scene.depth or 1))
    axes.view_init(elev=30, azim=-50)  # near isometric, looking at the filled corner
    axes.set_xlabel("width")
    axes.set_ylabel("length")
    axes.set_zlabel("depth")
    axes.tick_params(labelsize=7)
    figure.suptitle(
        f"{title} - box {scene.index}: {scene.reference} "
        f"({fmt(scene.width)} x {fmt(scene.length)} x {fmt(scene.depth)})\n"
        f"{len(scene.items)} items, gross weight {fmt(scene.weight)}, "
        f"{scene.fill:.1f} % full",
        fontsize=11,
    )
    seen: dict[str, str] = {}
    for item in scene.items:
        seen.setdefault(item.code, item.colour)
    handles = [
        Patch(facecolor=colour, edgecolor="#333333", label=code)
        for code, colour in list(seen.items())[:LEGEND_ENTRIES]
    ]
    if len(seen) > LEGEND_ENTRIES:
        handles.append(
            Patch(
                facecolor="white",
                edgecolor="white",
                label=f"and {len(seen) - LEGEND_ENTRIES} more codes",
            )
        )
    if handles:
        figure.legend(
            handles=handles, loc="center right", fontsize=8, title="item code", frameon=False
        )
    figure.savefig(path)


def render_png(result: Any, directory: str | Path, *, title: str | None = None) -> list[Path]:
    """Writes one PNG picture per packed box of a result (JSON text, dict or
    `PackResult`) into `directory` (made when missing): box-01-REFERENCE.png, ...
    Needs matplotlib (pip install 'stowvex[render]'). Returns the paths written."""
    require("matplotlib", "render", "Drawing a result as PNG")
    folder = Path(directory)
    folder.mkdir(parents=True, exist_ok=True)
    paths = []
    for scene in scenes(result):
        path = folder / f"{file_stem(scene)}.png"
        _draw(scene, path, title or "stowvex packing")
        paths.append(path)
    return paths
