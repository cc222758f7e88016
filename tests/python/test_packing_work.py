"""stowvex_tools.packing_work: the engine's single-box packings on a request,
whatever form the request takes, per call even from many threads at once, and
the errors of stowvex.solve for bad input."""

import json
import threading
from pathlib import Path

import pytest

import stowvex
from stowvex_tools.packing_work import PackingWork, packing_work

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "request.json"


def cube(code):
    return {"ItemCode": code, "Width": 1, "Length": 1, "Depth": 1, "Weight": 1}


def bar(reference, slots, quantity=None):
    box = {"Reference": reference, "Width": slots, "Length": 1, "Depth": 1}
    if quantity is not None:
        box["MaximumBoxes"] = quantity
    return box


def test_counts_every_trial_of_the_driver():
    # The small type and the limited one are tried twice, then the small one
    # holds the last two; no move evens out three boxes of weights 3, 3 and 2.
    request = {"items": [cube(f"C{k}") for k in range(8)], "boxes": [bar("L", 3, 2), bar("U", 2)]}
    assert packing_work(request) == PackingWork(asked=5, packed=5)
    assert packing_work({"items": [], "boxes": [bar("U", 2)]}) == (0, 0)


def test_balancing_answers_most_of_what_it_asks_from_earlier_packings():
    text = EXAMPLE.read_text(encoding="utf-8")
    work = packing_work(text)
    assert isinstance(work.asked, int) and isinstance(work.packed, int)
    assert work.asked > work.packed > 0
    # Each call counts only its own run, in every form of the request.
    assert packing_work(text) == work
    assert packing_work(text.encode()) == work
    assert packing_work(json.loads(text)) == work


def test_calls_on_many_threads_count_only_their_own_run():
    text = EXAMPLE.read_text(encoding="utf-8")
    alone = packing_work(text)
    found = []

    def run():
        for _ in range(3):
            found.append(packing_work(text))

    threads = [threading.Thread(target=run) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert found == [alone] * 12


@pytest.mark.parametrize(
    "request_text",
    [
        "{",
        "",
        '{"items": [{"ItemCode": "A", "Width": "wide"}]}',
        '{"items": [{"ItemCode": 5, "Width": 1}]}',
        b"\xff",
        '{"items": [], "boxes": []} trailing',
    ],
)
def test_bad_input_raises_what_solve_raises(request_text):
    with pytest.raises(Exception) as solved:
        stowvex.solve(request_text)
    with pytest.raises(type(solved.value)) as counted:
        packing_work(request_text)
    assert str(counted.value) == str(solved.value)


def test_what_is_no_request_is_refused():
    with pytest.raises(TypeError):
        packing_work(5)
    with pytest.raises(ValueError):
        packing_work({"items": [{"ItemCode": "A", "Width": float("nan")}]})
