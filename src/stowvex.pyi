"""
Crateon 3D bin-packing engine.

solve(json) -> json is the simplest entry point; pack_dicts(items, boxes) and pack(items, boxes) return a richer PackResult object.
"""

# Type information for the extension module stowvex, kept by hand. The
# docstrings are the module's own, word for word. The names that start with an
# underscore exist only for type checkers: they describe the dicts that the
# to_dict methods return. The documentation build runs this file as Python to
# read it, hence the postponed annotations and the values of Rotation's members.

from __future__ import annotations

from collections.abc import Sequence
from typing import ClassVar, SupportsFloat, SupportsIndex, TypeAlias, TypedDict

from typing_extensions import Never

__version__: str

# Measures accept any real number: int, float, or an object with __float__ or __index__.
_Number: TypeAlias = SupportsFloat | SupportsIndex

# What pickling keeps of each class (__getstate__ gives it, __setstate__ takes it):
# for Item and Box the arguments of the constructor, for the others their parts.
# Quoted, as the classes they name come later in the file.
_ItemState: TypeAlias = "tuple[str, str, float, float, float, float, str, int]"
_BoxState: TypeAlias = "tuple[str, float, float, float, float, float, bool, int | None]"
_PlacementState: TypeAlias = "tuple[Item, float, float, float, str, float, float, float]"
_PackedBoxState: TypeAlias = "tuple[Box, list[PackedItem]]"
_ResultState: TypeAlias = "tuple[bool, list[PackedBox], list[Item]]"

class Rotation:
    """
    How free an item is to be reoriented while packing.

    Members:

      NEVER : Must be packed exactly as given (Width/Length/Depth).

      KEEP_FLAT : May swap Width/Length but stay 'this way up'.

      BEST_FIT : May be placed in any of the 6 axis orderings.
    """

    NEVER: ClassVar[Rotation] = ...
    KEEP_FLAT: ClassVar[Rotation] = ...
    BEST_FIT: ClassVar[Rotation] = ...
    __members__: ClassVar[dict[str, Rotation]]
    def __init__(self, value: SupportsIndex) -> None: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...
    def __index__(self) -> int: ...
    def __getstate__(self) -> int: ...
    def __setstate__(self, state: SupportsIndex) -> None: ...
    def __reduce__(self) -> tuple[object, ...]: ...
    @property
    def name(self) -> str: ...
    @property
    def value(self) -> int: ...

class _ItemDict(TypedDict):
    AllowedRotation: str
    BoxGroup: str | None
    Depth: float
    ItemCode: str
    ItemReference: str
    Length: float
    Volume: float
    Weight: float
    Width: float

class _BoxDict(TypedDict):
    Active: bool
    BoxWeight: float
    Depth: float
    InnerVolume: float
    Length: float
    MaxWeight: float | None
    MaximumBoxes: int | None
    Reference: str
    Width: float

class _PlacementDict(TypedDict):
    ItemCode: str
    ItemReference: str
    box_group: str | None
    depth: float
    length: float
    orientation: str
    original_depth: float
    original_length: float
    original_width: float
    rotated: bool
    weight: float
    width: float
    x: float
    y: float
    z: float

class _PackedBoxDict(TypedDict):
    box_reference: str
    depth: float
    empty_weight: float
    inner_volume: float
    item_count: int
    item_weight: float
    items: list[_PlacementDict]
    length: float
    max_weight: float | None
    remaining_depth: float
    remaining_length: float
    remaining_weight: float | None
    remaining_width: float
    unused_volume: float
    used_depth: float
    used_length: float
    used_volume: float
    used_width: float
    volume_utilisation: float
    weight: float
    width: float

# A packed box and a placement as the whole result lists them: with the
# position of their box among the result's boxes.
class _ResultBoxDict(_PackedBoxDict):
    box_index: int

class _ResultPlacementDict(_PlacementDict):
    box_index: int
    box_reference: str

class _SummaryDict(TypedDict):
    box_count: int
    overall_volume_utilisation: float
    total_placed: int
    total_unplaced: int

class _ResultDict(TypedDict):
    boxes: list[_ResultBoxDict]
    placements: list[_ResultPlacementDict]
    success: bool
    summary: _SummaryDict
    unplaced_item_codes: list[str]
    unplaced_items: list[_ItemDict]

class Item:
    """
    A single item to be packed.
    """

    def __init__(
        self,
        item_code: str,
        item_reference: str,
        width: _Number,
        length: _Number,
        depth: _Number,
        weight: _Number,
        box_group: str = "",
        allowed_rotation: Rotation = Rotation.BEST_FIT,
    ) -> None: ...
    @property
    def item_code(self) -> str: ...
    @property
    def item_reference(self) -> str: ...
    @property
    def width(self) -> float: ...
    @property
    def length(self) -> float: ...
    @property
    def depth(self) -> float: ...
    @property
    def weight(self) -> float: ...
    @property
    def box_group(self) -> str | None: ...
    @property
    def has_box_group(self) -> bool: ...
    @property
    def allowed_rotation(self) -> Rotation: ...
    @property
    def volume(self) -> float: ...
    def to_dict(self) -> _ItemDict:
        """
        Every feature of this item as a plain Python dict.
        """
    def __repr__(self) -> str: ...
    def __getstate__(self) -> _ItemState: ...
    def __setstate__(self, state: _ItemState) -> None: ...
    def __reduce__(self) -> tuple[object, ...]: ...

