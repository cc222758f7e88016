"""The `stowvex` command: pack, batch, check, validate and render."""

from __future__ import annotations

import argparse
import sys
from collections.abc import Sequence
from pathlib import Path
from typing import Any, NoReturn

from .optimiser import DEFAULT_TIME_LIMIT

PROG = "stowvex"

DESCRIPTION = """\
Pack orders into boxes with the stowvex engine, check requests before packing,
and draw where every item went.

commands:
  pack      pack one request (JSON) and write the result JSON
  batch     pack a file of orders (JSON Lines or CSV) on every core, resumable
  check     look for mistakes in a request before packing it
  validate  check a result against its request
  render    draw a result as an interactive HTML page and PNG pictures
  serve     run the packing service over HTTP

Run `stowvex COMMAND --help` for the details and examples of a command."""

PACK_EXAMPLES = """\
examples:
  stowvex pack order.json                      # result JSON on standard output
  stowvex pack order.json -o result.json
  cat order.json | stowvex pack - -o result.json
  stowvex pack order.json --optimise --time-limit 5 -o result.json
  stowvex pack truck-order.json --timeout 60 -o result.json

A request is {"items": [...], "boxes": [...]} with the item and box objects of
stowvex.solve; the result is the JSON text solve returns. --timeout stops the engine
after so many seconds (exit status 1); Ctrl-C stops it at once (status 130)."""

BATCH_EXAMPLES = """\
examples:
  stowvex batch orders.jsonl -o results.jsonl
  stowvex batch orders.jsonl --boxes cartons.json -o results.jsonl --workers 2
  stowvex batch order-lines.csv --boxes cartons.json -o results.jsonl
  stowvex batch truck-orders.jsonl -o results.jsonl --timeout 30

Input: a JSON Lines file, one order a line: {"id": ..., "items": [...], "boxes": [...]},
or {"id": ..., "items": [...]} with --boxes; or a CSV file (name ending in .csv, or
--format csv) of order lines with --boxes:
  order_id,item_code,width,length,depth,weight,quantity[,rotation]
(a header row is optional; the rows of one order stand together).

Output: one line per order, in input order: {"id": ..., "result": {...}} or
{"id": ..., "error": "..."}; a bad order never stops the batch, nor one that runs past
--timeout seconds, which gets an error line naming the timeout. Running the same
command again after an interruption (Ctrl-C, a crash) keeps every complete line and
packs only the orders still missing. A summary follows at the end."""

CHECK_EXAMPLES = """\
examples:
  stowvex check order.json
  cat order.json | stowvex check -

Checks the request against the JSON Schema of the request format, then looks for
unknown keys, rotation words the engine does not know, sizes that are not finite
or not positive, negative weights, items that fit no active box type, box groups
that no single box type can hold, and item codes used twice. Each finding names
the item or box and the field. Exit status: 0 no findings, 1 findings, 2 unreadable."""

VALIDATE_EXAMPLES = """\
examples:
  stowvex validate order.json result.json
  stowvex pack order.json | stowvex validate order.json -

Prints every violation the result checker finds: placements outside their box,
overlapping items, turns the item's rotation freedom forbids, weight limits, box
groups and lost items. Exit status: 0 sound, 1 violations, 2 unreadable."""

RENDER_EXAMPLES = """\
examples:
  stowvex render result.json -o view.html
  stowvex render result.json -o view.html --png pictures/
  stowvex render results.jsonl --id 1042 -o order-1042.html

The page works offline: open it in any browser, turn and zoom each box, and step
through the items in the order a packer at the bench puts them in (bottom up)."""


class CommandError(Exception):
    """A failure to report on one line, with an exit status."""

    def __init__(self, message: str, status: int = 1) -> None:
        super().__init__(message)
        self.status = status


