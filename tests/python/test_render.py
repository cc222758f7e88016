"""Pictures of results: the page's figure data, safe embedding of item texts, the bench
order, PNG files, and the message when the drawing libraries are missing."""

import json
import math
import re
import sys

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import stowvex
from stowvex_tools import MissingExtra, render_html, render_png, settle
from stowvex_tools.loading_rules import read_rules
from stowvex_tools.render_html import page
from stowvex_tools.render_png import figure as png_figure
from stowvex_tools.render_png import labelled
from stowvex_tools.scene import CORNERS, FACES, FRAGILE_COLOUR, bench_order, scenes

to_rgba = pytest.importorskip("matplotlib.colors").to_rgba


def packed(count=30, code="I"):
    items = [
        {
            "ItemCode": f"{code}{n % 7}",
            "ItemReference": f"item {n}",
            "Width": 2 + n % 3,
            "Length": 3,
            "Depth": 1 + n % 2,
            "Weight": 0.5,
        }
        for n in range(count)
    ]
    boxes = [{"Reference": "CRATE", "Width": 8, "Length": 8, "Depth": 6, "MaxWeight": 9}]
    return stowvex.pack_dicts(items, boxes)


def figures_of(html_text):
    match = re.search(r"const FIGURES = (.*);\n", html_text)
    return json.loads(match.group(1))


class TestPage:
    def test_one_block_per_placed_item_with_outline_and_steps(self):
        result = packed()
        figures = figures_of(page(result, "t", plotly_js=""))
        assert len(figures) == len(result.boxes) >= 2
        for figure, box in zip(figures, result.boxes):
            mesh, edges, fragile, labels, outline = figure["data"]
            count = len(box.items)
            assert mesh["meta"]["blocks"] == count
            assert (len(mesh["x"]), len(mesh["i"]), len(mesh["facecolor"])) == (
                8 * count,
                12 * count,
                12 * count,
            )
            assert len(edges["x"]) == 36 * count and len(outline["x"]) == 36
            assert fragile["x"] == [] and len(labels["text"]) == count
            assert len(figure["steps"]) == count
            codes = {p.item.item_code for p in box.items}
            assert {t.split("</b>")[0][3:] for t in mesh["hovertext"]} == codes
            # every block lies inside the box
            width, length, depth = box.box.width, box.box.length, box.box.depth
            assert max(mesh["x"]) <= width and max(mesh["y"]) <= length
            assert max(mesh["z"]) <= depth and min(mesh["x"] + mesh["y"] + mesh["z"]) >= 0

    def test_texts_from_the_request_cannot_break_out_of_the_page(self):
        result = stowvex.pack_dicts(
            [
                {
                    "ItemCode": "</script><script>alert(1)</script>",
                    "ItemReference": "<b>&amp;",
                    "Width": 1,
                    "Length": 1,
                    "Depth": 1,
                }
            ],
            [{"Reference": "<i>box</i>", "Width": 2, "Length": 2, "Depth": 2}],
        )
        text = page(result, "<title>", plotly_js="")
        assert "<script>alert" not in text and "<i>box</i>" not in text
        assert "<title>&lt;title&gt;</title>" in text
        figures = figures_of(text)
        assert figures[0]["steps"][0].startswith("Step 1 of 1: put </script><script>alert(1)")

    def test_a_result_without_boxes_still_makes_a_page(self, tmp_path):
        result = stowvex.pack_dicts(
            [{"ItemCode": "BIG", "Width": 9, "Length": 9, "Depth": 9}],
            [{"Reference": "S", "Width": 1, "Length": 1, "Depth": 1}],
        )
        text = page(result.to_json(), "t", plotly_js="")
        assert figures_of(text) == [] and "Not placed: BIG" in text

    def test_render_html_embeds_plotly_and_accepts_every_result_form(self, tmp_path):
        result = packed(5)
        for n, form in enumerate((result, result.to_dict(), result.to_json(-1))):
            path = render_html(form, tmp_path / f"v{n}.html", title="five")
            text = path.read_text(encoding="utf-8")
            assert "https://" not in text.split("<script>", 1)[0]  # nothing fetched at view time
            assert len(text) > 1_000_000 and "plotly.js v" in text  # plotly.js inside
        with pytest.raises(ValueError, match="not a packing result"):
            render_html({"items": []}, tmp_path / "x.html")


