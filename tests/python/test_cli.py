"""The stowvex command through its console script: results, exit codes, one-line errors."""

import json
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

import stowvex
import stowvex_tools

ROOT = Path(__file__).resolve().parents[2]
EXAMPLE = ROOT / "examples" / "request.json"
STOWVEX = shutil.which("stowvex", path=str(Path(sys.executable).parent)) or "stowvex"
sys.path.insert(0, str(ROOT / "bench"))

import large_orders  # noqa: E402


def endless_request():
    """A request the engine packs for many minutes (3,000 items, two boxes of one type)."""
    return large_orders.one_type_request(3000, "1.1", 1)


def run(*args, stdin=None, cwd=None):
    return subprocess.run(
        [STOWVEX, *map(str, args)],
        input=stdin,
        capture_output=True,
        text=True,
        cwd=cwd,
        timeout=120,
    )


def assert_one_line_error(proc, status, fragment):
    assert proc.returncode == status, proc.stderr
    assert "Traceback" not in proc.stderr
    lines = proc.stderr.strip().splitlines()
    assert len(lines) == 1 and lines[0].startswith("stowvex: error: "), proc.stderr
    assert fragment in lines[0]


@pytest.mark.parametrize("command", ["pack", "batch", "check", "validate", "render"])
def test_every_command_has_help_with_examples(command):
    proc = run(command, "--help")
    assert proc.returncode == 0
    assert "examples:" in proc.stdout and f"stowvex {command} " in proc.stdout


def test_bare_command_lists_the_commands_and_version_matches_the_package():
    proc = run()
    assert proc.returncode == 2
    assert all(name in proc.stdout for name in ("pack", "batch", "check", "validate", "render"))
    assert run("--version").stdout.strip() == f"stowvex {stowvex_tools.__version__}"


class TestPack:
    def test_file_and_standard_input_give_exactly_what_solve_gives(self, tmp_path):
        expected = stowvex.solve(EXAMPLE.read_text(encoding="utf-8"))
        assert run("pack", EXAMPLE).stdout == expected + "\n"
        assert run("pack", "-", stdin=EXAMPLE.read_text(encoding="utf-8")).stdout == expected + "\n"
        out = tmp_path / "result.json"
        assert run("pack", EXAMPLE, "-o", out).returncode == 0
        assert out.read_text(encoding="utf-8") == expected + "\n"

    @pytest.mark.parametrize(
        "text, status, fragment",
        [
            ('{"items": [', 1, "parse error"),
            ('{"items": [{"Width": 1}]}', 1, "item is missing required field 'ItemCode'"),
            (
                '{"items": [{"ItemCode": "A", "Width": "1", "Length": 1, "Depth": 1}]}',
                1,
                "type must be number, but is string",
            ),
        ],
    )
    def test_bad_requests_are_one_line_errors(self, text, status, fragment):
        # Unchecked, so that the engine's own message shows.
        assert_one_line_error(run("pack", "-", "--no-check", stdin=text), status, fragment)

    def test_missing_file_and_bad_options_fail_cleanly(self, tmp_path):
        assert_one_line_error(run("pack", tmp_path / "none.json"), 2, "cannot read")
        proc = run("pack", EXAMPLE, "--time-limit", "-3")
        assert proc.returncode == 2 and "Traceback" not in proc.stderr
        assert_one_line_error(
            run("pack", EXAMPLE, "-o", tmp_path / "no" / "dir" / "r.json"), 2, "cannot write"
        )

    def test_optimise_uses_the_optimiser(self):
        proc = run("pack", EXAMPLE, "--optimise", "--time-limit", "0.2")
        assert proc.returncode == 0
        assert json.loads(proc.stdout)["summary"]["total_unplaced"] == 0

    def test_timeout_stops_a_long_order_and_leaves_a_short_one_as_it_was(self, tmp_path):
        endless = tmp_path / "endless.json"
        endless.write_text(endless_request())
        assert_one_line_error(run("pack", endless, "--timeout", "0.3"), 1, "timeout of 0.3 s")
        expected = stowvex.solve(EXAMPLE.read_text(encoding="utf-8"))
        assert run("pack", EXAMPLE, "--timeout", "60").stdout == expected + "\n"
        for bad in ("0", "-1", "inf", "soon"):
            proc = run("pack", EXAMPLE, "--timeout", bad)
            assert proc.returncode == 2 and "--timeout" in proc.stderr, proc.stderr
        assert_one_line_error(
            run("pack", EXAMPLE, "--optimise", "--timeout", "5"), 2, "--time-limit ends the search"
        )

    def test_ctrl_c_ends_a_long_order_with_status_130(self):
        with subprocess.Popen(
            [STOWVEX, "pack", "-"],
            stdin=subprocess.PIPE,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
            text=True,
        ) as proc:
            assert proc.stdin is not None and proc.stderr is not None
            proc.stdin.write(endless_request())  # returns once the command has read most of it
            proc.stdin.close()
            time.sleep(1.0)
            proc.send_signal(signal.SIGINT)
            proc.wait(timeout=60)
            err = proc.stderr.read()
        assert proc.returncode == 130, err
        assert err == "stowvex: error: interrupted\n"


