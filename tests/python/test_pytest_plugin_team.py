"""The plugin in a team's hands (pytester): baselines placed by a path
template per project, names that never collide, soft assertions, the async
fixture under pytest-asyncio, unused baselines, an output folder shared by
sessions, and names no terminal should see raw."""

import fcntl
import os
import subprocess
import sys

import pytest
import screens
from test_pytest_plugin import BASE, CHANGED, ONE_CALL, OUTPUT, plugin_runs

pytest_plugins = ["pytester"]


@pytest.fixture
def tester(pytester, monkeypatch):
    return plugin_runs(pytester, monkeypatch)


TWO = """
def test_a(assert_screenshot):
    assert_screenshot("current.png", "a")

def test_b(assert_screenshot):
    assert_screenshot("current.png", "b")
"""


def test_the_path_template_and_projects(tester):
    """Every token resolved; another project keeps baselines of its own."""
    template = "{test_dir}/snaps/{test_path}/{test_file}/{name}-{browser}-{platform}-{project}{ext}"
    tester.png("current.png", BASE)
    (tester.path / "tests/sub").mkdir(parents=True)
    (tester.path / "tests/sub/test_t.py").write_text(TWO)
    ini = f"screenshot_path_template = {template}"
    tester.run("--update-screenshots", "--screenshot-project", "mobile", ini=ini).assert_outcomes(passed=2)
    tester.run(ini=ini + "\nscreenshot_project = desktop").assert_outcomes(failed=2)
    folder = tester.path / "tests/sub/snaps/tests/sub/test_t/test_t"
    assert sorted(path.name for path in folder.iterdir()) == sorted(
        f"{name}-none-{sys.platform}-{project}.png" for name in "ab" for project in ("mobile", "desktop")
    )
    tester.run("--screenshot-project", "mobile", ini=ini).assert_outcomes(passed=2)


SHARED = """
def test_twice(assert_screenshot):
    assert_screenshot("current.png", "same")
    assert_screenshot("current.png", "same.png")

def test_one(assert_screenshot):
    assert_screenshot("current.png", "shared")

def test_another(assert_screenshot):
    assert_screenshot("current.png", "shared")
"""


def test_one_baseline_is_never_two_screenshots(tester):
    tester.png("current.png", BASE)
    tester.pytester.makepyfile(test_shared=SHARED)
    result = tester.run("--update-screenshots")
    result.assert_outcomes(passed=1, failed=2)
    result.stdout.fnmatch_lines(
        [
            "*the name same.png is used twice in this test (baseline __screenshots__/test_shared/same.png)*",
            "*the baseline __screenshots__/test_shared/shared.png is also the baseline of test_shared.py::test_one*",
            "*two tests share the baseline __screenshots__/test_shared/shared.png, each overwriting the other's: "
            "test_shared.py::test_one and test_shared.py::test_another",
        ]
    )


SOFT = """
import pytest

@pytest.mark.parametrize("soft", [True, None])
def test_three(assert_screenshot, soft):
    for name in ("one", "two", "three"):
        assert_screenshot("current.png", f"{name}-{soft}", soft=soft)
    if soft is None:
        assert_screenshot("current.png", "four", soft=False)
"""


NUMBERS = ("one", "two", "three")


def test_soft_assertions_report_every_failure_at_the_end(tester):
    tester.png("current.png", BASE)
    tester.pytester.makepyfile(test_soft=SOFT)
    ini = "screenshot_soft = true"
    result = tester.run(ini=ini)
    result.assert_outcomes(failed=2)
    written = sorted(path.name for path in (tester.path / "__screenshots__/test_soft").iterdir())
    assert written == sorted(["four.png", *(f"{name}-{soft}.png" for name in NUMBERS for soft in (True, None))])
    result.stdout.fnmatch_lines(["*3 screenshots failed (soft):", "*screenshot one-True.png: no baseline*"])
    tester.png("current.png", CHANGED)
    result = tester.run(ini=ini)
    result.assert_outcomes(failed=2)
    text = result.stdout.str().split("short test summary info")[0]  # which pytest writes in full when CI is set
    for name in NUMBERS:  # in the failure's message, or beside the error that ended the test
        assert (
            text.count(f"screenshot {name}-True.png differs") == text.count(f"screenshot {name}-None.png differs") == 1
        )
    assert text.count("screenshot four.png differs from its baseline") == 1  # not soft: raised at once


ASYNC = """
import pytest

@pytest.mark.asyncio
async def test_matching(assert_screenshot_async):
    await assert_screenshot_async("current.png", "page")

@pytest.mark.asyncio
async def test_changed(assert_screenshot_async):
    await assert_screenshot_async("changed.png", "changed")

@pytest.mark.asyncio
async def test_forgotten(assert_screenshot_async):
    assert_screenshot_async("changed.png", "forgotten")
"""


def test_the_async_fixture_under_pytest_asyncio(tester):
    pytest.importorskip("pytest_asyncio", reason="pytest-asyncio is not installed (requirements-dev.txt has it)")
    tester.png("current.png", BASE)
    tester.png("changed.png", CHANGED)
    tester.png("__screenshots__/test_async/page.png", BASE)
    tester.png("__screenshots__/test_async/changed.png", BASE)
    tester.pytester.makepyfile(test_async=ASYNC)
    # In a process of its own: an event loop of this one may be running (Playwright's sync API).
    ini = "asyncio_default_fixture_loop_scope = function"
    result = tester.run("-p", "pytest_asyncio.plugin", ini=ini, own_process=True)
    result.assert_outcomes(passed=1, failed=2)
    never = "*assert_screenshot_async was called 1 time without await: its screenshot was never compared*"
    result.stdout.fnmatch_lines(["*screenshot changed.png differs from its baseline*", never])


