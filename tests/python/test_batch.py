"""Batches: real order files through `stowvex batch`, malformed orders, resuming after an
interruption, and pack_many on worker processes."""

import errno
import json
import math
import os
import signal
import subprocess
import sys
import threading
import time
from concurrent.futures.process import BrokenProcessPool
from pathlib import Path

import pytest

import stowvex
from stowvex_tools import OrderError, PackingTimeout, pack_many, result_dict, summarise
from stowvex_tools.batch_lines import BatchSettings, pack_order
from stowvex_tools.order_packing import Failed, Packed, PackSettings, RequestValues, pack_one
from stowvex_tools.orders import csv_items, csv_orders
from stowvex_tools.summary import OrderFigures

ROOT = Path(__file__).resolve().parents[2]
CARTONS = ROOT / "examples" / "cartons.json"
ORDERS = ROOT.parent / "shared" / "data" / "orders" / "parcel_orders.txt"
STOWVEX = str(Path(sys.executable).parent / "stowvex")
sys.path.insert(0, str(ROOT / "bench"))

import large_orders  # noqa: E402


def endless_request():
    """A request the engine packs for many minutes (3,000 items, two boxes of one type)."""
    return large_orders.one_type_request(3000, "1.1", 1)


def run(*args):
    return subprocess.run([STOWVEX, *map(str, args)], capture_output=True, text=True, timeout=300)


def real_orders(count, copies=1):
    """The first `count` real parcel orders as JSON Lines orders without boxes."""
    if not ORDERS.is_file():
        pytest.skip(f"the parcel orders are not at {ORDERS}")
    orders = [line.split() for line in ORDERS.read_text().splitlines() if line.split()][:count]
    lines = []
    for copy in range(copies):
        for number, parcels in enumerate(orders, start=1):
            items = [
                {
                    "ItemCode": f"P{n}",
                    "Width": float(w),
                    "Length": float(l),
                    "Depth": float(h),
                    "Weight": round(float(w) * float(l) * float(h) / 6e6, 3),
                }
                for n, (w, l, h) in enumerate((p.split("x") for p in parcels), start=1)
            ]
            lines.append(json.dumps({"id": f"{copy}-{number}", "items": items}))
    return lines


def expected_line(order_id, items):
    cartons = json.loads(CARTONS.read_text())
    result = stowvex.solve(json.dumps({"items": items, "boxes": cartons}))
    return json.dumps({"id": order_id, "result": json.loads(result)}, separators=(",", ":"))


def canonical(path):
    return [json.loads(line) for line in Path(path).read_text(encoding="utf-8").splitlines()]


