"""Fewer, fuller boxes: a search for better packings than the engine's.

The engine packs greedily, in one pass, and its results never change. The
optimiser spends a time or work budget on a search for packings that place
more items, in fewer boxes, of less inner volume (or of less cost), under
exactly the engine's rules: rotation freedom, weight limits including the
empty box, quantity limits, inactive box types and box groups. It starts
from the engine's own result and returns it unchanged when it finds nothing
better, so it is never worse than :func:`stowvex.pack`.
"""

from __future__ import annotations

import json
import math
from collections.abc import Mapping, Sequence
from typing import Any, TypedDict

from stowvex import Box, Item, PackResult

from . import _native
from .loading_rules import (
    BOX_RULE_KEYS,
    ITEM_RULE_KEYS,
    LoadingRules,
    merged,
    read_rules,
    rules_in_request,
)
from .request_format import number_value

__all__ = ["DEFAULT_TIME_LIMIT", "effort_spent", "optimise", "optimise_dicts", "optimise_json"]

DEFAULT_TIME_LIMIT = 1.0
"""Seconds an optimiser call may take unless its ``time_limit`` says otherwise; also the
time per order of ``pack_many``, ``pack_request``, ``run_batch``, the Dask functions and
``stowvex pack --optimise``."""

_MAX_THREADS = 256
_UNSIGNED_MAX = 2**64 - 1


class _Settings(TypedDict):
    # The keywords of the extension's functions, each of the type it takes.
    time_limit: float | None
    effort: int | None
    seed: int
    min_support: float
    box_costs: dict[str, float] | None
    threads: int


def optimise(
    items: Sequence[Item],
    boxes: Sequence[Box],
    *,
    time_limit: float | None = DEFAULT_TIME_LIMIT,
    effort: int | None = None,
    seed: int = 0,
    min_support: float = 0.0,
    box_costs: Mapping[str, float] | None = None,
    threads: int = 1,
    rules: LoadingRules | Mapping[str, Any] | None = None,
) -> PackResult:
    """Pack items into boxes as well as the budget allows.

    Takes what :func:`stowvex.pack` takes and returns the same kind of
    result, a :class:`stowvex.PackResult` with every figure, ``to_dict`` and
    ``to_json``. The result is, in this order of importance: the most items
    placed; then the fewest boxes; then the least total inner volume of the
    boxes. With ``box_costs`` the least total cost replaces the last two.
    Every rule the engine keeps holds: each item turns only as its rotation
    freedom allows, no box goes over its weight limit (empty weight
    included) or its type's quantity limit, inactive box types stay unused,
    the items of a box group share one box (or all stay unplaced), and items
    that fit nowhere are reported unplaced. The engine's own result is the
    starting point: when the search finds nothing better, that very result
    is returned.

    :param items: The items to pack, as for :func:`stowvex.pack`. Placements
        in the result refer to these very objects.
    :param boxes: The box types, as for :func:`stowvex.pack`.
    :param time_limit: Seconds the call may take (wall clock; default
        :data:`DEFAULT_TIME_LIMIT`, 1 second), or None for no time limit.
        With a time limit, how far the search gets, and so the result,
        depends on the speed and load of the machine. The engine's own
        packing, the starting point, always runs to its end: when it alone
        takes longer, so does the call.
    :param effort: A deterministic work budget in effort units, or None (the
        default) for no such limit. Unless the time limit ends the search first, the same
        inputs, seed and effort give the same result on any machine and with
        any number of threads (pass ``time_limit=None`` to be sure). A second
        of search is some 100 to 150 million units on a current x86-64 core;
        an effort of 1 gives the greedy construction alone. The search ends
        at whichever limit comes first, and earlier when it can do no
        better; at least one limit must be given.
    :param seed: Varies the search among equally promising choices; any
        integer from 0 to 2**64 - 1 (default 0).
    :param min_support: From 0 to 1: every item not standing on the box
        floor rests on the tops of items directly beneath it with at least
        this share of its base. 0 (the default) asks nothing; 1.0 lets no
        item overhang or float. The engine's result is the starting point
        only when it meets this rule.
    :param box_costs: The cost of one box of each type, by box reference (a
        mapping from str to a finite number, 0 or more). Every active box
        type needs a cost, and every reference named must be a box type's.
        When given, the least total cost replaces the fewest boxes and the
        least volume in the objective. None (the default): no costs.
    :param threads: Threads the search may use, 1 to 256 (default 1). More threads make
        the search faster, never different: with the same effort the result
        is the same. The interpreter lock is released during the search, so
        Python threads can also run searches side by side.
    :param rules: Loading rules by item code and box reference (see
        :mod:`stowvex_tools.loading_rules`): ``Fragile``, ``MaxLoad``,
        ``Orientations`` (replacing an item's rotation freedom), ``Stop`` and
        ``CentreOfGravity``, each a hard constraint of every packing the search
        makes. The dict and JSON forms also read them inline from the items and
        box types. The engine's result is the starting point only when it keeps
        every rule given.
    :returns: A :class:`stowvex.PackResult`.
    :raises TypeError: An argument of the wrong type, or an unknown keyword.
    :raises ValueError: An argument out of range; an item or active box
        type with an infinite or NaN measure; ``box_costs`` that do not
        match the box types. (Negative measures pass as the engine takes
        them: an item with a negative side is never placed, nor one of
        negative weight in a box with a weight limit.)
    """
    settings = _settings(time_limit, effort, seed, min_support, box_costs, threads)
    return _native.optimise(
        _elements(items, Item, "items"),
        _elements(boxes, Box, "boxes"),
        **settings,
        **_rules_argument(read_rules(rules)),
    )


