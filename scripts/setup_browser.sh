#!/usr/bin/env bash
# Installs Debian's Chromium, which the report page's browser test drives
# headless, only when it is missing.
set -euo pipefail
if dpkg-query -W -f='${Status}' chromium 2>/dev/null | grep -q "install ok installed"; then
    exit 0
fi
echo "setup: installing chromium"
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
$sudo_cmd apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -q chromium
