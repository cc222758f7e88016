"""Batch throughput: many parcel orders through `stowvex batch` with 1 and 2 worker
processes, and through Dask (a LocalCluster of 2 single-threaded worker processes).

The orders are the real parcel orders (orders/parcel_orders.txt, see parcel_orders.py),
repeated with distinct ids up to --orders (default 100,000), written as a JSON Lines file
of {"id": ..., "items": [...]} with the five carton types as the box catalogue (--boxes).
Each run is the whole command, wall time from start to end: reading, packing, writing the
results (`stowvex batch`), or reading, packing and writing text files (Dask; the cluster's
start is timed apart). The outputs must be identical line for line.
"""

import argparse
import json
import os
import resource
import shutil
import subprocess
import sys
import time
from pathlib import Path

import benchlib
import parcel_orders


def write_orders(path, orders, count, density):
    """`count` orders cycling through the real ones, ids copy-number (1-1 ... 200-252)."""
    with open(path, "w", encoding="utf-8") as out:
        for n in range(count):
            copy, index = divmod(n, len(orders))
            items = []
            for k, (w, l, h) in enumerate(orders[index], start=1):
                items.append(
                    {
                        "ItemCode": f"P{k:03d}",
                        "Width": w,
                        "Length": l,
                        "Depth": h,
                        "Weight": round(w * l * h * 1e-9 * density, 3),
                    }
                )
            out.write(json.dumps({"id": f"{copy + 1}-{index + 1}", "items": items}) + "\n")


def children_cpu():
    """CPU seconds (user + system) of the finished child processes so far."""
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def run_batch(stowvex_command, source, catalogue, output, workers):
    """Wall seconds of one `stowvex batch` run and the CPU seconds of all its processes:
    the command's own, exact, and its worker processes', sampled every 0.2 s (psutil,
    which comes with Dask) since they are not its direct children."""
    if output.exists():
        output.unlink()
    cpu, start = children_cpu(), time.perf_counter()
    command = subprocess.Popen(
        [
            stowvex_command,
            "batch",
            str(source),
            "--boxes",
            str(catalogue),
            "-o",
            str(output),
            "--workers",
            str(workers),
            "--no-progress",
        ],
        stdout=subprocess.DEVNULL,
    )
    workers_cpu = {}
    try:
        import psutil

        watched = psutil.Process(command.pid)
        while command.poll() is None:
            try:
                for child in watched.children(recursive=True):
                    times = child.cpu_times()
                    workers_cpu[child.pid] = times.user + times.system
            except psutil.Error:
                pass
            time.sleep(0.2)
    except ImportError:
        pass
    if command.wait() != 0:
        sys.exit(f"stowvex batch failed with status {command.returncode}")
    seconds = time.perf_counter() - start
    return seconds, children_cpu() - cpu + sum(workers_cpu.values())


def run_dask(source, catalogue, folder, workers):
    import dask.bag as db
    from distributed import Client, LocalCluster

    from stowvex_tools.dask import pack_lines

    if folder.exists():
        shutil.rmtree(folder)
    cpu, start = children_cpu(), time.perf_counter()
    with (
        LocalCluster(
            n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None
        ) as cluster,
        Client(cluster),
    ):
        started = time.perf_counter()
        lines = db.read_text(str(source), blocksize=4_000_000)
        pack_lines(lines, boxes=str(catalogue)).to_textfiles(
            str(folder / "*.jsonl"), last_endline=True
        )
        done = time.perf_counter()
    return done - started, started - start, children_cpu() - cpu


def dask_lines(folder):
    parts = sorted(folder.glob("*.jsonl"), key=lambda p: int(p.stem))
    return b"".join(p.read_bytes() for p in parts)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument(
        "--data", help="data directory (default: ../shared/data beside the project root)"
    )
    parser.add_argument(
        "--orders", type=int, default=100_000, help="orders to pack (default: %(default)s)"
    )
    parser.add_argument(
        "--workers", default="1,2", help="worker counts of stowvex batch (default: %(default)s)"
    )
    parser.add_argument("--no-dask", action="store_true", help="skip the Dask run")
    parser.add_argument(
        "--work",
        default=str(benchlib.PROJECT_ROOT / "build" / "bench"),
        help="folder for the order and result files (default: build/bench)",
    )
    args = parser.parse_args(argv)

    data = benchlib.data_dir(args.data)
    orders = parcel_orders.read_orders(data / "orders" / "parcel_orders.txt")
    work = Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    source = work / f"orders-{args.orders}.jsonl"
    catalogue = work / "cartons.json"
    catalogue.write_text(json.dumps(parcel_orders.carton_dicts()))
    write_orders(source, orders, args.orders, parcel_orders.DEFAULT_DENSITY)
    command = shutil.which("stowvex", path=str(Path(sys.executable).parent))
    if command is None:
        sys.exit("the stowvex command is not installed beside this interpreter (make module)")

    print(
        f"stowvex batch throughput: {args.orders:,} orders "
        f"({sum(map(len, orders)) / len(orders):.1f} parcels each on average), "
        f"{len(parcel_orders.CARTONS)} carton types"
    )
    print(
        f"machine: {benchlib.machine_line()}; load average before: "
        f"{' '.join(f'{x:.2f}' for x in os.getloadavg())}"
    )
    rows, reference, base = [], None, None

    def row(name, seconds, cpu, same):
        rows.append(
            [
                name,
                f"{seconds:.1f} s",
                f"{args.orders / seconds:,.0f}",
                f"{base / seconds:.2f}x",
                f"{cpu:.1f} s",
                f"{cpu / args.orders * 1e6:.0f} us",
                "same" if same else "DIFFERENT",
            ]
        )

    for workers in (int(w) for w in args.workers.split(",")):
        output = work / f"results-{workers}.jsonl"
        seconds, cpu = run_batch(command, source, catalogue, output, workers)
        content = output.read_bytes()
        same = reference is None or content == reference
        reference = reference or content
        base = base or seconds
        row(f"stowvex batch --workers {workers}", seconds, cpu, same)
    if not args.no_dask:
        folder = work / "dask-results"
        seconds, startup, cpu = run_dask(source, catalogue, folder, 2)
        row(
            f"Dask, 2 workers (+{startup:.1f} s start)",
            seconds,
            cpu,
            dask_lines(folder) == reference,
        )
    print(
        benchlib.table(["run", "time", "orders/s", "speed-up", "CPU", "CPU/order", "output"], rows)
    )
    print(f"load average after: {' '.join(f'{x:.2f}' for x in os.getloadavg())}")
    return 1 if any(r[-1] != "same" for r in rows) else 0


if __name__ == "__main__":
    sys.exit(main())
