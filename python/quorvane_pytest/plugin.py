"""The pytest plugin `quorvane`: its options, the `assert_screenshot`
fixture, and the session's hooks. The work is done in the other modules;
the run's state lives in config.stash."""

import pathlib

import pytest

from quorvane_pytest import assertion, naming, options, session

RUN = pytest.StashKey[session.Run]()
PAGE = pytest.StashKey[pathlib.Path | None]()


def pytest_addoption(parser):
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
        help="folder of the failed screenshots' images and report page, emptied at the start of "
        "each session (default %(default)s)",
    )
    parser.addini(
        "screenshot_dir",
        "folder of the baselines, by test file path from the rootdir (default: __screenshots__ beside each test file)",
    )
    options.add_ini_options(parser)


def is_worker(config):
    return hasattr(config, "workerinput")


def pytest_configure(config):
    try:
        defaults = options.ini_values(config.getini)
    except ValueError as error:
        raise pytest.UsageError(str(error)) from None
    here = config.invocation_params.dir
    screenshot_dir = config.getini("screenshot_dir").strip()
    ini_dir = config.inipath.parent if config.inipath is not None else here
    run = session.Run(
        rootdir=config.rootpath,
        invocation_dir=here,
        output_dir=here / config.getoption("screenshot_output"),
        screenshot_dir=ini_dir / screenshot_dir if screenshot_dir else None,
        update=config.getoption("update_screenshots"),
        defaults=defaults,
    )
    config.stash[RUN] = run
    if is_worker(config):
        config.workeroutput["quorvane"] = run.handover()


@pytest.hookimpl(tryfirst=True)  # before pytest-xdist starts its workers
def pytest_sessionstart(session):
    if not is_worker(session.config):
        try:
            session.config.stash[RUN].empty_output()
        except ValueError as error:
            raise pytest.UsageError(str(error)) from None


@pytest.hookimpl(optionalhook=True)
def pytest_testnodedown(node, error):
    """pytest-xdist: a worker finished and handed over its screenshots."""
    handed = getattr(node, "workeroutput", {}).get("quorvane")
    if handed is not None:
        node.config.stash[RUN].take_over(handed)


def pytest_sessionfinish(session):
    if not is_worker(session.config):
        session.config.stash[PAGE] = session.config.stash[RUN].write_page()


def pytest_terminal_summary(terminalreporter, config):
    lines = config.stash[RUN].summary_lines(config.stash.get(PAGE, None))
    if lines:
        terminalreporter.write_sep("-", "screenshots")
        for line in lines:
            terminalreporter.write_line(line)


@pytest.fixture
def assert_screenshot(request):
    """assert_screenshot(target, name=None, *, max_diff_pixels=None,
    max_diff_pixel_ratio=None, min_ssim=None, max_cluster_pixels=None,
    threshold=None, allow_shifts=None, row_threshold=None,
    max_edit_ratio=None, ignore=(), mask=(), full_page=True, timeout=5.0):
    compares a screenshot with its baseline (see the README)."""
    return assertion.AssertScreenshot(request.config.stash[RUN], naming.test_of(request.node))