class TestCheck:
    def test_a_sound_request_has_no_findings(self):
        proc = run("check", EXAMPLE)
        assert proc.returncode == 0 and "no findings" in proc.stdout

    def test_findings_name_the_item_and_field_and_set_the_exit_status(self):
        request = {
            "Items": [],
            "items": [
                {"ItemCode": "MUG", "Width": 0, "Length": 5, "Depth": 5, "AllowedRotation": "up"}
            ],
            "boxes": [{"Reference": "B", "Width": 10, "Length": 10, "Depth": 10}],
        }
        proc = run("check", "-", stdin=json.dumps(request))
        assert proc.returncode == 1
        assert "request, Items: unknown key" in proc.stdout
        assert "item 0 'MUG', Width: size 0" in proc.stdout
        assert "item 0 'MUG', AllowedRotation: 'up'" in proc.stdout

    def test_unreadable_requests_exit_2(self):
        assert_one_line_error(run("check", "-", stdin="{nope"), 2, "not valid JSON")
        assert_one_line_error(run("check", "-", stdin='{"items": [NaN]}'), 2, "NaN")


class TestValidate:
    def test_a_packed_result_is_sound_and_a_moved_item_is_not(self, tmp_path):
        result = json.loads(stowvex.solve(EXAMPLE.read_text(encoding="utf-8")))
        good = tmp_path / "good.json"
        good.write_text(json.dumps(result))
        proc = run("validate", EXAMPLE, good)
        assert proc.returncode == 0 and "no violations" in proc.stdout
        result["boxes"][0]["items"][0]["x"] += 1000.0
        bad = tmp_path / "bad.json"
        bad.write_text(json.dumps(result))
        proc = run("validate", EXAMPLE, bad)
        assert proc.returncode == 1 and "outside_box" in proc.stdout

    def test_a_result_file_that_is_no_result_is_a_clean_error(self, tmp_path):
        other = tmp_path / "other.json"
        other.write_text('{"items": []}')
        assert_one_line_error(run("validate", EXAMPLE, other), 2, "not a packing result")


class TestRender:
    def test_writes_the_page_and_one_picture_per_box(self, tmp_path):
        result = tmp_path / "result.json"
        result.write_text(stowvex.solve(EXAMPLE.read_text(encoding="utf-8")))
        boxes = json.loads(result.read_text())["summary"]["box_count"]
        proc = run("render", result, "-o", tmp_path / "view.html", "--png", tmp_path / "png")
        assert proc.returncode == 0, proc.stderr
        assert (tmp_path / "view.html").read_text(encoding="utf-8").startswith("<!DOCTYPE html>")
        assert len(list((tmp_path / "png").glob("*.png"))) == boxes

    def test_picks_an_order_from_a_batch_output(self, tmp_path):
        result = stowvex.solve(EXAMPLE.read_text(encoding="utf-8"))
        lines = tmp_path / "results.jsonl"
        lines.write_text(f'{{"id":"a","error":"bad"}}\n{{"id":"b","result":{result}}}\n')
        assert run("render", lines, "--id", "b", "-o", tmp_path / "b.html").returncode == 0
        assert_one_line_error(
            run("render", lines, "--id", "a", "-o", tmp_path / "a.html"), 1, "order a failed: bad"
        )
        assert_one_line_error(
            run("render", lines, "--id", "zz", "-o", tmp_path / "z.html"), 2, "no order with id zz"
        )
        assert_one_line_error(run("render", lines), 2, "nothing to write")
