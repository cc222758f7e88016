"""Items, box types and the rotation enumeration from Python."""

import math
import pickle

import pytest

import stowvex
from stowvex import Box, Item, Rotation

ITEM_KEYS = [
    "AllowedRotation",
    "BoxGroup",
    "Depth",
    "ItemCode",
    "ItemReference",
    "Length",
    "Volume",
    "Weight",
    "Width",
]
BOX_KEYS = [
    "Active",
    "BoxWeight",
    "Depth",
    "InnerVolume",
    "Length",
    "MaxWeight",
    "MaximumBoxes",
    "Reference",
    "Width",
]


def test_module_docstring():
    assert stowvex.__doc__ == (
        "Crateon 3D bin-packing engine.\n\nsolve(json) -> json is the simplest entry point; "
        "pack_dicts(items, boxes) and pack(items, boxes) return a richer PackResult object."
    )


class TestRotation:
    def test_members_values_and_docs(self):
        assert [(m.name, int(m)) for m in Rotation.__members__.values()] == [
            ("NEVER", 0),
            ("KEEP_FLAT", 1),
            ("BEST_FIT", 2),
        ]
        assert Rotation(1) == Rotation.KEEP_FLAT
        assert int(Rotation.BEST_FIT) == 2
        assert "Must be packed exactly as given (Width/Length/Depth)." in Rotation.__doc__

    def test_repr_str_and_equality(self):
        assert repr(Rotation.BEST_FIT) == "<Rotation.BEST_FIT: 2>"
        assert str(Rotation.BEST_FIT) == "Rotation.BEST_FIT"
        assert Rotation.NEVER != Rotation.KEEP_FLAT
        assert len({Rotation.NEVER, Rotation(0)}) == 1
        assert pickle.loads(pickle.dumps(Rotation.KEEP_FLAT)) == Rotation.KEEP_FLAT

    def test_members_stay_on_the_class(self):
        assert not hasattr(stowvex, "NEVER")
        assert not hasattr(stowvex, "BEST_FIT")


class TestItem:
    def test_defaults(self):
        item = Item("A", "", 1, 2, 3, 4)
        assert (item.item_code, item.item_reference) == ("A", "")
        assert (item.width, item.length, item.depth, item.weight) == (1.0, 2.0, 3.0, 4.0)
        assert item.box_group is None
        assert item.has_box_group is False
        assert item.allowed_rotation == Rotation.BEST_FIT
        assert item.volume == 6.0

    def test_box_group_and_keywords(self):
        item = Item(
            item_code="A",
            item_reference="r",
            width=1,
            length=2,
            depth=3,
            weight=4,
            box_group="G",
            allowed_rotation=Rotation.NEVER,
        )
        assert item.box_group == "G"
        assert item.has_box_group is True
        assert item.allowed_rotation == Rotation.NEVER
        assert item.to_dict()["BoxGroup"] == "G"

    def test_to_dict_keys_and_floats(self):
        d = Item("A", "", 2, 3, 4, 1).to_dict()
        assert list(d) == ITEM_KEYS
        assert d["Volume"] == 24.0
        assert d["BoxGroup"] is None
        assert d["AllowedRotation"] == "BestFit"
        assert all(type(d[k]) is float for k in ("Depth", "Length", "Volume", "Weight", "Width"))

    def test_odd_values_are_stored(self):
        item = Item("N", "", -2, 3, 4, float("nan"))
        assert item.volume == -24.0
        assert math.isnan(item.weight)
        assert Item("Z", "", 0, 3, 4, 0).volume == 0.0

    def test_unicode_code_round_trips(self):
        item = Item("Kaffee\u00e9\u2603", "", 1, 1, 1, 1)
        assert item.item_code == "Kaffee\u00e9\u2603"
        assert repr(item) == "<stowvex.Item 'Kaffee\u00e9\u2603'>"

    def test_repr(self):
        assert repr(Item("A", "", 1, 2, 3, 4)) == "<stowvex.Item 'A'>"

    @pytest.mark.parametrize(
        "args",
        [
            ("A", "", "wide", 2, 3, 4),
            ("A", "", 1, 2, 3, 4, "", 2),
            (1, "", 1, 2, 3, 4),
            ("A", "", 1, 2, 3),
            ("A", "", 1, 2, 3, 4, None),
            ("A", "", True, 2, 3, 4),  # a flag is no measure, as in the JSON reader
            ("A", "", 1, 2, 3, False),
            ("\ud800", "", 1, 2, 3, 4),  # a str that has no UTF-8 form
        ],
    )
    def test_wrong_argument_types(self, args):
        with pytest.raises(TypeError):
            Item(*args)

    def test_texts_as_bytes_must_be_utf8(self):
        item = Item(b"A", bytearray("r\u00e4".encode()), 1, 2, 3, 4, b"G")
        assert (item.item_code, item.item_reference, item.box_group) == ("A", "r\u00e4", "G")
        for args, name in (
            ((b"\xff", ""), "item_code"),
            (("A", bytearray(b"\xc3")), "item_reference"),
        ):
            with pytest.raises(ValueError, match=f"^{name} is not valid UTF-8$"):
                Item(*args, 1, 2, 3, 4)
        with pytest.raises(ValueError, match=r"^box_group is not valid UTF-8$"):
            Item("A", "", 1, 2, 3, 4, b"\xed\xa0\x80")  # an encoded surrogate

    def test_other_numbers_still_convert(self):
        from decimal import Decimal
        from fractions import Fraction

        item = Item("A", "", Fraction(1, 2), Decimal("2.5"), 3, -0.0)
        assert (item.width, item.length, item.depth) == (0.5, 2.5, 3.0)
        assert math.copysign(1, item.weight) == -1

    def test_properties_are_read_only(self):
        item = Item("A", "", 1, 2, 3, 4)
        with pytest.raises(AttributeError):
            item.width = 5
        with pytest.raises(AttributeError):
            item.box_group = "G"