class Box:
    """
    A box type available to pack items into.
    """

    def __init__(
        self,
        reference: str,
        width: _Number,
        length: _Number,
        depth: _Number,
        max_weight: _Number = -1.0,
        empty_weight: _Number = 0.0,
        active: bool = True,
        max_quantity: SupportsIndex | None = None,
    ) -> None: ...
    @property
    def reference(self) -> str: ...
    @property
    def width(self) -> float: ...
    @property
    def length(self) -> float: ...
    @property
    def depth(self) -> float: ...
    @property
    def max_weight(self) -> float: ...
    @property
    def has_weight_limit(self) -> bool: ...
    @property
    def empty_weight(self) -> float: ...
    @property
    def active(self) -> bool: ...
    @property
    def max_quantity(self) -> int | None: ...
    @property
    def has_limited_quantity(self) -> bool: ...
    @property
    def inner_volume(self) -> float: ...
    def to_dict(self) -> _BoxDict:
        """
        Every feature of this box type as a plain Python dict.
        """
    def __repr__(self) -> str: ...
    def __getstate__(self) -> _BoxState: ...
    def __setstate__(self, state: _BoxState) -> None: ...
    def __reduce__(self) -> tuple[object, ...]: ...

# PackedItem, PackedBox and PackResult come only out of the module: calling
# one of these classes raises TypeError.

class PackedItem:
    """
    An Item placed at a specific position inside a box.
    """

    def __init__(self, *args: Never, **kwargs: Never) -> None: ...
    @property
    def item(self) -> Item:
        """
        The original Item that was placed.
        """
    @property
    def x(self) -> float: ...
    @property
    def y(self) -> float: ...
    @property
    def z(self) -> float: ...
    @property
    def width(self) -> float:
        """
        Placed (post-rotation) width.
        """
    @property
    def length(self) -> float:
        """
        Placed (post-rotation) length.
        """
    @property
    def depth(self) -> float:
        """
        Placed (post-rotation) depth.
        """
    @property
    def weight(self) -> float: ...
    @property
    def volume(self) -> float: ...
    @property
    def orientation(self) -> str:
        """
        Axis mapping used, e.g. 'WLD' = original order, 'LWD' = width/length swapped, etc.
        """
    @property
    def rotated(self) -> bool:
        """
        True if this item was not placed in its original orientation.
        """
    def to_dict(self) -> _PlacementDict: ...
    def __repr__(self) -> str: ...
    def __getstate__(self) -> _PlacementState: ...
    def __setstate__(self, state: _PlacementState) -> None: ...
    def __reduce__(self) -> tuple[object, ...]: ...

class PackedBox:
    """
    A box together with everything packed into it.
    """

    def __init__(self, *args: Never, **kwargs: Never) -> None: ...
    @property
    def box(self) -> Box: ...
    @property
    def items(self) -> list[PackedItem]: ...
    @property
    def weight(self) -> float:
        """
        Empty weight + all item weights.
        """
    @property
    def item_weight(self) -> float: ...
    @property
    def max_weight(self) -> float: ...
    @property
    def remaining_weight(self) -> float: ...
    @property
    def used_volume(self) -> float: ...
    @property
    def inner_volume(self) -> float: ...
    @property
    def unused_volume(self) -> float: ...
    @property
    def volume_utilisation(self) -> float:
        """
        Used volume as a percentage (0-100) of inner volume.
        """
    @property
    def used_width(self) -> float: ...
    @property
    def used_length(self) -> float: ...
    @property
    def used_depth(self) -> float: ...
    @property
    def remaining_width(self) -> float: ...
    @property
    def remaining_length(self) -> float: ...
    @property
    def remaining_depth(self) -> float: ...
    def to_dict(self) -> _PackedBoxDict: ...
    def __len__(self) -> int: ...
    def __repr__(self) -> str: ...
    def __getstate__(self) -> _PackedBoxState: ...
    def __setstate__(self, state: _PackedBoxState) -> None: ...
    def __reduce__(self) -> tuple[object, ...]: ...

class PackResult:
    """
    The outcome of a packing run.
    """

    def __init__(self, *args: Never, **kwargs: Never) -> None: ...
    @property
    def success(self) -> bool:
        """
        True if every item was placed in some box.
        """
    @property
    def boxes(self) -> list[PackedBox]: ...
    @property
    def unplaced_items(self) -> list[Item]: ...
    @property
    def overall_volume_utilisation(self) -> float: ...
    @property
    def total_placed(self) -> int: ...
    @property
    def total_unplaced(self) -> int: ...
    def to_dict(self) -> _ResultDict:
        """
        The full result -- every box, every placed item, and every unplaced item -- as a plain Python dict.
        """
    def to_json(self, indent: SupportsIndex = 2) -> str:
        """
        The full result as a JSON string.
        """
    def __repr__(self) -> str: ...
    def __getstate__(self) -> _ResultState: ...
    def __setstate__(self, state: _ResultState) -> None: ...
    def __reduce__(self) -> tuple[object, ...]: ...

def solve(request_json: str | bytes | bytearray) -> str:
    """
    The simplest entry point: pass a JSON string shaped like
    {"items": [...], "boxes": [...]} and get a JSON string back.
    No stowvex types required on either side.
    """

def pack_dicts(items: object, boxes: object) -> PackResult:
    """
    Like solve(), but takes/returns native Python objects: pass lists
    of plain dicts shaped like items.json / boxes.json and get back a
    rich PackResult with attribute access to every feature.
    """

def pack(items: Sequence[Item], boxes: Sequence[Box]) -> PackResult:
    """
    Like pack_dicts(), but takes lists of stowvex.Item / stowvex.Box
    objects instead of plain dicts.
    """
