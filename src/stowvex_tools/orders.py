"""Reading requests, box catalogues and files of orders (JSON Lines or CSV order lines)."""

from __future__ import annotations

import csv
import difflib
import json
import math
import os
import re
import sys
from collections.abc import Iterable, Iterator
from pathlib import Path
from typing import IO, Any

# One order of a batch file, as it travels to a worker process: plain tuples, cheap to pickle.
#   ("json", line, text, None)            one line of a JSON Lines file, as bytes
#   ("csv", line, order_id, rows)         the CSV rows of one order, each (line, cells),
#                                         or (line, message) for a row that is unreadable
#   ("bad", line, order_id, message)      an order already known to be unreadable
CsvRow = tuple[int, Any]  # (line, cells in the order of CSV_COLUMNS) or (line, message)
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
    "item_reference",
    "box_group",
    "fragile",
    "max_load",
    "orientations",
    "stop",
)
"""The columns of CSV order lines; a file names those it has in its header row. The
last four are loading rules: fragile (true/false, yes/no, 1/0), max_load (a weight),
orientations (labels such as WLD, separated by spaces, commas or semicolons inside
one cell) and stop (a whole number)."""

CSV_REQUIRED = CSV_COLUMNS[:5]
"""The columns every CSV file of order lines must have."""

CSV_ALIASES = {"allowed_rotation": "rotation", "id": "order_id", "code": "item_code"}
"""Other names a header may give a column."""


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


def decode_line(data: str | bytes) -> str:
    """A line of JSON Lines as text: UTF-8, after a UTF-8 byte order mark if it has one.
    Raises UnicodeDecodeError for anything else, such as the byte order mark of UTF-16,
    which `json.loads` would otherwise take for a sign of UTF-16 text."""
    if isinstance(data, str):
        return data.removeprefix("\ufeff")
    return data.removeprefix(b"\xef\xbb\xbf").decode("utf-8")


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
    return parse_json(read_source(source), "<stdin>" if source == "-" else source)


LINES_HINT = "a file of JSON Lines, one order a line: pack it with stowvex batch"


def parse_json(data: bytes, name: str, lines_hint: str = LINES_HINT) -> Any:
    """A whole JSON document; InputError naming `name` when it is no JSON or not UTF-8,
    with `lines_hint` when the file looks like JSON Lines."""
    try:
        return strict_loads(decode_line(data))
    except UnicodeDecodeError as error:
        raise InputError(f"{name}: not UTF-8 text ({error.reason})") from None
    except RecursionError:
        raise InputError(f"{name}: not valid JSON: nested too deeply") from None
    except ValueError as error:
        hint = f" ({lines_hint})" if _looks_like_lines(error) else ""
        raise InputError(f"{name}: not valid JSON: {error}{hint}") from None


def is_json_lines(data: bytes) -> bool:
    """Whether text that is no JSON document is JSON Lines: one document a line."""
    try:
        strict_loads(decode_line(data))
    except ValueError as error:
        return _looks_like_lines(error)
    except RecursionError:
        return False
    return False


def _looks_like_lines(error: ValueError) -> bool:
    # A JSON Lines file read as one document fails at the start of its second line.
    return (
        isinstance(error, json.JSONDecodeError)
        and error.msg == "Extra data"
        and error.lineno > 1
        and error.colno == 1
    )


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


class _CountedLines:
    """The lines of a file read as bytes, decoded for the CSV reader, counted as they go.

    Bytes that are not UTF-8 are kept as lone surrogates (surrogateescape), so the reader
    reads past them and the row holding them can be refused alone; a UTF-8 byte order
    mark at the start is dropped."""

    def __init__(self, lines: Iterable[bytes] | Iterable[str]) -> None:
        self._lines: Iterator[bytes | str] = iter(lines)
        self.number = 0

    def __iter__(self) -> _CountedLines:
        return self

    def __next__(self) -> str:
        read = next(self._lines)
        self.number += 1
        line = read.decode("utf-8", "surrogateescape") if isinstance(read, bytes) else read
        return line.removeprefix("\ufeff") if self.number == 1 else line


# What surrogateescape makes of the bytes that are not UTF-8.
_ESCAPED_BYTES = re.compile("[\udc80-\udcff]")


def _undecodable(text: str) -> bool:
    return _ESCAPED_BYTES.search(text) is not None


def csv_column_name(text: str) -> str:
    """A header cell as it is compared with the column names: stripped, in lower case,
    with spaces and hyphens as underscores."""
    return "_".join(text.strip().lower().replace("-", " ").split())


