"""A result as one self-contained HTML page: an interactive 3D view of each box
(plotly, embedded), a step-by-step packing sequence, and a table per box."""

from __future__ import annotations

import html
import json
from collections.abc import Mapping
from pathlib import Path
from typing import Any

from .loading_rules import LoadingRules, read_rules
from .optional_dependencies import require
from .scene import CORNERS, EDGES, TRIANGLES, BoxScene, fmt, scenes, unplaced_codes
from .summary import result_dict

EDGE_COLOUR = "#333333"
OUTLINE_COLOUR = "#000000"


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
        "meta": {"blocks": len(scene.items)},
    }


def _lines(
    segments: list[tuple[tuple[float, float, float], tuple[float, float, float]]],
    name: str,
    colour: str,
    width: float,
) -> dict[str, Any]:
    xs: list[float | None] = []
    ys: list[float | None] = []
    zs: list[float | None] = []
    for start, end in segments:
        xs.extend((start[0], end[0], None))
        ys.extend((start[1], end[1], None))
        zs.extend((start[2], end[2], None))
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
    }


def _figure(scene: BoxScene) -> dict[str, Any]:
    edges = [
        (corners[a], corners[b])
        for item in scene.items
        for corners in [item.corners()]
        for a, b in EDGES
    ]
    size = (scene.width, scene.length, scene.depth)
    outline = [(_scaled(CORNERS[a], size), _scaled(CORNERS[b], size)) for a, b in EDGES]
    axis = {"showbackground": False, "zeroline": False}
    layout = {
        "margin": {"l": 0, "r": 0, "t": 0, "b": 0},
        "showlegend": False,
        "scene": {
            "aspectmode": "data",
            "xaxis": dict(axis, title={"text": "width (x)"}),
            "yaxis": dict(axis, title={"text": "length (y)"}),
            "zaxis": dict(axis, title={"text": "depth (z, up)"}),
            "camera": {"eye": {"x": 1.6, "y": -1.6, "z": 1.2}},
        },
    }
    return {
        "data": [
            _mesh(scene),
            _lines(edges, "edges", EDGE_COLOUR, 2),
            _lines(outline, "box", OUTLINE_COLOUR, 5),
        ],
        "layout": layout,
        "steps": [
            f"Step {b.step} of {len(scene.items)}: put {b.code} ({b.reference}) at "
            f"x {fmt(b.x)}, y {fmt(b.y)}, z {fmt(b.z)}, "
            f"{fmt(b.width)} x {fmt(b.length)} x {fmt(b.depth)} ({b.orientation})"
            for b in scene.items
        ],
    }


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
    return (
        f'{note}<table class="items" id="items-{scene.index}"{hidden}>\n'
        "<thead><tr><th>step</th><th>item code</th><th>reference</th><th>x</th><th>y</th>"
        "<th>z</th><th>placed size (w x l x d)</th><th>orientation</th><th>weight</th>"
        f"<th>base carried</th><th>rules</th></tr></thead>\n<tbody>\n{rows}\n</tbody></table>"
    )


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
  let current = 0;
  function show(step) {{
    const figure = FIGURES[current];
    const mesh = figure.data[0], edges = figure.data[1];
    const triangles = step * 12, edgePoints = step * 36, corners = step * 8;
    // The corners (and their hover texts) of the items not yet put in go too, so that
    // hovering the empty part of the box names nothing that is not shown.
    Plotly.restyle(plot, {{
      visible: [step > 0], i: [mesh.i.slice(0, triangles)], j: [mesh.j.slice(0, triangles)],
      k: [mesh.k.slice(0, triangles)], facecolor: [mesh.facecolor.slice(0, triangles)],
      x: [mesh.x.slice(0, corners)], y: [mesh.y.slice(0, corners)],
      z: [mesh.z.slice(0, corners)], hovertext: [mesh.hovertext.slice(0, corners)]
    }}, [0]);
    Plotly.restyle(plot, {{
      x: [edges.x.slice(0, edgePoints)], y: [edges.y.slice(0, edgePoints)],
      z: [edges.z.slice(0, edgePoints)]
    }}, [1]);
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
    Plotly.react(plot, JSON.parse(JSON.stringify(figure.data)), figure.layout,
                 {{displaylogo: false, responsive: true}});
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
    view to turn and zoom (each item a block showing its code on hover, the box's
    outline), a slider that puts the items in one at a time, bottom up, and a table of
    the items. Needs plotly (pip install 'stowvex[render]'). `plotly` says where the page
    gets plotly.js: "inline" (the default) embeds it, so the page works offline but
    weighs some 5 MB; "cdn" loads the installed version from plotly's CDN; anything else
    is a URL or path the page loads it from (such as a plotly.min.js beside the pages).
    `rules`, the loading rules of the request (as `validate` takes them, or the request's
    item and box dicts' own keys through `rules_in_request`), show on the items: fragile
    items and load limits in the hover text and the table; with delivery stops, items
    take the colour of their stop and go in last stop first. Returns the path written."""
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
