"""stowvex_tools.solve, pack and pack_dicts: the very results and errors of the designed
functions, the interpreter lock released while they pack, timeouts, Ctrl-C and threads."""

import json
import math
import pickle
import random
import signal
import subprocess
import sys
import textwrap
import threading
import time
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

TOOLS = SimpleNamespace(solve=stowvex_tools.solve)
ROTATIONS = {"never": stowvex.Rotation.NEVER, "keepflat": stowvex.Rotation.KEEP_FLAT}


def outcome(call, *args):
    """What a call gives: its value, or the type and message of its error."""
    try:
        return call(*args)
    except Exception as error:
        return f"error {type(error).__name__}: {error}"


def endless_request():
    """A request the engine packs for many minutes (3,000 items, two boxes of one type)."""
    return large_orders.one_type_request(3000, "1.1", 1)


def objects(request):
    """The stowvex.Item and stowvex.Box objects of a request's text, read as the engine
    reads it: an absent or null member takes its default."""

    def member(value, key, default):
        return default if value.get(key) is None else value[key]

    value = json.loads(request)
    items = [
        stowvex.Item(
            i["ItemCode"],
            member(i, "ItemReference", i["ItemCode"]),
            i["Width"],
            i["Length"],
            i["Depth"],
            member(i, "Weight", 0),
            member(i, "BoxGroup", ""),
            ROTATIONS.get(member(i, "AllowedRotation", "").lower(), stowvex.Rotation.BEST_FIT),
        )
        for i in value["items"]
    ]
    boxes = [
        stowvex.Box(
            b["Reference"],
            b["Width"],
            b["Length"],
            b["Depth"],
            max_weight=member(b, "MaxWeight", -1),
            empty_weight=member(b, "BoxWeight", 0),
            active=member(b, "Active", True),
            max_quantity=b.get("MaximumBoxes"),
        )
        for b in value["boxes"]
    ]
    return items, boxes


