"""solve, pack_dicts and pack: inputs they take, errors they raise, texts they write."""

import json
import math

import pytest

import stowvex
from stowvex import Box, Item

EMPTY_RESULT = (
    '{"boxes":[],"placements":[],"success":true,"summary":{"box_count":0,'
    '"overall_volume_utilisation":0.0,"total_placed":0,"total_unplaced":0},'
    '"unplaced_item_codes":[],"unplaced_items":[]}'
)


def item(code, w=1, l=1, d=1, **extra):
    return {"ItemCode": code, "Width": w, "Length": l, "Depth": d, **extra}


def box(ref, w=10, l=10, d=10, **extra):
    return {"Reference": ref, "Width": w, "Length": l, "Depth": d, **extra}


def solve(items, boxes):
    return json.loads(stowvex.solve(json.dumps({"items": items, "boxes": boxes})))


def keys_sorted_everywhere(value):
    if isinstance(value, dict):
        keys = [k.encode() for k in value]
        return keys == sorted(keys) and all(keys_sorted_everywhere(v) for v in value.values())
    if isinstance(value, list):
        return all(keys_sorted_everywhere(v) for v in value)
    return True


class TestSolve:
    @pytest.mark.parametrize(
        "request_text",
        ['{"items": [], "boxes": []}', "{}", "[]", '{"items": null}', '{"other": 1}'],
    )
    def test_empty_requests(self, request_text):
        assert stowvex.solve(request_text) == EMPTY_RESULT

    def test_bytes_and_keyword(self):
        text = json.dumps({"items": [item("\u00c4pfel")], "boxes": [box("B")]})
        assert stowvex.solve(text.encode()) == stowvex.solve(request_json=text)

    def test_compact_sorted_and_raw_unicode(self):
        text = stowvex.solve(
            json.dumps(
                {"items": [item("caf\u00e9 au lait", ItemReference="a b")], "boxes": [box("B")]}
            )
        )
        assert "caf\u00e9 au lait" in text and "\\u" not in text
        assert ": " not in text and ", " not in text and "\n" not in text
        assert keys_sorted_everywhere(json.loads(text))

    @pytest.mark.parametrize("code", ["plain", "caf\u00e9", "\u2603\U0001f642", "tab\there"])
    def test_result_text_is_the_written_text_whatever_its_characters(self, code):
        request = {
            "items": [item(code), item("big", 99)],
            "boxes": [box("B \u00e4" if code == "plain" else "B")],
        }
        text = stowvex.solve(json.dumps(request))
        result = stowvex.pack_dicts(request["items"], request["boxes"])
        assert text == result.to_json(indent=-1)
        assert text.isascii() == (code.isascii() and request["boxes"][0]["Reference"].isascii())
        decoded = json.loads(text)
        assert decoded["placements"][0]["ItemCode"] == code
        assert decoded["unplaced_item_codes"] == ["big"]
        assert json.loads(result.to_json(indent=3)) == decoded

    def test_number_formatting(self):
        text = stowvex.solve(json.dumps({"items": [item("A", 2, 3, 4)], "boxes": [box("B", 30)]}))
        assert '"width":30.0' in text
        assert '"box_index":0' in text and '"item_count":1' in text
        assert '"total_placed":1,' in text

    @pytest.mark.parametrize(
        "text,message",
        [
            ('{"items": [{"Width": 1}]}', "item is missing required field 'ItemCode'"),
            ('{"boxes": [{"Width": 1}]}', "box is missing required field 'Reference'"),
            ('{"items": 7}', "item is missing required field 'ItemCode'"),
            ('{"boxes": "B"}', "box is missing required field 'Reference'"),
        ],
    )
    def test_reader_value_errors(self, text, message):
        with pytest.raises(ValueError) as caught:
            stowvex.solve(text)
        assert str(caught.value) == message

    @pytest.mark.parametrize(
        "request_value,message",
        [
            (
                {"items": [{"ItemCode": "A", "Length": 1}]},
                "[json.exception.out_of_range.403] key 'Depth' not found",
            ),
            (
                {"items": [item("A", w="10")]},
                "[json.exception.type_error.302] type must be number, but is string",
            ),
            (
                {"items": [item("A", w=True)]},
                "[json.exception.type_error.302] type must be number, but is boolean",
            ),
            (
                {"items": [item(5)]},
                "[json.exception.type_error.302] type must be string, but is number",
            ),
            (
                {"items": [item("A", AllowedRotation=1)]},
                "[json.exception.type_error.302] type must be string, but is number",
            ),
            (
                {"boxes": [box("B", Active=1)]},
                "[json.exception.type_error.302] type must be boolean, but is number",
            ),
            (
                {"boxes": [box("B", MaximumBoxes="2")]},
                "[json.exception.type_error.302] type must be number, but is string",
            ),
            (
                {"boxes": [{"Reference": "B"}]},
                "[json.exception.out_of_range.403] key 'Depth' not found",
            ),
        ],
    )
    def test_json_errors(self, request_value, message):
        with pytest.raises(RuntimeError) as caught:
            stowvex.solve(json.dumps(request_value))
        assert str(caught.value) == message

    @pytest.mark.parametrize(
        "text",
        [
            "",
            "{",
            "{} {}",
            '{"items": [] // no\n}',
            "nope",
            '{"items": []}\x00, "boxes": []}',
            b"{}\x00",
            "[\x00]",
        ],
    )
    def test_malformed_text(self, text):
        with pytest.raises(RuntimeError, match=r"^\[json\.exception\.parse_error\.101\]"):
            stowvex.solve(text)

    def test_wrong_argument_type(self):
        with pytest.raises(TypeError):
            stowvex.solve(5)
        with pytest.raises(TypeError):
            stowvex.solve("\ud800")

    def test_reader_defaults_reach_the_result(self):
        result = solve(
            [item("A", BoxGroup="", Weight=None, AllowedRotation=None)],
            [box("B", MaxWeight=None, Active=None, MaximumBoxes=None)],
        )
        placed = result["placements"][0]
        assert placed["ItemReference"] == "A" and placed["box_group"] is None
        assert placed["weight"] == 0.0
        assert result["boxes"][0]["max_weight"] is None

    def test_maximum_boxes_out_of_range_is_an_error(self):
        for value in (2**31, -(2**31) - 1, 1e20):
            with pytest.raises(ValueError):
                stowvex.solve(json.dumps({"boxes": [box("B", MaximumBoxes=value)]}))


