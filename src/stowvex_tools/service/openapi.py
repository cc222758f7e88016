"""The service's OpenAPI document, written out rather than derived, and its interactive
documentation page: Swagger UI, whose files come from the swagger-ui-bundle package
and are served by the service itself, so the page asks no other host for anything.
That Swagger UI reads OpenAPI 3.0, hence the document's version."""

from __future__ import annotations

import json
import mimetypes
from functools import lru_cache
from typing import Any

from starlette.responses import Response

from ..engine_calls import MAX_THREADS
from .problems import PROBLEM_MEDIA_TYPE, PROBLEM_TYPES, Problem, problem_type_uri

# The Swagger UI files the page loads; nothing else of the bundle is served.
ASSETS = ("swagger-ui.css", "swagger-ui-bundle.js", "favicon-32x32.png")


def _ref(name: str) -> dict[str, str]:
    return {"$ref": f"#/components/schemas/{name}"}


def _problems(*names: str) -> dict[str, Any]:
    by_status: dict[int, list[str]] = {}
    for name in names:
        by_status.setdefault(PROBLEM_TYPES[name].status, []).append(name)
    responses = {}
    for status, kinds in sorted(by_status.items()):
        types = ", ".join(problem_type_uri(k) for k in kinds)
        responses[str(status)] = {
            "description": f"{PROBLEM_TYPES[kinds[0]].title} ({types})",
            "content": {PROBLEM_MEDIA_TYPE: {"schema": _ref("Problem")}},
        }
    return responses


COMMON = ("unauthorized", "body-too-large", "queue-full", "timeout", "worker-lost")


def _query(name: str, schema: dict[str, Any], description: str) -> dict[str, Any]:
    return {
        "name": name,
        "in": "query",
        "required": False,
        "schema": schema,
        "description": description,
    }


TIMEOUT = _query(
    "timeout",
    {"type": "number", "exclusiveMinimum": True, "minimum": 0},
    "Seconds the request may take, from its arrival (default and most: the service's "
    "--timeout); past it the answer is 504.",
)


def _json_body(schema: dict[str, Any], description: str) -> dict[str, Any]:
    return {
        "required": True,
        "description": description,
        "content": {"application/json": {"schema": schema}},
    }


def _ok(description: str, media: str = "application/json", schema: Any = None) -> dict[str, Any]:
    content: dict[str, Any] = {media: {"schema": schema or {"type": "object"}}}
    return {"description": description, "content": content}


