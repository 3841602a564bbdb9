"""`pip install .` builds one abi3 wheel whose module imports on its own,
with the command-line package and its `quorvane` console script, and the
pytest plugin with its entry point."""

import os
import subprocess
import sys
import zipfile

from imaging import ROOT, SCREENS


def test_wheel_installs_and_imports(tmp_path):
    wheels = tmp_path / "wheels"
    subprocess.run([sys.executable, "-m", "pip", "wheel", str(ROOT), "--no-deps", "--no-build-isolation", "-q",
                    "-w", str(wheels)], check=True, capture_output=True)
    (wheel,) = wheels.glob("*.whl")
    assert "-cp310-abi3-" in wheel.name
    names = zipfile.ZipFile(wheel).namelist()
    assert "quorvane.abi3.so" in names
    assert {f"quorvane_cli/{module}.py" for module in ("__init__", "__main__", "cli", "report", "page")} <= set(names)
    assert {"quorvane_pytest/__init__.py", "quorvane_pytest/plugin.py"} <= set(names)
    (entry_points,) = [name for name in names if name.endswith(".dist-info/entry_points.txt")]
    entry_points = zipfile.ZipFile(wheel).read(entry_points).decode()
    assert "quorvane = quorvane_cli:main" in entry_points
    assert "[pytest11]\nquorvane = quorvane_pytest.plugin" in entry_points

    target = tmp_path / "site"
    subprocess.run([sys.executable, "-m", "pip", "install", "--no-deps", "-q", "--target", str(target), str(wheel)],
                   check=True, capture_output=True)
    probe = ("import sys; sys.path.insert(0, sys.argv[1]); import quorvane; "
             "assert quorvane.__file__.startswith(sys.argv[1]); print(quorvane.__version__)")
    run = subprocess.run([sys.executable, "-I", "-c", probe, str(target)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "1.3.1"

    # The console script runs from the installed files alone.
    script = target / "bin" / "quorvane"
    page = SCREENS / "page_baseline.png"
    run = subprocess.run([str(script), "compare", str(page), str(page)], capture_output=True, text=True,
                         env=dict(os.environ, PYTHONPATH=str(target)), cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    assert "status     unchanged" in run.stdout

    # pytest finds the plugin by the name of its entry point (other plugins
    # of the machine left out), and Playwright and Selenium stay unimported
    # until a target of theirs comes.
    (tmp_path / "test_shot.py").write_text(
        "import sys\n\ndef test_shot(assert_screenshot):\n"
        "    assert not {'playwright', 'selenium'} & {name.split('.')[0] for name in sys.modules}\n"
        f"    assert_screenshot({str(page)!r})\n")
    run = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "quorvane", "-p", "no:cacheprovider",
                          "test_shot.py"], capture_output=True, text=True, cwd=tmp_path,
                         env=dict(os.environ, PYTHONPATH=str(target), PYTEST_DISABLE_PLUGIN_AUTOLOAD="1"))
    assert "screenshot test_shot.png: no baseline" in run.stdout, run.stdout + run.stderr