def test_bench_order_puts_every_supporting_item_first():
    result = packed(60).to_dict()
    for box in result["boxes"]:
        order = bench_order(box["items"])
        for later, item in enumerate(order):
            for earlier in order[later + 1 :]:
                # nothing placed after an item lies underneath it
                assert not (
                    earlier["z"] + earlier["depth"] <= item["z"]
                    and earlier["x"] < item["x"] + item["width"]
                    and item["x"] < earlier["x"] + earlier["width"]
                    and earlier["y"] < item["y"] + item["length"]
                    and item["y"] < earlier["y"] + earlier["length"]
                )
    steps = [b.step for scene in scenes(result) for b in scene.items[:3]]
    assert steps[:3] == [1, 2, 3]


def test_render_png_writes_one_picture_per_box(tmp_path):
    result = packed()
    paths = render_png(result, tmp_path / "pictures", title="crates")
    assert [p.name for p in paths] == [f"box-{n:02d}-CRATE.png" for n in range(len(result.boxes))]
    for path in paths:
        assert path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and path.stat().st_size > 10_000
    assert render_png(stowvex.pack_dicts([], []), tmp_path / "none") == []


def test_missing_drawing_libraries_name_the_extra(tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "plotly", None)
    monkeypatch.setitem(sys.modules, "plotly.offline", None)
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    with pytest.raises(MissingExtra, match=r"pip install 'stowvex\[render\]'"):
        render_html(packed(2), tmp_path / "v.html")
    with pytest.raises(MissingExtra, match="needs matplotlib"):
        render_png(packed(2), tmp_path)


def test_the_page_can_load_plotly_instead_of_carrying_it(tmp_path):
    from stowvex_tools import render_html

    result = packed()
    inline = render_html(result, tmp_path / "inline.html")
    cdn = render_html(result, tmp_path / "cdn.html", plotly="cdn")
    local = render_html(result, tmp_path / "local.html", plotly="plotly.min.js")
    assert inline.stat().st_size > 1_000_000
    assert cdn.stat().st_size < 200_000 and "https://cdn.plot.ly/plotly-" in cdn.read_text()
    assert '<script src="plotly.min.js"></script>' in local.read_text()


def placement(code, x, y, z, width, length, depth):
    return {
        "ItemCode": code,
        "x": x,
        "y": y,
        "z": z,
        "width": width,
        "length": length,
        "depth": depth,
    }


def one_box(width, length, depth, items):
    return {
        "boxes": [
            {
                "box_index": 0,
                "box_reference": "B",
                "width": width,
                "length": length,
                "depth": depth,
                "items": items,
            }
        ],
        "summary": {"box_count": 1, "total_placed": len(items), "total_unplaced": 0},
    }


def underneath(lower, upper):
    """Whether `lower` lies under `upper`: its top at or below the other's bottom, their
    bases overlapping."""
    return (
        lower["z"] + lower["depth"] <= upper["z"]
        and lower["x"] < upper["x"] + upper["width"]
        and upper["x"] < lower["x"] + lower["width"]
        and lower["y"] < upper["y"] + upper["length"]
        and upper["y"] < lower["y"] + lower["length"]
    )


def keeps_stop_rule(items, stops):
    return not any(
        underneath(a, b) and stops[b["ItemCode"]] > stops[a["ItemCode"]]
        for a in items
        for b in items
    )


