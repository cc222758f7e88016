"""stowvex_tools.solve, pack and pack_dicts: the very results and errors of the designed
functions, the interpreter lock released while they pack, timeouts, signals, threads."""

import json
import math
import pickle
import random
import signal
import sys
import threading
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path
from types import SimpleNamespace

import pytest

import stowvex
import stowvex_tools
from stowvex_tools import PackingTimeout

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "golden"))
sys.path.insert(0, str(ROOT / "bench"))

import corpus  # noqa: E402

import large_orders  # noqa: E402


def endless_request():
    """A request the engine packs for many minutes (3,000 items, two boxes of one type)."""
    return large_orders.one_type_request(3000, "1.1", 1)


def outcome(call, *args):
    """What a call gives: the result's JSON text, or the type and message of its error."""
    try:
        result = call(*args)
    except Exception as error:
        return f"error {type(error).__name__}: {error}"
    return result if isinstance(result, str) else result.to_json(2)


def item(k, rng):
    rotation = rng.choice(list(stowvex.Rotation.__members__.values()))
    sides = (rng.uniform(1, 9), rng.choice([1, 2.5, 4]), rng.randint(1, 6))
    return stowvex.Item(f"I{k}", f"R{k}", *sides, rng.uniform(0, 20), rng.choice("  G"), rotation)


def box(k, rng):
    sides = (rng.randint(4, 14), rng.randint(4, 14), rng.randint(4, 14))
    quantity = rng.choice([None, None, 1, 3])
    return stowvex.Box(f"B{k}", *sides, rng.choice([-1, 80]), 1.5, True, quantity)


