import os
import pathlib
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD_DIR = pathlib.Path(os.environ.get("QUORVANE_BUILD_DIR", ROOT / "build")).resolve()

# Tests run against the freshly built extension when there is one, else
# against the installed package.
if (BUILD_DIR / "quorvane.abi3.so").exists():
    sys.path.insert(0, str(BUILD_DIR))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
sys.path.insert(0, str(ROOT / "python"))  # the command's package, from the source tree


class ScreenshotTester:
    """pytester running the quorvane pytest plugin from the source tree, in
    its own runs and in their pytest-xdist workers. Plugins are not loaded by
    their entry points, so an installed quorvane's plugin stays out and the
    runs do not pay for every other plugin of the machine."""

    def __init__(self, pytester):
        self.pytester, self.path = pytester, pytester.path

    def png(self, name, image):
        """Writes an image as a PNG file in the run's folder; returns its bytes."""
        from imaging import png_bytes
        data = png_bytes(image)
        target = self.path / name
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(data)
        return data

    def run(self, *args, ini="", workers=0):
        """A run in this process; with workers, a run of its own with as many
        pytest-xdist workers (which take the sys.path of the process that
        first imported xdist)."""
        self.pytester.makeini(f"[pytest]\n{ini}\n")
        args = ("-p", "quorvane_pytest.plugin", "-p", "no:cacheprovider", *args)
        if workers:
            return self.pytester.runpytest_subprocess("-p", "xdist.plugin", "-n", str(workers), *args)
        return self.pytester.runpytest(*args)


@pytest.fixture
def screenshot_tester(pytester, monkeypatch):
    paths = [str(BUILD_DIR), str(ROOT / "python"), os.environ.get("PYTHONPATH", "")]
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join(path for path in paths if path))
    monkeypatch.setenv("PYTEST_DISABLE_PLUGIN_AUTOLOAD", "1")
    return ScreenshotTester(pytester)
