import contextlib
import io
import json
import os
import pathlib
import shutil
import sys
import types

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD_DIR = pathlib.Path(os.environ.get("QUORVANE_BUILD_DIR", ROOT / "build")).resolve()
# A child process's environment that imports the built module and the command's package.
CHILD_ENV = dict(os.environ, PYTHONPATH=os.pathsep.join([str(BUILD_DIR), str(ROOT / "python")]))

# Tests run against the freshly built extension when there is one, else
# against the installed package.
if (BUILD_DIR / "quorvane.abi3.so").exists():
    sys.path.insert(0, str(BUILD_DIR))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
sys.path.insert(0, str(ROOT / "python"))  # the command's package, from the source tree

CHROMIUM = next(filter(None, map(shutil.which, ("chromium", "chromium-browser", "google-chrome"))), None)
# Set for the interpreter by the sanitized test run; the browser is not ours
# to check and does not start with the sanitizer runtime preloaded.
SANITIZER_VARIABLES = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")
# Milliseconds a browser may take to start or to carry out one step, in place
# of Playwright's 30 s: on a loaded machine a start alone takes several seconds.
BROWSER_TIMEOUT_MS = 120_000


def browser_environment():
    return {name: value for name, value in os.environ.items() if name not in SANITIZER_VARIABLES}


@contextlib.contextmanager
def unsanitized():
    """Processes started here (Playwright's driver, and the browsers it
    starts) run without the sanitizer's runtime: they are not ours to check,
    and under it a browser may not start in minutes."""
    with pytest.MonkeyPatch.context() as patch:
        for name in SANITIZER_VARIABLES:
            patch.delenv(name, raising=False)
        yield


@pytest.fixture(scope="session")
def chromium():
    """Debian's Chromium, launched once through Playwright's executable_path."""
    if CHROMIUM is None:
        pytest.skip("no Chromium browser installed (Debian's chromium package; make test installs it)")
    sync_api = pytest.importorskip("playwright.sync_api", reason="Playwright is not installed")
    with unsanitized():
        playwright = sync_api.sync_playwright().start()
    browser = playwright.chromium.launch(executable_path=CHROMIUM, timeout=BROWSER_TIMEOUT_MS)
    yield browser
    browser.close()
    playwright.stop()


# Ignored on the docs pages, above the changed block and the inserted rows.
IGNORED = [30, 4, 12, 10]


@pytest.fixture(scope="session")
def suite_report(tmp_path_factory):
    """`quorvane report` of screens.suite(), made once: with an ignore file
    (one key naming no file), --ignore beside it and a thumbnail effort."""
    import screens

    from quorvane_cli import main

    root = tmp_path_factory.mktemp("suite")
    pages = screens.suite()
    baseline, current = screens.write_suite(root, pages)
    regions = root / "regions.json"
    keys = {"docs/*": [IGNORED], "docs/changed.png": [[0, 0, 2, 2], IGNORED], "changed.png": [[0, 0, 1, 1]]}
    regions.write_text(json.dumps(keys))
    options = ["--ignore-file", str(regions), "--ignore", "40,0,8,1", "--thumbnail-effort", "fast", "-q"]
    out, err = io.StringIO(), io.StringIO()
    with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
        status = main(["report", str(baseline), str(current), "-o", str(root / "report"), *options])
    data = json.loads((root / "report" / "report.json").read_text())
    outcome = {"status": status, "stdout": out.getvalue(), "stderr": err.getvalue(), "data": data}
    inputs = {"pages": pages, "baseline": baseline, "current": current, "regions": regions, "options": options}
    return types.SimpleNamespace(**inputs, **outcome, out=root / "report")


@pytest.fixture
def results(tmp_path, monkeypatch):
    """`quorvane report` of screens.suite() run as a user types it, with
    paths relative to the working directory; its baselines are the test's to
    change."""
    import screens

    from quorvane_cli import main

    monkeypatch.chdir(tmp_path)
    pages = screens.suite()
    screens.write_suite(tmp_path, pages)
    with contextlib.redirect_stdout(io.StringIO()):
        main(["report", "baseline", "current", "-o", "results", "-q"])
    return types.SimpleNamespace(root=tmp_path, pages=pages, out=tmp_path / "results")
