"""The stowvex command through its console script: results, exit codes, one-line errors."""

import json
import re
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

    def test_ctrl_c_ends_a_long_order_with_status_130(self, ctrl_c_reaches_children):
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
            try:
                proc.wait(timeout=60)
            except subprocess.TimeoutExpired:
                proc.kill()  # a lost interrupt fails the test rather than hanging it
                raise
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


def write(path, value):
    path.write_text(value if isinstance(value, str) else json.dumps(value), encoding="utf-8")
    return path


BOX = {"Reference": "B", "Width": 10, "Length": 10, "Depth": 10}


class TestStrictByDefault:
    @pytest.mark.parametrize(
        "request_, finding",
        [
            (
                {"Items": [{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1}], "boxes": [BOX]},
                "request, Items: unknown key, which the engine ignores (did you mean 'items'?)",
            ),
            (
                [BOX, dict(BOX, Reference="C")],
                'request: a request is an object, {"items": [...], "boxes": [...]}',
            ),
            (
                {
                    "items": [
                        {"ItemCode": "UP", "Width": 1, "Length": 1, "Depth": 1},
                        {
                            "ItemCode": "A",
                            "Width": 1,
                            "Length": 1,
                            "Depth": 1,
                            "AllowedRotation": "upright",
                        },
                    ],
                    "boxes": [BOX],
                },
                "item 1 'A', AllowedRotation: 'upright' is not a rotation word",
            ),
            ({"items": 5, "boxes": [BOX]}, "request, items: must be a list of item objects"),
        ],
    )
    def test_pack_refuses_what_check_finds_and_no_check_packs_it(self, tmp_path, request_, finding):
        source = write(tmp_path / "order.json", request_)
        proc = run("pack", source, "-o", tmp_path / "r.json")
        assert proc.returncode == 2 and "Traceback" not in proc.stderr
        *found, last = proc.stderr.strip().splitlines()
        assert any(finding in line for line in found), proc.stderr
        assert last.startswith("stowvex: error: ") and "--no-check" in last
        assert not (tmp_path / "r.json").exists()
        unchecked = run("pack", source, "--no-check")
        assert (unchecked.returncode, unchecked.stdout != "") in ((0, True), (1, False))

    def test_items_sharing_a_code_are_packed_as_orders_often_have_them(self, tmp_path):
        mug = {"ItemCode": "MUG", "Width": 1, "Length": 1, "Depth": 1}
        source = write(tmp_path / "o.json", {"items": [mug, mug, mug], "boxes": [BOX]})
        assert run("check", source).returncode == 1  # check still says so
        proc = run("pack", source)
        assert proc.returncode == 0 and json.loads(proc.stdout)["summary"]["total_placed"] == 3

    @pytest.mark.parametrize(
        "item, place",
        [
            (
                {"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1, "Weight": "5"},
                "items[1].Weight",
            ),
            ({"Width": 1, "Length": 1, "Depth": 1}, "items[1]: missing required field 'ItemCode'"),
        ],
    )
    def test_an_engine_error_names_its_place_in_the_request(self, tmp_path, item, place):
        good = {"ItemCode": "G", "Width": 1, "Length": 1, "Depth": 1}
        source = write(tmp_path / "o.json", {"items": [good, item], "boxes": [BOX]})
        assert_one_line_error(run("pack", source, "--no-check"), 1, f"(at {place}")
        proc = run("pack", source)
        assert proc.returncode == 2 and "item 1" in proc.stderr

    def test_a_shape_error_of_the_engine_says_what_is_wrong_with_the_shape(self, tmp_path):
        source = write(tmp_path / "o.json", {"items": {"a": 1}, "boxes": [BOX]})
        proc = run("pack", source, "--no-check")
        assert_one_line_error(proc, 1, "item is missing required field 'ItemCode' (at items.a: ")
        assert "must be object, not number (1)" in proc.stderr


class TestOptions:
    @pytest.mark.parametrize(
        "option",
        [
            ["--time-limit", "2"],
            ["--seed", "3"],
            ["--effort", "9"],
            ["--threads", "2"],
            ["--min-support", "0.5"],
            ["--box-costs", "costs.json"],
        ],
    )
    def test_an_optimiser_option_without_optimise_is_refused(self, tmp_path, option):
        write(tmp_path / "costs.json", {"B": 1})
        for command in (["pack", EXAMPLE], ["batch", EXAMPLE, "-o", tmp_path / "out.jsonl"]):
            proc = run(*command, *option, cwd=tmp_path)
            assert_one_line_error(proc, 2, f"{option[0]} is an option of the optimiser")
        assert not (tmp_path / "out.jsonl").exists()

    def test_optimiser_options_reach_the_optimiser(self, tmp_path):
        costs = write(tmp_path / "costs.json", {"CARTON-S": 1, "CARTON-M": 1, "CARTON-L": 1})
        args = ["--effort", "20000", "--seed", "5", "--threads", "2", "--min-support", "1"]
        first = run("pack", EXAMPLE, "--optimize", *args)
        assert first.returncode == 0, first.stderr
        assert run("pack", EXAMPLE, "--optimise", *args).stdout == first.stdout  # same effort
        with_costs = run("pack", EXAMPLE, "--optimise", "--effort", "20000", "--box-costs", costs)
        unknown = write(tmp_path / "unknown.json", {"NO-SUCH": 1})
        assert with_costs.returncode in (0, 1)
        proc = run("pack", EXAMPLE, "--optimise", "--effort", "2000", "--box-costs", unknown)
        assert proc.returncode != 0 and "NO-SUCH" in proc.stderr and "Traceback" not in proc.stderr

    @pytest.mark.parametrize(
        "args, fragment",
        [
            (["--optimise", "--time-limit", "1e400"], "--time-limit"),
            (["--optimise", "--min-support", "2"], "must be from 0 to 1"),
            (["--optimise", "--seed", "-1"], "must be from 0"),
            (["--optimise", "--box-costs", "bad.json"], "box costs are a JSON object"),
            (["--optimise", "--box-costs", "big.json"], "must be finite"),
        ],
    )
    def test_bad_option_values_are_usage_errors(self, tmp_path, args, fragment):
        write(tmp_path / "bad.json", [1, 2])
        write(tmp_path / "big.json", '{"CARTON-S": 1' + "0" * 400 + "}")
        proc = run("pack", EXAMPLE, *args, cwd=tmp_path)
        assert proc.returncode == 2 and fragment in proc.stderr and "Traceback" not in proc.stderr

    def test_version_module_entry_and_a_help_that_lists_each_command_once(self):
        assert run("-V").stdout.strip() == f"stowvex {stowvex_tools.__version__}"
        module = subprocess.run(
            [sys.executable, "-m", "stowvex_tools", "--version"],
            capture_output=True,
            text=True,
            timeout=60,
        )
        assert module.stdout.strip() == f"stowvex {stowvex_tools.__version__}"
        text = run("--help").stdout
        for name in ("pack", "batch", "check", "validate", "render"):
            assert len(re.findall(rf"^ +{name} ", text, flags=re.M)) == 1, text
        assert "--no-check" in text and "exit status" in text

    def test_a_batch_file_given_for_one_request_gets_a_hint(self, tmp_path):
        result = stowvex.solve(EXAMPLE.read_text(encoding="utf-8"))
        lines = write(tmp_path / "out.jsonl", f'{{"id":1,"result":{result}}}\n' * 2)
        proc = run("render", lines, "-o", tmp_path / "v.html")
        assert_one_line_error(proc, 2, "give --id ID to draw one order")
        orders = write(tmp_path / "orders.jsonl", EXAMPLE.read_text().replace("\n", " ") + "\n" * 1)
        orders.write_text(orders.read_text() * 2)
        assert_one_line_error(run("pack", orders), 2, "pack it with stowvex batch")
        assert_one_line_error(run("check", orders), 2, "pack it with stowvex batch")


NESTED = "[" * 100_000 + "]" * 100_000


class TestUnusableInputAndOutput:
    @pytest.mark.parametrize("command", ["check", "validate", "render"])
    def test_deeply_nested_json_is_a_one_line_error(self, tmp_path, command):
        deep = write(tmp_path / "deep.json", NESTED)
        args = {
            "check": [deep],
            "validate": [EXAMPLE, deep],
            "render": [deep, "-o", tmp_path / "v.html"],
        }[command]
        assert_one_line_error(run(command, *args), 2, "nested too deeply")

    def test_validate_raises_value_error_for_deep_json(self):
        with pytest.raises(ValueError, match="nested too deeply"):
            stowvex_tools.validate(NESTED, [], [])
        with pytest.raises(ValueError, match="nested too deeply"):
            stowvex_tools.validate_request(stowvex.solve("{}"), NESTED)
        with pytest.raises(TypeError, match="min_support must be a number, not str"):
            stowvex_tools.validate(stowvex.solve("{}"), [], [], min_support="0.5")

    @pytest.mark.parametrize(
        "result, fragment",
        [
            ({"boxes": 5}, '"boxes" is a number, not a list'),
            ({"boxes": [5]}, "box 0 is a number, not an object"),
            ({"boxes": [{"items": "abc"}]}, 'box 0 "width" is missing'),
            (
                {"boxes": [{"width": 1, "length": 1, "depth": 1, "items": "abc"}]},
                'box 0 "items" is a string',
            ),
            (None, "is 1e+308, beyond"),
            ("request", "it is a request"),
        ],
    )
    def test_render_refuses_what_is_no_drawable_result(self, tmp_path, result, fragment):
        if result is None:
            result = json.loads(stowvex.solve(EXAMPLE.read_text(encoding="utf-8")))
            result["boxes"][0]["items"][0]["x"] = 1e308
        elif result == "request":
            result = json.loads(EXAMPLE.read_text(encoding="utf-8"))
        source = write(tmp_path / "r.json", result)
        proc = run("render", source, "-o", tmp_path / "v.html", "--png", tmp_path / "png")
        assert_one_line_error(proc, 2, fragment)
        assert not (tmp_path / "v.html").exists() and not (tmp_path / "png").exists()

    def test_render_into_a_missing_folder_or_a_full_disk_is_a_one_line_error(self, tmp_path):
        source = write(tmp_path / "r.json", stowvex.solve(EXAMPLE.read_text(encoding="utf-8")))
        blocker = write(tmp_path / "file", "")
        assert_one_line_error(run("render", source, "-o", blocker / "v.html"), 2, "cannot write")
        assert_one_line_error(run("render", source, "--png", blocker / "png"), 2, "cannot write")
        if Path("/dev/full").exists():
            assert_one_line_error(
                run("render", source, "-o", "/dev/full"), 2, "No space left on device"
            )
            assert_one_line_error(run("pack", EXAMPLE, "-o", "/dev/full"), 2, "No space left")
