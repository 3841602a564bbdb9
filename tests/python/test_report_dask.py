"""`quorvane report` on a Dask cluster (a LocalCluster on 127.0.0.1) and on
fsspec URLs: the same report as the local run, workers killed in the middle,
an interrupted client, and what a run needs that is not installed."""

import contextlib
import io
import json
import os
import signal
import socket
import subprocess
import sys
import threading
import time

import pytest

import screens
from imaging import SCREENS
from quorvane_cli import main, report
from screens import run

try:  # imported before any test captures stderr, where Dask's log handlers write
    import distributed
except ImportError:
    distributed = None
needs_dask = pytest.mark.skipif(distributed is None, reason="Dask is not installed: pip install 'quorvane[dask]'")

# The shared screenshots as a suite keeps them; every changed kind, a size
# mismatch, a new and a missing page, and a file that does not decode.
PAGES = {
    "home.png": ("page_baseline.png", "page_baseline.png"),
    "docs/banner.png": ("page_baseline.png", "page_inserted_banner.png"),
    "docs/paragraph.png": ("page_baseline.png", "page_edited_paragraph.png"),
    "docs/taller.png": ("page_baseline.png", "page_taller.png"),
    "table/padding.png": ("table_1080p.png", "table_1080p_padded.png"),
    "table/summary.png": (None, "table_1080p.png"),
    "legacy.png": ("page_deleted_block.png", None),
    "broken.png": ("page_baseline.png", b"not a png"),
}


WORKERS = 2


def lay_out(root, pages):
    for path, sources in pages.items():
        for side, source in zip(("baseline", "current"), sources):
            if source is not None:
                (root / side / path).parent.mkdir(parents=True, exist_ok=True)
                data = source if isinstance(source, bytes) else (SCREENS / source).read_bytes()
                (root / side / path).write_bytes(data)
    return root / "baseline", root / "current"


def output_files(out_dir):
    return {path.relative_to(out_dir).as_posix(): path.read_bytes() for path in out_dir.rglob("*") if path.is_file()}


@pytest.fixture(scope="module")
def screenshots(tmp_path_factory):
    """(baseline, current, the local report's folder, its exit status, stderr)."""
    root = tmp_path_factory.mktemp("screens")
    baseline, current = lay_out(root, PAGES)
    err = io.StringIO()
    with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(err):
        status = main(["report", str(baseline), str(current), "-o", str(root / "local"), "-q"])
    return baseline, current, root / "local", status, err.getvalue()


@pytest.fixture
def changed_pairs(tmp_path):
    """Two changed pairs of screenshots: chunks that take a moment."""
    return lay_out(tmp_path, {path: PAGES[path] for path in ("docs/banner.png", "docs/paragraph.png")})


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
    with distributed.LocalCluster(n_workers=WORKERS, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address="127.0.0.1:0") as cluster, distributed.Client(cluster) as client:
        yield cluster, client


def when_a_chunk_runs(client, act):
    """A thread that, once a worker holds a chunk, calls act(address of the worker)."""
    def watch():
        for _ in range(6000):  # at most a minute
            busy = [worker for worker, keys in client.processing().items() if keys]
            if busy:
                act(busy[0])
                return
            time.sleep(0.01)
    thread = threading.Thread(target=watch)
    thread.start()
    return thread


@contextlib.contextmanager
def held_chunks(client, seconds=1.0):
    """Every chunk waits this long on its worker before it runs, so that a
    test acts while one is held, however fast the comparing is. Defined here,
    the patch reaches the worker processes by value."""
    def hold(seconds):
        from quorvane_cli import report as worker_report
        records = worker_report.PairRun.__dict__["records"]
        original = getattr(records, "held", records)

        def held(self, entries, done=lambda: None):
            time.sleep(seconds)
            return original(self, entries, done)
        held.held = original
        worker_report.PairRun.records = held if seconds else original
    client.wait_for_workers(WORKERS)  # a worker killed by an earlier test is back, and gets the patch too
    client.run(hold, seconds)
    try:
        yield
    finally:
        client.run(hold, 0)