class TestBatchFiles:
    def test_json_lines_in_input_order_with_a_malformed_line_and_a_summary(self, tmp_path):
        lines = real_orders(40)
        lines.insert(7, '{"id": "broken", "items": [')
        lines.insert(12, '{"id": "no-code", "items": [{"Width": 1, "Length": 1, "Depth": 1}]}')
        source = tmp_path / "orders.jsonl"
        source.write_text("\n".join(lines[:20]) + "\n\n" + "\n".join(lines[20:]) + "\n")
        out = tmp_path / "results.jsonl"
        proc = run("batch", source, "--boxes", CARTONS, "-o", out, "--workers", "2")
        assert proc.returncode == 1, proc.stderr  # two orders failed
        records = canonical(out)
        assert len(records) == 42
        assert records[7] == {"id": None, "error": records[7]["error"]}
        assert records[7]["error"].startswith("line 8: not valid JSON")
        assert records[12] == {
            "id": "no-code",
            "error": "line 13: the request check found 1 finding (--no-check packs it as it "
            "is): item 0: missing required field 'ItemCode'",
        }
        good = [json.loads(line) for n, line in enumerate(lines) if n not in (7, 12)]
        packed = [r for n, r in enumerate(records) if n not in (7, 12)]
        assert [r["id"] for r in packed] == [order["id"] for order in good]
        for order, record in zip(good[:5], packed):
            assert record == json.loads(expected_line(order["id"], order["items"]))
        assert "orders: 42; packed 40, failed 2" in proc.stdout
        assert "orders/s" in proc.stderr  # the progress bar

    def test_a_line_that_is_not_utf8_fails_alone_and_a_byte_order_mark_is_read(self, tmp_path):
        lines = [line.encode() for line in real_orders(6)]
        lines[0] = b"\xef\xbb\xbf" + lines[0]
        lines[3] = b'{"id": "bad-\xff", "items": []}'
        source = tmp_path / "orders.jsonl"
        source.write_bytes(b"\r\n".join(lines) + b"\r\n")
        out = tmp_path / "results.jsonl"
        for workers in ("1", "2"):
            out.unlink(missing_ok=True)
            proc = run("batch", source, "--boxes", CARTONS, "-o", out, "--workers", workers)
            assert proc.returncode == 1, proc.stderr
            records = canonical(out)
            assert [("error" in r) for r in records] == [False, False, False, True, False, False]
            assert records[3]["error"].startswith("line 4: not UTF-8 text")
            assert records[0]["id"] == json.loads(lines[0][3:])["id"]

    def test_csv_order_lines_give_the_same_results_as_json_lines(self, tmp_path):
        orders = [json.loads(line) for line in real_orders(15)]
        rows = ["order_id,item_code,width,length,depth,weight,quantity"]
        for order in orders:
            rows += [
                f"{order['id']},{i['ItemCode']},{i['Width']},{i['Length']},{i['Depth']},"
                f"{i['Weight']},1"
                for i in order["items"]
            ]
        (tmp_path / "orders.csv").write_text("\n".join(rows) + "\n")
        (tmp_path / "orders.jsonl").write_text("\n".join(map(json.dumps, orders)) + "\n")
        for name in ("orders.csv", "orders.jsonl"):
            proc = run(
                "batch",
                tmp_path / name,
                "--boxes",
                CARTONS,
                "-o",
                tmp_path / f"{name}.out",
                "--workers",
                "1",
                "--no-progress",
            )
            assert proc.returncode == 0, proc.stderr
        assert canonical(tmp_path / "orders.csv.out") == canonical(tmp_path / "orders.jsonl.out")

    def test_an_order_past_its_timeout_gets_an_error_line_and_the_batch_goes_on(self, tmp_path):
        orders = [{"id": n, **request(n + 2)} for n in range(4)]
        orders[1] = {"id": "long", **json.loads(endless_request())}
        source = tmp_path / "orders.jsonl"
        source.write_text("\n".join(map(json.dumps, orders)) + "\n")
        for workers in ("1", "2"):
            out = tmp_path / f"results-{workers}.jsonl"
            proc = run("batch", source, "-o", out, "--workers", workers, "--timeout", "0.4")
            assert proc.returncode == 1, proc.stderr
            records = canonical(out)
            assert records[1] == {
                "id": "long",
                "error": "the packing ran past its timeout of 0.4 s and was stopped",
            }
            for n in (0, 2, 3):
                expected = stowvex.solve(json.dumps(request(n + 2)))
                assert records[n] == {"id": n, "result": json.loads(expected)}
            assert "orders: 4; packed 3, failed 1" in proc.stdout
        proc = run("batch", source, "-o", tmp_path / "x.jsonl", "--optimise", "--timeout", "1")
        assert proc.returncode == 2 and "--timeout is the exact engine's" in proc.stderr

    def test_bad_csv_orders_are_recorded_and_the_rest_packed(self, tmp_path):
        source = tmp_path / "lines.csv"
        source.write_text(
            "order_id,item_code,width,length,depth,weight,quantity,rotation\n"
            "A,x,1,2,3,,2\nB,y,1,two,3,0,1\nA,z,1,1,1,0,1\nC,w,1,1,1,0,1,KeepFlat\n"
        )
        out = tmp_path / "r.jsonl"
        assert run("batch", source, "--boxes", CARTONS, "-o", out).returncode == 1
        records = canonical(out)
        assert [r["id"] for r in records] == ["A", "B", "A", "C"]
        assert records[0]["result"]["summary"]["total_placed"] == 2
        assert records[1]["error"] == "line 3: length 'two' is not a number"
        assert "appears again" in records[2]["error"]
        assert records[3]["result"]["placements"][0]["orientation"] in ("WLD", "LWD")

    @pytest.mark.parametrize(
        "args, fragment",
        [
            (["lines.csv"], "needs a box catalogue"),
            (["missing.jsonl"], "cannot read"),
            (["orders.jsonl", "--boxes", "lines.csv"], "not valid JSON"),
            (["orders.jsonl", "--workers", "0"], "must be at least 1"),
        ],
    )
    def test_unusable_inputs_stop_before_packing(self, tmp_path, args, fragment):
        (tmp_path / "lines.csv").write_text("order_id,item_code,width,length,depth\nA,x,1,2,3\n")
        (tmp_path / "orders.jsonl").write_text('{"id": 1, "items": []}\n')
        proc = run(
            "batch", *(tmp_path / a if "." in a else a for a in args), "-o", tmp_path / "r.jsonl"
        )
        assert proc.returncode == 2 and "Traceback" not in proc.stderr
        assert fragment in proc.stderr
        assert not (tmp_path / "r.jsonl").exists()