def optimise_dicts(
    items: Any,
    boxes: Any,
    *,
    time_limit: float | None = DEFAULT_TIME_LIMIT,
    effort: int | None = None,
    seed: int = 0,
    min_support: float = 0.0,
    box_costs: Mapping[str, float] | None = None,
    threads: int = 1,
    rules: LoadingRules | Mapping[str, Any] | None = None,
) -> PackResult:
    """Like :func:`optimise`, but takes the plain values of :func:`stowvex.pack_dicts`.

    ``items`` and ``boxes`` are read exactly as :func:`stowvex.pack_dicts`
    reads them (normally lists of dicts with the request's keys, such as
    ``ItemCode`` and ``Width``), with the same errors. The keywords are those
    of :func:`optimise`.
    """
    settings = _settings(time_limit, effort, seed, min_support, box_costs, threads)
    loading = merged(rules_in_request(items, boxes), read_rules(rules))
    request = json.dumps({"items": items, "boxes": boxes})
    return _native.optimise_request(request, **settings, **_rules_argument(loading))


def optimise_json(
    request_json: str | bytes,
    *,
    time_limit: float | None = DEFAULT_TIME_LIMIT,
    effort: int | None = None,
    seed: int = 0,
    min_support: float = 0.0,
    box_costs: Mapping[str, float] | None = None,
    threads: int = 1,
    rules: LoadingRules | Mapping[str, Any] | None = None,
) -> str:
    """Like :func:`optimise`, but JSON text in and out, as :func:`stowvex.solve`.

    ``request_json`` is a request as :func:`stowvex.solve` reads it,
    ``{"items": [...], "boxes": [...]}``; the result is JSON text in the
    schema :func:`stowvex.solve` writes, compact. The keywords are those of
    :func:`optimise`.
    """
    if not isinstance(request_json, (str, bytes, bytearray)):
        raise TypeError(
            f"request_json must be JSON text (str or bytes), not {type(request_json).__name__}"
        )
    settings = _settings(time_limit, effort, seed, min_support, box_costs, threads)
    text = bytes(request_json) if isinstance(request_json, bytearray) else request_json
    loading = merged(_rules_in_text(text), read_rules(rules))
    return _native.optimise_request(text, **settings, **_rules_argument(loading)).to_json(-1)


def _rules_in_text(text: str | bytes) -> LoadingRules:
    """The loading rules inline in a request's text; the text is parsed only when it
    names a rule key."""
    keys = (*ITEM_RULE_KEYS, *BOX_RULE_KEYS)
    probe = text if isinstance(text, str) else text.decode("utf-8", "replace")
    if not any(f'"{key}"' in probe for key in keys):
        return LoadingRules()
    try:
        request = json.loads(probe)
    except ValueError:
        return LoadingRules()  # the extension reports unreadable text as the engine does
    if not isinstance(request, Mapping):
        return LoadingRules()
    return rules_in_request(request.get("items"), request.get("boxes"))


def effort_spent() -> int:
    """The effort units the optimiser has spent on the calling thread so far. Read it
    before and after a call to learn what the call spent, for instance to choose an
    ``effort`` budget from a call with a time limit. A call may end before its effort is
    used up (when it can do no better), and may go somewhat beyond it, as a step of the
    search once begun is finished."""
    return _native.optimiser_work()


