"""The pytest plugin `quorvane`: its options, the `assert_screenshot` and
`assert_screenshot_async` fixtures, and the session's hooks. The work is
done in the other modules; the run's state lives in config.stash."""

from __future__ import annotations

import pathlib
from collections.abc import Generator
from typing import Any

import pytest

from quorvane_cli import outputs
from quorvane_cli.errors import CliError
from quorvane_cli.safe_files import shown
from quorvane_pytest import assertion, baselines, naming, options, output, session

RUN = pytest.StashKey[session.Run]()
PAGE = pytest.StashKey["pathlib.Path | None"]()
SWEEP = pytest.StashKey[baselines.Sweep]()
SCREENSHOTS = pytest.StashKey[assertion.Screenshots]()
WORKER_FOLDER = "quorvane_output"


def pytest_addoption(parser: pytest.Parser) -> None:
    group = parser.getgroup("quorvane", "screenshot assertions (assert_screenshot)")
    group.addoption(
        "--update-screenshots",
        action="store_true",
        help="write the baselines of screenshots that are missing, undecodable, of another size or "
        "beyond the limits from the actual images, and pass",
    )
    group.addoption(
        "--screenshot-output",
        default=session.DEFAULT_OUTPUT,
        metavar="DIR",
        help="folder of the failed screenshots' images and report page; each session first removes the "
        "files the last one wrote there (default %(default)s)",
    )
    group.addoption(
        "--screenshot-project",
        metavar="NAME",
        help="the {project} of screenshot_path_template (default: the ini option screenshot_project, else 'default')",
    )
    group.addoption(
        "--screenshot-prune",
        action="store_true",
        help="after a session that ran the whole suite, delete the baselines no test read or wrote",
    )
    group.addoption(
        "--screenshot-junit",
        metavar="FILE",
        help="write JUnit XML of the failed screenshots, a test case each, for a CI system's test report",
    )
    group.addoption(
        "--screenshot-markdown",
        metavar="FILE",
        help="write a Markdown summary of the failed screenshots, for a CI job page; '-' for standard output, "
        "'github' to append it to the GitHub Actions job summary",
    )
    parser.addini(
        "screenshot_dir",
        "folder of the baselines, by test file path from the rootdir (default: __screenshots__ beside each test file)",
    )
    parser.addini(
        "screenshot_path_template",
        "a baseline's path from the rootdir, with the tokens " + naming.tokens_text(),
    )
    parser.addini("screenshot_project", "the {project} of screenshot_path_template (default 'default')")
    options.add_ini_options(parser)


def is_worker(config: pytest.Config) -> bool:
    return hasattr(config, "workerinput")


def places_of(config: pytest.Config, ini_dir: pathlib.Path) -> naming.Places:
    screenshot_dir = str(config.getini("screenshot_dir")).strip()
    text = str(config.getini("screenshot_path_template")).strip()
    if text and screenshot_dir:
        raise ValueError("screenshot_path_template and screenshot_dir both place the baselines: give one of them")
    project = config.getoption("screenshot_project") or str(config.getini("screenshot_project")).strip()
    return naming.Places(
        rootdir=config.rootpath,
        screenshot_dir=ini_dir / screenshot_dir if screenshot_dir else None,
        template=naming.Template(text) if text else None,
        project=naming.project_name(project) if project else "default",
    )


def pytest_configure(config: pytest.Config) -> None:
    here = config.invocation_params.dir
    ini_dir = config.inipath.parent if config.inipath is not None else here
    try:
        defaults = options.ini_values(config.getini)
        capturing = options.capturing(config.getini, ini_dir)
        places = places_of(config, ini_dir)
        outputs.check_destination(config.getoption("screenshot_markdown"), "--screenshot-markdown")
    except (ValueError, CliError) as error:
        raise pytest.UsageError(str(error)) from None
    run = session.Run(
        places=places,
        invocation_dir=here,
        output_dir=here / config.getoption("screenshot_output"),
        update=config.getoption("update_screenshots"),
        defaults=defaults,
        capturing=capturing,
    )
    config.stash[RUN] = run
    config.stash[SWEEP] = sweep = baselines.Sweep()
    config.pluginmanager.register(SweepWatch(run, sweep), "quorvane-sweep")
    if is_worker(config):
        run.output.attach(pathlib.Path(config.workerinput[WORKER_FOLDER]))  # type: ignore[attr-defined]
        config.workeroutput["quorvane"] = run.handover()  # type: ignore[attr-defined]


def pytest_unconfigure(config: pytest.Config) -> None:
    run = config.stash.get(RUN, None)
    if run is not None:
        run.output.close()


@pytest.hookimpl(tryfirst=True)  # before pytest-xdist starts its workers
def pytest_sessionstart(session: pytest.Session) -> None:
    config = session.config
    if is_worker(config):
        return
    run = config.stash[RUN]
    kept = [run.rootdir, run.invocation_dir]
    try:
        output.check_apart(run.output_dir, kept, run.screenshot_dir, run.places.template, run.rootdir)
        run.output.start()
    except (ValueError, OSError) as error:
        raise pytest.UsageError(shown(error)) from None
    sweep = config.stash[SWEEP]
    for reason in partial_run(config):
        sweep.note(reason)