UNUSED = """
import pytest

def test_a(assert_screenshot):
    assert_screenshot("current.png", "a")

@pytest.mark.parametrize("fail", [False])
def test_b(assert_screenshot, fail):
    assert_screenshot("current.png", "b")
    assert not fail
"""


@pytest.mark.parametrize("template", [None, "shots/{platform}-{project}/{name}{ext}"])
def test_unused_baselines_listed_and_pruned(tester, template):
    """Listed after a run of the whole suite, never after part of it;
    deleted only when every test ran to its end; other files kept."""
    tester.png("current.png", BASE)
    tester.pytester.makepyfile(test_unused=UNUSED)
    ini = f"screenshot_path_template = {template}" if template else ""
    folder = tester.path / ("__screenshots__/test_unused" if template is None else f"shots/{sys.platform}-default")
    tester.run("--update-screenshots", ini=ini).assert_outcomes(passed=2)
    others = [folder / "README.md", tester.path / "shots/plan9-default/old.png"]
    for path in [folder / "old.png", folder / "older.PNG", *others]:
        screens.write(path, BASE)

    def run(*args):
        return tester.run(*args, ini=ini).stdout.str()

    listed = "2 unused baselines (no test of this session read or wrote them; --screenshot-prune deletes them):"
    assert listed in run()
    assert "unused baseline" not in run("-k", "test_a")
    nothing = "--screenshot-prune: nothing deleted: "
    assert nothing + "-k chose some tests; some tests were deselected" in run("-k", "test_a", "--screenshot-prune")
    tester.pytester.makepyfile(test_unused=UNUSED.replace("[False]", "[True]"))
    assert nothing + "1 test failed, whose baselines may be among these" in run("--screenshot-prune")
    tester.pytester.makepyfile(test_unused=UNUSED)
    assert "2 unused baselines deleted:" in run("--screenshot-prune")
    assert sorted(path.name for path in folder.iterdir()) == ["README.md", "a.png", "b.png"]
    assert all(path.exists() for path in others)


def test_a_session_finding_the_output_folder_in_use_writes_beside_it(tester):
    """The lock held as another session holds it: this session writes a
    subfolder of its own, which the next one removes once it is free."""
    tester.png("current.png", CHANGED)
    tester.png("__screenshots__/test_one/page.png", BASE)
    tester.pytester.makepyfile(test_one=ONE_CALL.format(arguments=""))
    out = tester.path / OUTPUT
    tester.run().assert_outcomes(failed=1)
    mine = out / "mine.txt"
    mine.write_text("kept")
    screens.write(out / ".review-undo/0.png", BASE)  # left by a review server that was killed
    with open(out / ".quorvane-screenshots", "a") as journal:
        fcntl.flock(journal, fcntl.LOCK_EX)
        result = tester.run()
    result.assert_outcomes(failed=1)
    (subfolder,) = out.glob("session-*")
    result.stdout.fnmatch_lines([f"*report: {OUTPUT}/{subfolder.name}/index.html"])
    assert (out / "test_one.py--test_page/page-diff.png").is_file()  # the other session's, left alone
    assert (subfolder / "test_one.py--test_page/page-diff.png").is_file()
    tester.png("current.png", BASE)
    tester.run().assert_outcomes(passed=1)
    assert sorted(path.name for path in out.iterdir()) == [".quorvane-screenshots", "mine.txt"]


def test_sessions_sharing_an_output_folder_run_at_once(tester):
    tester.png("current.png", CHANGED)
    tester.png("__screenshots__/test_one/page.png", BASE)
    tester.pytester.makepyfile(test_one=ONE_CALL.format(arguments=""))
    tester.pytester.makeini("[pytest]\n")
    command = [sys.executable, "-m", "pytest", "-p", "quorvane_pytest.plugin", "-p", "no:cacheprovider"]
    for _ in range(3):
        sessions = [
            subprocess.Popen(command, cwd=tester.path, env=os.environ, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            for _ in range(2)
        ]
        for process in sessions:
            output = process.communicate()[0].decode()
            assert process.returncode == pytest.ExitCode.TESTS_FAILED, output
            assert "differs from its baseline" in output


NAMED = """
import pytest

@pytest.mark.parametrize("name", ["\\udcff\\x1b[2J", "n" * 251, "n" * 252])
def test_page(assert_screenshot, name):
    assert_screenshot("current.png", name)
"""


def test_names_long_and_unprintable(tester):
    """Written, temporary files and images included, within a file name's
    255 bytes, or refused saying so; shown escaped, never raw."""
    tester.png("current.png", BASE)
    tester.pytester.makepyfile(test_names=NAMED)
    result = tester.run()
    result.assert_outcomes(failed=3)
    text = result.stdout.str()
    assert "  __screenshots__/test_names/\\xff\\x1b[2J.png (new)\n" in text
    assert "the baseline's file name is 256 bytes, more than the 255 a file name may hold" in text
    folder = tester.path / "__screenshots__/test_names"
    assert sorted(os.fsencode(path.name) for path in folder.iterdir()) == [b"n" * 251 + b".png", b"\xff\x1b[2J.png"]
    tester.png("current.png", CHANGED)
    tester.run().assert_outcomes(failed=3)
    images = [path for path in (tester.path / OUTPUT).rglob("*.png")]
    assert len(images) == 2 * 3 and all(len(os.fsencode(path.name)) <= 255 for path in images)
