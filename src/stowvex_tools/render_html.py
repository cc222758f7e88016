"""A result as one self-contained HTML page: an interactive 3D view of each box
(plotly, embedded), a step-by-step packing sequence, and a table per box."""

from __future__ import annotations

import html
import json
import math
from collections.abc import Mapping
from pathlib import Path
from typing import Any

from .loading_rules import LoadingRules, read_rules
from .optional_dependencies import require
from .scene import (
    CORNERS,
    EDGES,
    FRAGILE_COLOUR,
    MAX_LABELLED,
    TRIANGLES,
    BoxScene,
    DrawnItem,
    fmt,
    scenes,
    unplaced_codes,
)
from .summary import result_dict

EDGE_COLOUR = "#333333"
OUTLINE_COLOUR = "#000000"
LABEL_COLOUR = "#111111"
# How far labels float above their top faces, as a share of the longest side of the
# view: enough that the face does not hide the lower half of the text.
LABEL_LIFT = 0.02
# The direction the view looks from, towards the centre of the box: from above, on
# the side of the low y and high x.
VIEW_FROM = (1.6, -1.6, 1.2)
# The vertical field of view of plotly's 3D camera, and the share of it the box may
# fill.
FIELD_OF_VIEW = math.pi / 4
FILLED = 0.85

Segment = tuple[tuple[float, float, float], tuple[float, float, float]]


def _mesh(scene: BoxScene) -> dict[str, Any]:
    """The items of a box as one Mesh3d trace: eight corners and twelve triangles an
    item, each item in its own colour, its details on hover."""
    xs: list[float] = []
    ys: list[float] = []
    zs: list[float] = []
    text: list[str] = []
    i: list[int] = []
    j: list[int] = []
    k: list[int] = []
    colours: list[str] = []
    for number, item in enumerate(scene.items):
        base = number * 8
        for x, y, z in item.corners():
            xs.append(x)
            ys.append(y)
            zs.append(z)
        label = (
            f"<b>{html.escape(item.code)}</b> (step {item.step})<br>"
            f"{html.escape(item.reference)}<br>at {fmt(item.x)}, {fmt(item.y)}, "
            f"{fmt(item.z)}<br>{fmt(item.width)} x {fmt(item.length)} x "
            f"{fmt(item.depth)} ({item.orientation}), {fmt(item.weight)} kg"
            + (
                f"<br><b>rests on {item.support:.0%} of its base</b>"
                if item.poorly_supported
                else ""
            )
            + (f"<br>{html.escape(item.rules_text)}" if item.rules_text else "")
        )
        text.extend([label] * 8)
        for a, b, c in TRIANGLES:
            i.append(base + a)
            j.append(base + b)
            k.append(base + c)
        colours.extend([item.colour] * len(TRIANGLES))
    count = len(scene.items)
    return {
        "type": "mesh3d",
        "name": "items",
        "x": xs,
        "y": ys,
        "z": zs,
        "i": i,
        "j": j,
        "k": k,
        "facecolor": colours,
        "hovertext": text,
        "hoverinfo": "text",
        "flatshading": True,
        "opacity": 1.0,
        "showscale": False,
        "lighting": {"ambient": 0.75, "diffuse": 0.5, "specular": 0.05},
        "meta": {
            "blocks": count,
            "ends": [8 * n for n in range(1, count + 1)],
            "faceEnds": [len(TRIANGLES) * n for n in range(1, count + 1)],
        },
    }


def _lines(segments: list[list[Segment]], name: str, colour: str, width: float) -> dict[str, Any]:
    """Line segments as one Scatter3d trace, given item by item (so that the step view
    can draw those of the first items only)."""
    xs: list[float | None] = []
    ys: list[float | None] = []
    zs: list[float | None] = []
    ends = []
    for group in segments:
        for start, end in group:
            xs.extend((start[0], end[0], None))
            ys.extend((start[1], end[1], None))
            zs.extend((start[2], end[2], None))
        ends.append(len(xs))
    return {
        "type": "scatter3d",
        "mode": "lines",
        "name": name,
        "x": xs,
        "y": ys,
        "z": zs,
        "line": {"color": colour, "width": width},
        "hoverinfo": "skip",
        "showlegend": False,
        "meta": {"ends": ends},
    }


def _edges(item: DrawnItem) -> list[Segment]:
    corners = item.corners()
    return [(corners[a], corners[b]) for a, b in EDGES]


