"""`pip install .` builds one abi3 wheel whose module imports on its own,
with the command-line package and its `quorvane` console script."""

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
    (entry_points,) = [name for name in names if name.endswith(".dist-info/entry_points.txt")]
    assert "quorvane = quorvane_cli:main" in zipfile.ZipFile(wheel).read(entry_points).decode()

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
