"""PackResult, PackedBox and PackedItem: properties, reprs, dict and JSON forms."""

import json

import pytest

import stowvex
from stowvex import Box, Item, Rotation


@pytest.fixture
def result():
    items = [
        Item("A", "first", 2, 3, 4, 1.5),
        Item("B", "", 1, 1, 1, 2, box_group="G"),
        Item("C", "", 1, 1, 1, 0.5, allowed_rotation=Rotation.NEVER),
        Item("HUGE", "", 99, 99, 99, 1),
    ]
    return stowvex.pack(items, [Box("BOX", 10, 10, 10, 20.0, 1.0)])


def test_result_members(result):
    assert result.success is False
    assert result.total_placed == 3 and result.total_unplaced == 1
    assert [i.item_code for i in result.unplaced_items] == ["HUGE"]
    assert result.overall_volume_utilisation == pytest.approx(2.6)
    assert repr(result) == "<stowvex.PackResult success=False boxes=1 unplaced=1>"


def test_packed_box_members(result):
    (packed,) = result.boxes
    assert repr(packed) == "<stowvex.PackedBox 'BOX' items=3>"
    assert len(packed) == len(packed.items) == packed.to_dict()["item_count"] == 3
    assert packed.item_weight == 4.0 and packed.weight == 5.0
    assert packed.max_weight == 20.0 and packed.remaining_weight == 15.0
    assert packed.used_volume == 26.0 and packed.unused_volume == 974.0
    assert packed.inner_volume == 1000.0
    assert packed.volume_utilisation == pytest.approx(2.6)
    assert packed.remaining_width == 10.0 - packed.used_width


def test_packed_item_members(result):
    placements = {p.item.item_code: p for p in result.boxes[0].items}
    b = placements["B"]
    assert repr(b) == "<stowvex.PackedItem 'B' @ (0.000000, 0.000000, 0.000000)>"
    assert (b.x, b.y, b.z) == (0.0, 0.0, 0.0)
    a = placements["A"]
    assert sorted((a.width, a.length, a.depth)) == [2.0, 3.0, 4.0]
    assert a.volume == 24.0 and a.weight == 1.5
    assert a.rotated == (a.orientation != "WLD")
    assert placements["C"].orientation == "WLD" and not placements["C"].rotated
    d = b.to_dict()
    assert list(d) == [
        "ItemCode",
        "ItemReference",
        "box_group",
        "depth",
        "length",
        "orientation",
        "original_depth",
        "original_length",
        "original_width",
        "rotated",
        "weight",
        "width",
        "x",
        "y",
        "z",
    ]
    assert d["box_group"] == "G"
    wide = [Item("F", "", 1e300, 1, 1, 1), Item("F", "", 1e300, 1, 1, 1)]
    far = stowvex.pack(wide, [Box("W", 1e308, 1, 1)]).boxes[0].items[1]
    assert repr(far) == f"<stowvex.PackedItem 'F' @ ({far.x:f}, 0.000000, 0.000000)>"


def test_unlimited_box_weights_python_and_json():
    result = stowvex.pack([Item("A", "", 1, 1, 1, 5)], [Box("B", 2, 2, 2)])
    packed = result.boxes[0]
    assert packed.max_weight == -1.0 and packed.remaining_weight == -1.0
    d = packed.to_dict()
    assert d["max_weight"] is None and d["remaining_weight"] is None
    assert "box_index" not in d


def test_dict_and_json_forms_agree(result):
    d = result.to_dict()
    assert list(d) == [
        "boxes",
        "placements",
        "success",
        "summary",
        "unplaced_item_codes",
        "unplaced_items",
    ]
    assert d == json.loads(result.to_json())
    assert d["unplaced_item_codes"] == ["HUGE"]
    assert d["placements"][0]["box_reference"] == "BOX"
    assert type(d["summary"]["box_count"]) is int


def test_json_indents(result):
    request = json.dumps(
        {
            "items": [{"ItemCode": "A", "Width": 1, "Length": 1, "Depth": 1}],
            "boxes": [{"Reference": "B", "Width": 2, "Length": 2, "Depth": 2}],
        }
    )
    from_dicts = stowvex.pack_dicts(*(lambda r: (r["items"], r["boxes"]))(json.loads(request)))
    assert from_dicts.to_json(-1) == stowvex.solve(request)
    assert from_dicts.to_json(-7) == stowvex.solve(request)
    assert from_dicts.to_json().startswith('{\n  "boxes": [\n    {')
    assert from_dicts.to_json(indent=0).startswith('{\n"boxes": [\n{')
    with pytest.raises(TypeError):
        from_dicts.to_json("2")
    with pytest.raises(TypeError):
        from_dicts.to_json(2.0)


def test_json_any_indent_matches_a_plain_rendering():
    # Large indents once read past the serializer's indentation buffer: stray heap
    # bytes in the text, decoding errors or a crash.
    items = [Item("Kiste ä", "", 1, 2, 4, 0.5, box_group="G"), Item("B", "", 1, 1, 1, 2)]
    result = stowvex.pack(items, [Box("BOX", 4, 4, 4, 20.0, 1.0)])
    data = json.loads(result.to_json(-1))
    for indent in (0, 2, 512, 513, 1024, 1025, 10000, 100000):
        assert result.to_json(indent) == json.dumps(data, indent=indent, ensure_ascii=False)
    with pytest.raises(ValueError, match="indent 2147483647"):
        result.to_json(2**31 - 1)


def test_result_objects_are_read_only_and_not_constructible(result):
    for cls in (stowvex.PackedItem, stowvex.PackedBox, stowvex.PackResult):
        with pytest.raises(TypeError):
            cls()
    with pytest.raises(AttributeError):
        result.success = True
    with pytest.raises(AttributeError):
        result.boxes[0].items[0].x = 3.0


def test_copies_outlive_the_result():
    result = stowvex.pack([Item("A", "", 1, 1, 1, 1)], [Box("B", 2, 2, 2)])
    boxes = result.boxes
    items = boxes[0].items
    del result
    assert items[0].item.item_code == "A" and boxes[0].box.reference == "B"


def test_docstrings():
    assert stowvex.PackedItem.width.__doc__ == "Placed (post-rotation) width."
    assert stowvex.PackedBox.weight.__doc__ == "Empty weight + all item weights."
    assert stowvex.PackResult.success.__doc__ == "True if every item was placed in some box."
    assert stowvex.PackResult.__doc__ == "The outcome of a packing run."
