"""The `stowvex` command: pack, batch, check, validate and render."""

from __future__ import annotations

import argparse
import json
import sys
from collections.abc import Callable, Sequence
from pathlib import Path
from typing import Any, NoReturn

from .optimiser import DEFAULT_TIME_LIMIT

PROG = "stowvex"

DESCRIPTION = """\
Pack orders into boxes with the stowvex engine, check requests before packing,
and draw where every item went."""

EPILOG = """\
pack and batch check every request as `stowvex check` does and refuse one with
findings (--no-check packs it as it is). Run `stowvex COMMAND --help` for the
details and examples of a command.

exit status: 0 done, 1 findings, violations or failed orders, 2 unusable input
or output (a request with findings, a missing file, a wrong option), 130 Ctrl-C."""

PACK_EXAMPLES = """\
examples:
  stowvex pack order.json                      # result JSON on standard output
  stowvex pack order.json -o result.json
  cat order.json | stowvex pack - -o result.json
  stowvex pack order.json --optimise --time-limit 5 -o result.json
  stowvex pack truck-order.json --timeout 60 -o result.json
  stowvex pack order.json --optimise --effort 200000000 --seed 7 --box-costs costs.json

A request is {"items": [...], "boxes": [...]} with the item and box objects of
stowvex.solve; the result is the JSON text solve returns. The request is checked
first, as `stowvex check` checks it: one with findings is not packed (each finding
on standard error, exit status 2) unless --no-check is given. --timeout stops the
engine after so many seconds (exit status 1); Ctrl-C stops it at once (status 130)."""

BATCH_EXAMPLES = """\
examples:
  stowvex batch orders.jsonl -o results.jsonl
  stowvex batch orders.jsonl --boxes cartons.json -o results.jsonl --workers 2
  stowvex batch order-lines.csv --boxes cartons.json -o results.jsonl
  stowvex batch truck-orders.jsonl -o results.jsonl --timeout 30

Input: a JSON Lines file, one order a line: {"id": ..., "items": [...], "boxes": [...]},
or {"id": ..., "items": [...]} with --boxes; or a CSV file (name ending in .csv, or
--format csv) of order lines with --boxes, whose first row names its columns, in any
order: order_id, item_code, width, length, depth (required), weight, quantity,
rotation, item_reference, box_group (optional). The rows of one order stand together.

Every order is checked as `stowvex check` checks a request; one with findings gets
an error line naming them instead of being packed, unless --no-check is given.

Output: one line per order, in input order: {"id": ..., "result": {...}} or
{"id": ..., "error": "..."}; a bad order never stops the batch, nor one that runs past
--timeout seconds, which gets an error line naming the timeout. Running the same
command again after an interruption (Ctrl-C, a crash) keeps every complete line and
packs only the orders still missing; a second batch on an output in use is refused.
A summary follows at the end. Exit status: 0 every order packed, 1 some failed (the
summary says how many), 2 unusable input or output."""

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

