"""Loading rules: how they are read, the checker's rules for them (one seeded fault of
each kind), and settling results without breaking them."""

from __future__ import annotations

import json
import random

import pytest

import stowvex
from stowvex_tools import _native, settle, validate
from stowvex_tools.loading_rules import LoadingRules, read_rules, rules_in_request

BOX = stowvex.Box("T", 10, 10, 10)


def item(code, w=2, l=2, d=2, weight=1.0, rotation=stowvex.Rotation.BEST_FIT):
    return stowvex.Item(code, code, w, l, d, weight, "", rotation)


def result_of(placements, box=BOX):
    """A PackResult of one box from (item, x, y, z) placed as "WLD"."""
    rows = [(i, i.width, i.length, i.depth, "WLD", x, y, z) for i, x, y, z in placements]
    return _native.result_of([(box, rows)], [])


def kinds(violations):
    return [v.kind for v in violations]


class TestReading:
    def test_fragile_is_max_load_zero_and_the_smaller_load_holds(self):
        rules = rules_in_request(
            [
                {"ItemCode": "A", "Fragile": True},
                {"ItemCode": "B", "Fragile": True, "MaxLoad": 5},
                {"ItemCode": "C", "Fragile": False, "MaxLoad": 5, "Stop": 2.0},
                {"ItemCode": "D"},
            ],
            [{"Reference": "T", "CentreOfGravity": {"X": [0.25, 0.75]}}],
        )
        assert rules.item("A").max_load == 0.0
        assert rules.item("B").max_load == 0.0
        assert (rules.item("C").max_load, rules.item("C").stop) == (5.0, 2)
        assert "D" not in rules.items
        assert rules.box("T").centre_x == (0.25, 0.75)
        assert rules.box("T").centre_y == (0.0, 1.0)
        assert json.loads(rules.to_json())["items"]["C"] == {"MaxLoad": 5.0, "Stop": 2}

    @pytest.mark.parametrize(
        ("keys", "field"),
        [
            ({"MaxLoad": -1}, "MaxLoad"),
            ({"MaxLoad": "heavy"}, "MaxLoad"),
            ({"MaxLoad": float("nan")}, "MaxLoad"),
            ({"Fragile": "yes"}, "Fragile"),
            ({"Orientations": ["WLD", "XYZ"]}, "Orientations"),
            ({"Orientations": []}, "Orientations"),
            ({"Orientations": "WLD"}, "Orientations"),
            ({"Stop": 0}, "Stop"),
            ({"Stop": 1.5}, "Stop"),
            ({"Stop": True}, "Stop"),
        ],
    )
    def test_a_bad_item_rule_names_its_field(self, keys, field):
        with pytest.raises(ValueError, match=field):
            rules_in_request([{"ItemCode": "A", **keys}], [])

    @pytest.mark.parametrize(
        "centre",
        [{"X": [0.7, 0.2]}, {"X": [0, 2]}, {"Y": [0.5]}, {"Z": [0, 1]}, [0, 1]],
    )
    def test_a_bad_centre_of_gravity_is_refused(self, centre):
        with pytest.raises(ValueError, match="CentreOfGravity"):
            rules_in_request([], [{"Reference": "T", "CentreOfGravity": centre}])

    def test_one_code_with_two_sets_of_rules_is_refused(self):
        with pytest.raises(ValueError, match="two different sets"):
            rules_in_request([{"ItemCode": "A", "Stop": 1}, {"ItemCode": "A", "Stop": 2}], [])

    def test_the_mapping_form(self):
        rules = read_rules({"items": {"A": {"Fragile": True}}, "boxes": {}})
        assert rules.item("A").max_load == 0.0
        with pytest.raises(ValueError, match="unknown keys"):
            read_rules({"items": {"A": {"Fragil": True}}})
        with pytest.raises(TypeError):
            read_rules(["A"])  # type: ignore[arg-type]
        assert not read_rules(None) and isinstance(read_rules(None), LoadingRules)