def partial_run(config: pytest.Config) -> list[str]:
    """Why the options say the session runs part of the suite."""
    reasons = []
    if config.args_source == pytest.Config.ArgsSource.ARGS:
        reasons.append("it ran the paths or tests named on the command line")
    for option, what in (("keyword", "-k"), ("markexpr", "-m"), ("deselect", "--deselect"), ("lf", "--lf")):
        if config.getoption(option, None):
            reasons.append(f"{what} chose some tests")
    for option, what in (("stepwise", "--stepwise"), ("collectonly", "--collect-only")):
        if config.getoption(option, None):
            reasons.append(f"{what} runs part of the suite")
    return reasons


@pytest.hookimpl(optionalhook=True)
def pytest_configure_node(node: Any) -> None:
    """pytest-xdist: a worker writes into the output folder the controller took."""
    node.workerinput[WORKER_FOLDER] = str(node.config.stash[RUN].output.folder)


@pytest.hookimpl(optionalhook=True)
def pytest_testnodedown(node: Any, error: object) -> None:
    """pytest-xdist: a worker finished and handed over its screenshots."""
    handed = getattr(node, "workeroutput", {}).get("quorvane")
    if handed is not None:
        node.config.stash[RUN].take_over(handed)
    if error is not None:
        node.config.stash[SWEEP].note("a pytest-xdist worker crashed")


class SweepWatch:
    """Hooks that tell whether every test ran, and ran to its end."""

    def __init__(self, run: session.Run, sweep: baselines.Sweep) -> None:
        self.run, self.sweep = run, sweep

    def pytest_deselected(self, items: list[pytest.Item]) -> None:
        if items:  # on a pytest-xdist worker too: its run hands the reason over
            self.run.partial.append("some tests were deselected")

    def pytest_collectreport(self, report: pytest.CollectReport) -> None:
        if report.failed:
            self.sweep.note("a test file could not be collected")

    def pytest_runtest_logreport(self, report: pytest.TestReport) -> None:
        if report.failed and report.when != "teardown":
            self.sweep.failed += 1
        elif report.skipped:
            self.sweep.skipped += 1


@pytest.hookimpl(wrapper=True)
def pytest_runtest_call(item: pytest.Item) -> Generator[None, object, object]:
    """Fails the test, at the end of its call, for its soft failures and the
    calls of assert_screenshot_async it never awaited."""
    try:
        result = yield
    except BaseException:
        screenshots = item.stash.get(SCREENSHOTS, None)
        if screenshots is not None and screenshots.soft_failures:
            item.add_report_section("call", "soft screenshot failures", "\n\n".join(screenshots.soft_failures))
        raise
    screenshots = item.stash.get(SCREENSHOTS, None)
    if screenshots is not None:
        screenshots.finish()
    return result


def pytest_sessionfinish(session: pytest.Session, exitstatus: int) -> None:
    config = session.config
    if is_worker(config):
        return
    run, sweep = config.stash[RUN], config.stash[SWEEP]
    config.stash[PAGE] = run.write_page()
    try:
        run.write_ci_outputs(config.getoption("screenshot_junit"), config.getoption("screenshot_markdown"))
    except CliError as error:
        raise pytest.UsageError(str(error)) from None
    for reason in run.partial:
        sweep.note(reason)
    if session.shouldfail or session.shouldstop:
        sweep.note("it stopped early")
    if exitstatus not in (pytest.ExitCode.OK, pytest.ExitCode.TESTS_FAILED):
        sweep.note("it did not run to its end")
    if run.book.conflicts and exitstatus == pytest.ExitCode.OK:
        session.exitstatus = pytest.ExitCode.TESTS_FAILED


def pytest_terminal_summary(terminalreporter: Any, config: pytest.Config) -> None:
    run, sweep = config.stash[RUN], config.stash[SWEEP]
    lines = run.summary_lines(config.stash.get(PAGE, None))
    lines += baselines.conflict_lines(run.book.conflicts, run.invocation_dir)
    if not is_worker(config):
        prune = bool(config.getoption("screenshot_prune"))
        lines += sweep.lines(run.book.unused(run.places), prune, run.invocation_dir)
    if lines:
        terminalreporter.write_sep("-", "screenshots")
        for line in lines:
            terminalreporter.write_line(line)


def screenshots_of(request: pytest.FixtureRequest) -> assertion.Screenshots:
    """The one record of the test's screenshots that both fixtures share."""
    item: pytest.Item = request.node
    screenshots = item.stash.get(SCREENSHOTS, None)
    if screenshots is None:
        screenshots = item.stash[SCREENSHOTS] = assertion.Screenshots(request.config.stash[RUN], naming.test_of(item))
    return screenshots


@pytest.fixture
def assert_screenshot(request: pytest.FixtureRequest) -> assertion.AssertScreenshot:
    """assert_screenshot(target, name=None, *, max_diff_pixels=None,
    max_diff_pixel_ratio=None, min_ssim=None, max_cluster_pixels=None,
    threshold=None, allow_shifts=None, row_threshold=None,
    max_edit_ratio=None, ignore=(), mask=(), full_page=True, timeout=5.0,
    soft=None, scale=None, style=None): compares a screenshot with its
    baseline (see the README)."""
    return assertion.AssertScreenshot(screenshots_of(request))


@pytest.fixture
def assert_screenshot_async(request: pytest.FixtureRequest) -> assertion.AssertScreenshotAsync:
    """await assert_screenshot_async(target, ...): assert_screenshot for
    targets of Playwright's async API, awaited."""
    return assertion.AssertScreenshotAsync(screenshots_of(request))
