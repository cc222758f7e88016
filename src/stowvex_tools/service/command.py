"""`stowvex serve`: its options, and the settings they make. Needs nothing beyond the
standard library until the service starts."""

from __future__ import annotations

import argparse
from typing import Any

SERVE_EXAMPLES = """\
examples:
  stowvex serve                                   # http://127.0.0.1:8080, a process per core
  stowvex serve --port 9000 --workers 2 --api-keys keys.txt
  stowvex serve --host 0.0.0.0 --jobs-dir /var/lib/stowvex --timeout 30

POST a request to /v1/pack and get back the result JSON text stowvex.solve returns;
/docs has every endpoint. SIGTERM or Ctrl-C stops it: requests in flight finish
(within --grace seconds), then it exits with status 0."""


def add_serve(commands: Any, make_command: Any) -> None:
    """The serve command's parser, made with the command line's own helper."""
    serve = make_command(
        commands, "serve", "run the HTTP service", "Run the packing service.", SERVE_EXAMPLES
    )
    serve.add_argument("--host", default="127.0.0.1", help="address to listen on (%(default)s)")
    serve.add_argument("--port", type=int, default=8080, help="port (default %(default)s)")
    serve.add_argument(
        "--workers", type=int, metavar="N", help="packing processes (default: one per core)"
    )
    serve.add_argument(
        "--api-keys",
        metavar="FILE",
        help="ask for one of these keys in X-API-Key (one a line, # comments)",
    )
    serve.add_argument(
        "--timeout",
        type=float,
        default=10.0,
        metavar="SECONDS",
        help="longest time of a request, and its default (default %(default)g)",
    )
    serve.add_argument(
        "--max-body", default="10MB", metavar="SIZE", help="largest body (default %(default)s)"
    )
    serve.add_argument(
        "--max-batch-body",
        default="200MB",
        metavar="SIZE",
        help="largest batch of orders (default %(default)s)",
    )
    serve.add_argument(
        "--queue",
        type=int,
        default=64,
        metavar="N",
        help="requests that may wait for a process; more get 503 (default %(default)s)",
    )
    serve.add_argument(
        "--jobs-dir",
        metavar="DIR",
        help="folder of the batches, kept across restarts (default: a temporary one)",
    )
    serve.add_argument(
        "--grace",
        type=float,
        default=30.0,
        metavar="SECONDS",
        help="time requests in flight get to finish at a stop (default %(default)g)",
    )
    serve.add_argument(
        "--log-level",
        default="info",
        choices=("debug", "info", "warning", "error"),
        help="least level logged (default %(default)s)",
    )


def run_serve(args: argparse.Namespace) -> int:
    """Starts the service with the command's options; a bad option is a SettingsError."""
    from ..process_pool import default_workers
    from .server import serve
    from .settings import ServiceSettings, parse_size, read_api_keys

    settings = ServiceSettings(
        host=args.host,
        port=args.port,
        workers=default_workers() if args.workers is None else args.workers,
        api_keys=() if args.api_keys is None else read_api_keys(args.api_keys),
        timeout=args.timeout,
        max_body=parse_size(args.max_body),
        max_batch_body=parse_size(args.max_batch_body),
        queue=args.queue,
        jobs_dir=args.jobs_dir,
        grace=args.grace,
        log_level=args.log_level,
    )
    return serve(settings)