class TestBox:
    def test_defaults(self):
        box = Box("B", 10, 10, 10)
        assert box.max_weight == -1.0
        assert box.has_weight_limit is False
        assert box.empty_weight == 0.0
        assert box.active is True
        assert box.max_quantity is None
        assert box.has_limited_quantity is False
        assert box.inner_volume == 1000.0

    def test_positional_weights_come_max_first(self):
        box = Box("B", 10, 10, 10, 5.0, 1.0)
        assert (box.max_weight, box.empty_weight) == (5.0, 1.0)
        assert box.has_weight_limit is True

    def test_limited_quantity(self):
        box = Box("B", 10, 10, 10, max_quantity=0)
        assert box.max_quantity == 0
        assert box.has_limited_quantity is True
        assert box.to_dict()["MaximumBoxes"] == 0

    def test_to_dict(self):
        d = Box("B", 2, 3, 4).to_dict()
        assert list(d) == BOX_KEYS
        assert d["InnerVolume"] == 24.0
        assert d["MaxWeight"] is None and d["MaximumBoxes"] is None
        d = Box("B", 2, 3, 4, 20, 2, False, 3).to_dict()
        assert (d["MaxWeight"], d["BoxWeight"], d["Active"], d["MaximumBoxes"]) == (
            20.0,
            2.0,
            False,
            3,
        )
        assert type(d["MaximumBoxes"]) is int

    def test_repr(self):
        assert repr(Box("B", 1, 1, 1)) == "<stowvex.Box 'B'>"

    @pytest.mark.parametrize(
        "kwargs",
        [
            {"max_quantity": 1.5},
            {"max_quantity": 2**31},
            {"max_quantity": "2"},
            {"width": "10"},
            {"max_weight": None},
            {"max_weight": True},  # Box("B", 1, 1, 1, True) would be a 1 kg limit
            {"active": None},  # would be False: an inactive box type
            {"active": 0},
            {"active": 1},
            {"active": "yes"},
        ],
    )
    def test_wrong_argument_types(self, kwargs):
        args = {"reference": "B", "width": 1, "length": 1, "depth": 1, **kwargs}
        with pytest.raises(TypeError):
            Box(**args)

    def test_flags_and_texts(self):
        assert Box("B", 1, 1, 1, active=False).active is False
        assert Box(b"B", 1, 1, 1).reference == "B"
        # As "MaximumBoxes": true in a request, True counts one box.
        assert Box("B", 1, 1, 1, max_quantity=True).max_quantity == 1
        with pytest.raises(ValueError, match=r"^reference is not valid UTF-8$"):
            Box(b"\x80", 1, 1, 1)

    def test_properties_are_read_only(self):
        box = Box("B", 1, 1, 1)
        with pytest.raises(AttributeError):
            box.max_quantity = 3


def test_module_usable_after_errors():
    for _ in range(3):
        with pytest.raises(TypeError):
            Item("A", "", "x", 1, 1, 1)
    assert Item("A", "", 1, 1, 1, 1).volume == 1.0
