import re
import shutil
import subprocess

import pytest

import quorvane
from imaging import ROOT


def test_version_is_the_packages():
    declared = re.search(r'^version = "(.*)"$', (ROOT / "pyproject.toml").read_text(), re.MULTILINE)
    assert quorvane.__version__ == declared.group(1)


def test_extension_is_one_abi3_object_exporting_only_its_initialiser():
    assert quorvane.__file__.endswith("quorvane.abi3.so")
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    listing = subprocess.run([nm, "-D", "--defined-only", quorvane.__file__], capture_output=True, text=True,
                             check=True).stdout
    assert [line.split()[-1] for line in listing.splitlines() if line.strip()] == ["PyInit_quorvane"]
