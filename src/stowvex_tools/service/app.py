"""The routes of the service, on Starlette: packing, checking, validating and drawing
one request, batches and their catalogues, the probes, the metrics and the
documentation. Work on a body is done by the packing processes (`workers`); the event
loop only reads bodies, hands them over and answers."""

from __future__ import annotations

import contextlib
import math
import tempfile
import time
from collections.abc import AsyncIterator
from pathlib import Path
from typing import Any

from starlette.applications import Starlette
from starlette.exceptions import HTTPException
from starlette.requests import Request
from starlette.responses import HTMLResponse, JSONResponse, Response, StreamingResponse
from starlette.routing import Route

from ..engine_calls import MAX_THREADS
from ..optimiser import DEFAULT_TIME_LIMIT
from . import openapi
from .gate import Gate
from .jobs import JobSettings, JobStore
from .metrics import METRICS_MEDIA_TYPE, Metrics
from .problems import PROBLEM_MEDIA_TYPE, Problem
from .settings import ServiceSettings
from .work import PackOptions
from .workers import WorkerPool

JSONL_TYPES = ("application/x-ndjson", "application/jsonl", "application/x-jsonlines")
CSV_TYPES = ("text/csv",)
_UNSIGNED_MAX = 2**64 - 1


class Service:
    """One running service: its settings, packing processes, batches and metrics."""

    def __init__(self, settings: ServiceSettings) -> None:
        self.settings = settings
        self.metrics = Metrics()
        self.metrics.workers.set(settings.workers)
        self.pool = WorkerPool(settings.workers, settings.queue, self.metrics)
        self._temporary: tempfile.TemporaryDirectory[str] | None = None
        if settings.jobs_dir is None:
            self._temporary = tempfile.TemporaryDirectory(prefix="stowvex-service-")
            root = Path(self._temporary.name)
        else:
            root = Path(settings.jobs_dir)
        self.jobs = JobStore(root, self.metrics, settings.batch_workers)
        self.stopping = False

    @contextlib.asynccontextmanager
    async def lifespan(self, app: Starlette) -> AsyncIterator[None]:
        await self.jobs.start()
        await self.pool.start()
        try:
            yield
        finally:
            self.stopping = True
            await self.jobs.close()
            await self.pool.close()
            if self._temporary is not None:
                self._temporary.cleanup()


# Query parameters


class Query:
    """The query parameters of a request, read one by one; any left unread is refused."""

    def __init__(self, request: Request, known: tuple[str, ...]) -> None:
        self.values = request.query_params
        unknown = sorted(set(self.values) - set(known))
        if unknown:
            raise Problem(
                "invalid-parameter",
                f"unknown query parameter {unknown[0]!r}"
                + (f" (known here: {', '.join(known)})" if known else " (none is taken here)"),
                parameter=unknown[0],
            )

    def given(self, name: str) -> bool:
        return name in self.values

    def _bad(self, name: str, expected: str) -> Problem:
        return Problem(
            "invalid-parameter",
            f"{name} must be {expected}, not {self.values[name]!r}",
            parameter=name,
        )

    def flag(self, name: str, default: bool) -> bool:
        if name not in self.values:
            return default
        text = self.values[name].lower()
        if text in ("true", "1", "yes", ""):
            return True
        if text in ("false", "0", "no"):
            return False
        raise self._bad(name, "true or false")

    def number(self, name: str, default: float, low: float, high: float, open_low: bool) -> float:
        if name not in self.values:
            return default
        try:
            value = float(self.values[name])
        except ValueError:
            raise self._bad(name, "a number") from None
        above = value > low if open_low else value >= low
        if not (math.isfinite(value) and above and value <= high):
            bound = f"above {low:g}" if open_low else f"at least {low:g}"
            raise self._bad(name, f"a number {bound} and at most {high:g}")
        return value

    def integer(self, name: str, default: int | None, low: int, high: int) -> int | None:
        if name not in self.values:
            return default
        text = self.values[name]
        if not text.strip().isdigit() or len(text) > 30 or not low <= int(text) <= high:
            raise self._bad(name, f"a whole number from {low} to {high}")
        return int(text)

    def text(self, name: str, default: str | None) -> str | None:
        return self.values.get(name, default)


def _service(request: Request) -> Service:
    service: Service = request.app.state.service
    return service


def _deadline(request: Request, timeout: float) -> float:
    arrived: float = request.scope.get("state", {}).get("arrived", time.monotonic())
    return arrived + timeout


async def _body(request: Request, limit: int) -> bytes:
    parts = []
    size = 0
    async for chunk in request.stream():
        size += len(chunk)
        if size > limit:
            raise Problem(
                "body-too-large", f"the body is over the {limit} bytes this service takes"
            )
        parts.append(chunk)
    return b"".join(parts)


async def _run(request: Request, kind: str, options: Any, timeout: float) -> Response:
    service = _service(request)
    body = await _body(request, service.settings.max_body)
    reply = await service.pool.run(kind, body, options, _deadline(request, timeout))
    if reply[0] == "problem":
        raise reply[1]
    return Response(reply[2], media_type=reply[1])


