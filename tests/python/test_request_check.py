"""Request checks: each kind of finding names its item or box and field; sound requests,
and what the engine reads, stay as they are."""

import json
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import stowvex
from request_strategies import requests
from stowvex_tools import check_request
from stowvex_tools.request_check import _plainly_valid, _validator

ROOT = Path(__file__).resolve().parents[2]
BOX = {"Reference": "B", "Width": 10, "Length": 10, "Depth": 10, "MaxWeight": 20, "BoxWeight": 1}


def item(code="A", w=1, l=2, d=3, **extra):
    return {"ItemCode": code, "Width": w, "Length": l, "Depth": d, **extra}


def found(request):
    return [str(f) for f in check_request(request)]


def test_sound_requests_have_no_findings():
    example = json.loads((ROOT / "examples" / "request.json").read_text(encoding="utf-8"))
    assert found(example) == []
    round_trip = stowvex.pack_dicts([item()], [BOX])
    written = {
        "items": [i.to_dict() for i in round_trip.unplaced_items] + [item("B")],
        "boxes": [stowvex.Box("B", 10, 10, 10).to_dict()],
        "id": 7,
    }
    assert found(written) == []  # the item and box forms of to_dict read back cleanly
    for word in ("never", "KEEP_FLAT", "keepflat", "BestFit", "best_fit"):
        assert found({"items": [item(AllowedRotation=word)], "boxes": [BOX]}) == []


class TestSchema:
    def test_unknown_keys_suggest_the_key_meant(self):
        request = {"Items": [item()], "items": [item(weight=2)], "boxes": [dict(BOX, Refrence="x")]}
        assert found(request) == [
            "request, Items: unknown key, which the engine ignores (did you mean 'items'?)",
            "item 0 'A', weight: unknown key, which the engine ignores (did you mean 'Weight'?)",
            "box 0 'B', Refrence: unknown key, which the engine ignores (did you mean "
            "'Reference'?)",
        ]

    def test_types_and_required_fields(self):
        findings = found(
            {
                "items": [{"Width": 1, "Length": 1, "Depth": 1}, item(w="10", Weight=True)],
                "boxes": [dict(BOX, Active=1, MaximumBoxes="2")],
                "id": None,
            }
        )
        assert "item 0: missing required field 'ItemCode'" in findings
        assert "item 1 'A', Width: must be number, not string (\"10\")" in findings
        assert "item 1 'A', Weight: must be number or null, not boolean (true)" in findings
        assert "box 0 'B', Active: must be boolean or null, not number (1)" in findings
        assert any(
            f.startswith("box 0 'B', MaximumBoxes: must be number or boolean or null")
            for f in findings
        )
        assert found([]) == ["request: must be object, not array ([])"]

    def test_items_given_as_an_object_are_named_by_their_key(self):
        assert found({"items": {"k": item(w=-1)}, "boxes": [BOX]}) == [
            "item k 'A', Width: size -1 is not a finite positive number"
        ]


class TestValues:
    @pytest.mark.parametrize(
        "entry, expected",
        [
            (item(l=0), "item 0 'A', Length: size 0 is not a finite positive number"),
            (item(d=float("inf")), "item 0 'A', Depth: size inf is not a finite positive number"),
            (item(Weight=-0.5), "item 0 'A', Weight: weight -0.5 is negative or not finite"),
            (
                item(AllowedRotation="upright"),
                "item 0 'A', AllowedRotation: 'upright' is not a rotation word the engine knows",
            ),
            (item(AllowedRotation="keep flat"), "'keep flat' is not a rotation word"),
            # The engine lowers ASCII letters only: to it the KELVIN SIGN is no "k".
            (item(AllowedRotation="\u212aeepFlat"), "'\u212aeepFlat' is not a rotation word"),
        ],
    )
    def test_odd_item_values(self, entry, expected):
        findings = found({"items": [entry], "boxes": [BOX]})
        assert (len(findings) == 1 and findings[0].startswith(expected)) or any(
            expected in f for f in findings
        ), findings

    def test_odd_box_values(self):
        findings = found({"items": [], "boxes": [dict(BOX, Width=0, BoxWeight=-1)]})
        assert findings == [
            "box 0 'B', Width: size 0 is not a finite positive number",
            "box 0 'B', BoxWeight: weight -1 is negative or not finite",
        ]


