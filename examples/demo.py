"""Reads a packing request and shows the items and box types it describes."""

import json
import sys

import stowvex


def main(path):
    with open(path, encoding="utf-8") as f:
        request = json.load(f)
    items = [stowvex.Item(d["ItemCode"], d.get("ItemReference", d["ItemCode"]), d["Width"],
                          d["Length"], d["Depth"], d.get("Weight", 0), d.get("BoxGroup", ""),
                          getattr(stowvex.Rotation, {"Never": "NEVER", "KeepFlat": "KEEP_FLAT"}
                                  .get(d.get("AllowedRotation"), "BEST_FIT")))
             for d in request["items"]]
    boxes = [stowvex.Box(d["Reference"], d["Width"], d["Length"], d["Depth"],
                         d.get("MaxWeight", -1.0), d.get("BoxWeight", 0.0), d.get("Active", True),
                         d.get("MaximumBoxes"))
             for d in request["boxes"]]
    print(f"{len(items)} items:")
    for item in items:
        print(f"  {item!r}: {item.to_dict()}")
    print(f"{len(boxes)} box types:")
    for box in boxes:
        print(f"  {box!r}: {box.to_dict()}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/request.json")
