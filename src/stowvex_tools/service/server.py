"""Running the service: uvicorn on the given address, logs as JSON lines on standard
error, and a stop on SIGTERM or Ctrl-C that lets requests in flight finish (up to the
grace period) before the packing processes end."""

from __future__ import annotations

import logging
import signal
import sys

from ..optional_dependencies import require
from .settings import ServiceSettings


def configure_logging(level: str) -> None:
    """Every log line of the service and of uvicorn as one JSON object on standard error;
    uvicorn's own access log is replaced by the service's, which has the request id."""
    from .gate import JsonLines

    handler = logging.StreamHandler(sys.stderr)
    handler.setFormatter(JsonLines())
    for name in ("stowvex", "uvicorn", "uvicorn.error"):
        logger = logging.getLogger(name)
        logger.handlers[:] = [handler]
        logger.setLevel(level.upper())
        logger.propagate = False
    logging.getLogger("uvicorn.access").disabled = True


def serve(settings: ServiceSettings) -> int:
    """Runs the service until SIGTERM or Ctrl-C; returns the exit status (0 after a
    graceful stop)."""
    require("starlette", "service", "The service")
    uvicorn = require("uvicorn", "service", "The service")
    from .app import create_app

    configure_logging(settings.log_level)
    config = uvicorn.Config(
        create_app(settings),
        host=settings.host,
        port=settings.port,
        log_config=None,
        access_log=False,
        lifespan="on",
        timeout_graceful_shutdown=settings.grace,
        server_header=False,
        # Several thousand idle connections of a proxy in front are fine; each waits
        # for its next request this long.
        timeout_keep_alive=30,
    )
    server = uvicorn.Server(config)
    logging.getLogger("stowvex.service").info(
        "starting",
        extra={
            "host": settings.host,
            "port": settings.port,
            "workers": settings.workers,
            "api_keys": len(settings.api_keys),  # how many, never which
            "timeout": settings.timeout,
            "max_body": settings.max_body,
            "jobs_dir": settings.jobs_dir,
        },
    )
    # uvicorn sends itself the signal that stopped it once it has stopped, to end as that
    # signal would; ignored here, so that a graceful stop ends with status 0.
    previous = {sig: signal.signal(sig, signal.SIG_IGN) for sig in (signal.SIGINT, signal.SIGTERM)}
    try:
        server.run()
    finally:
        for sig, handler in previous.items():
            signal.signal(sig, handler)
    if not server.started:
        return 1
    logging.getLogger("stowvex.service").info("stopped")
    return 0