def _labels(scene: BoxScene) -> dict[str, Any]:
    """The item codes as text at the centres of the top faces, a hair above them so
    that the face does not hide its own label (an item resting on it does); none in a
    box of too many items."""
    shown = scene.items if scene.labelled else ()
    lift = LABEL_LIFT * max(high - low for low, high in scene.extent())
    centres = [item.top_centre for item in shown]
    return {
        "type": "scatter3d",
        "mode": "text",
        "name": "item codes",
        "x": [c[0] for c in centres],
        "y": [c[1] for c in centres],
        "z": [c[2] + lift for c in centres],
        "text": [item.label for item in shown],
        "textposition": "middle center",
        "textfont": {"size": 12, "color": LABEL_COLOUR},
        "hoverinfo": "skip",
        "showlegend": bool(shown),
        "meta": {"ends": list(range(1, len(shown) + 1)) if shown else [0] * len(scene.items)},
    }


def view(scene: BoxScene) -> dict[str, Any]:
    """The axes and camera of a box's 3D view: ranges that hold the box and every item,
    drawn to scale, and a camera far enough away to show all of it whatever the box's
    proportions (a tall box, a long container, a flat tray)."""
    # A margin round the box, which also holds the labels just above the top faces.
    margin = LABEL_LIFT * 1.5 * max(high - low for low, high in scene.extent())
    extent = [(low - margin, high + margin) for low, high in scene.extent()]
    sides = [high - low for low, high in extent]
    longest = max(sides)
    aspect = [side / longest for side in sides]
    # The view spans half the aspect ratio on each side of its centre; the camera sits
    # on the line from VIEW_FROM, at the distance where the sphere around that block
    # fits in the field of view.
    radius = math.sqrt(sum(a * a for a in aspect)) / 2
    distance = radius / math.sin(FIELD_OF_VIEW / 2 * FILLED)
    norm = math.sqrt(sum(v * v for v in VIEW_FROM))
    eye = [v / norm * distance for v in VIEW_FROM]
    axis = {"showbackground": False, "zeroline": False, "autorange": False}
    titles = ("width (x)", "length (y)", "depth (z, up)")
    scene_layout: dict[str, Any] = {
        "aspectmode": "manual",
        "aspectratio": dict(zip("xyz", aspect)),
        "camera": {"eye": dict(zip("xyz", eye)), "center": {"x": 0, "y": 0, "z": 0}},
    }
    for name, title, (low, high) in zip("xyz", titles, extent):
        scene_layout[f"{name}axis"] = dict(axis, title={"text": title}, range=[low, high])
    return scene_layout


def _figure(scene: BoxScene) -> dict[str, Any]:
    size = (scene.width, scene.length, scene.depth)
    outline = [(_scaled(CORNERS[a], size), _scaled(CORNERS[b], size)) for a, b in EDGES]
    fragile = [item.fragile for item in scene.items]
    layout = {
        "margin": {"l": 0, "r": 0, "t": 0, "b": 0},
        "showlegend": True,
        "legend": {"x": 0.01, "y": 0.99, "bgcolor": "rgba(255,255,255,0.7)"},
        "uirevision": scene.index,  # a step keeps the camera the reader turned to
        "scene": view(scene),
    }
    fragile_edges = _lines(
        [_edges(item) if is_fragile else [] for item, is_fragile in zip(scene.items, fragile)],
        "fragile: nothing may rest on it",
        FRAGILE_COLOUR,
        7,
    )
    fragile_edges["showlegend"] = any(fragile)
    return {
        "data": [
            _mesh(scene),
            _lines(
                [
                    [] if is_fragile else _edges(item)
                    for item, is_fragile in zip(scene.items, fragile)
                ],
                "edges",
                EDGE_COLOUR,
                2,
            ),
            fragile_edges,
            _labels(scene),
            _outline(outline),
        ],
        "layout": layout,
        "steps": [
            f"Step {b.step} of {len(scene.items)}: put {b.code} ({b.reference}) at "
            f"x {fmt(b.x)}, y {fmt(b.y)}, z {fmt(b.z)}, "
            f"{fmt(b.width)} x {fmt(b.length)} x {fmt(b.depth)} ({b.orientation})"
            for b in scene.items
        ],
    }


def _outline(segments: list[Segment]) -> dict[str, Any]:
    """The box's inner outline, the same at every step."""
    trace = _lines([segments], "box", OUTLINE_COLOUR, 5)
    del trace["meta"]
    return trace