def _timeout(query: Query, settings: ServiceSettings) -> float:
    return query.number("timeout", settings.timeout, 0.0, settings.timeout, True)


OPTIMISER_PARAMETERS = ("time_limit", "effort", "seed", "min_support")


async def pack(request: Request) -> Response:
    settings = _service(request).settings
    query = Query(
        request,
        ("optimise", "optimize", "threads", "timeout", "check", "settle", *OPTIMISER_PARAMETERS),
    )
    timeout = _timeout(query, settings)
    optimise = query.flag("optimise", False) or query.flag("optimize", False)
    if not optimise:
        for name in OPTIMISER_PARAMETERS:
            if query.given(name):
                raise Problem(
                    "invalid-parameter",
                    f"{name} is the optimiser's: give it with optimise=true",
                    parameter=name,
                )
    time_limit = query.number("time_limit", min(DEFAULT_TIME_LIMIT, timeout), 0.0, 1e9, True)
    if optimise and time_limit > timeout:
        raise Problem(
            "invalid-parameter",
            f"time_limit {time_limit:g} is over the request's timeout of {timeout:g} s",
            parameter="time_limit",
        )
    options = PackOptions(
        optimise=optimise,
        time_limit=time_limit,
        effort=query.integer("effort", None, 1, _UNSIGNED_MAX),
        seed=query.integer("seed", 0, 0, _UNSIGNED_MAX) or 0,
        min_support=query.number("min_support", 0.0, 0.0, 1.0, False),
        threads=query.integer("threads", 1, 1, MAX_THREADS) or 1,
        timeout=timeout,
        check=query.flag("check", True),
        settle=query.flag("settle", False),
        deadline=_deadline(request, timeout),
    )
    metrics = _service(request).metrics
    try:
        response = await _run(request, "pack", options, timeout)
    except Problem as problem:
        outcome = {
            "request-findings": "findings",
            "engine-refused": "refused",
            "unreadable-body": "refused",
            "timeout": "timeout",
        }.get(problem.name, "failed")
        if problem.name not in ("queue-full", "not-ready", "body-too-large"):
            metrics.packings.labels(outcome).inc()
        raise
    metrics.packings.labels("packed").inc()
    return response


async def check(request: Request) -> Response:
    query = Query(request, ("timeout",))
    return await _run(request, "check", None, _timeout(query, _service(request).settings))


async def validate(request: Request) -> Response:
    query = Query(request, ("min_support", "timeout"))
    min_support = query.number("min_support", 0.0, 0.0, 1.0, False)
    timeout = _timeout(query, _service(request).settings)
    return await _run(request, "validate", min_support, timeout)


def _wants_png(request: Request) -> bool:
    accept = request.headers.get("accept", "")
    kinds = [part.split(";")[0].strip().lower() for part in accept.split(",")]
    return "image/png" in kinds and (
        "text/html" not in kinds or kinds.index("image/png") < kinds.index("text/html")
    )


async def render(request: Request) -> Response:
    query = Query(request, ("title", "box", "timeout"))
    title = query.text("title", "stowvex packing") or "stowvex packing"
    box = query.integer("box", 1, 1, 10**6) or 1
    picture = "png" if _wants_png(request) else "html"
    timeout = _timeout(query, _service(request).settings)
    return await _run(request, "render", (picture, title, box), timeout)


# Batches and catalogues


def _input_format(request: Request) -> str:
    kind = request.headers.get("content-type", "").split(";")[0].strip().lower()
    if kind in JSONL_TYPES:
        return "jsonl"
    if kind in CSV_TYPES:
        return "csv"
    raise Problem(
        "unsupported-media-type",
        f"a batch is JSON Lines (Content-Type: {JSONL_TYPES[0]}) or CSV order lines "
        f"(Content-Type: text/csv), not {kind or 'a body without a Content-Type'}",
    )


async def create_batch(request: Request) -> Response:
    service = _service(request)
    query = Query(request, ("catalogue", "optimise", "optimize", "time_limit", "timeout"))
    optimise = query.flag("optimise", False) or query.flag("optimize", False)
    if not optimise and query.given("time_limit"):
        raise Problem(
            "invalid-parameter",
            "time_limit is the optimiser's: give it with optimise=true",
            parameter="time_limit",
        )
    if optimise and query.given("timeout"):
        raise Problem(
            "invalid-parameter",
            "timeout is the exact engine's; with optimise=true time_limit ends each order",
            parameter="timeout",
        )
    timeout = _timeout(query, service.settings)
    settings = JobSettings(
        input_format=_input_format(request),
        catalogue=query.text("catalogue", None),
        optimise=optimise,
        time_limit=query.number("time_limit", DEFAULT_TIME_LIMIT, 0.0, 3600.0, True),
        timeout=None if optimise else timeout,
    )
    status = await service.jobs.create(request.stream(), settings, service.settings.max_batch_body)
    return JSONResponse(
        status, status_code=202, headers={"Location": f"/v1/batches/{status['id']}"}
    )