def _parser() -> argparse.ArgumentParser:
    formatter = argparse.RawDescriptionHelpFormatter
    parser = argparse.ArgumentParser(prog=PROG, description=DESCRIPTION, formatter_class=formatter)
    parser.add_argument("--version", action="version", version=f"%(prog)s {_version()}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")

    pack = _command(commands, "pack", "pack one request", "Pack one request.", PACK_EXAMPLES)
    pack.add_argument(
        "request", metavar="REQUEST.json", help='request file, or "-" for standard input'
    )
    pack.add_argument(
        "-o", "--output", metavar="RESULT.json", help="result file (default: standard output)"
    )
    _add_optimise(pack)
    _add_timeout(pack)

    batch = _command(
        commands,
        "batch",
        "pack a file of orders",
        "Pack many orders on every core.",
        BATCH_EXAMPLES,
    )
    batch.add_argument("input", metavar="INPUT", help="orders: JSON Lines, or CSV order lines")
    batch.add_argument(
        "-o",
        "--output",
        metavar="RESULTS.jsonl",
        required=True,
        help="output file; an existing one is continued",
    )
    batch.add_argument(
        "--boxes",
        metavar="CATALOGUE.json",
        help="box types for orders without their own: a list of box objects",
    )
    batch.add_argument(
        "--workers", type=_positive_int, metavar="N", help="worker processes (default: every core)"
    )
    batch.add_argument(
        "--format",
        choices=("jsonl", "csv"),
        dest="input_format",
        help="input format (default: csv for names ending in .csv)",
    )
    batch.add_argument("--no-progress", action="store_true", help="no progress bar")
    _add_optimise(batch)
    _add_timeout(batch)

    check = _command(
        commands,
        "check",
        "look for mistakes in a request",
        "Check a request before packing it.",
        CHECK_EXAMPLES,
    )
    check.add_argument("request", metavar="REQUEST.json", help='request file, or "-"')

    validate = _command(
        commands,
        "validate",
        "check a result against its request",
        "Check a result against its request.",
        VALIDATE_EXAMPLES,
    )
    validate.add_argument("request", metavar="REQUEST.json", help="request file")
    validate.add_argument("result", metavar="RESULT.json", help='result file, or "-"')
    validate.add_argument(
        "--min-support",
        type=float,
        default=0.0,
        metavar="F",
        help="least part of an item's base that must rest on something (0 to 1, default 0)",
    )

    render = _command(
        commands,
        "render",
        "draw a result",
        "Draw a result as HTML and PNG pictures.",
        RENDER_EXAMPLES,
    )
    render.add_argument(
        "result", metavar="RESULT.json", help='result file (or batch output with --id), or "-"'
    )
    render.add_argument("-o", "--output", metavar="VIEW.html", help="HTML page to write")
    render.add_argument("--png", metavar="DIR", help="also write one PNG picture per box here")
    render.add_argument(
        "--id", dest="order_id", metavar="ID", help="the order to draw from a batch output file"
    )
    render.add_argument("--title", help="title of the page (default: the file name)")

    from .service.command import add_serve

    add_serve(commands, _command)
    return parser


