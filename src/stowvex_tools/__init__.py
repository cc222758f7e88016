"""Tools around the stowvex packing engine."""

from importlib.metadata import PackageNotFoundError, version

from .batch import BatchOptions, run_batch
from .checker import VIOLATION_KINDS, Violation, ViolationKind, validate, validate_request
from .optimiser import (
    DEFAULT_TIME_LIMIT,
    OptimiserOptions,
    optimise,
    optimise_dicts,
    optimise_json,
)
from .optional_dependencies import MissingExtra
from .order_packing import pack_request
from .process_pool import OrderError, pack_many
from .render_html import render_html
from .render_png import render_png
from .request_check import Finding, check_request
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
    "Finding",
    "MissingExtra",
    "OptimiserOptions",
    "OrderError",
    "Violation",
    "ViolationKind",
    "__version__",
    "check_request",
    "optimise",
    "optimise_dicts",
    "optimise_json",
    "pack_many",
    "pack_request",
    "render_html",
    "render_png",
    "result_dict",
    "run_batch",
    "summarise",
    "validate",
    "validate_request",
]
