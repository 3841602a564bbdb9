"""`quorvane report` of 100 pairs on a LocalCluster of two single-threaded
worker processes against the local report of the same pairs, in the same
run: the cluster's overhead in time, the client process's processor time
(the LocalCluster's scheduler runs in it too) against the local run's, and
the cost of scheduling one task against the work of one chunk.

    bench_report_dask.py [CHUNK_SIZE ...]   (default: the report's own choice)
"""

import pathlib
import sys
import tempfile
import time

import bench_report
import timing
from distributed import Client, LocalCluster

from quorvane_cli import cluster, report

EMPTY_TASKS = 400


def nothing(_):
    return None


def per_task_overhead(client):
    """Seconds per task of a stream of empty tasks: what scheduling, sending
    and running one task costs, with no work in it."""
    client.gather(client.map(nothing, range(20), pure=False))
    started = time.perf_counter()
    client.gather(client.map(nothing, range(EMPTY_TASKS), pure=False))
    return (time.perf_counter() - started) / EMPTY_TASKS


def main_bench(chunk_sizes):
    with tempfile.TemporaryDirectory(prefix="quorvane-bench-") as temp:
        root = pathlib.Path(temp)
        bench_report.lay_out(root, bench_report.PAIRS, one_at_a_time=False)
        baseline, current = root / "all" / "baseline", root / "all" / "current"
        with (
            LocalCluster(
                n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address="127.0.0.1:0"
            ) as local_cluster,
            Client(local_cluster) as client,
        ):
            report.run(baseline, current, root / "warm-up", client)  # the workers import the module
            chunk_sizes = chunk_sizes or [cluster.chunk_size(client, bench_report.PAIRS)]
            for size in chunk_sizes:
                cpu = {"local": [], "cluster": []}

                def timed(kind, **options):
                    started = time.process_time()
                    report.run(baseline, current, root / kind, **options)
                    cpu[kind].append(time.process_time() - started)

                timing.compare(
                    f"report of {bench_report.PAIRS} pairs on 2 single-threaded workers, chunks of {size}",
                    lambda: timed("cluster", client=client, chunk_size=size),
                    lambda: timed("local"),
                    "the local report",
                    repeats=3,
                    target=1.3,
                )
                client_cpu, local_cpu = min(cpu["cluster"]), min(cpu["local"])
                share = client_cpu / local_cpu
                print(
                    f"client process: {client_cpu:.2f} s of processor time vs the local run's {local_cpu:.1f} s "
                    f"-> {share:.3f}x (target <= 0.25x: {'met' if share <= 0.25 else 'MISSED'})"
                )

            overhead = per_task_overhead(client)
            pair = local_cpu / bench_report.PAIRS
            print(
                f"one task: {overhead * 1e3:.2f} ms of scheduling; one pair: {pair:.2f} s of processor time; "
                f"a chunk of {chunk_sizes[0]}: {pair * chunk_sizes[0]:.1f} s "
                f"-> scheduling is {overhead / (pair * chunk_sizes[0]):.2e} of a chunk's work"
            )


if __name__ == "__main__":
    main_bench([int(size) for size in sys.argv[1:]])
