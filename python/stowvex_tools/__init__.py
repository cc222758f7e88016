"""Tools around the stowvex packing engine."""

from importlib.metadata import PackageNotFoundError, version

from .checker import VIOLATION_KINDS, Violation, ViolationKind, validate, validate_request
from .optimiser import optimise, optimise_dicts, optimise_json

try:
    __version__: str = version("stowvex")
except PackageNotFoundError:  # imported from a source tree that was never installed
    __version__ = "0+unknown"

__all__ = ["VIOLATION_KINDS", "Violation", "ViolationKind", "__version__", "optimise",
           "optimise_dicts", "optimise_json", "validate", "validate_request"]
