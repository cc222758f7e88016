"""The settings of a running service, as `stowvex serve` takes them: where it listens,
how many packing processes it runs, its limits and its API keys."""

from __future__ import annotations

import math
import os
import re
from dataclasses import dataclass, field
from pathlib import Path

from ..process_pool import default_workers

_SIZE = re.compile(r"^\s*(\d+(?:\.\d+)?)\s*([kmg]i?b?|b)?\s*$", re.IGNORECASE)
_UNITS = {"": 1, "b": 1, "k": 10**3, "m": 10**6, "g": 10**9}


class SettingsError(ValueError):
    """A setting that cannot be used; the message names it."""


def parse_size(text: str) -> int:
    """Bytes from a size such as 10MB, 512k, 1.5GB, 2MiB or 1000000 (k, M, G are powers
    of 1000; KiB, MiB, GiB of 1024)."""
    match = _SIZE.match(text)
    if match is None:
        raise SettingsError(f"not a size: {text!r} (such as 10MB, 512kB or 1000000)")
    number, unit = float(match.group(1)), (match.group(2) or "").lower()
    scale = _UNITS[unit[:1]]
    if "i" in unit:
        scale = {1000: 1024, 10**6: 2**20, 10**9: 2**30}.get(scale, scale)
    size = int(number * scale)
    if size < 1:
        raise SettingsError(f"a size must be at least 1 byte: {text!r}")
    return size


def read_api_keys(path: str | Path) -> tuple[str, ...]:
    """The API keys of a file: one a line; blank lines and lines starting with # are
    skipped, and spaces around a key are not part of it."""
    try:
        text = Path(path).read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError) as error:
        reason = error.strerror if isinstance(error, OSError) else "not UTF-8 text"
        raise SettingsError(f"{path}: cannot read the API keys: {reason or error}") from None
    keys = []
    for line in text.splitlines():
        key = line.strip()
        if not key or key.startswith("#"):
            continue
        if not key.isprintable() or " " in key:
            raise SettingsError(f"{path}: an API key is one word of printable characters")
        keys.append(key)
    if not keys:
        raise SettingsError(f"{path}: no API key in the file")
    return tuple(keys)


@dataclass(frozen=True)
class ServiceSettings:
    """Everything a running service is told at its start."""

    host: str = "127.0.0.1"
    port: int = 8080
    workers: int = field(default_factory=default_workers)  # packing processes
    api_keys: tuple[str, ...] = ()  # empty: no key asked for
    timeout: float = 10.0  # the longest a request may take, and its default
    max_body: int = 10 * 10**6  # bytes of a request body
    max_batch_body: int = 200 * 10**6  # bytes of the orders of one batch
    queue: int = 64  # requests that may wait for a packing process
    jobs_dir: str | None = None  # None: a temporary folder, removed at exit
    grace: float = 30.0  # seconds in-flight requests get after SIGTERM
    batch_workers: int = 1  # batches packed at once, each in a process of its own
    log_level: str = "info"

    def __post_init__(self) -> None:
        if not 0 <= self.port <= 65535:
            raise SettingsError(f"--port must be from 0 to 65535, not {self.port}")
        for name in ("workers", "queue", "batch_workers", "max_body", "max_batch_body"):
            if getattr(self, name) < 1:
                raise SettingsError(f"--{name.replace('_', '-')} must be at least 1")
        for name in ("timeout", "grace"):
            value = getattr(self, name)
            if not (math.isfinite(value) and value > 0):
                raise SettingsError(f"--{name} must be a positive number of seconds")
        if (
            self.jobs_dir is not None
            and os.path.exists(self.jobs_dir)
            and not os.path.isdir(self.jobs_dir)
        ):
            raise SettingsError(f"--jobs-dir {self.jobs_dir}: not a folder")