class TestFit:
    def test_items_that_fit_no_active_box_type(self):
        long_box = dict(BOX, Width=10, Length=4, Depth=4)
        boxes = [
            long_box,
            dict(BOX, Reference="OFF", Width=99, Active=False),
            dict(BOX, Reference="NONE", Width=99, MaximumBoxes=0.5),
        ]
        items = [
            item("SWAP", 4, 10, 4, AllowedRotation="KeepFlat"),
            item("UP", 4, 10, 4, AllowedRotation="never"),
            item("FLAT", 4, 4, 10, AllowedRotation="keep_flat"),
            item("TURNS", 4, 4, 10),
            item("HEAVY", Weight=19.5),
            item("OK", 1, 1, 1, Weight=19),
            item("WIDE", 11, 1, 1),
        ]
        assert found({"items": items, "boxes": boxes}) == [
            "item 1 'UP', Width/Length/Depth: 4 x 10 x 4 fits no active box type unturned",
            "item 2 'FLAT', Width/Length/Depth: 4 x 4 x 10 fits no active box type this way up",
            "item 4 'HEAVY', Weight: 19.5 is more than any active box type it fits may hold",
            "item 6 'WIDE', Width/Length/Depth: 11 x 1 x 1 fits no active box type in any "
            "orientation",
        ]

    def test_no_usable_box_type_at_all(self):
        assert found({"items": [item()], "boxes": [dict(BOX, Active=False)]}) == [
            "request, boxes: no active box type that may be used: nothing will be packed"
        ]
        assert found({"items": [], "boxes": []}) == []

    def test_box_groups_that_no_single_box_type_holds(self):
        half = [item(f"H{n}", 10, 10, 5, Weight=1, BoxGroup="g") for n in range(3)]
        heavy = [item(f"W{n}", Weight=10, BoxGroup="w") for n in range(2)]
        fine = [item(f"F{n}", BoxGroup="f") for n in range(4)]
        assert found({"items": half + heavy + fine, "boxes": [BOX]}) == [
            "box group 'g', BoxGroup: no single active box type can hold its 3 items "
            "(volume 1500, weight 3), which must share one box",
            "box group 'w', BoxGroup: no single active box type can hold its 2 items "
            "(volume 12, weight 20), which must share one box",
        ]
        assert found({"items": half[:2], "boxes": [BOX]}) == []

    def test_items_and_box_types_the_engine_cannot_read_have_only_schema_findings(self):
        unreadable = item("TALL", 1, 1, 99, ItemReference=5)
        off = dict(BOX, Reference="OFF", Active=1)  # not read as a usable box type
        findings = found({"items": [unreadable, item("OK")], "boxes": [BOX, off]})
        assert findings == [
            "item 0 'TALL', ItemReference: must be string or null, not number (5)",
            "box 1 'OFF', Active: must be boolean or null, not number (1)",
        ]
        assert found({"items": [item("WIDE", 11, 1, 1)], "boxes": [off]}) == [
            "box 0 'OFF', Active: must be boolean or null, not number (1)",
            "request, boxes: no active box type that may be used: nothing will be packed",
        ]

    def test_duplicate_item_codes(self):
        items = [item("A"), item("B"), item("A"), item("A")]
        assert found({"items": items, "boxes": [BOX]}) == [
            "item 2 'A', ItemCode: the code is used by 3 items (0, 2, 3); results name items "
            "by code only"
        ]


def test_the_engine_still_reads_odd_requests_as_before():
    # A misspelt "Items" is an empty order and an unknown rotation word turns freely;
    # the checks only report, they change nothing the engine does.
    result = json.loads(stowvex.solve(json.dumps({"Items": [item()], "boxes": [BOX]})))
    assert result["summary"] == {
        "box_count": 0,
        "overall_volume_utilisation": 0.0,
        "total_placed": 0,
        "total_unplaced": 0,
    }
    upright = stowvex.pack_dicts([item(AllowedRotation="upright")], [BOX])
    assert str(upright.boxes[0].items[0].item.allowed_rotation).endswith("BEST_FIT")


# Values of every JSON type, and the keys of both elements with a few others.
json_values = st.recursive(
    st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False) | st.text(max_size=3),
    lambda inner: (
        st.lists(inner, max_size=2) | st.dictionaries(st.text(max_size=2), inner, max_size=2)
    ),
    max_leaves=4,
)
element_keys = st.sampled_from(
    [
        "ItemCode",
        "ItemReference",
        "Width",
        "Length",
        "Depth",
        "Weight",
        "AllowedRotation",
        "BoxGroup",
        "Volume",
        "Reference",
        "BoxWeight",
        "MaxWeight",
        "MaximumBoxes",
        "Active",
        "InnerVolume",
        "width",
        "Items",
    ]
)
elements = st.dictionaries(element_keys, json_values | st.floats(0.5, 9), max_size=8)
odd_requests = st.dictionaries(
    st.sampled_from(["items", "boxes", "id", "Items"]),
    st.lists(elements | json_values, max_size=3)
    | st.dictionaries(st.text(max_size=1), elements, max_size=2)
    | json_values,
    max_size=3,
)


class TestQuickSchemaCheck:
    @settings(max_examples=400, deadline=None)
    @given(odd_requests | json_values)
    def test_it_passes_only_what_the_schema_validator_passes(self, request_):
        if _plainly_valid(request_):
            assert list(_validator().iter_errors(request_)) == []

    @settings(max_examples=100, deadline=None)
    @given(
        requests(
            sizes=st.integers(1, 9),
            weights=[0, 1.5],
            rotations=["Never", "KeepFlat", "BestFit"],
            max_items=6,
            max_boxes=3,
            max_box_side=12,
        )
    )
    def test_usual_requests_take_the_quick_road(self, request_):
        assert _plainly_valid(request_) and _plainly_valid({**request_, "id": 7})

    def test_a_catalogue_changed_between_two_checks_is_read_again(self):
        catalogue = [dict(BOX)]
        order = {"items": [item("A", 12, 1, 1)], "boxes": catalogue}
        assert found(order) == [
            "item 0 'A', Width/Length/Depth: 12 x 1 x 1 fits no active box type in any orientation"
        ]
        catalogue[0]["Width"] = 20  # the very list, changed in place
        assert found(order) == []
        catalogue.append(dict(BOX, Reference="NEG", Depth=-1))
        assert found(order) == ["box 1 'NEG', Depth: size -1 is not a finite positive number"]
