"""The review page in headless Chromium: as a file, its views, keys and the
approve command it builds; served by `quorvane review`, Accept and Undo
writing baselines, and the requests it refuses."""

import http.client
import json
import shlex
import signal
import subprocess
import sys
import threading
import urllib.parse

import pytest
import screens
from conftest import BROWSER_TIMEOUT_MS, CHILD_ENV

CHANGED, SHIFTED, NEW = "docs/changed.png", "docs/shifted.png", "new.png"
SHOWN_VIEW = "article => [...article.querySelectorAll('.view')].findIndex(view => !view.hidden) + 1"
LOADED = """async article => Promise.all([...article.querySelectorAll('.view:not([hidden]) img')].map(async image => {
    if (!image.complete) await new Promise(done => { image.onload = image.onerror = done; setTimeout(done, 20000); });
    return image.naturalWidth;
}))"""


@pytest.fixture
def browser_page(chromium):
    context = chromium.new_context(viewport={"width": 1280, "height": 900}, accept_downloads=True)
    context.set_default_timeout(BROWSER_TIMEOUT_MS)
    yield context.new_page()
    context.close()


def article(page, name):
    return page.locator(f'article[data-name="{name}"]')


def current_image(results, name):
    return (results.root / "current" / name).read_bytes()


def test_views_keys_and_the_approve_command_of_the_static_page(browser_page, results, capsys):
    page = browser_page
    page.goto((results.out / "index.html").as_uri())
    assert page.inner_text(".meta").startswith("Baseline baseline against current current ·")  # as typed
    changed = article(page, CHANGED)
    for number, view in enumerate(("Side by side", "Diff", "Slider", "Blend", "Flip"), 1):
        changed.get_by_role("button", name=view, exact=True).click()
        assert changed.evaluate(SHOWN_VIEW) == number
        assert all(width > 0 for width in changed.evaluate(LOADED))  # full-size images loaded on demand
    # The slider moves with the keyboard: its handle stands at the value's share of the image.
    changed.get_by_role("button", name="Slider").click()
    slider = changed.get_by_role("slider", name="Slider position")
    slider.focus()
    for _ in range(15):
        page.keyboard.press("ArrowRight")
    stack, handle = changed.locator(".slider").bounding_box(), changed.locator(".handle").bounding_box()
    assert slider.input_value() == "65" and abs(handle["x"] + 1 - stack["x"] - 0.65 * stack["width"]) < 2
    page.locator("h1").click()  # away from the slider, which keeps the arrow and number keys
    # Clicking a pair makes it the current one; j/k go through the pairs shown
    # (beyond limits first), 1-5 switch the current pair's views.
    for key, name in (("j", SHIFTED), ("k", CHANGED), ("k", "broken.png"), ("k", "broken.png"), ("j", CHANGED)):
        page.keyboard.press(key)
        assert page.evaluate("document.querySelector('article.current').dataset.name") == name
    for key in "24135":
        page.keyboard.press(key)
        assert changed.evaluate(SHOWN_VIEW) == int(key)
    flipped = changed.locator(".flip .over")
    assert flipped.evaluate("over => getComputedStyle(over).visibility") == "visible"
    page.keyboard.press("5")  # again: the baseline in place of the current image
    assert flipped.evaluate("over => getComputedStyle(over).visibility") == "hidden"

    # Ticked pairs, by checkbox and by key, make the command and approvals.json.
    changed.get_by_role("checkbox", name="Accept").check()
    article(page, NEW).get_by_role("checkbox", name="Accept").check()
    article(page, SHIFTED).locator(".figures").click()  # a click on a pair makes it the current one
    page.keyboard.press("a")
    article(page, NEW).locator(".figures").click()
    page.keyboard.press("u")
    command = shlex.split(page.text_content("#command"))
    assert command == ["quorvane", "approve", str(results.out), CHANGED, SHIFTED]
    with page.expect_download() as download:
        page.get_by_role("button", name="Download approvals.json").click()
    approvals = results.root / "approvals.json"
    download.value.save_as(approvals)
    before = {name: (results.root / "baseline" / name).read_bytes() for name in (CHANGED, SHIFTED, "old.png")}
    assert screens.run(capsys, "approve", results.out, "--from", approvals)[0] == 0
    after = {name: (results.root / "baseline" / name).read_bytes() for name in before}
    assert after == {**before, CHANGED: current_image(results, CHANGED), SHIFTED: current_image(results, SHIFTED)}
    assert not (results.root / "baseline" / NEW).exists()