class TestPackDicts:
    def test_dict_of_dicts_packs_values_in_key_order(self):
        result = stowvex.pack_dicts(
            {"b": item("B", 2, 1, 1), "a": item("A", 2, 1, 1)}, [box("X", 2, 1, 1)]
        )
        assert [p.item.item_code for b in result.boxes for p in b.items] == ["A", "B"]

    def test_none_and_scalars(self):
        assert stowvex.pack_dicts(None, None).success
        with pytest.raises(ValueError, match="item is missing required field 'ItemCode'"):
            stowvex.pack_dicts(3, [])
        with pytest.raises(ValueError, match="item is missing required field 'ItemCode'"):
            stowvex.pack_dicts([{"Width": 1}], [])

    def test_tuples_and_keywords(self):
        result = stowvex.pack_dicts(items=(item("A"),), boxes=(box("B"),))
        assert result.total_placed == 1

    def test_values_json_refuses(self):
        with pytest.raises(TypeError):
            stowvex.pack_dicts([Item("A", "", 1, 1, 1, 1)], [])
        with pytest.raises(RuntimeError, match=r"^\[json\.exception\.parse_error"):
            stowvex.pack_dicts([item("A", w=float("nan"))], [])
        with pytest.raises(RuntimeError, match=r"^\[json\.exception\.parse_error"):
            stowvex.pack_dicts([], [box("B", MaxWeight=math.inf)])

    def test_items_are_read_before_boxes(self):
        with pytest.raises(ValueError, match="item is missing"):
            stowvex.pack_dicts([{}], [{}])


class TestPack:
    def test_result_hands_back_the_callers_objects(self):
        a = Item("A", "", 1, 1, 1, 1)
        big = Item("BIG", "", 50, 50, 50, 1)
        b = Box("B", 2, 2, 2)
        result = stowvex.pack([a, big], (b,))
        placed = result.boxes[0].items[0]
        assert placed.item is a
        assert result.boxes[0].box is b
        assert result.unplaced_items[0] is big
        assert result.boxes[0] is not result.boxes[0]

    def test_same_item_twice_goes_to_two_boxes_at_most_one_each(self):
        a = Item("A", "", 1, 1, 1, 1)
        result = stowvex.pack([a, a], [Box("B", 3, 3, 3)])
        assert result.success
        assert [len(b) for b in result.boxes] == [1, 1]
        assert all(b.items[0].item is a for b in result.boxes)
        limited = stowvex.pack([a, a], [Box("B", 3, 3, 3, max_quantity=1)])
        assert limited.total_placed == 1 and limited.unplaced_items == [a]

    def test_empty_and_bad_arguments(self):
        result = stowvex.pack([], [])
        assert result.success and result.boxes == []
        for items, boxes in (
            ([None], []),
            ([], [None]),
            ("AB", []),
            ([Box("B", 1, 1, 1)], []),
            (None, []),
        ):
            with pytest.raises(TypeError):
                stowvex.pack(items, boxes)


def test_module_usable_after_every_kind_of_error():
    failures = [
        lambda: stowvex.solve("{"),
        lambda: stowvex.solve('{"items": [{}]}'),
        lambda: stowvex.pack([None], []),
        lambda: stowvex.pack_dicts([object()], []),
    ]
    for fail in failures:
        with pytest.raises(Exception):  # noqa: B017 - any Python exception, not a crash
            fail()
        assert stowvex.solve("{}") == EMPTY_RESULT


def test_docstrings_and_signatures():
    assert stowvex.solve.__doc__.startswith("solve(request_json: str) -> str\n")
    assert "No stowvex types required on either side." in stowvex.solve.__doc__
    assert stowvex.pack_dicts.__doc__.startswith("pack_dicts(items: object, boxes: object)")
    assert (
        "collections.abc.Sequence[stowvex.Item]" in stowvex.pack.__doc__
        or "collections.abc.Sequence[Item]" in stowvex.pack.__doc__
    )