def _scaled(
    corner: tuple[int, int, int], size: tuple[float, float, float]
) -> tuple[float, float, float]:
    return (corner[0] * size[0], corner[1] * size[1], corner[2] * size[2])


def _table(scene: BoxScene, selected: bool) -> str:
    rows = "\n".join(
        f'<tr data-step="{b.step}"><td>{b.step}</td>'
        f'<td><span class="swatch" style="background:{b.colour}"></span>{html.escape(b.code)}</td>'
        f"<td>{html.escape(b.reference)}</td><td>{fmt(b.x)}</td><td>{fmt(b.y)}</td>"
        f"<td>{fmt(b.z)}</td><td>{fmt(b.width)} x {fmt(b.length)} x {fmt(b.depth)}</td>"
        f"<td>{html.escape(b.orientation)}</td><td>{fmt(b.weight)}</td>"
        f"<td{' class=' + chr(34) + 'poor' + chr(34) if b.poorly_supported else ''}>"
        f"{b.support:.0%}</td><td>{html.escape(b.rules_text)}</td></tr>"
        for b in scene.items
    )
    poor = scene.poorly_supported()
    note = (
        f'<p class="poor" data-box-note="{scene.index}"{"" if selected else " hidden"}>'
        f"Resting on less than half of their base in box {scene.index}: "
        + html.escape(", ".join(f"{b.code} (step {b.step}, {b.support:.0%})" for b in poor))
        + "</p>\n"
        if poor
        else ""
    )
    hidden = "" if selected else " hidden"
    key = "".join(
        f'<span class="key"><span class="swatch" style="background:{colour}"></span>'
        f"{html.escape(text)}</span>"
        for text, colour in scene.legend()[:KEY_ENTRIES]
    )
    more = len(scene.legend()) - KEY_ENTRIES
    if more > 0:
        key += f'<span class="key">and {more} more</span>'
    if any(b.fragile for b in scene.items):
        key += (
            f'<span class="key"><span class="swatch fragile" style="border-color:'
            f'{FRAGILE_COLOUR}"></span>fragile: nothing may rest on it</span>'
        )
    if key:
        key = f'<p class="legend" data-box-note="{scene.index}"{hidden}>{key}</p>\n'
    if scene.items and not scene.labelled:
        key += (
            f'<p data-box-note="{scene.index}"{hidden}>The blocks of box {scene.index} carry '
            f"no labels: {len(scene.items)} items are too many to read (labels up to "
            f"{MAX_LABELLED}); hovering names each item.</p>\n"
        )
    return (
        f'{key}{note}<table class="items" id="items-{scene.index}"{hidden}>\n'
        "<thead><tr><th>step</th><th>item code</th><th>reference</th><th>x</th><th>y</th>"
        "<th>z</th><th>placed size (w x l x d)</th><th>orientation</th><th>weight</th>"
        f"<th>base carried</th><th>rules</th></tr></thead>\n<tbody>\n{rows}\n</tbody></table>"
    )


# Colours the key under the view names at most; the table shows every item's.
KEY_ENTRIES = 30


def _overview(boxes: list[BoxScene]) -> str:
    rows = "\n".join(
        f'<tr data-box="{position}"><td>{s.index}</td><td>{html.escape(s.reference)}</td>'
        f"<td>{fmt(s.width)} x {fmt(s.length)} x {fmt(s.depth)}</td><td>{len(s.items)}</td>"
        f"<td>{fmt(s.weight)}</td><td>{s.fill:.1f} %</td></tr>"
        for position, s in enumerate(boxes)
    )
    return (
        '<table class="overview"><thead><tr><th>box</th><th>type</th>'
        "<th>inner size (w x l x d)</th><th>items</th><th>gross weight</th><th>fill</th>"
        f"</tr></thead>\n<tbody>\n{rows}\n</tbody></table>"
    )


def _script_json(value: Any) -> str:
    """JSON that is safe inside a script element, whatever texts it carries."""
    text = json.dumps(value, ensure_ascii=False, separators=(",", ":"), allow_nan=False)
    return (
        text.replace("<", "\\u003c")
        .replace(">", "\\u003e")
        .replace("&", "\\u0026")
        .replace("\u2028", "\\u2028")
        .replace("\u2029", "\\u2029")
    )


