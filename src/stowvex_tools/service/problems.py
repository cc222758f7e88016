"""The service's errors: each kind of failure a stable problem type and HTTP status,
answered as an RFC 9457 problem document (application/problem+json). Plain Python, so
that the packing processes can name the problem they met."""

from __future__ import annotations

import json
from typing import Any, NamedTuple

PROBLEM_MEDIA_TYPE = "application/problem+json"
TYPE_PREFIX = "urn:stowvex:problem:"


class ProblemType(NamedTuple):
    status: int
    title: str


PROBLEM_TYPES: dict[str, ProblemType] = {
    "unreadable-body": ProblemType(400, "The body is not readable JSON"),
    "invalid-parameter": ProblemType(400, "A query parameter is not valid"),
    "unauthorized": ProblemType(401, "A valid X-API-Key header is needed"),
    "not-found": ProblemType(404, "Nothing here"),
    "method-not-allowed": ProblemType(405, "The method is not allowed here"),
    "body-too-large": ProblemType(413, "The body is larger than the service takes"),
    "unsupported-media-type": ProblemType(415, "The body's Content-Type is not one taken here"),
    "request-findings": ProblemType(422, "The request has mistakes"),
    "engine-refused": ProblemType(422, "The engine refused the request"),
    "unusable-input": ProblemType(422, "The body is JSON, but not what this endpoint takes"),
    "worker-lost": ProblemType(500, "The process packing the request ended"),
    "internal-error": ProblemType(500, "The service failed"),
    "queue-full": ProblemType(503, "Too many requests are waiting"),
    "not-ready": ProblemType(503, "The service is starting or stopping"),
    "timeout": ProblemType(504, "The request ran past its timeout"),
}
"""Every problem the service answers with, by the last part of its type URI."""


def problem_type_uri(name: str) -> str:
    return TYPE_PREFIX + name


class Problem(Exception):
    """A failure answered as a problem document: its kind (a key of PROBLEM_TYPES), the
    detail in words and any further members, such as the request check's findings.
    `headers` go on the response (Retry-After, WWW-Authenticate)."""

    def __init__(
        self,
        name: str,
        detail: str,
        *,
        headers: dict[str, str] | None = None,
        **members: Any,
    ) -> None:
        super().__init__(detail)
        if name not in PROBLEM_TYPES:
            raise KeyError(f"no problem type {name!r}")
        self.name = name
        self.detail = detail
        self.headers = headers or {}
        self.members = members

    @property
    def status(self) -> int:
        return PROBLEM_TYPES[self.name].status

    def document(self, instance: str | None = None, request_id: str | None = None) -> bytes:
        """The problem document as JSON text (UTF-8)."""
        kind = PROBLEM_TYPES[self.name]
        body: dict[str, Any] = {
            "type": problem_type_uri(self.name),
            "title": kind.title,
            "status": kind.status,
            "detail": self.detail,
        }
        if instance is not None:
            body["instance"] = instance
        if request_id is not None:
            body["request_id"] = request_id
        body.update(self.members)
        return json.dumps(body, ensure_ascii=False, allow_nan=False).encode("utf-8")

    def __reduce__(self) -> tuple[Any, ...]:
        return (_rebuild, (self.name, self.detail, self.headers, self.members))


def _rebuild(name: str, detail: str, headers: dict[str, str], members: dict[str, Any]) -> Problem:
    return Problem(name, detail, headers=headers, **members)
