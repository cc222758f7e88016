"""What every HTTP request of the service passes first and last: its request id, the
API key, the size its body announces, and on the way out the access log line and the
metrics. A plain ASGI layer, as it runs for every request."""

from __future__ import annotations

import hashlib
import hmac
import json
import logging
import re
import time
import uuid
from collections.abc import Awaitable, Callable, MutableMapping
from datetime import datetime, timezone
from typing import Any

from .metrics import Metrics
from .problems import PROBLEM_MEDIA_TYPE, Problem
from .settings import ServiceSettings

Scope = MutableMapping[str, Any]
Message = MutableMapping[str, Any]
Receive = Callable[[], Awaitable[Message]]
Send = Callable[[Message], Awaitable[None]]
ASGIApp = Callable[[Scope, Receive, Send], Awaitable[None]]

# Paths anyone may ask for, with or without a key: the probes of a load balancer or an
# orchestrator, the metrics scraper, and the documentation.
OPEN_PATHS = ("/healthz", "/readyz", "/metrics", "/openapi.json", "/docs")
_REQUEST_ID = re.compile(r"^[A-Za-z0-9._:-]{1,128}$")
_ROUTES = (
    (re.compile(r"^/v1/batches/[^/]+/results$"), "/v1/batches/{id}/results"),
    (re.compile(r"^/v1/batches/[^/]+$"), "/v1/batches/{id}"),
    (re.compile(r"^/v1/catalogues/[^/]+$"), "/v1/catalogues/{name}"),
    (re.compile(r"^/docs/.+$"), "/docs/{asset}"),
)
_FIXED = {
    "/v1/pack",
    "/v1/check",
    "/v1/validate",
    "/v1/render",
    "/v1/batches",
    "/healthz",
    "/readyz",
    "/metrics",
    "/openapi.json",
    "/docs",
}

access_log = logging.getLogger("stowvex.access")


def route_of(path: str) -> str:
    """The route a path belongs to, for the metrics' labels (a path itself could give
    them no end of values)."""
    if path in _FIXED:
        return path
    for pattern, route in _ROUTES:
        if pattern.match(path):
            return route
    return "other"


def _digest(key: str | bytes) -> bytes:
    return hashlib.sha256(key.encode() if isinstance(key, str) else key).digest()


class KeyRing:
    """The API keys, kept as digests and compared in constant time: the time of a check
    depends neither on how much of a key was right nor on which key matched."""

    def __init__(self, keys: tuple[str, ...]) -> None:
        self._digests = [_digest(key) for key in keys]

    def __bool__(self) -> bool:
        return bool(self._digests)

    def accepts(self, given: bytes | None) -> bool:
        offered = _digest(given or b"")
        found = False
        for digest in self._digests:
            found |= hmac.compare_digest(offered, digest)
        return found and given is not None


def request_id(scope: Scope) -> str:
    """The id of the request being answered."""
    state: dict[str, Any] = scope.get("state", {})
    return str(state.get("request_id", ""))


class Gate:
    """The ASGI layer around the service's routes."""

    def __init__(self, app: ASGIApp, settings: ServiceSettings, metrics: Metrics) -> None:
        self.app = app
        self.settings = settings
        self.metrics = metrics
        self.keys = KeyRing(settings.api_keys)

    async def __call__(self, scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] != "http":
            await self.app(scope, receive, send)
            return
        started = time.perf_counter()
        headers = dict(scope["headers"])
        given_id = headers.get(b"x-request-id", b"").decode("latin-1")
        rid = given_id if _REQUEST_ID.match(given_id) else uuid.uuid4().hex
        state = scope.setdefault("state", {})
        state["request_id"] = rid
        state["arrived"] = time.monotonic()
        answer: dict[str, Any] = {"status": 500, "bytes": 0, "problem": None, "started": False}

        async def send_on(message: Message) -> None:
            if message["type"] == "http.response.start":
                answer["status"] = message["status"]
                answer["started"] = True
                message["headers"] = [
                    *message.get("headers", []),
                    (b"x-request-id", rid.encode()),
                ]
            elif message["type"] == "http.response.body":
                answer["bytes"] += len(message.get("body", b""))
            await send(message)

        path: str = scope["path"]
        route = route_of(path)
        try:
            problem = self._refusal(path, route, headers)
            if problem is not None:
                answer["problem"] = problem.name
                await send_problem(send_on, problem, path, rid)
            else:
                await self.app(scope, receive, send_on)
        except Exception as error:
            access_log.error(
                "unhandled %s: %s", type(error).__name__, error, extra={"request_id": rid}
            )
            if not answer["started"]:
                problem = Problem("internal-error", "the service failed on this request")
                await send_problem(send_on, problem, path, rid)
        finally:
            seconds = time.perf_counter() - started
            status = str(answer["status"])
            self.metrics.requests.labels(route, scope["method"], status).inc()
            self.metrics.latency.labels(route).observe(seconds)
            access_log.info(
                "request",
                extra={
                    "request_id": rid,
                    "method": scope["method"],
                    "path": path,
                    "status": answer["status"],
                    "duration_ms": round(seconds * 1000, 3),
                    "bytes": answer["bytes"],
                    "client": (scope.get("client") or ("", 0))[0],
                    "problem": answer["problem"] or state.get("problem"),
                },
            )

    def _refusal(self, path: str, route: str, headers: dict[bytes, bytes]) -> Problem | None:
        """The problem that answers a request before it reaches its route, if any."""
        open_path = path in OPEN_PATHS or path.startswith("/docs/")
        if self.keys and not open_path and not self.keys.accepts(headers.get(b"x-api-key")):
            return Problem(
                "unauthorized",
                "this service needs a valid API key in the X-API-Key header",
                headers={"WWW-Authenticate": 'ApiKey header="X-API-Key"'},
            )
        limit = self.settings.max_batch_body if route == "/v1/batches" else self.settings.max_body
        length = headers.get(b"content-length")
        if length is not None:
            try:
                announced = int(length)
            except ValueError:
                return Problem("unreadable-body", "the Content-Length header is not a number")
            if announced > limit:
                return Problem(
                    "body-too-large",
                    f"the body is {announced} bytes; this service takes {limit} at most",
                    limit=limit,
                )
        return None


async def send_problem(send: Send, problem: Problem, instance: str, rid: str) -> None:
    """Answers with a problem document."""
    body = problem.document(instance=instance, request_id=rid)
    headers = [
        (b"content-type", PROBLEM_MEDIA_TYPE.encode()),
        (b"content-length", str(len(body)).encode()),
    ]
    headers += [(k.lower().encode(), v.encode()) for k, v in problem.headers.items()]
    if problem.name == "body-too-large":
        headers.append((b"connection", b"close"))  # the rest of the body is not read
    await send({"type": "http.response.start", "status": problem.status, "headers": headers})
    await send({"type": "http.response.body", "body": body})


class JsonLines(logging.Formatter):
    """Log records as JSON lines: time, level, logger, message and the record's extra
    members (the request id, the status...)."""

    _PLAIN = set(logging.makeLogRecord({}).__dict__) | {"message", "asctime", "color_message"}

    def format(self, record: logging.LogRecord) -> str:
        line: dict[str, Any] = {
            "time": datetime.fromtimestamp(record.created, timezone.utc).isoformat(
                timespec="milliseconds"
            ),
            "level": record.levelname.lower(),
            "logger": record.name,
            "message": record.getMessage(),
        }
        for key, value in record.__dict__.items():
            if key not in self._PLAIN and value is not None:
                line[key] = value
        return json.dumps(line, ensure_ascii=False, default=str)