def page(
    result: Any,
    title: str,
    plotly_js: str,
    plotly_src: str | None = None,
    rules: LoadingRules | None = None,
) -> str:
    """The HTML page of a result, with the given plotly.js source embedded, or with a
    script element that loads it from `plotly_src` (a URL or a path) instead; with the
    loading rules of its request, items show them (`scenes`)."""
    data = result_dict(result)
    boxes = scenes(data, rules)
    summary = data.get("summary") or {}
    unplaced = unplaced_codes(data)
    heading = (
        f"{summary.get('box_count', len(boxes))} boxes, {summary.get('total_placed', 0)} "
        f"items placed, {summary.get('total_unplaced', 0)} unplaced, overall fill "
        f"{float(summary.get('overall_volume_utilisation', 0.0)):.1f} %"
    )
    options = "\n".join(
        f'<option value="{n}">box {s.index}: {html.escape(s.reference)} '
        f"({len(s.items)} items)</option>"
        for n, s in enumerate(boxes)
    )
    missing = (
        '<p class="unplaced">Not placed: ' + html.escape(", ".join(unplaced)) + "</p>"
        if unplaced
        else ""
    )
    tables = "\n".join(_table(s, n == 0) for n, s in enumerate(boxes))
    figures = _script_json([_figure(s) for s in boxes])
    viewer = (
        ""
        if not boxes
        else f"""
<section id="viewer">
<p><label>Box <select id="box-select">{options}</select></label></p>
<div id="plot"></div>
<div class="steps">
<button id="step-back" type="button" title="one item less">&#9664;</button>
<input id="step" type="range" min="0" max="0" value="0">
<button id="step-on" type="button" title="one item more">&#9654;</button>
<span id="step-text"></span>
</div>
{tables}
</section>"""
    )
    plotly_script = (
        f'<script src="{html.escape(plotly_src, quote=True)}"></script>'
        if plotly_src is not None
        else f"<script>{plotly_js}</script>"
    )
    return f"""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>{html.escape(title)}</title>
<style>
body {{ font-family: system-ui, sans-serif; margin: 1.5em; color: #222; }}
h1 {{ font-size: 1.4em; margin-bottom: 0.2em; }}
table {{ border-collapse: collapse; margin: 0.8em 0; font-size: 0.9em; }}
th, td {{ border: 1px solid #ccc; padding: 0.2em 0.6em; text-align: left; }}
th {{ background: #f2f2f2; }}
table.overview tbody tr {{ cursor: pointer; }}
tr.current {{ background: #fff3bf; font-weight: bold; }}
tr.later {{ color: #aaa; }}
tr.chosen {{ background: #e7f0fa; }}
.swatch {{ display: inline-block; width: 0.9em; height: 0.9em; margin-right: 0.4em;
           border: 1px solid #333; vertical-align: middle; }}
#plot {{ width: 100%; height: 70vh; min-height: 420px; border: 1px solid #ddd; }}
.steps {{ display: flex; align-items: center; gap: 0.5em; margin: 0.6em 0; }}
#step {{ flex: 0 1 30em; }}
.legend {{ display: flex; flex-wrap: wrap; gap: 0.3em 1.2em; margin: 0.4em 0;
           font-size: 0.9em; }}
.swatch.fragile {{ background: #fff; border: 3px solid; }}
.unplaced {{ color: #b00; }}
.poor {{ color: #b00; font-weight: bold; }}
</style>
{plotly_script}
</head>
<body>
<h1>{html.escape(title)}</h1>
<p>{html.escape(heading)}</p>
{missing}
{_overview(boxes)}
{viewer}
<script>
"use strict";
const FIGURES = {figures};
(function () {{
  if (FIGURES.length === 0) return;
  const plot = document.getElementById("plot");
  const select = document.getElementById("box-select");
  const slider = document.getElementById("step");
  const caption = document.getElementById("step-text");
  let current = 0, layout = null;
  // The traces drawn item by item carry in meta.ends, for each step, how many of their
  // points the items up to it take (meta.faceEnds: how many triangles, for the mesh);
  // a step draws those only. The corners and hover texts of the items not yet put in
  // go too, so that hovering the empty part of the box names nothing that is not shown.
  function upTo(trace, step) {{
    const meta = trace.meta;
    if (!meta || !meta.ends) return trace;
    const points = step === 0 ? 0 : meta.ends[step - 1];
    const part = Object.assign({{}}, trace);
    ["x", "y", "z", "text", "hovertext"].forEach(function (key) {{
      if (trace[key]) part[key] = trace[key].slice(0, points);
    }});
    if (meta.faceEnds) {{
      const faces = step === 0 ? 0 : meta.faceEnds[step - 1];
      ["i", "j", "k", "facecolor"].forEach(function (key) {{
        part[key] = trace[key].slice(0, faces);
      }});
      part.visible = faces > 0;
    }}
    return part;
  }}
  function show(step) {{
    const figure = FIGURES[current];
    Plotly.react(plot, figure.data.map(function (trace) {{ return upTo(trace, step); }}),
                 layout, {{displaylogo: false, responsive: true}});
    slider.value = step;
    caption.textContent = step === 0 ? "Empty box: press \u25b6 to put in the first item"
      : figure.steps[step - 1];
    document.querySelectorAll("#items-" + current + " tbody tr").forEach(function (row) {{
      const n = Number(row.dataset.step);
      row.classList.toggle("current", n === step && step < figure.steps.length);
      row.classList.toggle("later", n > step);
    }});
  }}
  function choose(n) {{
    current = n;
    select.value = String(n);
    const figure = FIGURES[n];
    layout = JSON.parse(JSON.stringify(figure.layout));
    slider.max = figure.steps.length;
    document.querySelectorAll("table.items").forEach(function (table) {{
      table.hidden = table.id !== "items-" + n;
    }});
    document.querySelectorAll("p[data-box-note]").forEach(function (note) {{
      note.hidden = note.dataset.boxNote !== String(n);
    }});
    document.querySelectorAll("table.overview tbody tr").forEach(function (row) {{
      row.classList.toggle("chosen", Number(row.dataset.box) === n);
    }});
    show(figure.steps.length);
  }}
  select.addEventListener("change", function () {{ choose(Number(select.value)); }});
  slider.addEventListener("input", function () {{ show(Number(slider.value)); }});
  document.getElementById("step-back").addEventListener("click", function () {{
    show(Math.max(0, Number(slider.value) - 1));
  }});
  document.getElementById("step-on").addEventListener("click", function () {{
    show(Math.min(FIGURES[current].steps.length, Number(slider.value) + 1));
  }});
  document.querySelectorAll("table.overview tbody tr").forEach(function (row) {{
    row.addEventListener("click", function () {{ choose(Number(row.dataset.box)); }});
  }});
  choose(0);
}})();
</script>
</body>
</html>
"""


