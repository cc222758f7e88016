"""Tools around the stowvex packing engine."""

# The modules, each for one concern:
#   engine_calls       solve, pack, pack_dicts: the engine's calls, lock released, timeout
#   optimiser          optimise*, the search behind stowvex_tools._native, its keywords,
#                      the effort it has spent
#   packing_work       how many single-box packings the engine does for a request
#   order_packing      packing one order (engine or optimiser), its faults as messages
#   process_pool       worker processes that map in input order; pack_many
#   batch, batch_lines run_batch (a file of orders, resumable); one order's output line
#   orders             reading requests, box catalogues and files of orders
#   dask               the same packing on a Dask cluster
#   request_format     the request format read in Python as the engine reads it
#   loading_rules      Fragile, MaxLoad, Orientations, Stop, CentreOfGravity, read
#   settling           settle: every item moved straight down onto what is below
#   request_check      check_request: the schema, then what the engine reads silently
#   checker/           validate: reading a result, its rules, its reported figures
#   summary            results as dicts, and their figures added up
#   scene, render_*    what a picture shows; the HTML page and the PNG pictures
#   optional_dependencies  a clear error naming the extra to install
#   cli, __main__      the stowvex command (also python -m stowvex_tools)
#   service/           the HTTP service of stowvex serve

from importlib.metadata import PackageNotFoundError, version

from .batch import BatchOptions, OutputError, run_batch
from .checker import VIOLATION_KINDS, Violation, ViolationKind, validate, validate_request
from .engine_calls import PackingTimeout, pack, pack_dicts, solve
from .loading_rules import BoxRules, ItemRules, LoadingRules
from .optimiser import (
    DEFAULT_TIME_LIMIT,
    effort_spent,
    optimise,
    optimise_dicts,
    optimise_json,
)
from .optional_dependencies import MissingExtra
from .order_packing import pack_request
from .packing_work import PackingWork, packing_work
from .process_pool import OrderError, pack_many
from .render_html import render_html
from .render_png import render_png
from .request_check import Finding, check_request
from .settling import Settled, settle
from .summary import BatchSummary, result_dict, summarise

try:
    __version__: str = version("stowvex")
except PackageNotFoundError:  # imported from a source tree that was never installed
    __version__ = "0+unknown"

__all__ = [
    "DEFAULT_TIME_LIMIT",
    "VIOLATION_KINDS",
    "BatchOptions",
    "BatchSummary",
    "BoxRules",
    "Finding",
    "ItemRules",
    "LoadingRules",
    "MissingExtra",
    "OrderError",
    "OutputError",
    "PackingTimeout",
    "PackingWork",
    "Settled",
    "Violation",
    "ViolationKind",
    "__version__",
    "check_request",
    "effort_spent",
    "optimise",
    "optimise_dicts",
    "optimise_json",
    "pack",
    "pack_dicts",
    "pack_many",
    "pack_request",
    "packing_work",
    "render_html",
    "render_png",
    "result_dict",
    "run_batch",
    "settle",
    "solve",
    "summarise",
    "validate",
    "validate_request",
]