@pytest.fixture
def server(results):
    """`quorvane review` in a process of its own, with Python's Ctrl-C handler."""
    process = subprocess.Popen(
        [sys.executable, "-u", "-m", "quorvane_cli", "review", "results", "--no-browser"],
        cwd=results.root,
        env=CHILD_ENV,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
        preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
    )
    url = process.stdout.readline().split()[-1]
    yield process, urllib.parse.urlsplit(url)
    if process.poll() is None:
        process.kill()
    process.wait()


def request(url, method="GET", path="/", token=True, headers=(), body=None):
    """(status, JSON or text) of one request to the server."""
    connection = http.client.HTTPConnection(url.hostname, url.port, timeout=60)
    query = f"?{url.query}" if token else ""
    connection.request(method, path + query, body=body, headers=dict(headers))
    response = connection.getresponse()
    data = response.read()
    connection.close()
    kind = response.getheader("Content-Type")
    return response.status, json.loads(data) if kind == "application/json" else data


def accept(url, name, headers=(), **options):
    headers = {"Content-Type": "application/json", **dict(headers)}.items()
    return request(url, "POST", "/accept", body=json.dumps({"pair": name}), headers=headers, **options)


def wait_for_state(page, name, word):
    """Waits until the pair's state line starts with `word`."""
    state = "([name, word]) => document.querySelector(`article[data-name='${name}'] .state`).textContent"
    page.wait_for_function(f"{state}.startsWith(word)", arg=[name, word])


def test_served_page_accepts_and_undoes_and_refuses_foreign_requests(browser_page, results, server):
    process, url = server
    baseline = results.root / "baseline" / CHANGED
    old = baseline.read_bytes()
    refused = [
        request(url, token=False),
        request(url, headers={"Host": f"attacker.example:{url.port}"}.items()),
        accept(url, CHANGED, token=False),
        accept(url, CHANGED, headers={"Host": f"rebound.example:{url.port}"}),
        accept(url, CHANGED, headers={"Origin": "http://attacker.example"}),
    ]
    assert [status for status, _ in refused] == [403] * 5 and baseline.read_bytes() == old
    assert request(url, path="/../baseline/home.png")[0] == 404  # only the page's own images

    page = browser_page
    page.goto(url.geturl())
    changed = article(page, CHANGED)
    changed.get_by_role("button", name="Accept").click()
    wait_for_state(page, CHANGED, "wrote")
    assert baseline.read_bytes() == current_image(results, CHANGED)
    changed.get_by_role("button", name="Undo").click()
    wait_for_state(page, CHANGED, "restored")
    assert baseline.read_bytes() == old
    # A new pair by keys: its baseline made, then gone again.
    article(page, NEW).locator(".figures").click()
    page.keyboard.press("a")
    wait_for_state(page, NEW, "wrote")
    assert (results.root / "baseline" / NEW).read_bytes() == current_image(results, NEW)
    page.keyboard.press("u")
    wait_for_state(page, NEW, "restored")
    assert not (results.root / "baseline" / NEW).exists()

    # Two tabs accepting one pair at once: it is written once.
    answers = [None, None]
    tabs = [threading.Thread(target=lambda i=i: answers.__setitem__(i, accept(url, SHIFTED))) for i in range(2)]
    for tab in tabs:
        tab.start()
    for tab in tabs:
        tab.join()
    assert sorted(answer["message"].split()[0] for _, answer in answers) == ["kept", "wrote"]
    assert (results.root / "baseline" / SHIFTED).read_bytes() == current_image(results, SHIFTED)

    process.send_signal(signal.SIGINT)
    assert process.wait(timeout=60) == 130
    assert process.stderr.read() == "quorvane: review stopped\n"
    assert not (results.out / ".review-undo").exists()
