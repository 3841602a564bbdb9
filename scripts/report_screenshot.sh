#!/usr/bin/env bash
# Remakes docs/report.png, the README's picture of the report page: the
# report that `make demo` writes, photographed by headless Chromium.
set -euo pipefail
cd "$(dirname "$0")/.."
make demo >/dev/null
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1280,1500 \
    --screenshot="$PWD/docs/report.png" "file://$PWD/examples/output/report/index.html" 2>/dev/null
ls -l docs/report.png
