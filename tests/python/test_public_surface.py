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


def test_both_packages_report_the_installed_distribution_version():
    from importlib.metadata import version

    import stowvex_tools

    assert stowvex.__version__ == stowvex_tools.__version__ == version("stowvex")
    assert stowvex.__doc__.startswith("Crateon 3D bin-packing engine.")