class TestChecker:
    def test_anything_above_a_fragile_item_at_any_height(self):
        a, b, c = item("A"), item("B"), item("C")
        # B hangs high above A with overlapping footprints; C stands beside A.
        result = result_of([(a, 0, 0, 0), (b, 1, 1, 6), (c, 2, 0, 0)])
        found = validate(result, [a, b, c], [BOX], rules={"items": {"A": {"Fragile": True}}})
        assert kinds(found) == ["load"]
        assert found[0].item_codes == ("A", "B")

    def test_max_load_counts_every_item_above_in_full(self):
        a, b, c = item("A", w=4, l=4), item("B", weight=3), item("C", weight=3)
        result = result_of([(a, 0, 0, 0), (b, 0, 0, 2), (c, 1, 1, 4)])
        assert kinds(validate(result, [a, b, c], [BOX], rules={"items": {"A": {"MaxLoad": 5}}}))
        assert not validate(result, [a, b, c], [BOX], rules={"items": {"A": {"MaxLoad": 6}}})

    def test_footprints_that_only_touch_do_not_count(self):
        a, b = item("A"), item("B")
        result = result_of([(a, 0, 0, 0), (b, 2, 0, 2)])  # edge to edge, B higher
        assert not validate(result, [a, b], [BOX], rules={"items": {"A": {"Fragile": True}}})

    def test_orientations_replace_the_rotation_freedom(self):
        a = item("A", 2, 3, 4, rotation=stowvex.Rotation.NEVER)
        rows = [(a, 3, 2, 4, "LWD", 0, 0, 0)]
        result = _native.result_of([(BOX, rows)], [])
        assert kinds(validate(result, [a], [BOX])) == ["orientation"]
        assert not validate(result, [a], [BOX], rules={"items": {"A": {"Orientations": ["LWD"]}}})
        found = validate(result, [a], [BOX], rules={"items": {"A": {"Orientations": ["WLD"]}}})
        assert kinds(found) == ["orientation"] and "Orientations" in found[0].message

    def test_a_later_stop_above_or_between_the_door_and_an_earlier_one(self):
        a, b = item("A"), item("B")
        rules = {"items": {"A": {"Stop": 1}, "B": {"Stop": 2}}}
        on_top = result_of([(a, 0, 0, 0), (b, 0, 0, 2)])
        nearer_the_door = result_of([(a, 0, 0, 0), (b, 0, 5, 0)])
        further_in = result_of([(a, 0, 5, 0), (b, 0, 0, 0)])
        assert kinds(validate(on_top, [a, b], [BOX], rules=rules)) == ["stop"]
        assert kinds(validate(nearer_the_door, [a, b], [BOX], rules=rules)) == ["stop"]
        assert not validate(further_in, [a, b], [BOX], rules=rules)

    def test_centre_of_gravity(self):
        a, b = item("A", weight=10), item("B", weight=0)
        rules = {"boxes": {"T": {"CentreOfGravity": {"X": [0.4, 0.6], "Y": [0, 1]}}}}
        off_centre = result_of([(a, 0, 0, 0)])  # centre at x = 1 of 10
        centred = result_of([(a, 4, 0, 0)])
        unweighted = result_of([(b, 0, 0, 0)])
        found = validate(off_centre, [a], [BOX], rules=rules)
        assert kinds(found) == ["centre_of_gravity"] and "x = 1.0" in found[0].message
        assert not validate(centred, [a], [BOX], rules=rules)
        assert not validate(unweighted, [b], [BOX], rules=rules)

    def test_rules_inline_in_a_request(self):
        request = {
            "items": [
                {"ItemCode": "A", "Width": 2, "Length": 2, "Depth": 2, "Fragile": True},
                {"ItemCode": "B", "Width": 2, "Length": 2, "Depth": 2},
            ],
            "boxes": [{"Reference": "T", "Width": 2, "Length": 2, "Depth": 4}],
        }
        result = stowvex.solve(json.dumps(request))  # the engine stacks B on A
        assert "load" in kinds(validate(result, request["items"], request["boxes"]))


class TestSettle:
    def test_floating_items_come_down_onto_what_is_below(self):
        a, b, c = item("A", 4, 4, 2), item("B"), item("C")
        result = result_of([(a, 0, 0, 0), (b, 1, 1, 5), (c, 6, 6, 3)])
        settled = settle(result, [a, b, c], [BOX])
        z = {p.item.item_code: p.z for p in settled.result.boxes[0].items}
        assert z == {"A": 0.0, "B": 2.0, "C": 0.0}
        assert settled.support == [[1.0, 1.0, 1.0]]
        assert not validate(settled.result, [a, b, c], [BOX])

    def test_support_is_the_share_resting_on_tops(self):
        a, b = item("A", 2, 4, 2), item("B", 4, 4, 2)
        settled = settle(result_of([(a, 0, 0, 0), (b, 0, 0, 7)]), [a, b], [BOX])
        assert settled.support == [[1.0, 0.5]]

    def test_a_stop_rule_keeps_an_item_up(self):
        # B (stop 2) sits nearer the door than A (stop 1) but above its height:
        # below A's top it would lie between A and the door, so it stops there.
        a, b = item("A", 2, 2, 2), item("B", 2, 2, 2)
        rules = {"items": {"A": {"Stop": 1}, "B": {"Stop": 2}}}
        result = result_of([(a, 0, 0, 0), (b, 0, 5, 3)])
        settled = settle(result, [a, b], [BOX], rules=rules)
        assert [p.z for p in settled.result.boxes[0].items] == [0.0, 2.0]
        assert not validate(settled.result, [a, b], [BOX], rules=rules)

    def test_engine_results_settle_into_valid_results(self):
        rng = random.Random(7)
        items = [
            {
                "ItemCode": f"i{k}",
                "Width": rng.randint(1, 9),
                "Length": rng.randint(1, 9),
                "Depth": rng.randint(1, 9),
                "Weight": rng.randint(1, 20),
            }
            for k in range(60)
        ]
        boxes = [{"Reference": "B", "Width": 20, "Length": 20, "Depth": 20}]
        text = stowvex.solve(json.dumps({"items": items, "boxes": boxes}))
        settled = settle(text, items, boxes)
        assert not validate(settled.result, items, boxes)
        before = json.loads(text)
        after = settled.result.to_dict()
        assert after["summary"] == before["summary"]
        for old, new in zip(before["boxes"], after["boxes"]):
            assert [(p["x"], p["y"]) for p in old["items"]] == [
                (p["x"], p["y"]) for p in new["items"]
            ]
            assert all(q["z"] <= p["z"] for p, q in zip(old["items"], new["items"]))
        assert all(0.0 < share <= 1.0 for shares in settled.support for share in shares)


