import os
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD_DIR = pathlib.Path(os.environ.get("QUORVANE_BUILD_DIR", ROOT / "build"))

# Tests run against the freshly built extension when there is one, else
# against the installed package.
if (BUILD_DIR / "quorvane.abi3.so").exists():
    sys.path.insert(0, str(BUILD_DIR))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
sys.path.insert(0, str(ROOT / "python"))  # the command's package, from the source tree