def csv_header(cells: list[str], line: int = 1) -> list[int | None]:
    """Where each column of `CSV_COLUMNS` stands in the rows, from the header row: its
    index, or None for an optional column the file does not have. Raises ValueError
    naming an unknown, doubled or missing column."""
    names = [csv_column_name(cell) for cell in cells]
    names = [CSV_ALIASES.get(name, name) for name in names]
    if "order_id" not in names and not any(name in CSV_COLUMNS for name in names):
        raise ValueError(
            f"line {line}: the first row must name the columns, such as "
            f"{','.join(CSV_REQUIRED)}[,weight,quantity,...]; it reads {','.join(cells)[:60]!r}"
        )
    for name, cell in zip(names, cells):
        if name not in CSV_COLUMNS:
            close = difflib.get_close_matches(name, CSV_COLUMNS, n=1)
            hint = f"did you mean {close[0]!r}? " if close else ""
            raise ValueError(
                f"line {line}: unknown column {cell.strip()!r} ({hint}the columns are "
                f"{', '.join(CSV_COLUMNS)})"
            )
        if names.count(name) > 1:
            raise ValueError(f"line {line}: column {name!r} is named twice")
    for name in CSV_REQUIRED:
        if name not in names:
            raise ValueError(f"line {line}: the required column {name!r} is missing")
    return [names.index(name) if name in names else None for name in CSV_COLUMNS]


def csv_orders(lines: Iterable[str] | Iterable[bytes]) -> Iterator[OrderTask]:
    """One task per order of a CSV file of order lines; the rows of an order stand together.

    The first row names the columns (`csv_header`), in any order. A row that cannot be
    read (bytes that are not UTF-8, a field longer than the CSV reader takes, other cells
    than the header has) fails its order, named by its line; one whose order id cannot be
    read fails alone. An order id that comes back after other orders becomes an order of
    its own that fails, so no row is silently merged into an order packed long before.
    Raises ValueError when the header is not usable."""
    counted = _CountedLines(lines)
    reader = csv.reader(counted)
    positions: list[int | None] | None = None
    seen: set[str] = set()
    current: str | None = None
    rows: list[CsvRow] = []
    first_line = 0
    alone: list[OrderTask] = []  # rows without an order id, given after the current order
    while True:
        start = counted.number + 1
        try:
            cells = next(reader)
        except StopIteration:
            break
        except csv.Error as error:
            message = str(error)
            if "field limit" in message:
                message = f"a field is longer than {csv.field_size_limit():,} characters"
            alone.append(("bad", start, None, f"line {start}: not readable CSV: {message}"))
            continue
        if not cells or all(not cell.strip() for cell in cells):
            continue
        if positions is None:
            if _undecodable("".join(cells)):
                raise ValueError(f"line {start}: the header row is not UTF-8 text")
            positions = csv_header(cells, start)
            continue
        row, order_id = _csv_row(start, cells, positions)
        if order_id is None:
            alone.append(("bad", start, None, f"line {start}: {row}"))
            continue
        if order_id != current:
            if current is not None:
                yield _csv_task(first_line, current, rows, seen)
            yield from alone
            alone.clear()
            current, rows, first_line = order_id, [], start
        rows.append((start, row))
    if current is not None:
        yield _csv_task(first_line, current, rows, seen)
    yield from alone
    if positions is None:
        raise ValueError(
            f"no header row: the first row names the columns, such as {','.join(CSV_REQUIRED)}"
        )


def _csv_row(line: int, cells: list[str], positions: list[int | None]) -> tuple[Any, str | None]:
    """The cells of a row in the order of `CSV_COLUMNS` ("" for an absent optional column)
    and its order id; for a row that cannot be read its message instead of the cells, and
    None for the id when that cannot be read either."""
    width = sum(p is not None for p in positions)
    index = positions[0]
    order_id = cells[index].strip() if index is not None and index < len(cells) else None
    if order_id is not None and _undecodable(order_id):
        order_id = None
    if _undecodable("".join(cells)):
        return "not UTF-8 text", order_id
    if len(cells) > width:
        return f"{len(cells)} cells, but the header names {width} columns", order_id
    # A short row leaves its last columns empty, as csv.DictReader reads it.
    return [cells[p] if p is not None and p < len(cells) else "" for p in positions], order_id


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
        # Bytes for both: a line or row that is not UTF-8 fails alone. The file is
        # closed by the with block below, outside the handler of open's own errors.
        handle: IO[bytes] = open(path, "rb")  # noqa: SIM115
    except OSError as error:
        raise InputError(f"{path}: cannot read: {error.strerror or error}") from None
    with handle:
        if not csv_input:
            yield from jsonl_orders(handle)
            return
        try:
            yield from csv_orders(handle)
        except ValueError as error:
            raise InputError(f"{path}: {error}") from None


