"""Packing on a Dask LocalCluster of two worker processes gives what solve and the batch
give on one machine."""

import json
import re
import sys
from pathlib import Path

import pytest

import stowvex
from stowvex_tools import PackingTimeout

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))

import large_orders

db = pytest.importorskip(
    "dask.bag", reason="Dask is an optional extra: pip install 'stowvex[dask]'"
)
distributed = pytest.importorskip("distributed")

from stowvex_tools.batch_lines import BatchSettings, pack_order  # noqa: E402
from stowvex_tools.dask import pack_bag, pack_lines, summarise_bag  # noqa: E402
from stowvex_tools.summary import summarise  # noqa: E402

BOXES = [
    {"Reference": "S", "Width": 5, "Length": 5, "Depth": 5, "MaxWeight": 12},
    {"Reference": "L", "Width": 9, "Length": 9, "Depth": 9},
]


def request(n):
    return {
        "items": [
            {"ItemCode": f"I{k}", "Width": 1 + k % 4, "Length": 2, "Depth": 3, "Weight": 1 + k % 2}
            for k in range(n)
        ],
        "boxes": BOXES,
    }


@pytest.fixture(scope="module")
def client():
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
    )
    with cluster, distributed.Client(cluster) as connected:
        yield connected


def test_pack_bag_gives_solve_results_in_order(client):
    requests = [request(n % 23 + 1) for n in range(60)]
    bag = db.from_sequence(requests, npartitions=6)
    assert pack_bag(bag).compute() == [stowvex.solve(json.dumps(r)) for r in requests]
    texts = db.from_sequence([json.dumps(r) for r in requests[:5]], npartitions=2)
    assert pack_bag(texts).compute() == [stowvex.solve(json.dumps(r)) for r in requests[:5]]


def test_pack_bag_fails_the_computation_on_a_refused_request(client):
    bag = db.from_sequence([request(2), {"items": [{"Width": 1}], "boxes": []}], npartitions=1)
    with pytest.raises(ValueError, match="item is missing required field 'ItemCode'"):
        pack_bag(bag).compute()


def test_a_request_past_its_timeout_fails_a_bag_and_is_an_error_line_of_a_batch(client):
    endless = large_orders.one_type_request(3000, "1.1", 1)  # many minutes of packing
    bag = db.from_sequence([request(2), endless], npartitions=1)
    with pytest.raises(PackingTimeout, match=r"timeout of 0\.3 s and was stopped \(request "):
        pack_bag(bag, timeout=0.3).compute()
    lines = db.from_sequence([json.dumps({"id": "a", **request(3)}), '{"id": "b", ' + endless[1:]])
    first, second = pack_lines(lines, timeout=0.3).compute()
    assert json.loads(first)["result"]["summary"]["total_placed"] == 3
    assert json.loads(second) == {
        "id": "b",
        "error": "the packing ran past its timeout of 0.3 s and was stopped",
    }


def test_pack_lines_matches_the_batch_and_records_failures(client, tmp_path):
    lines = [json.dumps({"id": n, **request(n % 9 + 1)}) for n in range(30)]
    lines[4] = '{"id": 4, "items": ['
    source = tmp_path / "orders.jsonl"
    source.write_text("\n".join(lines) + "\n")
    out = pack_lines(db.read_text(str(source), blocksize=2000))
    settings = BatchSettings()
    expected = [pack_order(("json", 0, line, None), settings)[0].rstrip("\n") for line in lines]
    got = out.compute()
    assert got[:4] + got[5:] == expected[:4] + expected[5:]
    broken = json.loads(got[4])
    assert broken["id"] is None
    assert re.fullmatch(r"line \d+: not valid JSON: .*", broken["error"])
    assert summarise_bag(out) == summarise(expected)
    catalogue = tmp_path / "boxes.json"
    catalogue.write_text(json.dumps(BOXES))
    bare = db.from_sequence(
        ['{"id": "x", "items": [{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1}]}']
    )
    record = json.loads(pack_lines(bare, boxes=str(catalogue)).compute()[0])
    assert record["result"]["boxes"][0]["box_reference"] == "S"


def test_pack_lines_takes_bytes_and_names_the_line_of_a_bad_order(client):
    good = json.dumps({"id": "g", **request(2)})
    lines = db.from_sequence(
        [good.encode(), b'{"id": "u", "items": [\xff]}', "", '{"id": 5, "items": ['], npartitions=1
    )
    records = [json.loads(line) for line in pack_lines(lines).compute()]
    assert records[0]["result"]["summary"]["total_placed"] == 2
    assert records[1]["error"].startswith("line 2: not UTF-8 text")
    assert records[2]["error"].startswith("line 4: not valid JSON")
    odd = db.from_sequence([good, 42], npartitions=1)
    assert json.loads(pack_lines(odd).compute()[1]) == {
        "id": None,
        "error": "line 2: an order line is text (str or bytes), not int",
    }
    checked = db.from_sequence([json.dumps({"id": "c", "Items": [], "boxes": BOXES})])
    error = json.loads(pack_lines(checked, check=True).compute()[0])["error"]
    assert "request, Items: unknown key" in error
