"""Reading requests, box catalogues and files of orders (JSON Lines or CSV order lines)."""

from __future__ import annotations

import csv
import json
import math
import sys
from collections.abc import Iterable, Iterator
from pathlib import Path
from typing import IO, Any

# One order of a batch file, as it travels to a worker process: plain tuples, cheap to pickle.
#   ("json", line, text, None)            one line of a JSON Lines file, as bytes
#   ("csv", line, order_id, rows)         the CSV rows of one order, each (line, cells)
#   ("bad", line, order_id, message)      an order already known to be unreadable
CsvRow = tuple[int, list[str]]
OrderTask = tuple[str, int, Any, Any]

CSV_COLUMNS = (
    "order_id",
    "item_code",
    "width",
    "length",
    "depth",
    "weight",
    "quantity",
    "rotation",
)


# More copies of one order line than this is taken for a typing error, not an order.
MAX_QUANTITY = 100_000


class InputError(Exception):
    """A file or request that cannot be read at all; the message names the file."""


def _refuse_constant(name: str) -> Any:
    raise ValueError(f"{name} is not a JSON number")


def _finite(text: str) -> float:
    value = float(text)
    if value in (math.inf, -math.inf):
        raise ValueError(f"number {text} is out of range")
    return value


def strict_loads(text: str | bytes) -> Any:
    """Parses JSON the way the engine does: NaN and Infinity are not numbers, and no
    number may overflow a double."""
    return json.loads(text, parse_constant=_refuse_constant, parse_float=_finite)


def read_source(source: str) -> bytes:
    """The bytes of a file, or of standard input when `source` is "-"."""
    if source == "-":
        return sys.stdin.buffer.read()
    try:
        return Path(source).read_bytes()
    except OSError as error:
        raise InputError(f"{source}: cannot read: {error.strerror or error}") from None


def load_json_file(source: str) -> Any:
    """A whole JSON document from a file or "-", with a one-line error for bad JSON."""
    data = read_source(source)
    try:
        return strict_loads(data)
    except UnicodeDecodeError as error:
        raise InputError(f"{source}: not UTF-8 text ({error.reason})") from None
    except ValueError as error:
        raise InputError(f"{source}: not valid JSON: {error}") from None


def load_catalogue(source: str) -> list[Any]:
    """Box types from a file holding a list of box objects or a request with "boxes"."""
    data = load_json_file(source)
    if isinstance(data, dict) and "boxes" in data:
        data = data["boxes"]
    if not isinstance(data, list) or not data:
        raise InputError(
            f"{source}: a box catalogue is a non-empty list of box objects "
            '(or an object with such a list under "boxes")'
        )
    return data


def jsonl_orders(lines: Iterable[bytes]) -> Iterator[OrderTask]:
    """One task per non-blank line of a JSON Lines file read as bytes. The lines stay
    bytes: the process that packs an order decodes it, so a line that is not UTF-8
    fails as an order of its own, and reading a large file costs its reader little."""
    for number, line in enumerate(lines, start=1):
        if line.strip():
            yield ("json", number, line.rstrip(b"\r\n"), None)


def _is_header(cells: list[str]) -> bool:
    return bool(cells) and cells[0].strip().lower() == "order_id"


def csv_orders(lines: Iterable[str]) -> Iterator[OrderTask]:
    """One task per order of a CSV file of order lines; the rows of an order stand together.

    A header row (first cell "order_id") is optional. An order id that comes back after
    other orders becomes an order of its own that fails, so no row is silently merged
    into an order packed long before."""
    seen: set[str] = set()
    current: str | None = None
    rows: list[CsvRow] = []
    first_line = 0
    for number, cells in enumerate(csv.reader(lines), start=1):
        if not cells or all(not cell.strip() for cell in cells):
            continue
        if number == 1 and _is_header(cells):
            continue
        order_id = cells[0].strip()
        if order_id != current:
            if current is not None:
                yield _csv_task(first_line, current, rows, seen)
            current, rows, first_line = order_id, [], number
        rows.append((number, cells))
    if current is not None:
        yield _csv_task(first_line, current, rows, seen)


