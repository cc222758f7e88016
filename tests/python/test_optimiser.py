"""The optimiser: every result passes the checker and is never worse than the
engine's; the same seed and effort give the same result; support, costs,
threads, time limits, the three forms and their argument checks."""

import json
import threading
import time

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import request_strategies
import stowvex
from stowvex import Box, Item, Rotation
from stowvex_tools import optimise, optimise_dicts, optimise_json, validate

ROTATIONS = {"Never": Rotation.NEVER, "KeepFlat": Rotation.KEEP_FLAT, "BestFit": Rotation.BEST_FIT}
sizes = st.one_of(st.integers(1, 6), st.sampled_from([0.5, 1.25, 2.5, 0.1, 0.3]))


@st.composite
def requests(draw):
    """Requests mixing box groups, weight and quantity limits, inactive types,
    every rotation freedom and, now and then, box costs."""
    request = draw(
        request_strategies.requests(
            sizes=sizes,
            weights=[0, 0.5, 1, 2.25, 6, -2.5],
            rotations=sorted(ROTATIONS),
            max_items=16,
            max_boxes=3,
            max_box_side=10,
        )
    )
    request["costs"] = None
    if draw(st.integers(0, 3)) == 0:
        request["costs"] = {
            b["Reference"]: draw(st.sampled_from([0, 1, 2.5, 40])) for b in request["boxes"]
        }
    return request


def objects(request):
    items = [
        Item(
            i["ItemCode"],
            i["ItemCode"],
            i["Width"],
            i["Length"],
            i["Depth"],
            i.get("Weight", 0),
            box_group=i.get("BoxGroup", ""),
            allowed_rotation=ROTATIONS[i.get("AllowedRotation", "BestFit")],
        )
        for i in request["items"]
    ]
    boxes = [
        Box(
            b["Reference"],
            b["Width"],
            b["Length"],
            b["Depth"],
            max_weight=b.get("MaxWeight", -1.0),
            empty_weight=b.get("BoxWeight", 0),
            active=b.get("Active", True),
            max_quantity=b.get("MaximumBoxes"),
        )
        for b in request["boxes"]
    ]
    return items, boxes


def rank(result, costs=None):
    """The objective as a key: smaller is better."""
    if costs is not None:
        return (-result.total_placed, sum(sorted(costs[b.box.reference] for b in result.boxes)))
    return (
        -result.total_placed,
        len(result.boxes),
        sum(sorted(b.box.inner_volume for b in result.boxes)),
    )


def random_order(n, seed):
    items = [
        Item(f"P{i}", "", 5 + (i * 7 + seed) % 23, 5 + (i * 11) % 17, 3 + (i * 5) % 13, 0.0)
        for i in range(n)
    ]
    return items, [Box("CARTON", 40, 30, 30)]


