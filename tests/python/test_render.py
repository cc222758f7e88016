"""Pictures of results: the page's figure data, safe embedding of item texts, the bench
order, PNG files, and the message when the drawing libraries are missing."""

import json
import re
import sys

import pytest

import stowvex
from stowvex_tools import MissingExtra, render_html, render_png
from stowvex_tools.render_html import page
from stowvex_tools.scene import bench_order, scenes


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
            mesh, edges, outline = figure["data"]
            count = len(box.items)
            assert mesh["meta"]["blocks"] == count
            assert (len(mesh["x"]), len(mesh["i"]), len(mesh["facecolor"])) == (
                8 * count,
                12 * count,
                12 * count,
            )
            assert len(edges["x"]) == 36 * count and len(outline["x"]) == 36
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
