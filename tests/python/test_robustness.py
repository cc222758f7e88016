"""Arbitrary input at the three entry functions: a result or a documented error, never worse."""

import faulthandler
import json
import math
from collections import Counter

import pytest
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st

import stowvex
from stowvex import Box, Item, Rotation

KEYS = [
    "items",
    "boxes",
    "ItemCode",
    "ItemReference",
    "Width",
    "Length",
    "Depth",
    "Weight",
    "AllowedRotation",
    "BoxGroup",
    "Reference",
    "BoxWeight",
    "MaxWeight",
    "MaximumBoxes",
    "Active",
]
texts = st.text(st.characters(exclude_categories=()), max_size=8)  # lone surrogates too
numbers = st.one_of(st.integers(), st.floats(), st.sampled_from([2**31, -(2**63), 2**64, 1e308]))
scalars = st.one_of(st.none(), st.booleans(), numbers, texts, st.sampled_from(KEYS))
values = st.recursive(
    scalars,
    lambda inner: st.one_of(
        st.lists(inner, max_size=5),
        st.dictionaries(st.sampled_from(KEYS) | texts, inner, max_size=6),
    ),
    max_leaves=30,
)
SMALL = '{"items": [{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1}], "boxes": []}'
SMALL_RESULT = stowvex.solve(SMALL)
fuzz = settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])


@pytest.fixture(autouse=True)
def hang_guard():
    # Packing holds the interpreter lock, so only a C-level watchdog can stop a hang.
    faulthandler.dump_traceback_later(120, exit=True)
    yield
    faulthandler.cancel_dump_traceback_later()
    assert stowvex.solve(SMALL) == SMALL_RESULT  # still usable after whatever happened


def documented(error):
    """The errors a caller is told to expect; exact types, so no subclass slips through."""
    if type(error) is RuntimeError:
        return str(error).startswith("[json.exception.")
    return type(error) in (ValueError, TypeError)


@fuzz
@given(
    st.one_of(
        values.map(json.dumps),
        texts,
        st.binary(max_size=40),
        values.map(lambda v: json.dumps(v)[:-1]),
    )
)
@example(b'{"items": [{"ItemCode": "\xff"}]}')
@example("[" * 100000 + "]" * 100000)
@example('{"items": [{"ItemCode": "A", "Width": 1e400, "Length": 1, "Depth": 1}]}')
def test_solve_takes_any_text(text):
    try:
        result = stowvex.solve(text)
    except Exception as error:
        assert documented(error), repr(error)
    else:
        assert isinstance(json.loads(result)["success"], bool)


@fuzz
@given(values, values)
@example([{"ItemCode": "A", "Width": 10**5000, "Length": 1, "Depth": 1}], [])
def test_pack_dicts_takes_any_value(items, boxes):
    try:
        result = stowvex.pack_dicts(items, boxes)
    except Exception as error:
        assert documented(error), repr(error)
    else:
        json.loads(result.to_json())


def test_pack_dicts_passes_on_what_json_dumps_raises():
    deep = []
    for _ in range(10000):
        deep = [deep]
    loop = []
    loop.append(loop)
    # json.dumps of deep nesting fails before 3.14; from then on the reader refuses the list.
    for value, error in (
        (deep, (RecursionError, ValueError)),
        ([loop], ValueError),
        ([b"bytes"], TypeError),
        ({(1, 2): 3}, TypeError),
    ):
        with pytest.raises(error):
            stowvex.pack_dicts(value, [])


odd = st.one_of(
    st.floats(),
    st.sampled_from([0.0, -0.0, -1.0, math.inf, -math.inf, math.nan]),
    st.floats(0.5, 20),
)


@fuzz
@given(
    st.lists(
        st.tuples(
            odd,
            odd,
            odd,
            odd,
            st.sampled_from(["", "G"]),
            st.sampled_from(list(Rotation.__members__.values()) + [Rotation(7)]),
        ),
        max_size=10,
    ),
    st.lists(st.tuples(odd, odd, odd, odd, odd, st.sampled_from([None, -1, 0, 1])), max_size=3),
)
def test_pack_places_every_item_exactly_once_whatever_the_measures(item_args, box_args):
    items = [
        Item(f"I{n}", "", w, l, d, kg, group, rot)
        for n, (w, l, d, kg, group, rot) in enumerate(item_args)
    ]
    items += items[:2]  # the same objects twice count as two items
    boxes = [
        Box(f"B{n}", w, l, d, max_kg, empty_kg, True, qty)
        for n, (w, l, d, max_kg, empty_kg, qty) in enumerate(box_args)
    ]
    result = stowvex.pack(items, boxes)
    seen = Counter(id(p.item) for b in result.boxes for p in b.items)
    seen.update(id(i) for i in result.unplaced_items)
    assert seen == Counter(id(i) for i in items)
    assert result.success == (result.total_unplaced == 0)
    json.loads(result.to_json())
    result.to_dict()