class TestTheDesignedResultsAndErrors:
    def test_solve_gives_the_text_or_the_error_of_stowvex_solve_on_the_corpus_sample(self):
        for k in range(0, corpus.CASE_COUNT, corpus.QUICK_STRIDE):
            request = corpus.generated_request(k)
            expected = corpus.solve_outcome(stowvex, request)
            assert corpus.solve_outcome(TOOLS, request) == expected, f"case {k}"
            if k % 128 == 0:  # the text as bytes and with a timeout that does not pass
                data = request.encode("utf-8")
                assert outcome(stowvex_tools.solve, data) == outcome(stowvex.solve, data)
                bounded = outcome(lambda r: stowvex_tools.solve(r, timeout=600, threads=4), request)
                assert bounded == expected, f"case {k}"

    @pytest.mark.parametrize(
        "request_json",
        [
            5,
            None,
            ["{}"],
            {"items": []},
            "",
            "{",
            '{"items": [1]}',
            "{}\x00",
            "\ud800",
            b'{"items": [{"ItemCode": "\xff"}]}',
            bytearray(b'{"items": [], "boxes": []}'),
            memoryview(b"{}"),
            '{"items": [{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": "1"}]}',
        ],
    )
    def test_solve_raises_what_stowvex_solve_raises_for_malformed_input(self, request_json):
        assert outcome(stowvex_tools.solve, request_json) == outcome(stowvex.solve, request_json)

    def test_pack_dicts_gives_the_figures_or_the_error_of_stowvex_pack_dicts(self):
        checked = 0
        for k in range(0, corpus.CASE_COUNT, corpus.SAMPLE_STRIDE * 4):
            try:
                value = json.loads(corpus.generated_request(k))
            except ValueError:
                continue
            items = value.get("items") if isinstance(value, dict) else value
            boxes = value.get("boxes") if isinstance(value, dict) else None
            designed = outcome(stowvex.pack_dicts, items, boxes)
            tools = outcome(stowvex_tools.pack_dicts, items, boxes)
            if isinstance(designed, str):
                assert tools == designed, f"case {k}"
            else:
                assert tools.to_json(k % 9) == designed.to_json(k % 9), f"case {k}"
                assert tools.to_dict() == designed.to_dict()
                checked += 1
        assert checked > 50

    @pytest.mark.parametrize(
        ("items", "boxes"),
        [
            ([{"ItemCode": "A", "Width": math.nan, "Length": 1, "Depth": 1}], []),
            ([object()], []),
            ([{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1}], [{"Reference": 1}]),
            ([{"Width": 1}], [object()]),  # the items are read before the boxes are written
            ([{"ItemCode": "A"}], {"not": "a box"}),
            ({1: {"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1}}, None),
            ("items", 7),
            ([[[[]]]], []),
            ([{"ItemCode": "\ud800", "Width": 1, "Length": 1, "Depth": 1}], []),
            (iter([]), []),
            ([{"ItemCode": "A", "Width": 2**70, "Length": 1, "Depth": 1}], []),
            ([stowvex.Item("A", "A", 1, 1, 1, 1)], []),
        ],
    )
    def test_pack_dicts_raises_what_stowvex_pack_dicts_raises(self, items, boxes):
        designed = outcome(stowvex.pack_dicts, items, boxes)
        tools = outcome(stowvex_tools.pack_dicts, items, boxes)
        if isinstance(designed, str):
            assert tools == designed
        else:
            assert tools.to_json() == designed.to_json()

    def test_pack_gives_the_figures_of_stowvex_pack_and_refers_to_the_same_items(self):
        rng = random.Random(20260611)
        for _ in range(40):
            items = [
                stowvex.Item(
                    f"I{k}",
                    f"R{k}",
                    rng.uniform(1, 9),
                    rng.choice([1, 2.5, 4]),
                    rng.randint(1, 6),
                    rng.uniform(0, 20),
                    rng.choice(["", "", "", "G"]),
                    rng.choice(list(stowvex.Rotation.__members__.values())),
                )
                for k in range(rng.randint(0, 60))
            ]
            boxes = [
                stowvex.Box(
                    f"B{k}",
                    rng.randint(4, 14),
                    rng.randint(4, 14),
                    rng.randint(4, 14),
                    max_weight=rng.choice([-1, 80, 200]),
                    empty_weight=rng.choice([0, 1.5]),
                    active=rng.random() > 0.1,
                    max_quantity=rng.choice([None, None, 1, 3]),
                )
                for k in range(rng.randint(1, 4))
            ]
            designed = stowvex.pack(items, boxes)
            tools = stowvex_tools.pack(tuple(items), boxes)
            assert tools.to_json(2) == designed.to_json(2)
            placed = [p.item for box in tools.boxes for p in box.items] + list(tools.unplaced_items)
            assert all(any(item is given for given in items) for item in placed)

    @pytest.mark.parametrize(
        ("items", "boxes"),
        [
            ([None], []),
            ([], [None]),
            ("items", []),
            ([{"ItemCode": "A"}], []),
            ([stowvex.Box("B", 1, 1, 1)], []),
            ([], [stowvex.Item("A", "A", 1, 1, 1, 1)]),
            (5, None),
            ((item for item in []), []),
            ([stowvex.Item("A", "A", 1, 1, 1, 1), 3], [stowvex.Box("B", 1, 1, 1)]),
        ],
    )
    def test_pack_raises_what_stowvex_pack_raises(self, items, boxes):
        designed = outcome(stowvex.pack, items, boxes)
        tools = outcome(stowvex_tools.pack, items, boxes)
        if isinstance(designed, str):
            assert tools == designed
        else:
            assert tools.to_json() == designed.to_json()


class TestTimeouts:
    @pytest.mark.parametrize(
        ("keywords", "error"),
        [
            ({"timeout": 0}, ValueError),
            ({"timeout": -1.5}, ValueError),
            ({"timeout": math.nan}, ValueError),
            ({"timeout": math.inf}, ValueError),
            ({"timeout": 10**400}, ValueError),
            ({"timeout": "1"}, TypeError),
            ({"timeout": True}, TypeError),
            ({"threads": 0}, ValueError),
            ({"threads": 257}, ValueError),
            ({"threads": 2.0}, TypeError),
            ({"threads": False}, TypeError),
        ],
    )
    def test_a_timeout_or_threads_out_of_range_or_of_another_type_is_refused(self, keywords, error):
        for call, args in (
            (stowvex_tools.solve, ("{}",)),
            (stowvex_tools.pack, ([], [])),
            (stowvex_tools.pack_dicts, ([], [])),
        ):
            with pytest.raises(error, match=r"timeout|threads"):
                call(*args, **keywords)
        if "timeout" in keywords:
            with pytest.raises(error, match="timeout"):
                stowvex_tools.packing_work("{}", **keywords)

    def test_a_long_packing_stops_at_its_timeout_and_the_next_calls_pack_as_ever(self):
        request = endless_request()
        items, boxes = objects(request)
        value = json.loads(request)
        calls = [
            lambda: stowvex_tools.solve(request, timeout=0.2),
            lambda: stowvex_tools.pack(items, boxes, timeout=0.2),
            lambda: stowvex_tools.pack_dicts(value["items"], value["boxes"], timeout=0.2),
            lambda: stowvex_tools.packing_work(request, timeout=0.2),
        ]
        for call in calls:
            with pytest.raises(PackingTimeout, match=r"timeout of 0\.2 s") as stopped:
                call()
            assert isinstance(stopped.value, TimeoutError) and stopped.value.timeout == 0.2
        after = large_orders.groups_limits_request(300, 0)
        assert stowvex_tools.solve(after, timeout=600) == stowvex.solve(after)
        assert stowvex_tools.packing_work(after) == stowvex_tools.packing_work(after, timeout=600)

    def test_a_timeout_survives_pickling_with_its_limit_and_message(self):
        error = PackingTimeout(0.5, "request 3: too long")
        again = pickle.loads(pickle.dumps(error))
        assert type(again) is PackingTimeout and again.timeout == 0.5
        assert str(again) == "request 3: too long"
        assert "0.25 s" in str(pickle.loads(pickle.dumps(PackingTimeout(0.25))))


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
            at_once = list(pool.map(stowvex_tools.solve, requests))
            objects_at_once = list(pool.map(lambda r: stowvex_tools.pack(*objects(r)), requests))
        assert at_once == one_after_the_other
        assert [r.to_json(-1) for r in objects_at_once] == one_after_the_other

    def test_another_thread_runs_while_solve_packs(self):
        request = large_orders.groups_limits_request(500, 1)  # some seconds of packing
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
            result = stowvex_tools.solve(request)
            after = count
        finally:
            stop.set()
            thread.join()
        assert after > before
        assert result == stowvex.solve(request)


class TestSignalHandlers:
    """Handlers of signals run while a call packs on the main thread, as between two
    lines of Python; what one raises ends the call."""

    @pytest.fixture
    def alarms(self):
        """Yields what installs a SIGALRM handler, the alarm due in 20 ms and then every
        `interval` seconds (0: once)."""
        previous = signal.getsignal(signal.SIGALRM)

        def install(handler, interval):
            signal.signal(signal.SIGALRM, handler)
            signal.setitimer(signal.ITIMER_REAL, 0.02, interval)

        yield install
        signal.setitimer(signal.ITIMER_REAL, 0, 0)
        signal.signal(signal.SIGALRM, previous)

    def test_a_handler_that_packs_meanwhile_leaves_both_packings_exact(self, alarms):
        small = large_orders.groups_limits_request(60, 2)
        value = json.loads(small)
        expected_small = stowvex.solve(small)
        seen = []

        def handler(signum, frame):
            seen.append(stowvex_tools.solve(small) == expected_small)
            seen.append(stowvex_tools.pack_dicts(**value).to_json(-1) == expected_small)
            seen.append(stowvex.solve(small) == expected_small)

        request = large_orders.groups_limits_request(300, 0)
        alarms(handler, 0.02)
        result = stowvex_tools.solve(request)
        signal.setitimer(signal.ITIMER_REAL, 0, 0)
        assert len(seen) >= 6 and all(seen)
        assert result == stowvex.solve(request)

    def test_what_a_handler_raises_ends_the_packing_and_is_raised(self, alarms):
        class Alarm(Exception):
            pass

        def handler(signum, frame):
            raise Alarm("rang")

        endless = endless_request()
        alarms(handler, 0)
        with pytest.raises(Alarm, match="rang"):
            stowvex_tools.solve(endless)
        after = large_orders.groups_limits_request(100, 1)
        assert stowvex_tools.solve(after) == stowvex.solve(after)


# A script that packs the endless request, saying so first; Ctrl-C must end it.
INTERRUPTED = textwrap.dedent(
    """
    import sys
    sys.path.insert(0, {bench!r})
    import large_orders
    import stowvex_tools

    request = large_orders.one_type_request(3000, "1.1", 1)
    print("packing", flush=True)
    try:
        stowvex_tools.{call}
    except KeyboardInterrupt:
        print("interrupted", flush=True)
        print(stowvex_tools.solve('{{"items": [], "boxes": []}}'), flush=True)
        raise
    """
)


@pytest.mark.parametrize(
    "call",
    ["solve(request)", "pack_dicts(*__import__('json').loads(request).values())"],
)
def test_ctrl_c_interrupts_a_long_packing_with_keyboard_interrupt(call):
    script = INTERRUPTED.format(bench=str(ROOT / "bench"), call=call)
    proc = subprocess.Popen(
        [sys.executable, "-c", script], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True
    )
    assert proc.stdout is not None
    assert proc.stdout.readline() == "packing\n"
    time.sleep(0.5)
    start = time.monotonic()
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    assert time.monotonic() - start < 60
    assert "KeyboardInterrupt" in err
    assert out.splitlines() == ["interrupted", stowvex.solve('{"items": [], "boxes": []}')]
    assert proc.returncode != 0