class TestResume:
    def test_a_cut_line_is_packed_again_and_nothing_written_is_lost(self, tmp_path):
        source = tmp_path / "orders.jsonl"
        source.write_text("\n".join(real_orders(30)) + "\n")
        full = tmp_path / "full.jsonl"
        assert run("batch", source, "--boxes", CARTONS, "-o", full).returncode == 0
        reference = full.read_bytes()
        lines = reference.splitlines(keepends=True)
        cut = tmp_path / "cut.jsonl"
        cut.write_bytes(b"".join(lines[:11]) + lines[11][:57])  # a crash in line 12
        proc = run("batch", source, "--boxes", CARTONS, "-o", cut)
        assert proc.returncode == 0, proc.stderr
        assert cut.read_bytes() == reference
        assert "11 packed by an earlier run" in proc.stdout
        again = run("batch", source, "--boxes", CARTONS, "-o", cut)  # nothing left to do
        assert again.returncode == 0 and cut.read_bytes() == reference

    def test_an_output_of_another_input_is_refused(self, tmp_path):
        source = tmp_path / "orders.jsonl"
        source.write_text("\n".join(real_orders(3)) + "\n")
        out = tmp_path / "r.jsonl"
        out.write_text('{"id":"other","error":"x"}\n')
        proc = run("batch", source, "--boxes", CARTONS, "-o", out)
        assert proc.returncode == 2 and "belongs to another input" in proc.stderr
        out.write_text("not a result line\n")
        proc = run("batch", source, "--boxes", CARTONS, "-o", out)
        assert proc.returncode == 2 and "is not an output line" in proc.stderr
        assert out.read_text() == "not a result line\n"

    def test_ctrl_c_keeps_every_written_line_and_the_rerun_completes(
        self, tmp_path, ctrl_c_reaches_children
    ):
        source = tmp_path / "orders.jsonl"
        source.write_text("\n".join(real_orders(500, copies=3)) + "\n")
        out = tmp_path / "r.jsonl"
        proc = subprocess.Popen(
            [
                STOWVEX,
                "batch",
                str(source),
                "--boxes",
                str(CARTONS),
                "-o",
                str(out),
                "--workers",
                "2",
            ],
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
        )
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and (not out.exists() or out.stat().st_size < 20000):
            time.sleep(0.05)
        proc.send_signal(signal.SIGINT)
        _, err = proc.communicate(timeout=60)
        written = out.read_bytes()
        if proc.returncode == 0:
            pytest.skip("the batch finished before it could be interrupted")
        assert proc.returncode == 130, err
        assert "Traceback" not in err and "run the same command again" in err
        done = written.count(b"\n")
        assert 0 < done < 1500 and written.endswith(b"\n")
        rerun = run("batch", source, "--boxes", CARTONS, "-o", out, "--workers", "2")
        assert rerun.returncode == 0, rerun.stderr
        assert out.read_bytes().startswith(written)
        records = canonical(out)
        assert [r["id"] for r in records] == [
            json.loads(line)["id"] for line in source.read_text().splitlines()
        ]
        assert f"{done:,} packed by an earlier run" in rerun.stdout


def request(n, width=1.0):
    return {
        "items": [
            {"ItemCode": f"I{k}", "Width": width + k % 3, "Length": 2, "Depth": 3, "Weight": 1}
            for k in range(n)
        ],
        "boxes": [{"Reference": "B", "Width": 6, "Length": 6, "Depth": 6, "MaxWeight": 20}],
    }