def _rules_argument(loading: LoadingRules) -> dict[str, str]:
    # The rules go to the extension as JSON text; none at all when there are none.
    return {"rules": loading.to_json()} if loading else {}


def _elements(values: Any, kind: type, name: str) -> list[Any]:
    if isinstance(values, (str, bytes, bytearray)) or not isinstance(values, Sequence):
        raise TypeError(
            f"{name} must be a sequence of stowvex.{kind.__name__}, not {type(values).__name__}"
        )
    elements = list(values)
    for n, element in enumerate(elements):
        if not isinstance(element, kind):
            raise TypeError(
                f"{name}[{n}] must be a stowvex.{kind.__name__}, not {type(element).__name__}"
            )
    return elements


# The keywords become the values the extension takes here: each of its type, and the
# integers within their range, since the extension cannot hold a Python int of any size.
# The ranges of the other settings, and that a search needs a time limit or an effort,
# are checked by the extension, with the value in its message (a ValueError).


def _float(value: object, name: str) -> float:
    # An int too large for a float becomes an infinity, which is out of every range.
    number = number_value(value)
    if number is None:
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    return number


def _integer(value: object, name: str, low: int, high: int) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if not low <= value <= high:
        raise ValueError(f"{name} must be from {low} to {high}, not {value!r}")
    return value


def _costs(box_costs: object) -> dict[str, float] | None:
    if box_costs is None:
        return None
    if not isinstance(box_costs, Mapping):
        raise TypeError(
            "box_costs must be a mapping from box reference to cost, not "
            f"{type(box_costs).__name__}"
        )
    costs: dict[str, float] = {}
    for reference, cost in box_costs.items():
        if not isinstance(reference, str):
            raise TypeError(f"box_costs keys must be box references (str), not {reference!r}")
        try:
            reference.encode("utf-8")
        except UnicodeEncodeError:
            raise ValueError(
                f"box_costs key {reference!r} is not valid text: it holds a lone surrogate"
            ) from None
        number = _float(cost, f"box_costs[{reference!r}]")
        if not (math.isfinite(number) and number >= 0):
            raise ValueError(
                f"box_costs[{reference!r}] must be finite, 0 or more, not {_shown(number)}"
            )
        costs[reference] = number
    return costs


def _settings(
    time_limit: object,
    effort: object,
    seed: object,
    min_support: object,
    box_costs: object,
    threads: object,
) -> _Settings:
    """The keywords of an optimiser call as the extension takes them; TypeError or
    ValueError (never OverflowError) for a keyword it would refuse."""
    settings: _Settings = {
        "time_limit": None if time_limit is None else _float(time_limit, "time_limit"),
        "effort": None if effort is None else _integer(effort, "effort", 1, _UNSIGNED_MAX),
        "seed": _integer(seed, "seed", 0, _UNSIGNED_MAX),
        "min_support": _float(min_support, "min_support"),
        "box_costs": _costs(box_costs),
        "threads": _integer(threads, "threads", 1, _MAX_THREADS),
    }
    limit = settings["time_limit"]
    if limit is not None and not (limit > 0 and math.isfinite(limit)):
        raise ValueError(f"time_limit must be a positive number of seconds, not {_shown(limit)}")
    if limit is None and settings["effort"] is None:
        raise ValueError("give a time_limit or an effort: the search needs an end")
    support = settings["min_support"]
    if not 0.0 <= support <= 1.0:
        raise ValueError(f"min_support must be between 0 and 1, not {_shown(support)}")
    return settings


def _shown(number: float) -> str:
    # As the extension writes a number in its messages: 0 and -1, not 0.0 and -1.0.
    if math.isfinite(number) and number.is_integer() and abs(number) < 1e16:
        return str(int(number))
    return repr(number)


def optimiser_keywords(
    *,
    time_limit: object = DEFAULT_TIME_LIMIT,
    effort: object = None,
    seed: object = 0,
    min_support: object = 0.0,
    box_costs: object = None,
    threads: object = 1,
) -> dict[str, Any]:
    """The keywords of `optimise` checked before any work: the values the call would take
    (costs as a dict of floats), or the TypeError or ValueError it would raise. Whether
    the box costs name the box types of a request is the call's to check."""
    return dict(_settings(time_limit, effort, seed, min_support, box_costs, threads))
