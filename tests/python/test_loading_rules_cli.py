"""Loading rules on the command line: CSV columns, requests the exact engine would
pack against their rules, --settle, and the count of poorly supported items."""

import json
import shutil
import subprocess
import sys
from pathlib import Path

import stowvex
from stowvex_tools import validate
from stowvex_tools.orders import csv_items
from stowvex_tools.summary import BatchSummary

STOWVEX = shutil.which("stowvex", path=str(Path(sys.executable).parent)) or "stowvex"


def run(*args):
    return subprocess.run([STOWVEX, *map(str, args)], capture_output=True, text=True, timeout=120)


FLOATING = {
    # The engine stacks B on A, and C (narrow and tall) beside them: with a box that
    # fits only two of them side by side, something rests on half of nothing.
    "items": [
        {"ItemCode": "A", "Width": 4, "Length": 4, "Depth": 1, "Weight": 1},
        {"ItemCode": "B", "Width": 2, "Length": 4, "Depth": 3, "Weight": 1},
        {"ItemCode": "C", "Width": 2, "Length": 4, "Depth": 3, "Weight": 1},
    ],
    "boxes": [{"Reference": "T", "Width": 4, "Length": 4, "Depth": 10}],
}


def test_csv_rule_columns_become_request_keys():
    cells = ["o1", "GLASS", "1", "2", "3", "", "2", "", "", "", "yes", "", "WLD, LWD", "2"]
    items = csv_items([(2, cells)])
    assert len(items) == 2
    assert items[0]["Fragile"] is True and items[0]["Orientations"] == ["WLD", "LWD"]
    assert items[0]["Stop"] == 2 and "MaxLoad" not in items[0]
    bad = ["o1", "A", "1", "2", "3", "", "", "", "", "", "maybe", "", "", ""]
    try:
        csv_items([(3, bad)])
    except ValueError as error:
        assert "line 3: fragile" in str(error)
    else:
        raise AssertionError("an unreadable fragile cell was taken")


def test_the_exact_engine_refuses_a_request_with_rules(tmp_path):
    request = {
        "items": [{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1, "Fragile": True}],
        "boxes": [{"Reference": "T", "Width": 2, "Length": 2, "Depth": 2}],
    }
    path = tmp_path / "rules.json"
    path.write_text(json.dumps(request))
    refused = run("pack", path)
    assert refused.returncode == 2 and "exact engine ignores" in refused.stderr
    assert "Fragile" in refused.stderr
    packed = run("pack", path, "--optimise", "--effort", "1000")
    assert packed.returncode == 0, packed.stderr
    assert not validate(packed.stdout, request["items"], request["boxes"])


def test_settle_and_the_note_on_support(tmp_path):
    path = tmp_path / "floating.json"
    path.write_text(json.dumps(FLOATING))
    result = json.loads(stowvex.solve(json.dumps(FLOATING)))
    plain = run("pack", path)
    assert plain.returncode == 0
    settled = run("pack", path, "--settle")
    assert settled.returncode == 0, settled.stderr
    after = json.loads(settled.stdout)
    assert not validate(after, FLOATING["items"], FLOATING["boxes"])
    assert after["summary"] == result["summary"]
    lowest = {p["ItemCode"]: p["z"] for p in after["boxes"][0]["items"]}
    before = {p["ItemCode"]: p["z"] for p in result["boxes"][0]["items"]}
    assert all(lowest[c] <= before[c] for c in before)
    assert "less than half" not in settled.stderr


def test_the_batch_summary_counts_poorly_supported_items():
    hanging = {
        "boxes": [
            {
                "box_reference": "T",
                "items": [
                    {"x": 0, "y": 0, "z": 0, "width": 2, "length": 2, "depth": 2},
                    {"x": 1, "y": 0, "z": 2, "width": 2, "length": 2, "depth": 2},
                    {"x": 0, "y": 0, "z": 7, "width": 1, "length": 1, "depth": 1},
                ],
            }
        ],
        "summary": {"total_placed": 3, "total_unplaced": 0},
    }
    summary = BatchSummary()
    summary.add_result(hanging)
    # The second rests on exactly half (not less); the third floats.
    assert summary.poorly_supported == 1
    assert "1 rest on less than half" in "\n".join(summary.lines())


def test_pictures_mark_items_resting_on_less_than_half_of_their_base():
    from stowvex_tools.scene import scenes

    hanging = {
        "boxes": [
            {
                "box_index": 0,
                "box_reference": "T",
                "width": 4,
                "length": 4,
                "depth": 9,
                "items": [
                    {
                        "ItemCode": "LOW",
                        "x": 0,
                        "y": 0,
                        "z": 0,
                        "width": 2,
                        "length": 2,
                        "depth": 2,
                    },
                    {
                        "ItemCode": "TOP",
                        "x": 1,
                        "y": 1,
                        "z": 2,
                        "width": 2,
                        "length": 2,
                        "depth": 1,
                    },
                    {
                        "ItemCode": "AIR",
                        "x": 0,
                        "y": 0,
                        "z": 6,
                        "width": 1,
                        "length": 1,
                        "depth": 1,
                    },
                ],
            }
        ],
        "summary": {"box_count": 1, "total_placed": 3, "total_unplaced": 0},
    }
    drawn = {item.code: item for item in scenes(hanging)[0].items}
    assert drawn["LOW"].support == 1.0
    assert drawn["TOP"].support == 0.25 and drawn["TOP"].poorly_supported
    assert drawn["AIR"].support == 0.0
    assert [i.code for i in scenes(hanging)[0].poorly_supported()] == ["TOP", "AIR"]


def test_pictures_follow_the_stops_and_show_the_rules(tmp_path):
    from stowvex_tools import render_html
    from stowvex_tools.loading_rules import read_rules
    from stowvex_tools.scene import scenes

    def block(code, x, y, z):
        return {"ItemCode": code, "x": x, "y": y, "z": z, "width": 2, "length": 2, "depth": 2}

    # FAR (stop 2) at the back wall, NEAR (stop 1) by the door, TOP (stop 1) on FAR.
    result = {
        "boxes": [
            {
                "box_index": 0,
                "box_reference": "T",
                "width": 2,
                "length": 4,
                "depth": 4,
                "items": [block("NEAR", 0, 2, 0), block("TOP", 0, 0, 2), block("FAR", 0, 0, 0)],
            }
        ],
        "summary": {"box_count": 1, "total_placed": 3, "total_unplaced": 0},
    }
    rules = read_rules(
        {"items": {"FAR": {"Stop": 2}, "NEAR": {"Stop": 1}, "TOP": {"Stop": 1, "Fragile": True}}}
    )
    drawn = scenes(result, rules)[0].items
    assert [item.code for item in drawn] == ["FAR", "NEAR", "TOP"]  # last stop first
    assert drawn[1].colour == drawn[2].colour != drawn[0].colour
    assert drawn[2].rules_text == "fragile, stop 1"
    page = render_html(result, tmp_path / "stops.html", plotly="cdn", rules=rules).read_text()
    assert "fragile, stop 1" in page
    # Where a later stop lies above an earlier one, the earlier goes in first all the
    # same: nothing goes in before what it rests on.
    wrong = read_rules({"items": {"FAR": {"Stop": 1}, "TOP": {"Stop": 2}}})
    codes = [i.code for i in scenes(result, wrong)[0].items]
    assert codes[0] in ("FAR", "NEAR") and codes[-1] == "TOP"