class TestTheDesignedResultsAndErrors:
    def test_solve_gives_the_text_or_the_error_of_stowvex_solve(self):
        tools = SimpleNamespace(solve=stowvex_tools.solve)
        for k in range(0, corpus.CASE_COUNT, corpus.QUICK_STRIDE):
            request = corpus.generated_request(k)
            expected = corpus.solve_outcome(stowvex, request)
            assert corpus.solve_outcome(tools, request) == expected, f"case {k}"
            if k % 256 == 0:
                bounded = outcome(
                    lambda r: stowvex_tools.solve(r, timeout=600, threads=256), request
                )
                assert bounded == expected, f"case {k}"
        for bad in (5, None, ["{}"], "", "{}\x00", "\ud800", bytearray(b"[]"), memoryview(b"{}")):
            assert outcome(stowvex_tools.solve, bad) == outcome(stowvex.solve, bad)

    def test_pack_dicts_gives_the_figures_or_the_error_of_stowvex_pack_dicts(self):
        cases = [
            ([{"ItemCode": "A", "Width": math.nan, "Length": 1, "Depth": 1}], []),
            ([{"Width": 1}], [object()]),  # the items are read before the boxes are written
            ([{"ItemCode": "\ud800", "Width": 1, "Length": 1, "Depth": 1}], {"B": 1}),
            ({1: {"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1}}, None),
            (iter([]), []),
            ([stowvex.Item("A", "A", 1, 1, 1, 1)], []),
        ]
        for k in range(0, corpus.CASE_COUNT, 4 * corpus.SAMPLE_STRIDE):
            try:
                value = json.loads(corpus.generated_request(k))
            except ValueError:
                continue
            if isinstance(value, dict):
                cases.append((value.get("items"), value.get("boxes")))
        for items, boxes in cases:
            designed = outcome(stowvex.pack_dicts, items, boxes)
            assert outcome(stowvex_tools.pack_dicts, items, boxes) == designed, (items, boxes)

    def test_pack_gives_the_figures_of_stowvex_pack_for_the_very_items_or_its_error(self):
        rng = random.Random(20260611)
        for _ in range(30):
            items = [item(k, rng) for k in range(rng.randint(0, 60))]
            boxes = [box(k, rng) for k in range(rng.randint(1, 4))]
            result = stowvex_tools.pack(tuple(items), boxes)
            assert result.to_json(2) == stowvex.pack(items, boxes).to_json(2)
            placed = [p.item for b in result.boxes for p in b.items] + list(result.unplaced_items)
            assert {id(i) for i in placed} <= {id(i) for i in items}
        some = item(0, rng)
        for items, boxes in ([None], []), ("AB", []), ([some], [some]), ([some], [box(0, rng)]):
            assert outcome(stowvex_tools.pack, items, boxes) == outcome(stowvex.pack, items, boxes)
            expected = outcome(stowvex.pack, iter(items), iter(boxes))
            if not expected.startswith("error"):  # an error would name the iterators
                assert outcome(stowvex_tools.pack, iter(items), iter(boxes)) == expected


class TestTimeouts:
    def test_a_timeout_or_threads_out_of_range_or_of_another_type_is_refused(self):
        for keywords, error in (
            ({"timeout": 0}, ValueError),
            ({"timeout": math.nan}, ValueError),
            ({"timeout": True}, TypeError),
            ({"threads": 257}, ValueError),
            ({"threads": 2.0}, TypeError),
        ):
            for call, args in ((stowvex_tools.solve, ("{}",)), (stowvex_tools.pack, ([], []))):
                with pytest.raises(error, match=r"timeout|threads"):
                    call(*args, **keywords)

    def test_a_long_packing_stops_at_its_timeout_and_the_next_calls_pack_as_ever(self):
        request = endless_request()
        value = json.loads(request)
        items = [
            stowvex.Item(
                i["ItemCode"], i["ItemCode"], i["Width"], i["Length"], i["Depth"], i["Weight"]
            )
            for i in value["items"]
        ]
        boxes = [
            stowvex.Box(b["Reference"], b["Width"], b["Length"], b["Depth"], -1, b["BoxWeight"])
            for b in value["boxes"]
        ]
        for call in (
            lambda: stowvex_tools.solve(request, timeout=0.2),
            lambda: stowvex_tools.pack(items, boxes, timeout=0.2),
            lambda: stowvex_tools.pack_dicts(value["items"], value["boxes"], timeout=0.2),
            lambda: stowvex_tools.packing_work(request, timeout=0.2),
        ):
            with pytest.raises(PackingTimeout, match=r"timeout of 0\.2 s") as stopped:
                call()
            assert isinstance(stopped.value, TimeoutError) and stopped.value.timeout == 0.2
        again = pickle.loads(pickle.dumps(PackingTimeout(0.5, "request 3: too long")))
        assert (again.timeout, str(again)) == (0.5, "request 3: too long")
        after = large_orders.groups_limits_request(300, 0)
        assert stowvex_tools.solve(after, timeout=600) == stowvex.solve(after)
        assert stowvex_tools.packing_work(after) == stowvex_tools.packing_work(after, timeout=600)


class TestThreads:
    def test_two_threads_packing_at_once_get_what_one_after_the_other_gets(self):
        requests = [
            large_orders.groups_limits_request(300, 0),
            large_orders.many_boxes_request(600, 2),
            large_orders.six_types_request(300),
            large_orders.groups_limits_request(200, 3),
        ]
        one_after_the_other = [stowvex.solve(r) for r in requests]
        with ThreadPoolExecutor(2) as pool:
            assert list(pool.map(stowvex_tools.solve, requests)) == one_after_the_other

    def test_another_thread_runs_while_solve_packs(self):
        request = large_orders.groups_limits_request(500, 1)  # a second or more of packing
        count = 0
        stop = threading.Event()

        def counter():
            nonlocal count
            while not stop.is_set():
                count += 1

        thread = threading.Thread(target=counter)
        thread.start()
        try:
            before = count
            stowvex_tools.solve(request)
            after = count
        finally:
            stop.set()
            thread.join()
        assert after > before


class TestSignals:
    """Signal handlers run while a call packs on the main thread, as between two lines
    of Python; what one raises ends the call (Ctrl-C: test_cli.py)."""

    @pytest.fixture
    def alarms(self):
        """Installs a SIGALRM handler, the alarm due in 20 ms and then every `interval`
        seconds (0: once)."""
        previous = signal.getsignal(signal.SIGALRM)

        def install(handler, interval):
            signal.signal(signal.SIGALRM, handler)
            signal.setitimer(signal.ITIMER_REAL, 0.02, interval)

        yield install
        signal.setitimer(signal.ITIMER_REAL, 0, 0)
        signal.signal(signal.SIGALRM, previous)

    def test_a_handler_that_packs_meanwhile_leaves_both_packings_exact(self, alarms):
        small = large_orders.groups_limits_request(60, 2)
        expected = stowvex.solve(small)
        seen = []

        def handler(signum, frame):
            seen.append(stowvex_tools.solve(small) == expected)
            seen.append(stowvex_tools.pack_dicts(**json.loads(small)).to_json(-1) == expected)
            if len(seen) >= 4:
                # Enough: on a slow build (sanitizers) the handler's own packings can
                # take longer than the interval, and the call would never get on.
                signal.setitimer(signal.ITIMER_REAL, 0, 0)

        request = large_orders.groups_limits_request(300, 0)
        alarms(handler, 0.02)
        result = stowvex_tools.solve(request)
        signal.setitimer(signal.ITIMER_REAL, 0, 0)
        assert len(seen) >= 4 and all(seen)
        assert result == stowvex.solve(request)

    def test_what_a_handler_raises_ends_the_packing_and_is_raised(self, alarms):
        def handler(signum, frame):
            raise ArithmeticError("rang")

        endless = endless_request()
        alarms(handler, 0)
        with pytest.raises(ArithmeticError, match="rang"):
            stowvex_tools.solve(endless)
