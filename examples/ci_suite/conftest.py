"""A Playwright suite on Debian's Chromium, split into CI shards with
--shard K/N: each test lands in one slice, by a digest of its id."""

import hashlib
import shutil

import pytest


def pytest_addoption(parser):
    parser.addoption("--shard", default="1/1", metavar="K/N", help="run the K-th of N slices of the tests")


def pytest_collection_modifyitems(config, items):
    index, count = map(int, config.getoption("shard").split("/"))
    chosen = [item for item in items if hashlib.sha256(item.nodeid.encode()).digest()[0] % count == index - 1]
    config.hook.pytest_deselected(items=[item for item in items if item not in chosen])
    items[:] = chosen


@pytest.fixture(scope="session")
def browser():
    sync_api = pytest.importorskip("playwright.sync_api")
    chromium = shutil.which("chromium")
    if chromium is None:
        pytest.skip("Debian's chromium package is not installed")
    with sync_api.sync_playwright() as playwright:
        browser = playwright.chromium.launch(executable_path=chromium)
        yield browser
        browser.close()


@pytest.fixture
def page(browser):
    page = browser.new_page(viewport={"width": 320, "height": 200})
    yield page
    page.close()
