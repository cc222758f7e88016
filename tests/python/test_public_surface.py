"""The module's public names: exactly these, in registration order."""

import stowvex

PUBLIC = [
    "Rotation",
    "Item",
    "Box",
    "PackedItem",
    "PackedBox",
    "PackResult",
    "solve",
    "pack_dicts",
    "pack",
]


def test_public_attributes_are_exactly_the_registered_ones_in_order():
    assert [name for name in vars(stowvex) if not name.startswith("_")] == PUBLIC
