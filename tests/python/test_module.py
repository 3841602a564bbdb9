import inspect
import shutil
import subprocess

import pytest

import quorvane


def test_version_and_attribute_order():
    assert quorvane.__version__ == "1.3.1"
    public = [name for name in vars(quorvane) if not name.startswith("__") or name == "__version__"]
    assert public[0] == "__version__"
    assert public[1] == "Comparison"
    assert public[2:8] == ["RowAlignment", "RowSegment", "ShiftBand", "ClustersResult", "Cluster", "BoundingBox"]
    functions = [name for name in public if callable(getattr(quorvane, name)) and not isinstance(
        getattr(quorvane, name), type)]
    assert functions == ["thumbnail", "diff_batch", "diff_count_batch", "ssim_batch", "compare_batch"]


def test_extension_is_one_abi3_object_exporting_only_its_initialiser():
    path = quorvane.__file__
    assert path.endswith("quorvane.abi3.so")
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    listing = subprocess.run([nm, "-D", "--defined-only", path], capture_output=True, text=True, check=True).stdout
    exported = sorted(line.split()[-1] for line in listing.splitlines() if line.strip())
    assert exported == ["PyInit_quorvane"]


def test_signatures_come_from_the_docstrings():
    regions = "*, ignore=(), mask_color=(255, 0, 255)"
    assert str(inspect.signature(quorvane.Comparison)) == f"(baseline_png, current_png, {regions})"
    params = list(inspect.signature(quorvane.Comparison.from_rgba).parameters)
    assert params == ["baseline_rgba", "baseline_width", "baseline_height", "current_rgba", "current_width",
                      "current_height", "ignore", "mask_color"]
    assert quorvane.Comparison.from_rgba.__doc__ == "Create a Comparison from pre-decoded RGBA buffers."
