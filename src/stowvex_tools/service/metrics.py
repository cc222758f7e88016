"""The service's Prometheus metrics, in a registry of its own: requests and their
latencies by route, packings by outcome, timeouts, the queue and the processes."""

from __future__ import annotations

from prometheus_client import CollectorRegistry, Counter, Gauge, Histogram, generate_latest

# Latency buckets from a millisecond to the longest timeout worth waiting for.
LATENCY_BUCKETS = (
    0.001,
    0.002,
    0.004,
    0.006,
    0.008,
    0.01,
    0.015,
    0.025,
    0.05,
    0.1,
    0.25,
    0.5,
    1.0,
    2.5,
    5.0,
    10.0,
    30.0,
    60.0,
)

METRICS_MEDIA_TYPE = "text/plain; version=0.0.4; charset=utf-8"


class Metrics:
    """Every metric of one service."""

    def __init__(self) -> None:
        self.registry = CollectorRegistry()
        r = self.registry
        self.requests = Counter(
            "stowvex_http_requests",
            "HTTP requests answered, by route, method and status",
            ["route", "method", "status"],
            registry=r,
        )
        self.latency = Histogram(
            "stowvex_http_request_duration_seconds",
            "Time from a request's arrival to the end of its answer, by route",
            ["route"],
            buckets=LATENCY_BUCKETS,
            registry=r,
        )
        self.packings = Counter(
            "stowvex_packings",
            "Requests packed, by outcome (packed, findings, refused, timeout, failed)",
            ["outcome"],
            registry=r,
        )
        self.timeouts = Counter(
            "stowvex_timeouts", "Requests that ran past their timeout", registry=r
        )
        self.queue_depth = Gauge(
            "stowvex_queue_depth", "Requests waiting for a packing process", registry=r
        )
        self.busy_workers = Gauge(
            "stowvex_busy_workers", "Packing processes at work now", registry=r
        )
        self.workers = Gauge("stowvex_workers", "Packing processes configured", registry=r)
        self.worker_restarts = Counter(
            "stowvex_worker_restarts",
            "Packing processes started again after one ended or was stopped",
            registry=r,
        )
        self.batches = Counter(
            "stowvex_batches", "Batches finished, by final state", ["state"], registry=r
        )

    def text(self) -> bytes:
        return generate_latest(self.registry)