def _schemas() -> dict[str, Any]:
    number = {"type": "number"}
    text = {"type": "string", "nullable": True}
    return {
        "Item": {
            "type": "object",
            "required": ["ItemCode", "Width", "Length", "Depth"],
            "properties": {
                "ItemCode": {"type": "string"},
                "ItemReference": text,
                "Width": number,
                "Length": number,
                "Depth": number,
                "Weight": {"type": "number", "nullable": True},
                "AllowedRotation": {
                    "type": "string",
                    "nullable": True,
                    "description": "BestFit (default), KeepFlat or Never",
                },
                "BoxGroup": text,
            },
        },
        "Box": {
            "type": "object",
            "required": ["Reference", "Width", "Length", "Depth"],
            "properties": {
                "Reference": {"type": "string"},
                "Width": number,
                "Length": number,
                "Depth": number,
                "BoxWeight": {"type": "number", "nullable": True},
                "MaxWeight": {"type": "number", "nullable": True},
                "MaximumBoxes": {"type": "integer", "nullable": True},
                "Active": {"type": "boolean", "nullable": True},
            },
        },
        "Request": {
            "type": "object",
            "description": "The request stowvex.solve reads (see the request format).",
            "properties": {
                "items": {"type": "array", "items": _ref("Item")},
                "boxes": {"type": "array", "items": _ref("Box")},
                "box_costs": {
                    "type": "object",
                    "additionalProperties": {"type": "number", "minimum": 0},
                    "description": "The cost of a box of each reference, for the optimiser; "
                    "the exact engine ignores it.",
                },
            },
        },
        "Result": {
            "type": "object",
            "description": "The result JSON text stowvex.solve writes, unchanged.",
            "properties": {
                "success": {"type": "boolean"},
                "boxes": {"type": "array", "items": {"type": "object"}},
                "unplaced_items": {"type": "array", "items": {"type": "object"}},
                "summary": {"type": "object"},
            },
        },
        "Finding": {
            "type": "object",
            "properties": {
                "where": {"type": "string", "example": "item 3 'MUG'"},
                "field": {"type": "string", "nullable": True, "example": "Width"},
                "message": {"type": "string"},
                "text": {"type": "string"},
            },
        },
        "Findings": {
            "type": "object",
            "properties": {
                "findings": {"type": "array", "items": _ref("Finding")},
                "count": {"type": "integer"},
            },
        },
        "Violations": {
            "type": "object",
            "properties": {
                "violations": {
                    "type": "array",
                    "items": {
                        "type": "object",
                        "properties": {
                            "kind": {"type": "string"},
                            "message": {"type": "string"},
                            "box_index": {"type": "integer", "nullable": True},
                            "box_reference": {"type": "string", "nullable": True},
                            "item_codes": {"type": "array", "items": {"type": "string"}},
                            "text": {"type": "string"},
                        },
                    },
                },
                "count": {"type": "integer"},
            },
        },
        "Batch": {
            "type": "object",
            "properties": {
                "id": {"type": "string"},
                "state": {
                    "type": "string",
                    "enum": ["queued", "running", "done", "failed", "cancelled"],
                },
                "done": {"type": "integer", "description": "orders packed"},
                "failed": {"type": "integer", "description": "orders with an error line"},
                "total": {"type": "integer", "nullable": True},
                "created": {"type": "number"},
                "settings": {"type": "object"},
                "results": {"type": "string"},
                "error": {"type": "string"},
            },
        },
        "Problem": {
            "type": "object",
            "description": "An RFC 9457 problem document.",
            "required": ["type", "title", "status", "detail"],
            "properties": {
                "type": {"type": "string", "enum": [problem_type_uri(n) for n in PROBLEM_TYPES]},
                "title": {"type": "string"},
                "status": {"type": "integer"},
                "detail": {"type": "string"},
                "instance": {"type": "string"},
                "request_id": {"type": "string"},
                "findings": {"type": "array", "items": _ref("Finding")},
            },
        },
    }


