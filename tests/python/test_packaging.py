"""`pip install .` builds one abi3 wheel whose module imports on its own."""

import subprocess
import sys
import zipfile

from imaging import ROOT


def test_wheel_installs_and_imports(tmp_path):
    wheels = tmp_path / "wheels"
    subprocess.run([sys.executable, "-m", "pip", "wheel", str(ROOT), "--no-deps", "--no-build-isolation", "-q",
                    "-w", str(wheels)], check=True, capture_output=True)
    (wheel,) = wheels.glob("*.whl")
    assert "-cp310-abi3-" in wheel.name
    assert "quorvane.abi3.so" in zipfile.ZipFile(wheel).namelist()

    target = tmp_path / "site"
    subprocess.run([sys.executable, "-m", "pip", "install", "--no-deps", "-q", "--target", str(target), str(wheel)],
                   check=True, capture_output=True)
    probe = ("import sys; sys.path.insert(0, sys.argv[1]); import quorvane; "
             "assert quorvane.__file__.startswith(sys.argv[1]); print(quorvane.__version__)")
    run = subprocess.run([sys.executable, "-I", "-c", probe, str(target)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stdout.strip() == "1.3.1"