def render_html(
    result: Any,
    path: str | Path,
    *,
    title: str | None = None,
    plotly: str = "inline",
    rules: LoadingRules | Mapping[str, Any] | None = None,
) -> Path:
    """Writes a result (JSON text, dict or `PackResult`) as one HTML page: per box a 3D
    view to turn and zoom (the whole box to scale, each item a block labelled with its
    code and showing its details on hover, the box's outline), a slider that puts the
    items in one at a time, bottom up, and a table of the items. Needs plotly (pip
    install 'stowvex[render]'). `plotly` says where the page gets plotly.js: "inline"
    (the default) embeds it, so the page works offline but weighs some 5 MB; "cdn"
    loads the installed version from plotly's CDN; anything else is a URL or path the
    page loads it from (such as a plotly.min.js beside the pages). `rules`, the loading
    rules of the request (as `validate` takes them, or the request's item and box
    dicts' own keys through `rules_in_request`), show on the items: fragile items
    outlined in red, load limits in the hover text and the table; with delivery stops,
    items take the colour of their stop and go in last stop first. Returns the path
    written."""
    offline = require("plotly.offline", "render", "Drawing a result as HTML")
    target = Path(path)
    source: str | None = None
    if plotly == "cdn":
        import plotly as plotly_package

        source = f"https://cdn.plot.ly/plotly-{_plotly_js_version(plotly_package)}.min.js"
    elif plotly != "inline":
        source = plotly
    text = page(
        result,
        title or "stowvex packing",
        offline.get_plotlyjs() if source is None else "",
        source,
        read_rules(rules),
    )
    target.parent.mkdir(parents=True, exist_ok=True)
    target.write_text(text, encoding="utf-8")
    return target


def _plotly_js_version(plotly_package: Any) -> str:
    """The version of plotly.js the installed plotly carries."""
    try:
        from plotly.offline.offline import get_plotlyjs_version

        return str(get_plotlyjs_version())
    except ImportError:  # an older plotly: its own version names the bundle only loosely
        return str(plotly_package.__version__)
