"""Optional dependencies: a clear message naming the extra to install when one is missing."""

from __future__ import annotations

import importlib
from types import ModuleType


class MissingExtra(ImportError):
    """An optional dependency of a feature is not installed."""


def require(module: str, extra: str, feature: str) -> ModuleType:
    """Imports `module`, or raises MissingExtra saying how to install it."""
    try:
        return importlib.import_module(module)
    except ImportError:
        raise MissingExtra(
            f"{feature} needs {module.split('.')[0]}, which is not installed: "
            f"pip install 'stowvex[{extra}]'"
        ) from None
