"""The request format as the checker and the request check read it agrees with the
engine: rotation words, the order of elements, quantities, defaults and refusals."""

import json
import math

import pytest

import stowvex
from stowvex_tools.request_format import (
    Rotation,
    elements,
    number_value,
    read_box,
    read_item,
    read_quantity,
    rotation_of_word,
)

BOX = {"Reference": "B", "Width": 10, "Length": 10, "Depth": 10}


def item(code="A", **extra):
    return {"ItemCode": code, "Width": 1, "Length": 2, "Depth": 3, **extra}


def engine_error(items, boxes):
    try:
        stowvex.pack_dicts(items, boxes)
    except (ValueError, RuntimeError) as error:
        return str(error)
    return None


@pytest.mark.parametrize(
    "word",
    [
        "never",
        "NEVER",
        "KeepFlat",
        "keep_flat",
        "KEEP_FLAT",
        "BestFit",
        "best_fit",
        "keep flat",
        "upright",
        "",
        "\u212aeepFlat",  # KELVIN SIGN: lower() makes it a "k", the engine does not
        "N\u0130ver",  # LATIN CAPITAL I WITH DOT
        "\ufeffnever",
    ],
)
def test_rotation_words_read_as_the_engine_reads_them(word):
    result = stowvex.pack_dicts([item(AllowedRotation=word)], [BOX])
    engine = result.boxes[0].items[0].item.allowed_rotation
    assert rotation_of_word(word) == int(engine)
    assert read_item(item(AllowedRotation=word)).rotation == int(engine)
    assert Rotation(int(engine)).word in ("Never", "KeepFlat", "BestFit")


class TestElements:
    def test_lists_objects_null_and_single_values(self):
        assert list(elements([10, 20])) == [(0, 10), (1, 20)]
        assert list(elements({"b": 2, "a": 1, "C": 3})) == [("C", 3), ("a", 1), ("b", 2)]
        assert list(elements(None)) == []
        assert list(elements("text")) == [(0, "text")]
        assert list(elements(5)) == [(0, 5)]

    def test_the_first_element_the_engine_reads_decides_the_error(self):
        # "a" comes before "b" in key order, whatever order the object was written in.
        items = {"b": {"Width": 1}, "a": {"ItemCode": "A", "Length": 1, "Depth": 1}}
        first = next(value for _, value in elements(items))
        assert first == items["a"]
        assert "Width" in engine_error(items, [BOX])
        with pytest.raises(ValueError, match="item 'A' is missing required field 'Width'"):
            read_item(first)


class TestNumbers:
    def test_booleans_are_no_numbers_and_huge_integers_are_infinite(self):
        assert number_value(True) is None and number_value("1") is None
        assert number_value(3) == 3.0 and number_value(-0.5) == -0.5
        assert number_value(10**400) == math.inf and number_value(-(10**400)) == -math.inf
        with pytest.raises(ValueError, match="item 'A' field 'Width' is too large"):
            read_item(item(Width=10**400))
        with pytest.raises(ValueError, match="item field 'Weight' must be a number, not bool"):
            read_item(item(Weight=False))

    @pytest.mark.parametrize(
        "value, expected",
        [
            (True, 1),
            (False, 0),
            (2.9, 2),
            (-2.9, -2),
            (0.5, 0),
            (2**31 - 1, 2**31 - 1),
            (-(2**31), -(2**31)),
            (-2147483648.9, -(2**31)),
            (2**31, None),
            (2147483648.0, None),
            (-2147483649.0, None),
        ],
    )
    def test_quantities_as_the_engine_takes_them(self, value, expected):
        box = dict(BOX, MaximumBoxes=value)
        if expected is None:
            assert "32-bit" in engine_error([], [box])
            with pytest.raises(ValueError, match="outside the 32-bit integer range"):
                read_quantity(value)
        else:
            assert engine_error([], [box]) is None
            assert read_quantity(value) == read_box(box).max_quantity == expected


class TestDefaults:
    def test_absent_and_null_members_give_the_engines_defaults(self):
        for form in ({}, {"Weight": None, "ItemReference": None, "BoxGroup": None}):
            read = read_item(item(**form))
            assert (read.reference, read.weight, read.group, read.rotation) == (
                "A",
                0.0,
                "",
                Rotation.BEST_FIT,
            )
        box = read_box(dict(BOX, Active=None, MaxWeight=None, BoxWeight=None))
        assert (box.active, box.max_weight, box.empty_weight, box.max_quantity) == (
            True,
            -1.0,
            0.0,
            None,
        )
        assert box.opens and not read_box(dict(BOX, MaximumBoxes=0)).opens
        assert not read_box(dict(BOX, Active=False)).opens

    def test_objects_of_the_module_read_like_their_dicts(self):
        engine_item = stowvex.Item("A", "R", 1, 2, 3, 4, "G", stowvex.Rotation.KEEP_FLAT)
        as_dict = item(ItemReference="R", Weight=4, BoxGroup="G", AllowedRotation="keepflat")
        assert read_item(engine_item) == read_item(as_dict)
        engine_box = stowvex.Box("B", 10, 10, 10, 20, 1, False, 3)
        box = dict(BOX, MaxWeight=20, BoxWeight=1, Active=False, MaximumBoxes=3)
        assert read_box(engine_box) == read_box(box)

    @pytest.mark.parametrize(
        "element, message",
        [
            ({"Width": 1}, "item is missing required field 'ItemCode'"),
            ("A", "item is missing required field 'ItemCode'"),
            (item(Depth=None), "item 'A' field 'Depth' must be a number, not NoneType"),
            (item(ItemCode=7), "item field 'ItemCode' must be a string, not int"),
            (item(BoxGroup=1), "item field 'BoxGroup' must be a string, not int"),
        ],
    )
    def test_what_the_engine_refuses_is_refused(self, element, message):
        assert engine_error([element], []) is not None
        with pytest.raises(ValueError, match=message):
            read_item(element)

    def test_box_types_the_engine_refuses_are_refused(self):
        for box, message in (
            ({"Width": 1}, "box is missing required field 'Reference'"),
            (dict(BOX, Active=1), "box field 'Active' must be a boolean, not int"),
            (dict(BOX, Length="2"), "box field 'Length' must be a number, not str"),
        ):
            assert engine_error([], [box]) is not None, box
            with pytest.raises(ValueError, match=message):
                read_box(box)
        assert json.loads(stowvex.solve(json.dumps({"boxes": [BOX]})))["success"]
