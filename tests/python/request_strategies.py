"""Random requests as the dicts of pack_dicts, for the property tests."""

from hypothesis import strategies as st


@st.composite
def requests(draw, *, sizes, weights, rotations, max_items, max_boxes, max_box_side):
    """Up to `max_items` items (sides from `sizes`, a weight from `weights`, a
    rotation from `rotations`, now and then in a box group) and 1 to
    `max_boxes` box types mixing weight and quantity limits and inactive types."""

    def sized(sides, **fields):
        return {**fields, **{key: draw(sides) for key in ("Width", "Length", "Depth")}}

    items = []
    for i in range(draw(st.integers(0, max_items))):
        item = sized(sizes, ItemCode=f"I{i:02d}")
        item["Weight"] = draw(st.sampled_from(weights))
        item["AllowedRotation"] = draw(st.sampled_from(rotations))
        group = draw(st.sampled_from(["", "", "", "KIT", "PAIR"]))
        if group:
            item["BoxGroup"] = group
        items.append(item)
    boxes = []
    for b in range(draw(st.integers(1, max_boxes))):
        box = sized(st.integers(2, max_box_side), Reference=f"B{b}")
        box["BoxWeight"] = draw(st.sampled_from([0, 0.5, 1]))
        if draw(st.booleans()):
            box["MaxWeight"] = draw(st.sampled_from([4, 10, 30]))
        if draw(st.integers(0, 3)) == 0:
            box["MaximumBoxes"] = draw(st.integers(0, 2))
        if draw(st.integers(0, 5)) == 0:
            box["Active"] = False
        boxes.append(box)
    return {"items": items, "boxes": boxes}
