"""Items, box types and the rotation enumeration from Python."""

import pytest

import stowvex
from stowvex import Box, Item, Rotation


def test_item_to_dict_keys_and_floats():
    d = Item("A", "", 2, 3, 4, 1).to_dict()
    assert list(d) == ["AllowedRotation", "BoxGroup", "Depth", "ItemCode", "ItemReference",
                       "Length", "Volume", "Weight", "Width"]
    assert d["Volume"] == 24.0
    assert all(type(d[k]) is float for k in ("Depth", "Length", "Volume", "Weight", "Width"))