def _paths() -> dict[str, Any]:
    optimiser = [
        _query("optimise", {"type": "boolean", "default": False}, "Pack with the optimiser."),
        _query(
            "settle",
            {"type": "boolean", "default": False},
            "Move every item straight down onto what is below it (stowvex_tools.settle).",
        ),
        _query(
            "time_limit",
            {"type": "number", "exclusiveMinimum": True, "minimum": 0},
            "The optimiser's seconds (default 1, at most the timeout).",
        ),
        _query("effort", {"type": "integer", "minimum": 1}, "The optimiser's work budget."),
        _query("seed", {"type": "integer", "minimum": 0}, "The optimiser's seed (default 0)."),
        _query(
            "min_support",
            {"type": "number", "minimum": 0, "maximum": 1},
            "The optimiser's least supported share of an item's base (default 0).",
        ),
        _query(
            "threads",
            {"type": "integer", "minimum": 1, "maximum": MAX_THREADS, "default": 1},
            "Threads the packing may use.",
        ),
        TIMEOUT,
        _query(
            "check",
            {"type": "boolean", "default": True},
            "Check the request first, as stowvex check does (false: skip).",
        ),
    ]
    job = {"name": "job", "in": "path", "required": True, "schema": {"type": "string"}}
    name = {"name": "name", "in": "path", "required": True, "schema": {"type": "string"}}
    v1: list[dict[str, list[str]]] = [{"ApiKey": []}]
    return {
        "/v1/pack": {
            "post": {
                "summary": "Pack one request",
                "description": "The answer is byte for byte the text stowvex.solve returns.",
                "security": v1,
                "parameters": optimiser,
                "requestBody": _json_body(_ref("Request"), "The request."),
                "responses": {
                    "200": _ok("The result.", schema=_ref("Result")),
                    **_problems(
                        "unreadable-body",
                        "invalid-parameter",
                        "request-findings",
                        "engine-refused",
                        *COMMON,
                    ),
                },
            }
        },
        "/v1/check": {
            "post": {
                "summary": "Look for mistakes in a request",
                "security": v1,
                "parameters": [TIMEOUT],
                "requestBody": _json_body(_ref("Request"), "The request."),
                "responses": {
                    "200": _ok("The findings (none: an empty list).", schema=_ref("Findings")),
                    **_problems("unreadable-body", *COMMON),
                },
            }
        },
        "/v1/validate": {
            "post": {
                "summary": "Check a result against its request",
                "security": v1,
                "parameters": [
                    _query(
                        "min_support",
                        {"type": "number", "minimum": 0, "maximum": 1},
                        "Least share of an item's base that must rest on something.",
                    ),
                    TIMEOUT,
                ],
                "requestBody": _json_body(
                    {
                        "type": "object",
                        "required": ["request", "result"],
                        "properties": {"request": _ref("Request"), "result": _ref("Result")},
                    },
                    "The request and its result.",
                ),
                "responses": {
                    "200": _ok("The violations.", schema=_ref("Violations")),
                    **_problems("unreadable-body", "unusable-input", *COMMON),
                },
            }
        },
        "/v1/render": {
            "post": {
                "summary": "Draw a result",
                "description": "An HTML page (the default), or with Accept: image/png the "
                "PNG picture of one box.",
                "security": v1,
                "parameters": [
                    _query("title", {"type": "string"}, "Title of the picture."),
                    _query("box", {"type": "integer", "minimum": 1}, "The box of a PNG, from 1."),
                    TIMEOUT,
                ],
                "requestBody": _json_body(_ref("Result"), "The result."),
                "responses": {
                    "200": {
                        "description": "The page or the picture.",
                        "content": {
                            "text/html": {"schema": {"type": "string"}},
                            "image/png": {"schema": {"type": "string", "format": "binary"}},
                        },
                    },
                    **_problems("unreadable-body", "unusable-input", *COMMON),
                },
            }
        },
        "/v1/batches": {
            "post": {
                "summary": "Pack a batch of orders in the background",
                "security": v1,
                "parameters": [
                    _query(
                        "catalogue",
                        {"type": "string"},
                        "A stored catalogue (PUT /v1/catalogues/{name}) for orders "
                        "without boxes; CSV needs one.",
                    ),
                    _query("optimise", {"type": "boolean"}, "Pack with the optimiser."),
                    _query("time_limit", {"type": "number"}, "The optimiser's seconds an order."),
                    _query("timeout", {"type": "number"}, "The engine's seconds an order."),
                ],
                "requestBody": {
                    "required": True,
                    "content": {
                        "application/x-ndjson": {"schema": {"type": "string"}},
                        "text/csv": {"schema": {"type": "string"}},
                    },
                },
                "responses": {
                    "202": {
                        "description": "Accepted; Location is the batch.",
                        "headers": {"Location": {"schema": {"type": "string"}}},
                        "content": {"application/json": {"schema": _ref("Batch")}},
                    },
                    **_problems(
                        "unsupported-media-type",
                        "invalid-parameter",
                        "unusable-input",
                        "not-found",
                        "unauthorized",
                        "body-too-large",
                    ),
                },
            }
        },
        "/v1/batches/{job}": {
            "parameters": [job],
            "get": {
                "summary": "The progress of a batch",
                "security": v1,
                "responses": {
                    "200": _ok("State and counts.", schema=_ref("Batch")),
                    **_problems("not-found", "unauthorized"),
                },
            },
            "delete": {
                "summary": "Cancel a batch",
                "security": v1,
                "responses": {
                    "200": _ok("Its state now.", schema=_ref("Batch")),
                    **_problems("not-found", "unauthorized"),
                },
            },
        },
        "/v1/batches/{job}/results": {
            "parameters": [job],
            "get": {
                "summary": "The output lines of a batch, in input order, as they come",
                "security": v1,
                "responses": {
                    "200": {
                        "description": 'One line an order: {"id": ..., "result": {...}} or '
                        '{"id": ..., "error": "..."}.',
                        "content": {"application/x-ndjson": {"schema": {"type": "string"}}},
                    },
                    **_problems("not-found", "unauthorized"),
                },
            },
        },
        "/v1/catalogues/{name}": {
            "parameters": [name],
            "put": {
                "summary": "Store a box catalogue for batches",
                "security": v1,
                "requestBody": _json_body(
                    {"type": "array", "items": _ref("Box")}, "The box types."
                ),
                "responses": {
                    "200": _ok("Replaced."),
                    "201": _ok("Stored."),
                    **_problems(
                        "unreadable-body", "unusable-input", "request-findings", "unauthorized"
                    ),
                },
            },
            "get": {
                "summary": "A stored box catalogue",
                "security": v1,
                "responses": {
                    "200": _ok("The box types.", schema={"type": "array", "items": _ref("Box")}),
                    **_problems("not-found", "unauthorized"),
                },
            },
        },
        "/healthz": {"get": {"summary": "Alive", "responses": {"200": _ok("Alive.")}}},
        "/readyz": {
            "get": {
                "summary": "Ready to pack",
                "responses": {"200": _ok("Ready."), **_problems("not-ready")},
            }
        },
        "/metrics": {
            "get": {
                "summary": "Prometheus metrics",
                "responses": {"200": _ok("The metrics.", "text/plain", {"type": "string"})},
            }
        },
    }


