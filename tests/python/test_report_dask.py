"""`quorvane report` on a Dask cluster (a LocalCluster on 127.0.0.1) and on
fsspec URLs: the same report as the local run, workers killed in the middle,
an interrupted client, and what a run needs that is not installed."""

import contextlib
import json
import os
import signal
import socket
import sys
import threading
import time

import pytest
from screens import run

from quorvane_cli import report

try:  # imported before any test captures stderr, where Dask's log handlers write
    import distributed
except ImportError:
    distributed = None


REPORT_FILES = ("report.json", "manifest.json", "index.html")


def output_files(out_dir):
    return {path.relative_to(out_dir).as_posix(): path.read_bytes() for path in out_dir.rglob("*") if path.is_file()}


def assert_same_report(ours, local):
    """Every file byte for byte, bar the generation time ({name: bytes} both)."""
    times = [json.loads(files["report.json"])["generated"].encode() for files in (ours, local)]
    assert ours.keys() == local.keys()
    assert [name for name in ours if ours[name].replace(*times) != local[name]] == []


@pytest.fixture(scope="module")
def dask_cluster():
    """A LocalCluster of two single-threaded worker processes, as deployed."""
    if distributed is None:
        pytest.skip("Dask is not installed: pip install 'quorvane[dask]'")
    with (
        distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address="127.0.0.1:0"
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        yield cluster, client


@pytest.fixture
def gate(tmp_path_factory):
    """A file that lets held chunks go once it exists."""
    return tmp_path_factory.mktemp("gate") / "open"


@contextlib.contextmanager
def when_a_chunk_is_held(client, act, gate, release_after_act=True):
    """Every chunk waits on its worker until the file `gate` exists (a
    minute at most), and a thread calls act(address of a worker) once one
    holds a chunk, then opens the gate (or leaves that to the end of the
    block): the test acts while a chunk is held, however loaded the machine.
    A worker plugin holds the chunks, so a worker that starts later (one
    killed by a test comes back) holds them too."""

    class HeldChunks(distributed.WorkerPlugin):
        name = "held-chunks"

        def setup(self, worker):
            from quorvane_cli import report as worker_report

            self.original = original = worker_report.PairRun.records

            def held(run, entries, done=lambda: None):
                for _ in range(6000):
                    if os.path.exists(gate):
                        break
                    time.sleep(0.01)
                return original(run, entries, done)

            worker_report.PairRun.records = held

        def teardown(self, worker):
            from quorvane_cli import report as worker_report

            worker_report.PairRun.records = self.original

    def watch():
        try:
            for _ in range(6000):
                busy = [worker for worker, keys in client.processing().items() if keys]
                if busy:
                    return act(busy[0])
                time.sleep(0.01)
        finally:
            if release_after_act:
                gate.touch()

    client.wait_for_workers(2)  # a worker killed by an earlier test is back: the chunks go to both
    client.register_plugin(HeldChunks())
    thread = threading.Thread(target=watch)
    thread.start()
    try:
        yield
    finally:
        gate.touch()
        thread.join()
        client.unregister_worker_plugin(HeldChunks.name)


def run_report(capsys, suite_report, out, *options, baseline=None):
    """(exit status, stdout, stderr) of `quorvane report` of the suite into `out`."""
    return run(capsys, "report", baseline or suite_report.baseline, suite_report.current, "-o", out, *options)


def kill_worker(client, address):
    os.kill(client.run(os.getpid, workers=[address])[address], signal.SIGKILL)


def test_report_survives_a_worker_killed_while_it_holds_a_chunk(suite_report, dask_cluster, gate, tmp_path, capsys):
    # The chunk of the killed worker runs again elsewhere and comes back
    # after later ones: the records stay in the order of the pairs.
    cluster, client = dask_cluster
    killed = []
    with when_a_chunk_is_held(client, lambda worker: killed.append(kill_worker(client, worker)), gate):
        scheduler = ["--scheduler", cluster.scheduler_address]
        code, out, err = run_report(capsys, suite_report, tmp_path, *suite_report.options, *scheduler)
    out = out.replace(str(tmp_path), str(suite_report.out))
    assert killed and (code, out, err) == (suite_report.status, suite_report.stdout, suite_report.stderr)
    assert_same_report(output_files(tmp_path), output_files(suite_report.out))
    assert client.status == "running"


def test_chunk_dask_gives_up_on_becomes_error_records(suite_report, dask_cluster, gate, tmp_path):
    cluster, client = dask_cluster
    cluster.scheduler.allowed_failures = 0  # the first worker lost with a chunk is the last
    try:
        with when_a_chunk_is_held(client, lambda worker: kill_worker(client, worker), gate):
            result = report.run(suite_report.baseline, suite_report.current, tmp_path, client, chunk_size=4)
    finally:
        cluster.scheduler.allowed_failures = 3
    lost = {pair["path"]: pair["error"] for pair in result["pairs"] if "KilledWorker" in (pair["error"] or "")}
    assert len(lost) in (3, 4) and lost == {
        path: f"{path}: not compared: the Dask workers running it died, and Dask gave up on it (KilledWorker)"
        for path in lost
    }
    assert {pair["path"]: pair["status"] for pair in result["pairs"]} == {
        path: "error" if path in lost else page[2] for path, page in suite_report.pages.items()
    }


def test_interrupted_client_cancels_its_tasks_and_leaves_no_report(suite_report, dask_cluster, gate, tmp_path, capsys):
    cluster, client = dask_cluster
    # Ctrl-C as in a terminal: a process started in the background (as CI
    # may start the suite) inherits SIGINT ignored.
    previous = signal.signal(signal.SIGINT, signal.default_int_handler)
    try:
        with when_a_chunk_is_held(client, lambda _: os.kill(os.getpid(), signal.SIGINT), gate, release_after_act=False):
            code, _, _ = run_report(capsys, suite_report, tmp_path, "-q", "--scheduler", cluster.scheduler_address)
    finally:
        signal.signal(signal.SIGINT, previous)
    assert code == 130 and not any((tmp_path / name).exists() for name in REPORT_FILES)
    for _ in range(1000):  # the scheduler forgets cancelled tasks within moments
        if not cluster.scheduler.tasks:
            break
        time.sleep(0.01)
    assert not cluster.scheduler.tasks


def test_image_that_cannot_be_written_on_a_worker_fails_the_run_in_one_line(
    suite_report, dask_cluster, gate, tmp_path, capsys
):
    def block(_):  # a file where the images go, once the run has made its folder
        (tmp_path / "images").write_text("in the way")

    cluster, client = dask_cluster
    with when_a_chunk_is_held(client, block, gate):
        code, out, err = run_report(capsys, suite_report, tmp_path, "-q", "--scheduler", cluster.scheduler_address)
    assert (code, out) == (2, "") and err.count("\n") == 1
    assert err.startswith(f"quorvane: {tmp_path / 'images'}/") and err.endswith(": in the way of a folder\n")


@pytest.mark.parametrize("scheme", ["file", "memory"])
def test_urls_give_the_report_of_local_paths(suite_report, tmp_path, request, capsys, scheme):
    fsspec = pytest.importorskip("fsspec", reason="fsspec is not installed: pip install 'quorvane[dask]'")
    local = str(suite_report.baseline.parent)
    if scheme == "file":  # read and written by the worker processes
        root, out = f"file://{local}", f"file://{tmp_path}"
        options = ["--scheduler", request.getfixturevalue("dask_cluster")[0].scheduler_address]
    else:  # an object store: no folders to make
        root, out, options = "memory://quorvane-test", "memory://quorvane-test/out", []
        for side in ("baseline", "current"):
            fsspec.filesystem("memory").put(f"{local}/{side}", f"{root}/{side}", recursive=True)
    try:
        run(capsys, "report", f"{root}/baseline", f"{root}/current", "-o", out, *suite_report.options, *options)
        fs, path = fsspec.core.url_to_fs(out)
        written = {name[len(path) + 1 :]: fs.cat_file(name) for name in fs.find(path)}
    finally:
        if scheme == "memory":
            fsspec.filesystem("memory").rm(root, recursive=True)
    for name in REPORT_FILES:  # they name the directories
        written[name] = written[name].replace(root.encode(), local.encode())
    assert_same_report(written, output_files(suite_report.out))  # no temporary file left either


INSTALL = "is not installed: pip install 'quorvane[dask]'\n"


@pytest.mark.parametrize(
    "hidden, options, message",
    [
        ("distributed", ["--scheduler", "tcp://127.0.0.1:8786"], f"--scheduler: Dask {INSTALL}"),
        ("fsspec", [], f"file://{{baseline}}: fsspec {INSTALL}"),
        (
            None,
            ["--scheduler", "tcp://127.0.0.1:{port}"],
            "tcp://127.0.0.1:{port}: no Dask scheduler answered within 0.5 s",
        ),
        (None, ["--scheduler", "tcp://127.0.0.1"], "tcp://127.0.0.1: not a Dask scheduler address: "),
    ],
)
def test_what_a_run_cannot_reach_exits_2_in_one_line(
    monkeypatch, capsys, suite_report, tmp_path, hidden, options, message
):
    if hidden is not None:
        monkeypatch.setitem(sys.modules, hidden, None)  # import fails as if it were not installed
    elif distributed is None:
        pytest.skip("Dask is not installed: pip install 'quorvane[dask]'")
    with socket.socket() as probe:  # a port nothing listens on
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    baseline = f"file://{suite_report.baseline}" if hidden == "fsspec" else suite_report.baseline
    options = ["--scheduler-timeout", "0.5", *(option.format(port=port) for option in options)]
    code, out, err = run_report(capsys, suite_report, tmp_path, *options, baseline=baseline)
    assert (code, out, err.count("\n")) == (2, "", 1)
    assert err.startswith("quorvane: " + message.format(port=port, baseline=suite_report.baseline))