@settings(max_examples=80, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(requests(), st.sampled_from([0.0, 0.0, 0.5, 1.0]), st.integers(0, 3))
def test_results_pass_the_checker_and_never_lose_to_the_engine(request, support, seed):
    items, boxes = objects(request)
    costs = request["costs"]
    result = optimise(
        items,
        boxes,
        time_limit=None,
        effort=40_000,
        seed=seed,
        min_support=support,
        box_costs=costs,
    )
    assert validate(result, items, boxes, min_support=support) == []
    engine = stowvex.pack(items, boxes)
    if not validate(engine, items, boxes, min_support=support):
        assert rank(result, costs) <= rank(engine, costs)
        # The optimiser judges the engine's result by exact arithmetic, the checker
        # within a rounding step: where the two can differ, either result may stand.
        if rank(result, costs) == rank(engine, costs) and not borderline(engine, support):
            assert result.to_json() == engine.to_json()  # returned unchanged


def borderline(result, ratio, near=1e-9):
    """Whether exact arithmetic and arithmetic within a rounding step decide the
    support rule differently for some item: by what touches its base or by its share."""
    if ratio <= 0.0:
        return False
    for packed in result.boxes:
        placed = list(packed.items)
        for item in placed:
            if item.z == 0.0:
                continue
            exact = tolerant = 0.0
            for other in placed:
                if other is item:
                    continue
                top = other.z + other.depth
                if abs(top - item.z) > near * max(1.0, abs(item.z)):
                    continue
                dx = min(item.x + item.width, other.x + other.width) - max(item.x, other.x)
                dy = min(item.y + item.length, other.y + other.length) - max(item.y, other.y)
                area = max(0.0, dx) * max(0.0, dy)
                tolerant += area
                exact += area if top == item.z else 0.0
            base = item.width * item.length
            if (exact >= ratio * base) != (tolerant >= ratio * base - near * max(1.0, base)):
                return True
    return False


def test_same_seed_and_effort_give_the_same_result_on_any_number_of_threads():
    items, boxes = random_order(120, 1)
    results = {
        optimise(items, boxes, time_limit=None, effort=2_000_000, seed=9, threads=threads).to_json(
            -1
        )
        for threads in (1, 1, 3)
    }
    assert len(results) == 1
    result = optimise(items, boxes, time_limit=None, effort=2_000_000, seed=9, threads=3)
    assert validate(result, items, boxes) == []


def test_with_full_support_no_item_floats():
    # Rows and layers put C on A's layer, half over the lower B.
    items = [
        Item("A", "", 2, 1, 2, 0, allowed_rotation=Rotation.NEVER),
        Item("B", "", 2, 1, 1, 0, allowed_rotation=Rotation.NEVER),
        Item("C", "", 4, 1, 1, 0, allowed_rotation=Rotation.NEVER),
    ]
    boxes = [Box("BOX", 4, 1, 4)]
    assert [
        v.kind for v in validate(stowvex.pack(items, boxes), items, boxes, min_support=1.0)
    ] == ["support"]
    result = optimise(items, boxes, time_limit=None, effort=100_000, min_support=1.0)
    assert result.total_placed == 3
    assert validate(result, items, boxes, min_support=1.0) == []
    for box in result.boxes:
        for p in box.items:
            if p.z > 0:
                under = sum(
                    max(0.0, min(p.x + p.width, q.x + q.width) - max(p.x, q.x))
                    * max(0.0, min(p.y + p.length, q.y + q.length) - max(p.y, q.y))
                    for q in box.items
                    if q.z + q.depth == p.z
                )
                assert under == p.width * p.length


def test_a_small_time_limit_returns_promptly():
    items, boxes = random_order(3000, 2)
    start = time.perf_counter()
    result = optimise(items, boxes, time_limit=0.05)
    assert time.perf_counter() - start < 10.0  # generous: the limit is 0.05 s
    assert validate(result, items, boxes) == []


def test_results_are_the_engines_own_result_objects():
    request = {
        "items": [
            {"ItemCode": f"A{i}", "Width": 3, "Length": 2, "Depth": 1, "Weight": 1}
            for i in range(10)
        ]
        + [{"ItemCode": "K", "Width": 5, "Length": 5, "Depth": 5, "BoxGroup": "G"}],
        "boxes": [
            {"Reference": "B", "Width": 6, "Length": 5, "Depth": 6, "MaxWeight": 50, "BoxWeight": 1}
        ],
    }
    items, boxes = objects(request)
    result = optimise(items, boxes, time_limit=None, effort=100_000)
    assert isinstance(result, stowvex.PackResult)
    assert list(result.to_dict()) == list(stowvex.pack(items, boxes).to_dict())
    assert result.total_placed == sum(len(b) for b in result.boxes)
    assert result.overall_volume_utilisation > 0
    placed = {p.item.item_code: p.item for b in result.boxes for p in b.items}
    assert all(placed[i.item_code] is i for i in items if i.item_code in placed)
    # The three forms agree, and the JSON form is what to_json(-1) writes.
    text = optimise_json(json.dumps(request), time_limit=None, effort=100_000)
    assert text == result.to_json(-1)
    assert (
        optimise_dicts(request["items"], request["boxes"], time_limit=None, effort=100_000).to_json(
            -1
        )
        == text
    )
    assert optimise_json(json.dumps(request).encode(), time_limit=None, effort=100_000) == text


def test_costs_replace_fewest_boxes():
    items = [Item(f"A{i}", "", 1, 1, 1, 0, allowed_rotation=Rotation.NEVER) for i in range(6)]
    boxes = [Box("BIG", 6, 1, 1), Box("SMALL", 3, 1, 1)]
    fewest = optimise(items, boxes, time_limit=None, effort=100_000)
    assert [b.box.reference for b in fewest.boxes] == ["BIG"]
    cheapest = optimise(
        items, boxes, time_limit=None, effort=100_000, box_costs={"BIG": 10, "SMALL": 1.5}
    )
    assert [b.box.reference for b in cheapest.boxes] == ["SMALL", "SMALL"]


def test_the_search_lets_other_python_threads_run():
    items, boxes = random_order(400, 3)
    boxes = [Box("ONE", 40, 30, 30, max_quantity=1)]  # far from everything: no early end
    started = threading.Event()

    def search():
        started.set()
        optimise(items, boxes, time_limit=1.5)

    worker = threading.Thread(target=search)
    worker.start()
    started.wait()
    time.sleep(0.2)
    # Had the search kept the interpreter lock, this line would run only
    # after it returned.
    assert worker.is_alive()
    worker.join()


def test_input_errors_match_the_engines():
    with pytest.raises(RuntimeError, match=r"^\[json\.exception\.parse_error"):
        optimise_json("{not json", time_limit=0.1)
    with pytest.raises(ValueError, match="item is missing required field 'ItemCode'"):
        optimise_dicts([{"Width": 1}], [], time_limit=0.1)
    with pytest.raises(TypeError):
        optimise_dicts([object()], [], time_limit=0.1)  # json.dumps refuses it
    with pytest.raises(ValueError, match="item 'A' has a non-finite width"):
        optimise([Item("A", "", float("inf"), 1, 1, 0)], [Box("B", 1, 1, 1)], time_limit=0.1)
    with pytest.raises(ValueError, match="box_costs has no cost for box type 'B'"):
        optimise([], [Box("B", 1, 1, 1)], time_limit=0.1, box_costs={})


def refused(keywords, error, message):
    for call in (
        lambda: optimise([], [Box("B", 1, 1, 1)], **keywords),
        lambda: optimise_dicts(
            [], [{"Reference": "B", "Width": 1, "Length": 1, "Depth": 1}], **keywords
        ),
        lambda: optimise_json(
            '{"boxes": [{"Reference": "B", "Width": 1, "Length": 1, "Depth": 1}]}', **keywords
        ),
    ):
        with pytest.raises(error, match=message):
            call()


# The package converts every keyword to the type the extension takes and checks the
# integer ones, whose Python values may be of any size.
@pytest.mark.parametrize(
    "keywords, error, message",
    [
        ({"time_limit": "1"}, TypeError, "^time_limit must be a number, not str$"),
        ({"time_limit": True}, TypeError, "^time_limit must be a number, not bool$"),
        ({"effort": 0}, ValueError, "^effort must be from 1 to 18446744073709551615, not 0$"),
        ({"effort": 2**64}, ValueError, "^effort must be from 1 to 18446744073709551615, not"),
        ({"effort": 1.5}, TypeError, "^effort must be an int, not float$"),
        ({"seed": -1}, ValueError, "^seed must be from 0 to 18446744073709551615, not -1$"),
        ({"seed": None}, TypeError, "^seed must be an int, not NoneType$"),
        ({"threads": 0}, ValueError, "^threads must be from 1 to 256, not 0$"),
        ({"threads": 2**80}, ValueError, "^threads must be from 1 to 256, not 1208925"),
        ({"threads": 2.0}, TypeError, "^threads must be an int, not float$"),
        ({"min_support": "0"}, TypeError, "^min_support must be a number, not str$"),
        ({"box_costs": [("B", 1)]}, TypeError, "^box_costs must be a mapping"),
        ({"box_costs": {1: 1.0}}, TypeError, "^box_costs keys must be box references"),
        ({"box_costs": {"B": "1"}}, TypeError, r"^box_costs\['B'\] must be a number, not str$"),
        ({"time_limt": 1}, TypeError, "got an unexpected keyword argument 'time_limt'"),
    ],
)
def test_keywords_of_the_wrong_type_or_integer_range_are_refused(keywords, error, message):
    refused(keywords, error, message)


# The extension checks the ranges of the other settings, naming the value.
@pytest.mark.parametrize(
    "keywords, message",
    [
        ({"time_limit": 0}, "^time_limit must be a positive number of seconds, not 0$"),
        ({"time_limit": -0.5}, "^time_limit must be a positive number of seconds, not -0.5$"),
        (
            {"time_limit": float("inf")},
            "^time_limit must be a positive number of seconds, not inf$",
        ),
        ({"time_limit": 10**400}, "^time_limit must be a positive number of seconds, not inf$"),
        ({"time_limit": None}, "^give a time_limit or an effort: the search needs an end$"),
        ({"min_support": 1.01}, "^min_support must be between 0 and 1, not 1.01$"),
        ({"min_support": float("nan")}, "^min_support must be between 0 and 1, not nan$"),
        ({"box_costs": {"B": -1}}, r"^box_costs\['B'\] must be finite, 0 or more, not -1$"),
        ({"box_costs": {"B": 1e309}}, r"^box_costs\['B'\] must be finite, 0 or more, not inf$"),
        ({"box_costs": {"X": 1}}, "^box_costs names 'X', which is no box type"),
    ],
)
def test_settings_out_of_range_are_refused_with_their_value(keywords, message):
    refused(keywords, ValueError, message)


def test_the_error_names_the_function_called():
    with pytest.raises(TypeError, match=r"^optimise_json\(\) got an unexpected keyword"):
        optimise_json("{}", limit=1)
    with pytest.raises(TypeError, match=r"^optimise\(\) got an unexpected keyword"):
        optimise([], [], limit=1)
    with pytest.raises(TypeError, match="positional argument"):
        optimise_json("{}", 1.0)


@pytest.mark.parametrize(
    "items, boxes, message",
    [
        ("AB", [], "items must be a sequence of stowvex.Item, not str"),
        ([Item("A", "", 1, 1, 1, 0), None], [], r"items\[1\] must be a stowvex.Item, not NoneType"),
        ([], [Item("A", "", 1, 1, 1, 0)], r"boxes\[0\] must be a stowvex.Box, not Item"),
        ([], 5, "boxes must be a sequence of stowvex.Box, not int"),
    ],
)
def test_bad_sequences_are_refused(items, boxes, message):
    with pytest.raises(TypeError, match=message):
        optimise(items, boxes, time_limit=0.1)
    with pytest.raises(TypeError, match="request_json must be JSON text"):
        optimise_json({"items": []}, time_limit=0.1)  # type: ignore[arg-type]