Draws a result, the JSON text `stowvex pack` writes (not a request), or with --id
one order of a batch output. The page works offline: open it in any browser, turn
and zoom each box, and step through the items in the order a packer at the bench
puts them in (bottom up)."""


class CommandError(Exception):
    """A failure to report on one line, with an exit status."""

    def __init__(self, message: str, status: int = 1) -> None:
        super().__init__(message)
        self.status = status


def _parser() -> argparse.ArgumentParser:
    formatter = argparse.RawDescriptionHelpFormatter
    parser = argparse.ArgumentParser(
        prog=PROG, description=DESCRIPTION, epilog=EPILOG, formatter_class=formatter
    )
    parser.add_argument("-V", "--version", action="version", version=f"%(prog)s {_version()}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", title="commands")

    pack = _command(
        commands,
        "pack",
        "pack one request (JSON) and write the result JSON",
        "Pack one request.",
        PACK_EXAMPLES,
    )
    pack.add_argument(
        "request", metavar="REQUEST.json", help='request file, or "-" for standard input'
    )
    pack.add_argument(
        "-o", "--output", metavar="RESULT.json", help="result file (default: standard output)"
    )
    _add_check(pack)
    _add_optimise(pack)
    _add_timeout(pack)
    pack.add_argument(
        "--settle",
        action="store_true",
        help="move every item straight down onto what is below it before writing the "
        "result (stowvex_tools.settle; keeps every loading rule)",
    )

    batch = _command(
        commands,
        "batch",
        "pack a file of orders (JSON Lines or CSV) on every core, resumable",
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
    _add_check(batch)
    _add_optimise(batch)
    _add_timeout(batch)

    check = _command(
        commands,
        "check",
        "look for mistakes in a request before packing it",
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
        type=_share,
        default=0.0,
        metavar="F",
        help="least part of an item's base that must rest on something (0 to 1, default 0)",
    )

    render = _command(
        commands,
        "render",
        "draw a result as an interactive HTML page and PNG pictures",
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
    render.add_argument(
        "--request",
        metavar="REQUEST.json",
        help="the request, whose loading rules the page and pictures show (fragile "
        "items, loads, stops: colour by stop, last stop first)",
    )
    render.add_argument(
        "--plotly",
        default="inline",
        metavar="inline|cdn|URL",
        help="where the page gets plotly.js: inline (default; works offline, some 5 MB), "
        "cdn (plotly's CDN), or a URL or path to a plotly.min.js",
    )

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


def _add_check(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--no-check",
        dest="check",
        action="store_false",
        help="pack without checking the request first (as stowvex check does)",
    )


# The options of the optimiser, each of which does nothing without --optimise.
OPTIMISER_OPTIONS = {
    "time_limit": "--time-limit",
    "effort": "--effort",
    "seed": "--seed",
    "min_support": "--min-support",
    "box_costs": "--box-costs",
    "threads": "--threads",
}


def _add_optimise(parser: argparse.ArgumentParser) -> None:
    group = parser.add_argument_group("optimiser", "options of --optimise, refused without it")
    group.add_argument(
        "--optimise",
        "--optimize",
        action="store_true",
        help="pack with the optimiser (fewer, fuller boxes; slower)",
    )
    group.add_argument(
        "--time-limit",
        type=_positive_float,
        metavar="S",
        help=f"seconds the optimiser may spend on one order (default: {DEFAULT_TIME_LIMIT:g})",
    )
    group.add_argument(
        "--effort",
        type=_bounded_int(1, 2**64 - 1),
        metavar="N",
        help="a work budget in effort units, the same result on any machine "
        "(about 100 million a second); with it the time limit is none unless given",
    )
    group.add_argument(
        "--seed",
        type=_bounded_int(0, 2**64 - 1),
        metavar="N",
        help="varies the search among equally good choices (default 0)",
    )
    group.add_argument(
        "--min-support",
        type=_share,
        metavar="F",
        help="least part of an item's base resting on something (0 to 1, default 0)",
    )
    group.add_argument(
        "--box-costs",
        metavar="COSTS.json",
        help='the cost of one box of each type: {"BOX-REF": cost, ...}; the least '
        "total cost replaces the fewest boxes",
    )
    group.add_argument(
        "--threads",
        type=_bounded_int(1, 256),
        metavar="N",
        help="threads the search of one order may use (default 1)",
    )


def _add_timeout(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--timeout",
        type=_positive_float,
        metavar="SECONDS",
        help="seconds the engine may pack one order; a longer one fails (default: no "
        "limit; the exact engine's: with --optimise the time is --time-limit)",
    )


def _packing(args: argparse.Namespace) -> dict[str, Any]:
    """The keywords of `PackSettings` the command's options give; a usage error (status
    2) for an option that would do nothing: an optimiser option without --optimise, or
    --timeout with it."""
    if args.optimise and args.timeout is not None:
        raise CommandError(
            "--timeout is the exact engine's; with --optimise, --time-limit ends the search", 2
        )
    given = [
        option for name, option in OPTIMISER_OPTIONS.items() if getattr(args, name) is not None
    ]
    if not args.optimise:
        if given:
            raise CommandError(
                f"{given[0]} is an option of the optimiser and does nothing without "
                "--optimise (the exact engine has one result)",
                2,
            )
        return {"timeout": args.timeout}
    time_limit = args.time_limit
    if time_limit is None and args.effort is None:
        time_limit = DEFAULT_TIME_LIMIT
    keywords: dict[str, Any] = {
        "optimise": True,
        "time_limit": time_limit,
        "effort": args.effort,
        "seed": args.seed or 0,
        "min_support": 0.0 if args.min_support is None else args.min_support,
        "box_costs": None if args.box_costs is None else _box_costs(args.box_costs),
        "threads": args.threads or 1,
    }
    from .optimiser import optimiser_keywords

    try:
        optimiser_keywords(**{k: v for k, v in keywords.items() if k != "optimise"})
    except (TypeError, ValueError) as error:
        raise CommandError(str(error), 2) from None
    return keywords


def _box_costs(source: str) -> dict[str, float]:
    """The box costs of a --box-costs file: a JSON object of box reference and cost."""
    from .orders import load_json_file
    from .request_format import number_value

    costs = load_json_file(source)
    if not isinstance(costs, dict) or not all(
        number_value(cost) is not None for cost in costs.values()
    ):
        raise CommandError(
            f'{source}: box costs are a JSON object of box reference and cost: {{"BOX-S": 1.5}}',
            2,
        )
    return costs


def _number_option(
    read: Callable[[str], Any], noun: str, fits: Callable[[Any], bool], wanted: str
) -> Callable[[str], Any]:
    """An argparse type: the text read by ``read`` (else "not a NOUN"), and kept only
    when ``fits`` (else "must be WANTED")."""

    def option(text: str) -> Any:
        try:
            value = read(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"not a {noun}: {text!r}") from None
        if not fits(value):
            raise argparse.ArgumentTypeError(f"must be {wanted}: {text}")
        return value

    return option


def _bounded_int(low: int, high: int) -> Callable[[str], int]:
    return _number_option(int, "whole number", lambda v: low <= v <= high, f"from {low} to {high}")


_positive_int = _number_option(int, "whole number", lambda v: v >= 1, "at least 1")
_share = _number_option(float, "number", lambda v: 0.0 <= v <= 1.0, "from 0 to 1")
_positive_float = _number_option(
    float, "number", lambda v: 0 < v < float("inf"), "a positive number"
)


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
        raise _cannot_write(path, error) from None


def _cannot_write(path: str | Path, error: OSError) -> CommandError:
    return CommandError(f"{path}: cannot write: {error.strerror or error}", 2)


def _pack(args: argparse.Namespace) -> int:
    from .order_packing import Failed, PackSettings, pack_one
    from .orders import InputError, is_json_lines, parse_json, read_source
    from .request_check import check_request, fault_place, ignored_rule_findings

    try:
        settings = PackSettings(**_packing(args))
    except (TypeError, ValueError) as error:
        raise CommandError(str(error), 2) from None
    name = _name(args.request)
    data = read_source(args.request)
    try:
        request = parse_json(data, name)
    except InputError:
        if is_json_lines(data):
            raise
        request = None  # the engine says what is wrong with it, in its own words
    if args.check and request is not None:
        findings = [finding for finding in check_request(request) if finding.refuses]
        if not settings.optimise:
            findings += ignored_rule_findings(request)
        for finding in findings:
            print(f"{name}: {finding}", file=sys.stderr)
        if findings:
            count = f"{len(findings)} finding" + ("s" if len(findings) > 1 else "")
            raise CommandError(
                f"{name}: the request check found {count}; not packed "
                "(--no-check packs it as it is)",
                2,
            )
    outcome = pack_one(data, settings)
    if not isinstance(outcome, Failed) and args.settle:
        outcome = _settled(outcome, request, data, name)
    if isinstance(outcome, Failed):
        message = outcome.message
        place = None
        if outcome.timeout is None and request is not None:
            place = fault_place(request, message)
        raise CommandError(f"{name}: {message}" + (f" (at {place})" if place else ""))
    _write_text(args.output, outcome.result + "\n")
    _note_support(name, outcome.result)
    return 0


def _note_support(name: str, result_text: str) -> None:
    """Says on standard error how many items rest on less than half of their base."""
    from .settling import poorly_supported, result_extents

    count = poorly_supported(result_extents(json.loads(result_text)))
    if count:
        print(
            f"{name}: {count} item{'s' if count > 1 else ''} rest on less than half of "
            "their base (--settle moves items down onto what is below them)",
            file=sys.stderr,
        )


def _settled(outcome: Any, request: Any, data: bytes, name: str) -> Any:
    """A packed order with its result settled (the request read for its rules)."""
    from .order_packing import Packed
    from .orders import parse_json
    from .settling import settle

    if request is None:
        request = parse_json(data, name)
    if not isinstance(request, dict):
        raise CommandError(f"{name}: --settle needs a request object", 2)
    try:
        settled = settle(outcome.result, request.get("items"), request.get("boxes"))
    except ValueError as error:
        raise CommandError(f"{name}: cannot settle the result: {error}", 2) from None
    return Packed(settled.result.to_json(-1))


def _batch(args: argparse.Namespace) -> int:
    from .batch import BatchOptions, run_batch

    options = BatchOptions(
        boxes=args.boxes,
        workers=args.workers,
        progress=not args.no_progress,
        input_format=args.input_format,
        check=args.check,
        **_packing(args),
    )
    try:
        summary = run_batch(args.input, args.output, options)
    except KeyboardInterrupt:
        raise CommandError(
            f"interrupted; every line written to {args.output} is kept: run the "
            "same command again to pack the rest",
            130,
        ) from None
    except (TypeError, ValueError) as error:  # settings the packing refuses
        raise CommandError(str(error), 2) from None
    print("\n".join(summary.lines()))
    if summary.failures:
        failed = f"{summary.failures:,} of {summary.orders:,} orders"
        print(f"{failed} failed: their lines in {args.output} hold the error")
        return 1
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
    except (TypeError, ValueError, RecursionError) as error:
        raise CommandError(f"{_name(args.request)}: {error}", 2) from None
    return _report(_name(args.result), violations, "no violations")


def _render(args: argparse.Namespace) -> int:
    from .orders import read_source
    from .scene import drawable_result

    if args.output is None and args.png is None:
        raise CommandError("nothing to write: give -o VIEW.html and/or --png DIR", 2)
    name = _name(args.result)
    result = _pick_result(read_source(args.result), args.order_id, name)
    try:
        result = drawable_result(result)
    except (TypeError, ValueError) as error:
        raise CommandError(f"{name}: {error}", 2) from None
    title = args.title or args.order_id or Path(name).stem
    rules = None
    if args.request is not None:
        from .loading_rules import rules_in_request
        from .orders import load_json_file

        request = load_json_file(args.request)
        if not isinstance(request, dict):
            raise CommandError(f"{_name(args.request)}: not a request object", 2)
        try:
            rules = rules_in_request(request.get("items"), request.get("boxes"))
        except ValueError as error:
            raise CommandError(f"{_name(args.request)}: {error}", 2) from None
    if args.output is not None:
        from .render_html import render_html

        try:
            render_html(result, args.output, title=title, plotly=args.plotly, rules=rules)
        except OSError as error:
            raise _cannot_write(error.filename or args.output, error) from None
        print(f"wrote {args.output}")
    if args.png is not None:
        from .render_png import render_png

        try:
            paths = render_png(result, args.png, title=title, rules=rules)
        except OSError as error:
            raise _cannot_write(error.filename or args.png, error) from None
        for path in paths:
            print(f"wrote {path}")
    return 0


RENDER_LINES_HINT = "a batch output, one order a line: give --id ID to draw one order"


def _pick_result(data: bytes, order_id: str | None, name: str) -> Any:
    """The result to draw: the whole file, or the line of a batch output with that id."""
    from .orders import InputError, decode_line, parse_json, strict_loads

    if order_id is None:
        return parse_json(data, name, RENDER_LINES_HINT)
    for number, line in enumerate(data.splitlines(), start=1):
        if not line.strip():
            continue
        try:
            record = strict_loads(decode_line(line))
        except (ValueError, RecursionError):
            raise InputError(f"{name}: line {number} is not a line of a batch output") from None
        if isinstance(record, dict) and str(record.get("id")) == order_id:
            if "error" in record:
                raise CommandError(f"{name}: order {order_id} failed: {record['error']}")
            return record
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
    from .batch import OutputError
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
    except (InputError, OutputError, MissingExtra) as error:
        return _fail(str(error), 1 if isinstance(error, MissingExtra) else 2)
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