def kill_worker(client, address):
    pid = client.run(os.getpid, workers=[address])[address]
    os.kill(pid, signal.SIGKILL)
    return pid


def test_report_on_a_given_client_equals_the_local_report(screenshots, dask_cluster, tmp_path):
    baseline, current, local_dir, _, _ = screenshots
    _, client = dask_cluster
    report.run(baseline, current, tmp_path / "out", client)
    assert_same_report(output_files(tmp_path / "out"), output_files(local_dir))
    assert client.status == "running"


def test_report_survives_a_worker_killed_while_it_holds_a_chunk(screenshots, dask_cluster, tmp_path, capsys):
    baseline, current, local_dir, local_status, local_err = screenshots
    cluster, client = dask_cluster
    killed = []
    with held_chunks(client):
        killer = when_a_chunk_runs(client, lambda worker: killed.append(kill_worker(client, worker)))
        try:
            code, _, err = run(capsys, "report", baseline, current, "-o", tmp_path / "out", "-q",
                               "--scheduler", cluster.scheduler_address)
        finally:
            killer.join()
    assert killed and (code, err) == (local_status, local_err)
    assert_same_report(output_files(tmp_path / "out"), output_files(local_dir))


def test_chunk_dask_gives_up_on_becomes_error_records(changed_pairs, dask_cluster, tmp_path):
    cluster, client = dask_cluster
    cluster.scheduler.allowed_failures = 0  # the first worker lost with a chunk is the last
    with held_chunks(client):
        killer = when_a_chunk_runs(client, lambda worker: kill_worker(client, worker))
        try:
            result = report.run(*changed_pairs, tmp_path / "out", client, chunk_size=1)
        finally:
            killer.join()
            cluster.scheduler.allowed_failures = 3
    lost = [pair for pair in result["pairs"] if pair["status"] == "error"]
    statuses = {pair["path"]: pair["status"] for pair in result["pairs"]}
    assert len(lost) == 1 and statuses == {"docs/banner.png": "shifted", "docs/paragraph.png": "changed",
                                           lost[0]["path"]: "error"}
    assert lost[0]["error"] == (f"{lost[0]['path']}: not compared: the Dask workers running it died, "
                                "and Dask gave up on it (KilledWorker)")


def test_interrupted_client_cancels_its_tasks_and_leaves_no_report(changed_pairs, dask_cluster, tmp_path, capsys):
    cluster, client = dask_cluster
    out_dir = tmp_path / "out"
    out_dir.mkdir()
    for stale in report.REPORT_FILES:
        (out_dir / stale).write_text("an earlier run's")
    with held_chunks(client):
        interrupter = when_a_chunk_runs(client, lambda _: os.kill(os.getpid(), signal.SIGINT))
        try:
            code, _, _ = run(capsys, "report", *changed_pairs, "-o", out_dir, "-q", "--scheduler",
                             cluster.scheduler_address)
        finally:
            interrupter.join()
    assert code == 130
    assert not any((out_dir / name).exists() for name in report.REPORT_FILES)
    for _ in range(1000):  # the scheduler forgets cancelled tasks within moments
        if not cluster.scheduler.tasks:
            break
        time.sleep(0.01)
    assert not cluster.scheduler.tasks


@pytest.mark.parametrize("on_cluster", [False, True])
def test_image_that_cannot_be_written_fails_the_run_in_one_line(request, tmp_path, capsys, on_cluster):
    pages = screens.suite()
    baseline, current = screens.write_suite(tmp_path, pages)
    (tmp_path / "out").mkdir()
    (tmp_path / "out" / "images").write_text("a file where the images go")
    scheduler = ["--scheduler", request.getfixturevalue("dask_cluster")[0].scheduler_address] if on_cluster else []
    code, out, err = run(capsys, "report", baseline, current, "-o", tmp_path / "out", "-q", *scheduler)
    assert (code, out) == (2, "")
    assert err.startswith(f"quorvane: {tmp_path / 'out' / 'images'}/") and err.endswith(": Not a directory\n")
    assert err.count("\n") == 1


