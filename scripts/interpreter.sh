#!/usr/bin/env bash
# Prints the Python interpreter that make's targets run: $PYTHON itself, or,
# where it refuses system-wide installs (an "externally managed" Python such
# as Debian's own python3), that of the project's virtual environment .venv,
# made from $PYTHON when missing or made from another interpreter.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}

if "$PYTHON" - <<'PY'; then
import pathlib, sys, sysconfig
managed = (pathlib.Path(sysconfig.get_path("stdlib")) / "EXTERNALLY-MANAGED").is_file()
sys.exit(1 if managed and sys.prefix == sys.base_prefix else 0)
PY
    "$PYTHON" -c 'import sys; print(sys.executable)'
    exit 0
fi

base=$("$PYTHON" -c 'import os, sys; print(os.path.realpath(sys.executable))')
if [ -x .venv/bin/python ] && [ "$(.venv/bin/python -c 'import os, sys; print(os.path.realpath(sys._base_executable))')" = "$base" ]; then
    echo "$PWD/.venv/bin/python"
    exit 0
fi
echo "$PYTHON refuses system-wide installs: making the virtual environment .venv from it" >&2
if ! "$PYTHON" -c 'import ensurepip, venv' 2>/dev/null; then
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get -o DPkg::Lock::Timeout=600 update -q >&2
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get -o DPkg::Lock::Timeout=600 install -y -q python3-venv >&2
fi
rm -rf .venv
"$PYTHON" -m venv .venv >&2
echo "$PWD/.venv/bin/python"