def _command(
    commands: Any, name: str, summary: str, description: str, examples: str
) -> argparse.ArgumentParser:
    """A command's parser: a line for the list of commands, its description, examples."""
    parser: argparse.ArgumentParser = commands.add_parser(
        name,
        help=summary,
        description=description,
        epilog=examples,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    return parser


def _add_optimise(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--optimise",
        action="store_true",
        help="pack with the optimiser (fewer, fuller boxes; slower)",
    )
    parser.add_argument(
        "--time-limit",
        type=_positive_float,
        default=DEFAULT_TIME_LIMIT,
        metavar="S",
        help=f"seconds the optimiser may spend on one order (default: {DEFAULT_TIME_LIMIT:g})",
    )


def _add_timeout(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--timeout",
        type=_positive_float,
        metavar="SECONDS",
        help="seconds the engine may pack one order; a longer one fails (default: no "
        "limit; the exact engine's: with --optimise the time is --time-limit)",
    )


def _packing(args: argparse.Namespace) -> tuple[bool, float, float | None]:
    """The command's optimise, time limit and timeout; a usage error for both timeouts."""
    if args.optimise and args.timeout is not None:
        raise CommandError(
            "--timeout is the exact engine's; with --optimise, --time-limit ends the search", 2
        )
    return args.optimise, args.time_limit, args.timeout


def _positive_int(text: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1: {value}")
    return value


def _positive_float(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not value > 0 or value == float("inf"):
        raise argparse.ArgumentTypeError(f"must be a positive number: {text}")
    return value


def _version() -> str:
    from . import __version__

    return __version__


def _write_text(path: str | None, text: str) -> None:
    if path is None or path == "-":
        sys.stdout.write(text)
        return
    try:
        Path(path).write_text(text, encoding="utf-8")
    except OSError as error:
        raise CommandError(f"{path}: cannot write: {error.strerror or error}") from None


def _pack(args: argparse.Namespace) -> int:
    from .order_packing import Failed, PackSettings, pack_one
    from .orders import read_source

    settings = PackSettings(*_packing(args))
    outcome = pack_one(read_source(args.request), settings)
    if isinstance(outcome, Failed):
        raise CommandError(f"{_name(args.request)}: {outcome.message}")
    _write_text(args.output, outcome.result + "\n")
    return 0


def _batch(args: argparse.Namespace) -> int:
    from .batch import BatchOptions, run_batch

    optimise, time_limit, timeout = _packing(args)
    options = BatchOptions(
        boxes=args.boxes,
        workers=args.workers,
        optimise=optimise,
        time_limit=time_limit,
        progress=not args.no_progress,
        input_format=args.input_format,
        timeout=timeout,
    )
    try:
        summary = run_batch(args.input, args.output, options)
    except KeyboardInterrupt:
        raise CommandError(
            f"interrupted; every line written to {args.output} is kept: run the "
            "same command again to pack the rest",
            130,
        ) from None
    print("\n".join(summary.lines()))
    return 0


def _check(args: argparse.Namespace) -> int:
    from .orders import load_json_file
    from .request_check import check_request

    return _report(_name(args.request), check_request(load_json_file(args.request)), "no findings")


def _report(name: str, problems: Sequence[object], none: str) -> int:
    """Prints each problem on its own line; exit status 1 when there are any."""
    for problem in problems:
        print(f"{name}: {problem}")
    if not problems:
        print(f"{name}: {none}")
    return 1 if problems else 0


def _validate(args: argparse.Namespace) -> int:
    from .checker import validate_request
    from .orders import load_json_file
    from .summary import result_dict

    request = load_json_file(args.request)
    try:
        result = result_dict(load_json_file(args.result))
    except (TypeError, ValueError) as error:
        raise CommandError(f"{_name(args.result)}: {error}", 2) from None
    try:
        violations = validate_request(result, request, min_support=args.min_support)
    except (TypeError, ValueError) as error:
        raise CommandError(f"{_name(args.request)}: {error}", 2) from None
    return _report(_name(args.result), violations, "no violations")


def _render(args: argparse.Namespace) -> int:
    from .orders import read_source

    if args.output is None and args.png is None:
        raise CommandError("nothing to write: give -o VIEW.html and/or --png DIR", 2)
    result = _pick_result(read_source(args.result), args.order_id, _name(args.result))
    title = args.title or args.order_id or Path(_name(args.result)).stem
    if args.output is not None:
        from .render_html import render_html

        render_html(result, args.output, title=title)
        print(f"wrote {args.output}")
    if args.png is not None:
        from .render_png import render_png

        for path in render_png(result, args.png, title=title):
            print(f"wrote {path}")
    return 0


def _pick_result(data: bytes, order_id: str | None, name: str) -> dict[str, Any]:
    """The result to draw: the whole file, or the line of a batch output with that id."""
    from .orders import strict_loads
    from .summary import result_dict

    try:
        if order_id is None:
            return result_dict(strict_loads(data))
        for line in data.splitlines():
            if not line.strip():
                continue
            record = strict_loads(line)
            if isinstance(record, dict) and str(record.get("id")) == order_id:
                if "error" in record:
                    raise CommandError(f"{name}: order {order_id} failed: {record['error']}")
                return result_dict(record)
    except (ValueError, TypeError) as error:
        raise CommandError(f"{name}: not a result: {error}", 2) from None
    raise CommandError(f"{name}: no order with id {order_id}", 2)


def _name(source: str) -> str:
    return "<stdin>" if source == "-" else source


def _serve(args: argparse.Namespace) -> int:
    from .service.command import run_serve
    from .service.settings import SettingsError

    try:
        return run_serve(args)
    except SettingsError as error:
        raise CommandError(str(error), 2) from None


COMMANDS = {
    "pack": _pack,
    "batch": _batch,
    "check": _check,
    "validate": _validate,
    "render": _render,
    "serve": _serve,
}


def main(argv: Sequence[str] | None = None) -> int:
    """Runs the command line; returns the exit status."""
    from .optional_dependencies import MissingExtra
    from .orders import InputError

    parser = _parser()
    args = parser.parse_args(argv)
    if args.command is None:
        parser.print_help()
        return 2
    try:
        return COMMANDS[args.command](args)
    except CommandError as error:
        return _fail(str(error), error.status)
    except (InputError, MissingExtra) as error:
        return _fail(str(error), 2 if isinstance(error, InputError) else 1)
    except KeyboardInterrupt:
        return _fail("interrupted", 130)
    except BrokenPipeError:
        return 1


def _fail(message: str, status: int) -> int:
    print(f"{PROG}: error: {message}", file=sys.stderr)
    return status


def run() -> NoReturn:
    """The console script's entry point."""
    sys.exit(main())


if __name__ == "__main__":
    run()
