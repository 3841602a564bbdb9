"""The report's pairs compared on the workers of a Dask cluster. Each task
runs one chunk of entries through the same PairRun.records as a local run,
so the records cannot differ: the worker reads the inputs and writes the
images itself, and only the records come back to the client."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any

from quorvane_cli.errors import CliError
from quorvane_cli.records import PairRecord, error_record, group_size, processors

if TYPE_CHECKING:
    from quorvane_cli.progress import Progress
    from quorvane_cli.report import Entry, PairRun

# A chunk holds two groups for its worker's machine, so that the files of
# the second are read while the pairs of the first are compared; and each
# worker gets at least two chunks, so that a fast one can take over from a
# slow one at the end of a run.
GROUPS_PER_CHUNK = 2
CHUNKS_PER_WORKER = 2

INSTALL = "pip install 'quorvane[dask]'"


def import_distributed() -> Any:
    try:
        import distributed
    except ImportError:
        raise CliError("--scheduler", f"Dask is not installed: {INSTALL}") from None
    return distributed


def connect(address: str, timeout: float) -> Any:
    """A Client of the scheduler at address, or a CliError after timeout seconds."""
    distributed = import_distributed()
    try:
        return distributed.Client(address, timeout=timeout, set_as_default=False)
    except ValueError as error:
        raise CliError(address, f"not a Dask scheduler address: {error}") from None
    except OSError:
        raise CliError(address, f"no Dask scheduler answered within {timeout:g} s") from None


def chunk_size(client: Any, entries: int) -> int:
    """Entries per task: two groups for the largest worker machine, fewer
    where the run is too small to give every worker two chunks. A chunk of
    screenshots is seconds of work, against milliseconds of scheduling."""
    counts = client.run(processors).values()
    largest = max(counts, default=processors())
    share = -(-entries // (CHUNKS_PER_WORKER * max(len(counts), 1)))
    return max(1, min(GROUPS_PER_CHUNK * group_size(largest), share))


def chunk_records(run: PairRun, entries: list[Entry]) -> list[PairRecord]:
    """The task: the records of one chunk of entries, made on the worker."""
    return run.records(entries)


def lost_records(chunk: list[Entry]) -> list[PairRecord]:
    return [
        error_record(
            entry.path,
            None,
            f"{entry.path}: not compared: the Dask workers running it died, and Dask gave up on it (KilledWorker)",
        )
        for entry in chunk
    ]


def records(client: Any, run: PairRun, entries: list[Entry], progress: Progress, chunk_size: int) -> list[PairRecord]:
    """Records of all entries, in their order, made on the client's workers.
    A chunk whose workers died is run again by Dask elsewhere; one that Dask
    gave up on gives error records. Any other failure of a task, or an
    interrupt, cancels the remaining tasks and is raised."""
    from distributed import KilledWorker, as_completed

    chunks = [entries[start : start + chunk_size] for start in range(0, len(entries), chunk_size)]
    # Not pure: the same chunk must be compared again in a later run, its files may have changed.
    futures = client.map(chunk_records, [run] * len(chunks), chunks, pure=False)
    position = {future.key: index for index, future in enumerate(futures)}
    results: list[list[PairRecord]] = [[] for _ in chunks]
    try:
        finished = as_completed(futures, loop=client.loop, with_results=True, raise_errors=False)  # type: ignore[no-untyped-call]
        for future, result in finished:
            index = position[future.key]
            if future.status == "error":
                if not isinstance(future.exception(), KilledWorker):
                    future.result()  # raises the task's error with the worker's traceback
                result = lost_records(chunks[index])
            results[index] = result
            progress.advance(len(chunks[index]))
    except BaseException:
        client.cancel(futures)
        raise
    return [record for chunk in results for record in chunk]