class TestPackMany:
    def test_results_come_in_input_order_and_equal_solve(self):
        requests = [request(n % 17 + 1, width=1 + n % 2) for n in range(150)]
        texts = [json.dumps(r) for r in requests]
        expected = [stowvex.solve(t) for t in texts]
        assert list(pack_many(requests, workers=2, progress=False)) == expected
        assert list(pack_many(iter(texts), workers=1, progress=False)) == expected

    @pytest.mark.parametrize(
        "keywords, error, message",
        [
            ({"optimise": True, "time_limit": 0}, ValueError, "time_limit must be a positive"),
            ({"optimise": True, "time_limit": 10**400}, ValueError, "not inf"),
            ({"optimise": True, "box_costs": {"B": 10**400}}, ValueError, "must be finite"),
            ({"optimise": True, "box_costs": {"\udc80": 1}}, ValueError, "lone surrogate"),
            ({"optimise": True, "seed": -1}, ValueError, "seed must be from 0"),
            ({"optimise": True, "min_support": "0.5"}, TypeError, "min_support must be a number"),
            ({"timeout": 0}, ValueError, "timeout must be a positive"),
            ({"workers": 0}, ValueError, "workers must be at least 1"),
        ],
    )
    def test_bad_settings_are_refused_at_the_call_before_any_work(self, keywords, error, message):
        def never_read():
            raise AssertionError("the requests were read")
            yield

        with pytest.raises(error, match=message):
            pack_many(never_read(), progress=False, **keywords)

    def test_optimiser_keywords_reach_every_request(self):
        requests = [request(n + 3) for n in range(4)]
        keywords = {"optimise": True, "effort": 5000, "time_limit": None, "seed": 3}
        first = list(pack_many(requests, workers=2, progress=False, **keywords))
        assert first == list(pack_many(requests, workers=1, progress=False, **keywords))
        assert [json.loads(r)["summary"]["total_unplaced"] for r in first] == [0, 0, 0, 0]

    def test_a_refused_request_raises_with_its_index_after_the_good_ones(self):
        requests = [request(2), request(3), {"items": [{"Width": 1}]}, request(4)]
        results = pack_many(requests, workers=2, progress=False)
        assert len([next(results), next(results)]) == 2
        with pytest.raises(OrderError, match="request 2: item is missing") as caught:
            next(results)
        assert caught.value.index == 2
        with pytest.raises(
            OrderError, match="request 0: a request is a dict or JSON text, not int"
        ):
            list(pack_many([42], workers=1, progress=False))
        with pytest.raises(ValueError, match="at least 1"):
            list(pack_many([], workers=0))

    def test_a_request_past_its_timeout_raises_with_its_index_after_the_good_ones(self):
        requests = [request(2), endless_request(), request(3)]
        results = pack_many(requests, workers=1, progress=False, timeout=0.3)
        assert next(results) == stowvex.solve(json.dumps(request(2)))
        with pytest.raises(PackingTimeout, match=r"^request 1: .* timeout of 0\.3 s") as caught:
            next(results)
        assert caught.value.timeout == 0.3
        with pytest.raises(ValueError, match="timeout applies to the exact engine"):
            list(pack_many(requests, optimise=True, timeout=1))

    def test_optimise_packs_with_the_optimiser(self):
        results = list(
            pack_many([request(5)], optimise=True, workers=1, progress=False, time_limit=0.2)
        )
        assert json.loads(results[0])["summary"]["total_placed"] == 5

    def test_results_turn_into_dicts_and_a_summary(self):
        results = list(pack_many([request(3), request(40)], workers=1, progress=False))
        first = result_dict(results[0])
        assert first["summary"]["total_placed"] == 3
        assert result_dict({"id": 1, "result": first}) == first
        summary = summarise(results + ['{"id": 9, "error": "bad"}'])
        assert (summary.orders, summary.failures) == (3, 1)
        assert summary.placed + summary.unplaced == 43
        assert summary.box_count == sum(json.loads(r)["summary"]["box_count"] for r in results)
        assert 0 < summary.fill <= 100
        with pytest.raises(ValueError, match='no "boxes"'):
            result_dict('{"items": []}')


def nested(depth):
    value = []
    for _ in range(depth):
        value = [value]
    return value


class TestOneOrder:
    def test_text_dicts_and_parsed_values_give_the_result_of_solve(self):
        order = request(7)
        text = stowvex.solve(json.dumps(order))
        settings = PackSettings()
        assert pack_one(order, settings) == pack_one(json.dumps(order).encode(), settings)
        assert pack_one(order, settings) == Packed(text)
        values = pack_one(RequestValues(order["items"], order["boxes"]), settings)
        assert values == Packed(text, OrderFigures.of(json.loads(text)))

    @pytest.mark.parametrize(
        "order, message",
        [
            ({"items": [{"Width": 1}]}, "item is missing required field 'ItemCode'"),
            ('{"items": [', "[json.exception.parse_error.101]"),
            (42, "a request is a dict or JSON text, not int"),
            ({"items": [{"ItemCode": "A", "Width": math.nan}]}, "Out of range float values"),
            # CPython 3.15 names the stack it ran out of instead of the recursion limit.
            ({"items": nested(100_000)}, ("maximum recursion depth exceeded", "Stack overflow")),
            (RequestValues([{"ItemCode": "A"}], []), "key 'Depth' not found"),
        ],
    )
    def test_every_fault_an_order_can_cause_comes_back_as_its_message(self, order, message):
        outcome = pack_one(order, PackSettings())
        messages = message if isinstance(message, tuple) else (message,)
        assert isinstance(outcome, Failed) and any(m in outcome.message for m in messages)

    def test_what_is_no_fault_of_the_order_passes(self, monkeypatch):
        def interrupted(self, request_json):
            raise KeyboardInterrupt

        monkeypatch.setattr(PackSettings, "solve", interrupted)
        with pytest.raises(KeyboardInterrupt):
            pack_one(request(1), PackSettings())

    def test_a_batch_line_nested_too_deeply_fails_alone(self):
        line, figures = pack_order(
            ("json", 3, b"[" * 100_000 + b"]" * 100_000, None), BatchSettings()
        )
        assert figures is None
        record = json.loads(line)
        assert record["id"] is None
        assert record["error"] == "line 3: not valid JSON: nested too deeply"


