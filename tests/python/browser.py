"""Headless Chromium driven with the DevTools protocol over a pipe: the
browser reads commands from its descriptor 3 and writes replies and events
to its descriptor 4, as JSON messages each ended by a NUL byte."""

import base64
import fcntl
import json
import os
import select
import shutil
import subprocess
import tempfile
import time

NAMES = ("chromium", "chromium-browser", "google-chrome")


def find_chromium():
    return next((path for path in map(shutil.which, NAMES) if path), None)


# Set for the interpreter by the sanitized test run; the browser is not ours
# to check and does not start with the sanitizer runtime preloaded.
SANITIZER_VARIABLES = ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")


def browser_environment():
    return {name: value for name, value in os.environ.items() if name not in SANITIZER_VARIABLES}


class BrowserError(Exception):
    pass


class Browser:
    def __init__(self, executable, timeout=60.0):
        self.timeout = timeout
        self.profile = tempfile.TemporaryDirectory(prefix="quorvane-chromium-")
        commands_read, self.commands = os.pipe()
        self.replies, replies_write = os.pipe()
        # Moved above 9 so that the redirections below never clobber them.
        child_read, child_write = (fcntl.fcntl(fd, fcntl.F_DUPFD, 10) for fd in (commands_read, replies_write))
        os.close(commands_read)
        os.close(replies_write)
        launch = f'exec "$0" "$@" 3<&{child_read} 4>&{child_write} {child_read}<&- {child_write}>&-'
        self.process = subprocess.Popen(
            ["bash", "-c", launch, executable, "--headless", "--no-sandbox", "--disable-gpu",
             "--disable-dev-shm-usage", "--no-first-run", "--hide-scrollbars", "--remote-debugging-pipe",
             f"--user-data-dir={self.profile.name}", "about:blank"],
            pass_fds=(child_read, child_write), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, env=browser_environment())
        os.close(child_read)
        os.close(child_write)
        self.next_id, self.pending, self.events = 1, b"", []

    def _receive(self, deadline):
        while b"\0" not in self.pending:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise BrowserError("no answer from the browser in time")
            if select.select([self.replies], [], [], remaining)[0]:
                chunk = os.read(self.replies, 1 << 16)
                if not chunk:
                    raise BrowserError("the browser closed its pipe")
                self.pending += chunk
        message, _, self.pending = self.pending.partition(b"\0")
        return json.loads(message)

    def command(self, method, session=None, **params):
        ident, self.next_id = self.next_id, self.next_id + 1
        message = {"id": ident, "method": method, "params": params}
        if session is not None:
            message["sessionId"] = session
        os.write(self.commands, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + self.timeout
        while True:
            reply = self._receive(deadline)
            if reply.get("id") == ident:
                if "error" in reply:
                    raise BrowserError(f"{method}: {reply['error']}")
                return reply["result"]
            self.events.append(reply)

    def wait_event(self, method, session):
        deadline = time.monotonic() + self.timeout
        while True:
            for index, event in enumerate(self.events):
                if event.get("method") == method and event.get("sessionId") == session:
                    return self.events.pop(index)
            self.events.append(self._receive(deadline))

    def open(self, url, width=1280, height=900):
        target = self.command("Target.createTarget", url="about:blank")["targetId"]
        session = self.command("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        page = Page(self, target, session)
        self.command("Emulation.setDeviceMetricsOverride", session, width=width, height=height,
                     deviceScaleFactor=1, mobile=False)
        self.command("Page.enable", session)
        self.command("Page.navigate", session, url=url)
        self.wait_event("Page.loadEventFired", session)
        return page

    def close(self):
        try:
            self.command("Browser.close")
        except (BrowserError, OSError):
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.commands)
        os.close(self.replies)
        self.profile.cleanup()


class Page:
    def __init__(self, browser, target, session):
        self.browser, self.target, self.session = browser, target, session

    def close(self):
        self.browser.command("Target.closeTarget", targetId=self.target)

    def evaluate(self, expression):
        """The value of a JavaScript expression, awaited when it is a promise."""
        result = self.browser.command("Runtime.evaluate", self.session, expression=expression,
                                      awaitPromise=True, returnByValue=True)
        if "exceptionDetails" in result:
            raise BrowserError(result["exceptionDetails"].get("exception", {}).get("description", result))
        return result["result"].get("value")

    def click(self, selector):
        """A mouse click in the middle of the element, as a person makes it."""
        x, y = self.evaluate(f"""(() => {{
            const element = document.querySelector({json.dumps(selector)});
            element.scrollIntoView({{block: 'center'}});
            const box = element.getBoundingClientRect();
            return [box.left + box.width / 2, box.top + box.height / 2];
        }})()""")
        for kind in ("mousePressed", "mouseReleased"):
            self.browser.command("Input.dispatchMouseEvent", self.session, type=kind, x=x, y=y, button="left",
                                 clickCount=1)

    def screenshot(self):
        """PNG bytes of the viewport."""
        return base64.b64decode(self.browser.command("Page.captureScreenshot", self.session, format="png")["data"])
