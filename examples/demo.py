"""Packs a request file, writes the result JSON and an HTML picture of it, and prints
a short summary: the boxes, how full they are, and where the two files went.

Usage: python examples/demo.py [REQUEST.json [OUTPUT_FOLDER]]
"""

import json
import sys
from pathlib import Path

import stowvex
from stowvex_tools import render_html


def summary(result: stowvex.PackResult, request: str) -> list[str]:
    boxes = result.boxes
    lines = [
        f"packed {request}: {result.total_placed} items in {len(boxes)} "
        f"box{'' if len(boxes) == 1 else 'es'}, {result.total_unplaced} left over, "
        f"{result.overall_volume_utilisation:.1f} % of the boxes' volume filled"
    ]
    for index, packed in enumerate(boxes):
        box = packed.box
        lines.append(
            f"  box {index}: {box.reference} ({box.width:g} x {box.length:g} x {box.depth:g}), "
            f"{len(packed)} item{'' if len(packed) == 1 else 's'}, {packed.weight:g} kg, "
            f"{packed.volume_utilisation:.1f} % full"
        )
    lines.extend(f"  not placed: {item.item_code}" for item in result.unplaced_items)
    return lines


def main(request: str, folder: str) -> None:
    with open(request, encoding="utf-8") as f:
        data = json.load(f)
    result = stowvex.pack_dicts(data["items"], data["boxes"])
    out = Path(folder)
    out.mkdir(parents=True, exist_ok=True)
    result_path = out / "result.json"
    result_path.write_text(result.to_json(indent=2) + "\n", encoding="utf-8")
    picture = render_html(result, out / "view.html", title="stowvex demo")
    print("\n".join(summary(result, request)))
    print(f"full result: {result_path}")
    print(f"picture:     {picture} (open it in a browser: turn, zoom, step through the items)")


if __name__ == "__main__":
    arguments = sys.argv[1:]
    main(
        arguments[0] if arguments else "examples/request.json",
        arguments[1] if len(arguments) > 1 else "build/demo",
    )