class TestCsvReading:
    def test_header_quantities_and_order_grouping(self):
        rows = [
            "order_id,item_code,width,length,depth,weight,quantity,rotation",
            "1,A,1,2,3,0.5,3,never",
            "1,B,1,1,1,,,",
            "2,C,4,4,4,1,1",
        ]
        tasks = list(csv_orders(rows))
        assert [(t[0], t[2]) for t in tasks] == [("csv", "1"), ("csv", "2")]
        items = csv_items(tasks[0][3])
        assert [i["ItemCode"] for i in items] == ["A", "A", "A", "B"]
        assert items[0]["AllowedRotation"] == "never" and items[3]["Weight"] == 0.0
        assert "AllowedRotation" not in items[3]

    @pytest.mark.parametrize(
        "row, message",
        [
            ("1,A,1,2", "4 columns"),
            ("1,,1,2,3,0,1", "item_code is empty"),
            ("1,A,1,2,nan,0,1", "not a finite number"),
            ("1,A,1,2,3,0,0", "quantity 0 is not between 1"),
            ("1,A,1,2,3,0,1e9", "quantity '1e9' is not a whole number"),
            ("1,A,1,2,3,0,100001", "not between 1 and 100000"),
        ],
    )
    def test_bad_rows_name_the_line_and_column(self, row, message):
        with pytest.raises(ValueError, match=message):
            csv_items([(5, row.split(","))])


def children(pid):
    """The processes whose parent is `pid` (read from /proc)."""
    found = []
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                stat = (entry / "stat").read_text()
            except OSError:
                continue
            if int(stat.rsplit(")", 1)[1].split()[1]) == pid:
                found.append(int(entry.name))
    return found


