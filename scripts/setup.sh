#!/usr/bin/env bash
# Installs what building and testing need, only where it is missing:
# Debian packages with apt-get, Python packages with pip.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}

debian_packages=(g++ make pkg-config libpng-dev zlib1g-dev libdeflate-dev libwebp-dev libtbb-dev binutils)
# `setup.sh fuzz`: also clang with its sanitizer and libFuzzer runtimes;
# `setup.sh browser`: also Chromium, which the report page's test drives headless.
case "${1:-}" in
    fuzz) debian_packages+=(clang-14 libclang-rt-14-dev) ;;
    browser) debian_packages+=(chromium) ;;
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
import importlib.util, shutil, sys
modules = ["pytest", "numpy", "scipy", "png", "PIL", "skimage", "scikit_build_core"]
missing = [m for m in modules if importlib.util.find_spec(m) is None]
missing += [tool for tool in ("cmake", "ninja") if shutil.which(tool) is None]
sys.exit(1 if missing else 0)
PY
then
    echo "setup: installing Python packages"
    "$PYTHON" -m pip install -q -r requirements-dev.txt
fi