class TestLoadingOrder:
    """The step order over random packings: nothing goes in before an item underneath
    it, and with stops the last stop goes in first when the packing allows it."""

    sides = st.integers(1, 5)

    @settings(max_examples=40, deadline=None)
    @given(
        st.lists(st.tuples(sides, sides, sides), min_size=1, max_size=40),
        st.lists(st.integers(1, 4), min_size=6, max_size=6),
        st.booleans(),
    )
    def test_packed_and_settled_results(self, sides, stop_list, settled):
        items = [
            {"ItemCode": f"K{n % 6}", "Width": w, "Length": length, "Depth": d, "Weight": 1}
            for n, (w, length, d) in enumerate(sides)
        ]
        boxes = [{"Reference": "B", "Width": 8, "Length": 7, "Depth": 9}]
        result = stowvex.pack_dicts(items, boxes)
        if settled:
            result = settle(result, items, boxes).result
        stops = {f"K{n}": stop for n, stop in enumerate(stop_list)}
        for box in result.to_dict()["boxes"]:
            self.check(box["items"], stops)

    @settings(max_examples=60, deadline=None)
    @given(st.data())
    def test_items_hanging_in_the_air(self, data):
        # Blocks on a grid of columns, at random heights: unsettled, many resting on
        # nothing, some on part of what is below.
        items = []
        for column in range(data.draw(st.integers(1, 6))):
            x, y = column % 3 * 4, column // 3 * 4
            z = 0
            for _ in range(data.draw(st.integers(1, 4))):
                z += data.draw(st.integers(0, 3))
                depth = data.draw(st.integers(1, 3))
                dx, dy = data.draw(st.integers(0, 2)), data.draw(st.integers(0, 2))
                code = f"S{data.draw(st.integers(1, 3))}"
                items.append(placement(code, x + dx, y + dy, z, 2, 2, depth))
                z += depth
        order = data.draw(st.permutations(items))
        self.check(list(order), {"S1": 1, "S2": 2, "S3": 3})
        self.check(list(order), {})

    def check(self, items, stops):
        order = bench_order(items, stops)
        assert sorted(map(id, order)) == sorted(map(id, items))
        for step, item in enumerate(order):
            assert not any(underneath(later, item) for later in order[step + 1 :])
        if stops and keeps_stop_rule(items, stops):
            sequence = [stops[item["ItemCode"]] for item in order]
            assert sequence == sorted(sequence, reverse=True)
        if not stops:
            heights = [item["z"] for item in order]
            assert heights == sorted(heights)

    def test_an_item_waits_for_the_earlier_stop_it_rests_on(self):
        # LATE (stop 3) stands on EARLY (stop 1): the packing breaks the stop rule, yet
        # the picture cannot put LATE in first; the other stop 3 item still goes first.
        items = [
            placement("EARLY", 0, 0, 0, 2, 2, 2),
            placement("LATE", 0, 0, 2, 2, 2, 2),
            placement("OTHER", 2, 0, 0, 2, 2, 2),
            placement("MIDDLE", 0, 2, 0, 2, 2, 2),
        ]
        stops = {"EARLY": 1, "LATE": 3, "OTHER": 3, "MIDDLE": 2}
        codes = [p["ItemCode"] for p in bench_order(items, stops)]
        assert codes == ["OTHER", "MIDDLE", "EARLY", "LATE"]


def sight(eye, point):
    """The angle between the view's axis (from `eye` to the centre) and `point`."""
    length = math.dist(eye, (0, 0, 0))
    axis = [-e / length for e in eye]
    ray = [p - e for p, e in zip(point, eye)]
    return math.acos(sum(a * r for a, r in zip(axis, ray)) / math.dist(point, eye))


SHAPES = {
    "tall": (300, 300, 2000),
    "container": (12000, 2400, 2600),
    "tray": (1000, 1000, 50),
    "cube": (10, 10, 10),
}


class TestWholeBoxInView:
    """Whatever the proportions of the box, the view's axes hold the box and every item,
    to scale, and every corner lies inside the camera's field of view."""

    @pytest.mark.parametrize("shape", SHAPES)
    def test_html_view(self, shape):
        width, length, depth = SHAPES[shape]
        items = [
            placement("A", 0, 0, 0, width / 2, length / 2, depth / 3),
            # one item jutting out of the box, as a broken result may have
            placement("B", width / 2, length / 2, depth / 2, width * 0.7, length / 4, depth),
        ]
        figure = figures_of(page(one_box(width, length, depth, items), "t", plotly_js=""))[0]
        layout = figure["layout"]["scene"]
        ranges = [layout[f"{axis}axis"]["range"] for axis in "xyz"]
        for axis, (low, high) in zip("xyz", ranges):
            values = [v for trace in figure["data"] for v in trace[axis] if v is not None]
            assert low <= min(values) and max(values) <= high
        assert ranges[0][1] >= width * 1.2 and ranges[2][1] >= depth * 1.5
        sides = [high - low for low, high in ranges]
        aspect = [layout["aspectratio"][axis] for axis in "xyz"]
        for side, ratio in zip(sides, aspect):
            assert ratio == pytest.approx(side / max(sides))
        # The view spans half the aspect ratio either side of its centre.
        eye = [layout["camera"]["eye"][axis] for axis in "xyz"]
        corners = [[(c - 0.5) * ratio for c, ratio in zip(corner, aspect)] for corner in CORNERS]
        assert max(sight(eye, corner) for corner in corners) < math.pi / 8
        # and not lost in the distance: some corner is near the edge of the view
        assert max(sight(eye, corner) for corner in corners) > math.pi / 8 * 0.6

    @pytest.mark.parametrize("shape", SHAPES)
    def test_png_view(self, shape):
        width, length, depth = SHAPES[shape]
        items = [placement("A", 0, 0, depth / 2, width / 3, length, depth * 0.8)]
        scene = scenes(one_box(width, length, depth, items))[0]
        axes = png_figure(scene, "t").axes[0]
        limits = [axes.get_xlim3d(), axes.get_ylim3d(), axes.get_zlim3d()]
        assert limits[0][0] <= 0 and limits[0][1] >= width and limits[1][1] >= length
        assert limits[2][1] >= depth * 1.3
        sides = [high - low for low, high in limits]
        shape_of_axes = axes.get_box_aspect()
        for side, ratio in zip(sides, shape_of_axes):
            assert ratio / max(shape_of_axes) == pytest.approx(side / max(sides))


