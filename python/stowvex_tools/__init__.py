"""Tools around the stowvex packing engine."""

from importlib.metadata import PackageNotFoundError, version

from .optimiser import optimise, optimise_dicts, optimise_json

try:
    __version__: str = version("stowvex")
except PackageNotFoundError:  # imported from a source tree that was never installed
    __version__ = "0+unknown"

__all__ = ["__version__", "optimise", "optimise_dicts", "optimise_json"]