@pytest.fixture
def in_process_cluster():
    """One worker thread in this process, so that it shares fsspec's memory filesystem."""
    if distributed is None:
        pytest.skip("Dask is not installed: pip install 'quorvane[dask]'")
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=False,
                                  dashboard_address="127.0.0.1:0") as cluster, distributed.Client(cluster) as client:
        yield client


@pytest.mark.parametrize("scheme", ["file", "memory"])
def test_urls_give_the_report_of_local_paths(tmp_path, request, scheme):
    fsspec = pytest.importorskip("fsspec", reason="fsspec is not installed: pip install 'quorvane[dask]'")
    baseline, current = screens.write_suite(tmp_path, screens.suite())
    report.run(baseline, current, tmp_path / "local")
    if scheme == "file":
        root, client = f"file://{tmp_path}", None
    else:  # an in-process cluster, with the inputs and the report in memory
        root, client = "memory://quorvane-test", request.getfixturevalue("in_process_cluster")
        fsspec.filesystem("memory").put(str(tmp_path / "baseline"), f"{root}/baseline", recursive=True)
        fsspec.filesystem("memory").put(str(tmp_path / "current"), f"{root}/current", recursive=True)
    try:
        report.run(f"{root}/baseline", f"{root}/current", f"{root}/out", client, chunk_size=2)
        fs, out = fsspec.core.url_to_fs(f"{root}/out")
        written = {path[len(out) + 1:]: fs.cat_file(path) for path in fs.find(out)}
    finally:
        if scheme == "memory":
            fsspec.filesystem("memory").rm(root, recursive=True)
    for name in report.REPORT_FILES:  # they name the directories
        written[name] = written[name].replace(root.encode(), bytes(tmp_path))
    assert_same_report(written, output_files(tmp_path / "local"))  # no temporary file left either


def test_local_run_imports_neither_dask_nor_fsspec(tmp_path):
    baseline, current = screens.write_suite(tmp_path, screens.suite())
    probe = ("import sys; from quorvane_cli import main; main(['report', *sys.argv[1:], '-q']); "
             "print(sorted({name.split('.')[0] for name in sys.modules} & {'dask', 'distributed', 'fsspec'}))")
    child = subprocess.run([sys.executable, "-c", probe, baseline, current, "-o", tmp_path / "out"],
                           capture_output=True, text=True, env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert child.stdout.splitlines()[-1] == "[]", child.stderr


@pytest.mark.parametrize("module, where", [("distributed", "--scheduler"), ("fsspec", "URL")])
def test_missing_extra_exits_2_saying_what_to_install(monkeypatch, capsys, tmp_path, module, where):
    monkeypatch.setitem(sys.modules, module, None)  # import fails as if it were not installed
    baseline, current = screens.write_suite(tmp_path, screens.suite())
    if where == "URL":
        baseline, subject, what = f"file://{baseline}", f"file://{baseline}", "fsspec"
        options = []
    else:
        subject, what, options = "--scheduler", "Dask", ["--scheduler", "tcp://127.0.0.1:8786"]
    code, out, err = run(capsys, "report", baseline, current, "-o", tmp_path / "out", *options)
    assert (code, out, err) == (2, "", f"quorvane: {subject}: {what} is not installed: pip install 'quorvane[dask]'\n")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@pytest.mark.parametrize("address, message", [
    ("tcp://127.0.0.1:{port}", "no Dask scheduler answered within 0.5 s\n"),
    ("tcp://127.0.0.1", "not a Dask scheduler address: "),
])
@needs_dask
def test_unreachable_scheduler_exits_2_in_one_line(capsys, tmp_path, address, message):
    baseline, current = screens.write_suite(tmp_path, screens.suite())
    address = address.format(port=free_port())
    code, out, err = run(capsys, "report", baseline, current, "-o", tmp_path / "out", "--scheduler", address,
                         "--scheduler-timeout", "0.5")
    assert (code, out, err.count("\n")) == (2, "", 1) and err.startswith(f"quorvane: {address}: {message}")