class TestLabelsAndRules:
    def test_labels_on_the_top_faces_and_none_in_a_crowded_box(self):
        items = [
            placement("BOTTOM", 0, 0, 0, 4, 4, 1),
            placement("A-VERY-LONG-ITEM-CODE", 0, 0, 1, 4, 4, 2),
        ]
        result = one_box(4, 4, 4, items)
        labels = figures_of(page(result, "t", plotly_js=""))[0]["data"][3]
        assert labels["text"] == ["BOTTOM", "A-VERY-LONG…"]
        assert (labels["x"], labels["y"]) == ([2, 2], [2, 2])
        assert 1 <= labels["z"][0] < 3 <= labels["z"][1] < 3.5  # just above each top
        crowded = [placement(f"C{n}", n % 20, n // 20, 0, 1, 1, 1) for n in range(151)]
        text = page(one_box(20, 20, 1, crowded), "t", plotly_js="")
        figure_data = figures_of(text)[0]["data"]
        assert figure_data[3]["text"] == [] and len(figure_data[0]["meta"]["ends"]) == 151
        assert "carry no labels: 151 items are too many to read" in text
        scene = scenes(one_box(20, 20, 1, crowded))[0]
        assert labelled(scene) == [] and "no labels" in png_figure(scene, "t")._suptitle.get_text()

    def test_png_labels_only_the_tops_in_sight(self):
        items = [
            placement("UNDER", 0, 0, 0, 4, 4, 1),
            placement("ON", 0, 0, 1, 4, 4, 1),  # hides the top of UNDER
            placement("BEHIND", 4, 6, 0, 4, 4, 1),
            placement("WALL", 8, 0, 0, 4, 4, 6),  # between the top of BEHIND and the view
            placement("TINY", 0, 8, 0, 0.1, 0.1, 0.1),
        ]
        scene = scenes(one_box(12, 10, 6, items))[0]
        codes = {item.code for item in labelled(scene)}
        assert codes == {"ON", "WALL"}
        texts = {t.get_text() for t in png_figure(scene, "t").axes[0].texts}
        assert texts == codes

    def test_fragile_items_are_outlined_and_their_load_shown(self, tmp_path):
        items = [
            placement("GLASS", 0, 0, 0, 2, 2, 2),
            placement("BOX", 2, 0, 0, 2, 2, 2),
            placement("TV", 0, 2, 0, 2, 2, 2),
        ]
        rules = read_rules(
            {"items": {"GLASS": {"Fragile": True}, "TV": {"MaxLoad": 0}, "BOX": {"MaxLoad": 12.5}}}
        )
        result = one_box(4, 4, 4, items)
        text = page(result, "t", plotly_js="", rules=rules)
        mesh, edges, fragile, _, _ = figures_of(text)[0]["data"]
        assert len(fragile["x"]) == 2 * 36 and len(edges["x"]) == 36
        assert fragile["showlegend"] and "nothing may rest on it" in fragile["name"]
        hover = {t.split("</b>")[0][3:]: t for t in mesh["hovertext"]}
        assert "carries 12.5" in hover["BOX"] and "fragile" in hover["TV"]
        assert "fragile: nothing may rest on it</span>" in text  # the key under the view
        drawing = png_figure(scenes(result, rules)[0], "t")
        legend = [t.get_text() for t in drawing.legends[0].get_texts()]
        assert legend == ["GLASS", "BOX", "TV", "fragile"]
        (faces,) = drawing.axes[0].collections[:1]
        red = [tuple(c) for c in faces.get_edgecolor()].count(to_rgba(FRAGILE_COLOUR))
        assert red == 2 * len(FACES)
        paths = render_png(result, tmp_path, rules=rules)
        assert len(paths) == 1 and paths[0].stat().st_size > 10_000

    def test_the_legends_name_the_stops_when_colours_follow_them(self):
        items = [placement(code, n * 2, 0, 0, 2, 2, 2) for n, code in enumerate("ABCD")]
        rules = read_rules({"items": {"A": {"Stop": 1}, "B": {"Stop": 2}, "C": {"Stop": 1}}})
        scene = scenes(one_box(8, 2, 2, items), rules)[0]
        assert [text for text, _ in scene.legend()] == ["stop 2", "stop 1", "no stop"]
        drawing = png_figure(scene, "t")
        assert drawing.legends[0].get_title().get_text() == "delivery stop"