async def batch_status(request: Request) -> Response:
    Query(request, ())
    return JSONResponse(_service(request).jobs.status(request.path_params["job"]))


async def cancel_batch(request: Request) -> Response:
    Query(request, ())
    return JSONResponse(await _service(request).jobs.cancel(request.path_params["job"]))


async def batch_results(request: Request) -> Response:
    Query(request, ())
    jobs = _service(request).jobs
    job = request.path_params["job"]
    jobs.status(job)  # a problem for an unknown job, before the stream begins
    return StreamingResponse(jobs.results(job), media_type="application/x-ndjson")


async def put_catalogue(request: Request) -> Response:
    from .work import body_json, finding_dict

    service = _service(request)
    Query(request, ())
    name = request.path_params["name"]
    service.jobs.catalogue_path(name)
    value = body_json(await _body(request, service.settings.max_body))
    if isinstance(value, dict) and "boxes" in value:
        value = value["boxes"]
    if not isinstance(value, list) or not value:
        raise Problem(
            "unusable-input",
            'a catalogue is a non-empty list of box objects (or {"boxes": [...]})',
        )
    from ..request_check import check_request

    findings = check_request({"items": [], "boxes": value})
    if findings:
        raise Problem(
            "request-findings", str(findings[0]), findings=[finding_dict(f) for f in findings]
        )
    new = service.jobs.put_catalogue(name, value)
    answer = {"name": name, "boxes": len(value)}
    return JSONResponse(
        answer, status_code=201 if new else 200, headers={"Location": f"/v1/catalogues/{name}"}
    )


async def get_catalogue(request: Request) -> Response:
    Query(request, ())
    return Response(
        _service(request).jobs.get_catalogue(request.path_params["name"]),
        media_type="application/json",
    )


# Probes, metrics and documentation


async def healthz(request: Request) -> Response:
    return JSONResponse({"status": "alive"})


async def readyz(request: Request) -> Response:
    service = _service(request)
    ready = service.pool.ready and not service.stopping
    answer = {
        "status": "ready" if ready else "not ready",
        "workers": service.pool.describe(),
        "queue_limit": service.settings.queue,
    }
    return JSONResponse(answer, status_code=200 if ready else 503)


async def metrics(request: Request) -> Response:
    return Response(_service(request).metrics.text(), media_type=METRICS_MEDIA_TYPE)


async def openapi_json(request: Request) -> Response:
    return Response(openapi.document_text(), media_type="application/json")


async def docs(request: Request) -> Response:
    return HTMLResponse(openapi.docs_page())


async def docs_asset(request: Request) -> Response:
    return openapi.asset(request.path_params["asset"])


# Errors


async def problem_response(request: Request, exc: Exception) -> Response:
    problem = exc if isinstance(exc, Problem) else Problem("internal-error", str(exc))
    if isinstance(exc, HTTPException):
        name = {404: "not-found", 405: "method-not-allowed"}.get(exc.status_code)
        if name is None:
            name = "unreadable-body" if exc.status_code == 400 else "internal-error"
        problem = Problem(name, str(exc.detail))
    state = request.scope.setdefault("state", {})
    state["problem"] = problem.name
    if problem.name == "timeout":
        _service(request).metrics.timeouts.inc()
    body = problem.document(instance=request.url.path, request_id=state.get("request_id"))
    return Response(
        body, status_code=problem.status, media_type=PROBLEM_MEDIA_TYPE, headers=problem.headers
    )


ROUTES = [
    Route("/v1/pack", pack, methods=["POST"]),
    Route("/v1/check", check, methods=["POST"]),
    Route("/v1/validate", validate, methods=["POST"]),
    Route("/v1/render", render, methods=["POST"]),
    Route("/v1/batches", create_batch, methods=["POST"]),
    Route("/v1/batches/{job}", batch_status, methods=["GET"]),
    Route("/v1/batches/{job}", cancel_batch, methods=["DELETE"]),
    Route("/v1/batches/{job}/results", batch_results, methods=["GET"]),
    Route("/v1/catalogues/{name}", put_catalogue, methods=["PUT"]),
    Route("/v1/catalogues/{name}", get_catalogue, methods=["GET"]),
    Route("/healthz", healthz, methods=["GET"]),
    Route("/readyz", readyz, methods=["GET"]),
    Route("/metrics", metrics, methods=["GET"]),
    Route("/openapi.json", openapi_json, methods=["GET"]),
    Route("/docs", docs, methods=["GET"]),
    Route("/docs/{asset}", docs_asset, methods=["GET"]),
]


def create_app(settings: ServiceSettings) -> Any:
    """The ASGI application of a service with these settings."""
    service = Service(settings)
    app = Starlette(
        routes=ROUTES,
        lifespan=service.lifespan,
        exception_handlers={Problem: problem_response, HTTPException: problem_response},
    )
    app.state.service = service
    return Gate(app, settings, service.metrics)
