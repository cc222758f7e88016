"""The quick schema test agrees with the JSON Schema validator on every value JSON can
give: on requests built from the schema's own keys with values of every JSON type, on
the golden corpus, and on the edge cases of JSON's types (booleans are no numbers)."""

import json
import math
import sys
from pathlib import Path

import jsonschema
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from stowvex_tools.loading_rules import BOX_RULE_KEYS, ITEM_RULE_KEYS
from stowvex_tools.request_check import _plainly_valid as plainly_valid
from stowvex_tools.request_check import request_schema

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "golden"))
import corpus

VALIDATOR = jsonschema.Draft202012Validator(request_schema())
RULE_KEYS = set(ITEM_RULE_KEYS) | set(BOX_RULE_KEYS)
ITEM_RULES = list(request_schema()["$defs"]["item"]["properties"])
BOX_RULES = list(request_schema()["$defs"]["box"]["properties"])

scalars = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(-(2**70), 2**70),
    st.floats(allow_nan=False, allow_infinity=False),
    st.text(max_size=4),
)
values = st.recursive(
    scalars,
    lambda inner: (
        st.lists(inner, max_size=2) | st.dictionaries(st.text(max_size=2), inner, max_size=2)
    ),
    max_leaves=4,
)


def element(rules):
    # Mostly the schema's keys with a value of the right or a wrong type, now and then
    # another key or a required key left out.
    keys = st.sampled_from([*rules, "Colour", "width"])
    return st.dictionaries(keys, st.one_of(scalars, values), max_size=len(rules) + 1)


def sound_element(rules, required):
    def fill(extra):
        return {**dict.fromkeys(required, 1), **extra}

    good = {
        "ItemCode": st.text(max_size=3),
        "Reference": st.text(max_size=3),
        "ItemReference": st.none() | st.text(max_size=3),
        "AllowedRotation": st.none() | st.text(max_size=3),
        "BoxGroup": st.none() | st.text(max_size=3),
        "MaximumBoxes": st.none() | st.booleans() | st.integers(-3, 3),
        "Active": st.none() | st.booleans(),
    }
    members = {key: good.get(key, st.integers(-5, 5) | st.floats(-5, 5)) for key in rules}
    return st.fixed_dictionaries({}, optional=members).map(fill)


def collection(strategy):
    return st.one_of(
        st.none(),
        st.lists(strategy, max_size=3),
        st.dictionaries(st.text(max_size=2), strategy, max_size=2),
        scalars,
    )


requests = st.dictionaries(
    st.sampled_from(["items", "boxes", "id", "Items", "box_costs"]),
    st.one_of(
        collection(element(ITEM_RULES)),
        collection(element(BOX_RULES)),
        collection(sound_element(ITEM_RULES, ("ItemCode", "Width", "Length", "Depth"))),
        collection(sound_element(BOX_RULES, ("Reference", "Width", "Length", "Depth"))),
    ),
    max_size=3,
)


def has_rule_key(request):
    """Whether an element of the request has a loading rule key, whose values the quick
    walk leaves to the validator (a valid one included)."""
    if not isinstance(request, dict):
        return False
    for key in ("items", "boxes"):
        value = request.get(key)
        members = value.values() if isinstance(value, dict) else value
        listed = isinstance(members, (list, type({}.values())))
        if listed and any(isinstance(e, dict) and RULE_KEYS & e.keys() for e in members):
            return True
    return False


@settings(max_examples=1500, deadline=None)
@given(st.one_of(requests, values))
def test_it_agrees_with_the_validator(request):
    valid = VALIDATOR.is_valid(request)
    if plainly_valid(request):
        assert valid
    elif not has_rule_key(request):
        assert not valid


def test_it_agrees_on_the_golden_corpus():
    passed = 0
    for index in range(0, corpus.CASE_COUNT, 5):
        try:
            request = json.loads(corpus.generated_request(index))
        except ValueError:
            continue
        assert plainly_valid(request) == VALIDATOR.is_valid(request), index
        passed += plainly_valid(request)
    assert passed > 1000


@pytest.mark.parametrize(
    "request_value, valid",
    [
        ({"items": [{"ItemCode": "A", "Width": True, "Length": 1, "Depth": 1}]}, False),
        (
            {
                "boxes": [
                    {"Reference": "B", "Width": 1, "Length": 1, "Depth": 1, "MaximumBoxes": True}
                ]
            },
            True,
        ),
        ({"boxes": [{"Reference": "B", "Width": 1, "Length": 1, "Depth": 1, "Active": 1}]}, False),
        ({"items": {"a": {"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1}}}, True),
        ({"items": None, "boxes": None, "id": [1, 2]}, True),
        ({"items": [{"ItemCode": "A", "Width": math.inf, "Length": 1, "Depth": 1}]}, True),
        ({"items": "none"}, False),
        ([], False),
    ],
)
def test_json_types_at_their_edges(request_value, valid):
    assert plainly_valid(request_value) is valid
    assert VALIDATOR.is_valid(request_value) is valid
