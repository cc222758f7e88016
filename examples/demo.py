"""Packs a request file and prints a readable summary, then the result JSON."""

import json
import sys

import stowvex


def describe(result: stowvex.PackResult) -> str:
    lines = [
        f"{'all items placed' if result.success else 'NOT all items placed'}: "
        f"{result.total_placed} placed in {len(result.boxes)} boxes, "
        f"{result.total_unplaced} unplaced, "
        f"overall volume utilisation {result.overall_volume_utilisation:.1f} %"
    ]
    for index, packed in enumerate(result.boxes):
        box = packed.box
        lines.append(
            f"\nbox {index}: {box.reference} ({box.width:g} x {box.length:g} x "
            f"{box.depth:g}), {len(packed)} item{'' if len(packed) == 1 else 's'}, "
            f"{packed.weight:g} kg gross, "
            f"{packed.volume_utilisation:.1f} % full"
        )
        for placed in packed.items:
            item = placed.item
            group = f"  [group {item.box_group}]" if item.has_box_group else ""
            lines.append(
                f"  {item.item_code:<11} at ({placed.x:g}, {placed.y:g}, {placed.z:g})"
                f"  {placed.width:g} x {placed.length:g} x {placed.depth:g}"
                f"  {placed.orientation}{' (turned)' if placed.rotated else ''}{group}"
            )
    for item in result.unplaced_items:
        lines.append(f"\nunplaced: {item.item_code} ({item.item_reference})")
    return "\n".join(lines)


def main(path: str) -> None:
    with open(path, encoding="utf-8") as f:
        request = json.load(f)
    result = stowvex.pack_dicts(request["items"], request["boxes"])
    print(describe(result))
    print("\nresult JSON:")
    print(result.to_json(indent=2))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples/request.json")