@lru_cache(maxsize=1)
def document() -> dict[str, Any]:
    """The OpenAPI document of the service."""
    from .. import __version__

    return {
        "openapi": "3.0.3",
        "info": {
            "title": "stowvex",
            "version": __version__,
            "description": "The stowvex packing engine over HTTP. Errors are RFC 9457 "
            "problem documents (application/problem+json) with a stable type.",
        },
        "paths": _paths(),
        "components": {
            "schemas": _schemas(),
            "securitySchemes": {
                "ApiKey": {
                    "type": "apiKey",
                    "in": "header",
                    "name": "X-API-Key",
                    "description": "Asked for only when the service runs with --api-keys.",
                }
            },
        },
    }


@lru_cache(maxsize=1)
def document_text() -> bytes:
    return json.dumps(document(), indent=1).encode("utf-8")


DOCS_PAGE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>stowvex service</title>
<link rel="stylesheet" href="/docs/swagger-ui.css">
<link rel="icon" type="image/png" href="/docs/favicon-32x32.png">
</head>
<body>
<div id="swagger-ui"></div>
<script src="/docs/swagger-ui-bundle.js"></script>
<script>
window.ui = SwaggerUIBundle({
  url: "/openapi.json",
  dom_id: "#swagger-ui",
  validatorUrl: null,
  deepLinking: true
});
</script>
</body>
</html>
"""


def docs_page() -> str:
    return DOCS_PAGE


def _asset_folder() -> Any:
    from ..optional_dependencies import require

    bundle = require("swagger_ui_bundle", "service", "The documentation page")
    return bundle.swagger_ui_path


def asset(name: str) -> Response:
    """One file of Swagger UI, cached by browsers for a day."""
    if name not in ASSETS:
        raise Problem("not-found", f"no file {name!r} in the documentation")
    data = (_asset_folder() / name).read_bytes()
    kind = mimetypes.guess_type(name)[0] or "application/octet-stream"
    return Response(data, media_type=kind, headers={"Cache-Control": "public, max-age=86400"})
