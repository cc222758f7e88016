"""Items, box types and results pickle and unpickle to objects with the same fields, on
every protocol, and cross a process pool as objects."""

import pickle
from concurrent.futures import ProcessPoolExecutor

import pytest

import stowvex

PROTOCOLS = range(pickle.HIGHEST_PROTOCOL + 1)

ITEMS = [
    stowvex.Item("MUG", "mug, blue", 8, 8, 10, 0.4, allowed_rotation=stowvex.Rotation.KEEP_FLAT),
    stowvex.Item("BOOK", "", 15, 21, 3, 0.9, box_group="desk"),
    stowvex.Item("LAMP", "lamp", 20, 20, 45, 2.5, box_group="desk"),
    stowvex.Item("POLE", "too long", 300, 2, 2, 1.0, allowed_rotation=stowvex.Rotation.NEVER),
]
BOXES = [
    stowvex.Box("S", 30, 30, 30, max_weight=10, empty_weight=0.5, max_quantity=3),
    stowvex.Box("L", 40, 40, 60),
    stowvex.Box("OFF", 99, 99, 99, active=False),
]


def copy(value, protocol=pickle.DEFAULT_PROTOCOL):
    return pickle.loads(pickle.dumps(value, protocol))


@pytest.mark.parametrize("protocol", PROTOCOLS)
def test_items_and_box_types_come_back_with_every_field(protocol):
    for original in (*ITEMS, *BOXES):
        again = copy(original, protocol)
        assert type(again) is type(original)
        assert again.to_dict() == original.to_dict()
    assert copy(ITEMS[1], protocol).box_group == "desk" and copy(ITEMS[0]).box_group is None
    assert copy(BOXES[0], protocol).max_quantity == 3 and copy(BOXES[1]).max_quantity is None
    assert copy(stowvex.Rotation.KEEP_FLAT, protocol) == stowvex.Rotation.KEEP_FLAT


@pytest.mark.parametrize("protocol", PROTOCOLS)
def test_a_result_comes_back_whole_and_writes_the_same_json(protocol):
    result = stowvex.pack(ITEMS, BOXES)
    again = copy(result, protocol)
    assert again.to_json() == result.to_json() and again.to_dict() == result.to_dict()
    assert (again.success, again.total_placed, again.total_unplaced) == (False, 3, 1)
    box = copy(result.boxes[0], protocol)
    assert box.to_dict() == result.boxes[0].to_dict() and len(box) == len(result.boxes[0])
    placed = copy(result.boxes[0].items[0], protocol)
    assert placed.to_dict() == result.boxes[0].items[0].to_dict()
    assert placed.item.to_dict() == result.boxes[0].items[0].item.to_dict()


def test_objects_shared_in_one_pickle_stay_shared():
    # pack's placements refer to the very items given; pickled together they still do.
    result = stowvex.pack(ITEMS, BOXES)
    items, again = copy((ITEMS, result))
    placed = {id(p.item) for b in again.boxes for p in b.items}
    unplaced = {id(i) for i in again.unplaced_items}
    assert placed | unplaced <= {id(i) for i in items}


def test_equality_is_identity_whatever_the_fields():
    # As documented: Item and Box compare by identity; compare to_dict() for the fields.
    item = ITEMS[0]
    twin = copy(item)
    assert twin != item and twin.to_dict() == item.to_dict()
    assert item == item and len({item, twin}) == 2


def _pack_in_worker(items):
    return stowvex.pack(items, BOXES)


def test_objects_cross_a_process_pool():
    with ProcessPoolExecutor(1) as pool:
        result = pool.submit(_pack_in_worker, ITEMS).result(timeout=60)
    assert result.to_json() == stowvex.pack(ITEMS, BOXES).to_json()


@pytest.mark.parametrize(
    "cls, state",
    [
        (stowvex.Item, ("A", "A", 1, 1, 1, 1, "", 7)),  # no such rotation
        (stowvex.Item, ("A",)),
        (stowvex.Item, (b"\xff", "A", 1, 1, 1, 1, "", 0)),  # not UTF-8
        (stowvex.Box, ("B", 1, 1, 1, -1, 0, True)),
        (stowvex.PackedItem, (None, 1, 1, 1, "WLD", 0, 0, 0)),
        (stowvex.PackResult, (True, [], [None])),
    ],
)
def test_a_state_that_is_no_pickle_of_the_class_is_refused(cls, state):
    with pytest.raises((ValueError, RuntimeError, TypeError)):
        cls.__new__(cls).__setstate__(state)