def _csv_task(line: int, order_id: str, rows: list[CsvRow], seen: set[str]) -> OrderTask:
    if order_id in seen:
        return (
            "bad",
            line,
            order_id,
            f"line {line}: order {order_id!r} appears again after other orders; "
            "the rows of one order must stand together",
        )
    seen.add(order_id)
    return ("csv", line, order_id, rows)


def is_csv(path: str, input_format: str | None = None) -> bool:
    """Whether a batch input is CSV order lines: as `input_format` says, or by its name."""
    if input_format is not None:
        return input_format == "csv"
    return path.lower().endswith((".csv", ".csv.txt"))


def open_orders(path: str, input_format: str | None = None) -> Iterator[OrderTask]:
    """The orders of a batch input file, in file order."""
    csv_input = is_csv(path, input_format)
    try:
        # Text for CSV, bytes for JSON Lines (decoded order by order). The file is
        # closed by the with block below, outside the handler of open's own errors.
        handle: IO[Any] = (
            open(path, encoding="utf-8", newline="")  # noqa: SIM115
            if csv_input
            else open(path, "rb")  # noqa: SIM115
        )
    except OSError as error:
        raise InputError(f"{path}: cannot read: {error.strerror or error}") from None
    with handle:
        try:
            if csv_input:
                yield from csv_orders(handle)
            else:
                yield from jsonl_orders(handle)
        except UnicodeDecodeError as error:
            raise InputError(f"{path}: not UTF-8 text ({error.reason})") from None
        except csv.Error as error:
            raise InputError(f"{path}: not a readable CSV file: {error}") from None


def count_orders(path: str, input_format: str | None = None) -> int | None:
    """How many orders a batch input holds (for the progress bar); None when unknown."""
    try:
        if not is_csv(path, input_format):
            with open(path, "rb") as handle:
                return sum(1 for line in handle if line.strip())
        return sum(1 for _ in open_orders(path, input_format))
    except (OSError, InputError, UnicodeDecodeError):
        return None


def csv_items(rows: list[CsvRow]) -> list[dict[str, Any]]:
    """Item objects of the request format from the CSV rows of one order.

    Columns: order_id, item_code, width, length, depth, weight, quantity[, rotation];
    an empty weight is 0, an empty quantity 1; quantity copies share the item code."""
    items: list[dict[str, Any]] = []
    for line, cells in rows:
        if len(cells) < 7 or len(cells) > 8:
            raise ValueError(
                f"line {line}: {len(cells)} columns, expected 7 or 8 "
                "(order_id,item_code,width,length,depth,weight,quantity[,rotation])"
            )
        code = cells[1].strip()
        if not code:
            raise ValueError(f"line {line}: item_code is empty")
        item: dict[str, Any] = {"ItemCode": code}
        for key, column, text in (
            ("Width", "width", cells[2]),
            ("Length", "length", cells[3]),
            ("Depth", "depth", cells[4]),
        ):
            item[key] = _csv_number(line, column, text)
        item["Weight"] = _csv_number(line, "weight", cells[5]) if cells[5].strip() else 0.0
        quantity = _csv_quantity(line, cells[6])
        if len(cells) == 8 and cells[7].strip():
            item["AllowedRotation"] = cells[7].strip()
        items.extend(dict(item) for _ in range(quantity))
    return items


def _csv_number(line: int, column: str, text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise ValueError(f"line {line}: {column} {text.strip()!r} is not a number") from None
    if value != value or value in (float("inf"), float("-inf")):
        raise ValueError(f"line {line}: {column} {text.strip()!r} is not a finite number")
    return value


def _csv_quantity(line: int, text: str) -> int:
    if not text.strip():
        return 1
    try:
        quantity = int(text)
    except ValueError:
        raise ValueError(f"line {line}: quantity {text.strip()!r} is not a whole number") from None
    if quantity < 1 or quantity > MAX_QUANTITY:
        raise ValueError(f"line {line}: quantity {quantity} is not between 1 and {MAX_QUANTITY}")
    return quantity