# A JSON Lines file larger than this is not read whole to see whether it is one document.
_WHOLE_DOCUMENT_LIMIT = 64 * 1024 * 1024


def check_json_lines(path: str) -> None:
    """Raises InputError when a batch input is one JSON document written over many lines,
    such as a request or a box catalogue as `stowvex pack` reads it, rather than one order
    a line: its first line alone is no JSON, and the whole file is."""
    try:
        with open(path, "rb") as handle:
            first = next((line for line in handle if line.strip()), b"")
            if not first:
                return
            try:
                strict_loads(decode_line(first))
                return
            except (ValueError, RecursionError):
                pass
            if os.fstat(handle.fileno()).st_size > _WHOLE_DOCUMENT_LIMIT:
                return
            handle.seek(0)
            whole = handle.read()
    except OSError as error:
        raise InputError(f"{path}: cannot read: {error.strerror or error}") from None
    try:
        document = strict_loads(decode_line(whole))
    except (ValueError, RecursionError):
        return
    what = "a list" if isinstance(document, list) else "one JSON document"
    raise InputError(
        f"{path}: {what} over many lines, not JSON Lines (one order a line): pack a "
        "single request with stowvex pack, or write one order a line"
    )


def check_csv_header(path: str) -> None:
    """Raises InputError when a CSV file of order lines has no usable header row."""
    try:
        with open(path, "rb") as handle:
            for _ in csv_orders(handle):
                return
    except OSError as error:
        raise InputError(f"{path}: cannot read: {error.strerror or error}") from None
    except ValueError as error:
        raise InputError(f"{path}: {error}") from None


def count_orders(path: str, input_format: str | None = None) -> int | None:
    """How many orders a batch input holds (for the progress bar); None when unknown."""
    try:
        if not is_csv(path, input_format):
            with open(path, "rb") as handle:
                return sum(1 for line in handle if line.strip())
        return sum(1 for _ in open_orders(path, input_format))
    except (OSError, InputError, UnicodeDecodeError):
        return None


def csv_items(rows: list[CsvRow], copies: bool = True) -> list[dict[str, Any]]:
    """Item objects of the request format from the CSV rows of one order.

    Each row holds its cells in the order of `CSV_COLUMNS` (order_id, item_code, width,
    length, depth, weight, quantity[, rotation, item_reference, box_group]), or the
    message of a row that could not be read; an empty weight is 0, an empty quantity 1;
    quantity copies share the item code (with `copies` False, each row gives one item)."""
    items: list[dict[str, Any]] = []
    for line, cells in rows:
        if isinstance(cells, str):
            raise ValueError(f"line {line}: {cells}")
        if len(cells) < 7 or len(cells) > len(CSV_COLUMNS):
            raise ValueError(
                f"line {line}: {len(cells)} columns, expected 7 to {len(CSV_COLUMNS)} "
                f"({','.join(CSV_COLUMNS)})"
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
        cells = list(cells) + [""] * (len(CSV_COLUMNS) - len(cells))
        item["Weight"] = _csv_number(line, "weight", cells[5]) if cells[5].strip() else 0.0
        quantity = _csv_quantity(line, cells[6])
        for key, index in (("AllowedRotation", 7), ("ItemReference", 8), ("BoxGroup", 9)):
            if cells[index].strip():
                item[key] = cells[index].strip()
        _csv_rules(line, cells, item)
        items.extend(dict(item) for _ in range(quantity if copies else 1))
    return items


_CSV_TRUTH = {"true": True, "yes": True, "1": True, "false": False, "no": False, "0": False}


def _csv_rules(line: int, cells: list[str], item: dict[str, Any]) -> None:
    """The loading rule columns of a row, as the request's keys."""
    fragile, max_load, orientations, stop = (c.strip() for c in cells[10:14])
    if fragile:
        if fragile.lower() not in _CSV_TRUTH:
            raise ValueError(f"line {line}: fragile {fragile!r} is not true or false")
        item["Fragile"] = _CSV_TRUTH[fragile.lower()]
    if max_load:
        item["MaxLoad"] = _csv_number(line, "max_load", max_load)
    if orientations:
        item["Orientations"] = orientations.replace(",", " ").replace(";", " ").split()
    if stop:
        try:
            item["Stop"] = int(stop)
        except ValueError:
            raise ValueError(f"line {line}: stop {stop!r} is not a whole number") from None


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