def test_the_request_check_reads_the_rule_keys():
    from stowvex_tools import check_request

    def item_keys(code, **rules):
        return {"ItemCode": code, "Width": 1, "Length": 1, "Depth": 1, **rules}

    box = {"Reference": "T", "Width": 5, "Length": 5, "Depth": 5}
    sound = {
        "items": [item_keys("A", Fragile=True, Stop=2, Orientations=["WLD", "LWD"])],
        "boxes": [{**box, "CentreOfGravity": {"X": [0.2, 0.8], "Y": [0, 1]}}],
    }
    assert check_request(sound) == []
    faulty = {
        "items": [
            item_keys("A", Orientations=["WLD", "XYZ"], Stop=0, MaxLoad=-2),
            item_keys("B", Fragile=True),
            item_keys("B"),
        ],
        "boxes": [{**box, "CentreOfGravity": {"X": [0.8, 0.2]}}],
    }
    fields = {f.field.split(".")[0] for f in check_request(faulty) if f.field}
    assert {"Orientations", "Stop", "MaxLoad", "CentreOfGravity"} <= fields
    assert any("differ" in f.message for f in check_request(faulty))


def test_a_rounding_step_below_a_top_face_still_counts_as_lying_on_it():
    # 0.1 + 0.2 is 0.30000000000000004: an item written at z = 0.3 on top of a
    # stack of 0.1 and 0.2 starts one rounding step inside the one below.
    box = stowvex.Box("T", 1, 1, 1)
    a, b, c = item("A", 1, 1, 0.1), item("B", 1, 1, 0.2), item("C", 1, 1, 0.1)
    result = result_of([(a, 0, 0, 0), (b, 0, 0, 0.1), (c, 0, 0, 0.3)], box)
    rules = {"items": {"B": {"Fragile": True}}}
    found = validate(result, [a, b, c], [box], rules=rules)
    assert kinds(found) == ["load"] and found[0].item_codes == ("B", "C")
    settled = settle(result, [a, b, c], [box], rules=rules)
    assert [p.z for p in settled.result.boxes[0].items] == [0.0, 0.1, 0.3]
    assert settled.support == [[1.0, 1.0, 1.0]]


class TestOptimiserKeepsTheRules:
    """Random small orders with random rules: whatever the optimiser returns passes
    the checker, rules included."""

    @staticmethod
    def order(rng):
        labels = ["WLD", "LWD", "WDL", "LDW", "DWL", "DLW"]
        items = []
        for k in range(rng.randint(3, 14)):
            item = {
                "ItemCode": f"i{k}",
                "Width": rng.randint(1, 6),
                "Length": rng.randint(1, 6),
                "Depth": rng.randint(1, 6),
                "Weight": rng.randint(1, 9),
            }
            roll = rng.random()
            if roll < 0.2:
                item["Fragile"] = True
            elif roll < 0.4:
                item["MaxLoad"] = rng.randint(0, 15)
            if rng.random() < 0.3:
                item["Orientations"] = rng.sample(labels, rng.randint(1, 3))
            if rng.random() < 0.5:
                item["Stop"] = rng.randint(1, 3)
            items.append(item)
        box = {"Reference": "B", "Width": 8, "Length": 10, "Depth": 8}
        if rng.random() < 0.3:
            box["CentreOfGravity"] = {"X": [0.2, 0.8], "Y": [0.2, 0.8]}
        return {"items": items, "boxes": [box]}

    def test_results_keep_every_rule(self):
        from stowvex_tools import optimise_json

        rng = random.Random(2026)
        for _ in range(25):
            request = self.order(rng)
            text = optimise_json(json.dumps(request), time_limit=None, effort=200_000)
            found = validate(text, request["items"], request["boxes"])
            assert found == [], (request, [str(v) for v in found])

    def test_settled_results_rest_on_something(self):
        rng = random.Random(99)
        for _ in range(25):
            request = self.order(rng)
            for item in request["items"]:
                for key in ("Fragile", "MaxLoad", "Orientations"):
                    item.pop(key, None)
            text = stowvex.solve(json.dumps(request))  # the engine ignores the stops
            settled = settle(text, request["items"], request["boxes"])

            def broken(result, request=request):
                found = validate(result, request["items"], request["boxes"])
                return {(v.kind, v.item_codes) for v in found}

            assert broken(settled.result) <= broken(text), request
            for box, shares in zip(settled.result.boxes, settled.support):
                for placed, share in zip(box.items, shares):
                    assert share > 0.0 or placed.z == 0.0, request