def running(pid):
    """Whether a process runs (a zombie, ended but not yet reaped, does not)."""
    try:
        return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def pool_workers(pid, timeout=60.0):
    """The worker processes of the process pool of process `pid`: the children of its
    forkserver. Waits until there are some."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for child in children(pid):
            try:
                command = Path(f"/proc/{child}/cmdline").read_bytes()
            except OSError:
                continue
            if b"forkserver" in command and children(child):
                return children(child)
        time.sleep(0.05)
    raise AssertionError("no pool workers appeared")


def slow_orders(count, items=300):
    """Orders of a second or so each: one box type of many weighted items."""
    return [
        json.dumps(
            {"id": f"slow-{n}", **json.loads(large_orders.one_type_request(items, "1.1", n))}
        )
        for n in range(count)
    ]


def start_batch(*args, env=None):
    return subprocess.Popen(
        [STOWVEX, "batch", *map(str, args)],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        env=env,
    )


class TestCsvColumns:
    def test_columns_are_read_by_their_header_names_in_any_order(self, tmp_path):
        # The header of a new user's file: quantity and weight before the sizes.
        source = tmp_path / "lines.csv"
        source.write_text(
            "order_id,item_code,quantity,weight,width,length,depth\n"
            "A,MUG,12,0.4,8,8,10\n"
            "B,BOOK,1,,15,21,3\n"
        )
        out = tmp_path / "r.jsonl"
        proc = run("batch", source, "--boxes", CARTONS, "-o", out, "--workers", "1")
        assert proc.returncode == 0, proc.stderr
        first, second = canonical(out)
        placed = first["result"]["placements"]
        assert len(placed) == 12
        assert all(
            sorted((p["original_width"], p["original_length"], p["original_depth"]))
            == [8.0, 8.0, 10.0]
            and p["weight"] == 0.4
            for p in placed
        )
        assert second["result"]["placements"][0]["weight"] == 0.0

    def test_optional_columns_and_other_spellings(self):
        rows = [
            "\ufeffOrder ID,Item-Code,Depth,Width,Length,Allowed_Rotation,Box Group,item_reference",
            "7,A,3,1,2,never,g1,the A",
            "7,B,1,1,1",
        ]
        (task,) = csv_orders(rows)
        items = csv_items(task[3])
        assert items[0] == {
            "ItemCode": "A",
            "Width": 1.0,
            "Length": 2.0,
            "Depth": 3.0,
            "Weight": 0.0,
            "AllowedRotation": "never",
            "ItemReference": "the A",
            "BoxGroup": "g1",
        }
        assert items[1] == {
            "ItemCode": "B",
            "Width": 1.0,
            "Length": 1.0,
            "Depth": 1.0,
            "Weight": 0.0,
        }

    @pytest.mark.parametrize(
        "header, fragment",
        [
            ("order_id,item_code,width,length,depth,colour", "unknown column 'colour'"),
            ("order_id,item_code,width,lenght,depth", "did you mean 'length'?"),
            ("order_id,item_code,width,length", "required column 'depth' is missing"),
            ("order_id,item_code,width,length,depth,width", "'width' is named twice"),
            ("A,x,1,2,3,,1", "the first row must name the columns"),
            ("", "no header row"),
        ],
    )
    def test_a_header_that_is_no_use_is_refused_before_packing(self, tmp_path, header, fragment):
        source = tmp_path / "lines.csv"
        source.write_text(header + "\nA,x,1,2,3\n" if header else "")
        out = tmp_path / "r.jsonl"
        proc = run("batch", source, "--boxes", CARTONS, "-o", out)
        assert proc.returncode == 2 and fragment in proc.stderr and "Traceback" not in proc.stderr
        assert not out.exists()

    def test_an_unreadable_row_fails_its_order_alone_with_its_line(self, tmp_path):
        rows = [b"order_id,item_code,width,length,depth"]
        rows += [f"O{n},A,1,1,1".encode() for n in range(1, 2100)]
        rows[2001] = b"O2001,A\xff,1,1,1"  # a byte that is not UTF-8, in line 2,002
        rows[30] = b"O30,A," + b"9" * 200_000 + b",1,1"  # a field over the reader's limit
        rows[40] = b"\xfe\xfe,A,1,1,1"  # the order id itself cannot be read
        rows[50] = b"O50,A,1,1,1,1,1,never,ref,group,extra"
        source = tmp_path / "lines.csv"
        source.write_bytes(b"\n".join(rows) + b"\n")
        out = tmp_path / "r.jsonl"
        proc = run("batch", source, "--boxes", CARTONS, "-o", out, "--no-progress")
        assert proc.returncode == 1, proc.stderr
        records = canonical(out)
        errors = [(r["id"], r["error"]) for r in records if "error" in r]
        # A row whose order id cannot be read fails alone, with no id.
        assert errors == [
            (None, "line 31: not readable CSV: a field is longer than 131,072 characters"),
            (None, "line 41: not UTF-8 text"),
            ("O50", "line 51: 11 cells, but the header names 5 columns"),
            ("O2001", "line 2002: not UTF-8 text"),
        ]
        assert len(records) == 2099
        assert "failed 4" in proc.stdout

    def test_a_json_line_with_the_mark_of_utf16_is_not_utf8(self, tmp_path):
        source = tmp_path / "orders.jsonl"
        source.write_bytes(b'{"id": 1, "items": []}\n\xff\xfe{"id": 2}\n')
        out = tmp_path / "r.jsonl"
        assert run("batch", source, "--boxes", CARTONS, "-o", out).returncode == 1
        assert canonical(out)[1] == {
            "id": None,
            "error": "line 2: not UTF-8 text (invalid start byte at byte 1)",
        }

    def test_a_huge_quantity_is_stopped_by_the_order_timeout(self, tmp_path):
        source = tmp_path / "lines.csv"
        source.write_text(
            "order_id,item_code,width,length,depth,weight,quantity\n"
            "BIG,A,50,60,70,1,100000\n"  # minutes of packing: some thousand boxes
            "S,B,1,1,1,0,1\n"
        )
        out = tmp_path / "r.jsonl"
        started = time.monotonic()
        proc = run("batch", source, "--boxes", CARTONS, "-o", out, "--timeout", "1")
        assert time.monotonic() - started < 60
        assert proc.returncode == 1, proc.stderr
        big, small = canonical(out)
        assert big == {
            "id": "BIG",
            "error": "the packing ran past its timeout of 1 s and was stopped",
        }
        assert small["result"]["summary"]["total_placed"] == 1


class TestStrictBatch:
    def test_orders_with_findings_get_error_lines_and_no_check_packs_them(self, tmp_path):
        item = {"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1}
        orders = [
            {"id": "ok", "items": [item]},
            {"id": "typo", "Items": [item]},
            {"id": "word", "items": [dict(item, AllowedRotation="upright")]},
        ]
        source = tmp_path / "orders.jsonl"
        source.write_text("\n".join(map(json.dumps, orders)) + "\n")
        out = tmp_path / "r.jsonl"
        proc = run("batch", source, "--boxes", CARTONS, "-o", out)
        assert proc.returncode == 1
        ok, typo, word = canonical(out)
        assert "result" in ok
        assert typo["error"].startswith("line 2: the request check found 1 finding")
        assert "request, Items: unknown key" in typo["error"]
        assert "item 0 'A', AllowedRotation: 'upright'" in word["error"]
        assert "2 of 3 orders failed" in proc.stdout
        unchecked = tmp_path / "u.jsonl"
        proc = run("batch", source, "--boxes", CARTONS, "-o", unchecked, "--no-check")
        assert proc.returncode == 0 and all("result" in r for r in canonical(unchecked))

    def test_an_engine_error_of_an_order_names_its_place(self, tmp_path):
        source = tmp_path / "orders.jsonl"
        source.write_text(
            json.dumps(
                {"id": 1, "items": [{"ItemCode": "A", "Width": 1, "Length": "2", "Depth": 1}]}
            )
            + "\n"
        )
        out = tmp_path / "r.jsonl"
        run("batch", source, "--boxes", CARTONS, "-o", out, "--no-check")
        assert canonical(out)[0]["error"] == (
            "[json.exception.type_error.302] type must be number, but is string "
            '(at items[0].Length: must be number, not string ("2"))'
        )


class TestPoolFaults:
    def test_a_killed_worker_ends_pack_many_with_an_exception(self):
        requests = [request(5)] * 3 + [json.loads(r) for r in slow_orders(6, 400)]
        results = []

        def kill_a_worker():
            os.kill(pool_workers(os.getpid())[0], signal.SIGKILL)

        raised = []

        def consume():
            try:
                results.extend(pack_many(requests, workers=2, progress=False))
            except BrokenProcessPool as error:
                raised.append(error)

        killer = threading.Timer(1.0, kill_a_worker)
        killer.start()
        consumer = threading.Thread(target=consume, daemon=True)
        consumer.start()
        consumer.join(timeout=90)  # a pool that waits for its dead worker never returns
        killer.join()
        assert not consumer.is_alive(), "pack_many hangs after a worker was killed"
        assert len(raised) == 1 and "ended unexpectedly" in str(raised[0])
        assert results == [stowvex.solve(json.dumps(r)) for r in requests[: len(results)]]

    def test_a_killed_worker_loses_no_order_of_a_batch(self, tmp_path):
        lines = slow_orders(10)
        source = tmp_path / "orders.jsonl"
        source.write_text("\n".join(lines) + "\n")
        out = tmp_path / "r.jsonl"
        proc = start_batch(source, "-o", out, "--workers", "2", "--no-progress")
        workers = pool_workers(proc.pid)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and not (out.exists() and out.stat().st_size):
            time.sleep(0.05)
        os.kill(workers[0], signal.SIGKILL)  # busy with an order now, as both are
        try:
            stdout, stderr = proc.communicate(timeout=120)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.communicate()
            pytest.fail("the batch never ended after a worker was killed")
        assert proc.returncode == 0, stderr
        records = canonical(out)
        assert [r["id"] for r in records] == [json.loads(line)["id"] for line in lines]
        for line, record in zip(lines[:3], records):
            assert record["result"] == json.loads(stowvex.solve(line))
        assert "orders: 10; packed 10, failed 0" in stdout

    def test_an_order_whose_worker_dies_twice_fails_alone(self, monkeypatch):
        from stowvex_tools import batch_lines, process_pool

        tasks = [("json", n, json.dumps({"id": n, **request(2)}).encode(), None) for n in (1, 2)]
        failing = process_pool._Pool.submit

        def broken(self, chunk):
            if chunk[0][0][1] == 2:  # the order of line 2 kills every worker it reaches
                future = process_pool.Future()
                future.set_exception(BrokenProcessPool("gone"))
                return future
            return failing(self, chunk)

        monkeypatch.setattr(process_pool._Pool, "submit", broken)
        results = list(
            process_pool.ordered_map(
                batch_lines.pack_orders,
                [[task] for task in tasks],
                BatchSettings(),
                workers=2,
                largest_chunk=1,
                lost=batch_lines.lost_orders,
            )
        )
        lines = [json.loads(line) for lines, _ in results for line in lines.splitlines()]
        assert "result" in lines[0]
        assert lines[1] == {"id": 2, "error": "line 2: " + batch_lines.LOST_ORDER}


class TestOutputSafety:
    def test_a_second_batch_on_an_output_in_use_is_refused(self, tmp_path):
        lines = slow_orders(6)
        source = tmp_path / "orders.jsonl"
        source.write_text("\n".join(lines) + "\n")
        other = tmp_path / "other.json"
        other.write_text(json.dumps([{"Reference": "X", "Width": 99, "Length": 99, "Depth": 99}]))
        out = tmp_path / "r.jsonl"
        first = start_batch(source, "-o", out, "--workers", "1", "--no-progress")
        deadline = time.monotonic() + 60
        while not out.exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        second = run("batch", source, "--boxes", other, "-o", out, "--workers", "1")
        _, stderr = first.communicate(timeout=120)
        assert second.returncode == 2, second.stderr
        assert "in use by another stowvex batch" in second.stderr
        assert first.returncode == 0, stderr
        assert [r["id"] for r in canonical(out)] == [json.loads(line)["id"] for line in lines]

    def test_a_request_written_over_many_lines_is_refused_with_a_hint(self, tmp_path):
        source = tmp_path / "order.jsonl"
        source.write_text(json.dumps(request(2), indent=2))
        out = tmp_path / "r.jsonl"
        proc = run("batch", source, "-o", out)
        assert proc.returncode == 2 and "one JSON document over many lines" in proc.stderr
        assert "stowvex pack" in proc.stderr and not out.exists()
        source.write_text(CARTONS.read_text())  # the catalogue given as the orders
        proc = run("batch", source, "--boxes", CARTONS, "-o", out)
        assert proc.returncode == 2 and "a list over many lines" in proc.stderr

    def test_an_output_in_a_missing_folder_is_a_one_line_error(self, tmp_path):
        source = tmp_path / "orders.jsonl"
        source.write_text(json.dumps({"id": 1, **request(1)}) + "\n")
        proc = run("batch", source, "-o", tmp_path / "no" / "r.jsonl")
        assert proc.returncode == 2 and "Traceback" not in proc.stderr
        assert proc.stderr.strip().splitlines() == [
            f"stowvex: error: {tmp_path / 'no' / 'r.jsonl'}: cannot write: "
            "No such file or directory"
        ]

    def test_a_full_disk_keeps_every_complete_line(self, tmp_path, monkeypatch, capsys):
        from stowvex_tools import batch, cli

        source = tmp_path / "orders.jsonl"
        source.write_text("\n".join(json.dumps({"id": n, **request(2)}) for n in range(20)) + "\n")
        out = tmp_path / "r.jsonl"
        real_write = batch._write
        blocks = []

        def filling(handle, data):
            blocks.append(data)
            if len(blocks) == 3:
                real_write(handle, data[: len(data) // 2])  # half a block, then the disk is full
                raise OSError(errno.ENOSPC, "No space left on device")
            real_write(handle, data)

        monkeypatch.setattr(batch, "_write", filling)
        status = cli.main(["batch", str(source), "-o", str(out), "--workers", "1", "--no-progress"])
        err = capsys.readouterr().err
        assert status == 2 and "Traceback" not in err
        assert "No space left on device; every complete line written is kept" in err
        written = out.read_bytes()
        assert written == b"".join(blocks[:2]) and written.endswith(b"\n")
        monkeypatch.setattr(batch, "_write", real_write)
        assert cli.main(["batch", str(source), "-o", str(out), "--workers", "1"]) == 0
        assert [r["id"] for r in canonical(out)] == list(range(20))

    def test_spool_folders_of_killed_batches_are_removed(self, tmp_path):
        spools = tmp_path / "tmp"
        spools.mkdir()
        env = {**os.environ, "TMPDIR": str(spools)}
        source = tmp_path / "orders.jsonl"
        source.write_text("\n".join(slow_orders(8)) + "\n")
        proc = start_batch(source, "-o", tmp_path / "r.jsonl", "--workers", "2", env=env)
        workers = pool_workers(proc.pid)
        proc.kill()
        _, stderr = proc.communicate(timeout=60)  # every worker has let go of the pipe
        assert "Traceback" not in stderr and "BrokenPipe" not in stderr
        deadline = time.monotonic() + 30
        while any(running(pid) for pid in workers) and time.monotonic() < deadline:
            time.sleep(0.05)
        assert not any(running(pid) for pid in workers)
        (left,) = spools.glob("stowvex-batch-*")
        (spools / "stowvex-batch-old").mkdir()  # one of an earlier version, long untouched
        os.utime(spools / "stowvex-batch-old", (0, 0))
        proc = start_batch(source, "-o", tmp_path / "r.jsonl", "--workers", "2", env=env)
        proc.communicate(timeout=120)
        assert proc.returncode == 0
        assert list(spools.glob("stowvex-batch-*")) == []
        assert not left.exists()
