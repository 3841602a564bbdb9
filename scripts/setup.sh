#!/usr/bin/env bash
# Installs what one make target needs, only where it is missing: Debian
# packages with apt-get, Python packages with pip into $PYTHON (which the
# Makefile has already made a virtual environment's where the system's
# Python refuses installs).
#
#   setup.sh build    the development build: the compiler, the -dev packages, CMake and Ninja,
#                     and Jinja2, which the command's report needs from the source tree
#   setup.sh wheel    the release wheels: requirements-build.txt (Zig among them) and make
#   setup.sh test     everything the tests and benchmarks use (requirements-dev.txt), Chromium
#                     and chromedriver for the browser tests, qemu for the aarch64 wheel
#   setup.sh fuzz     the development build with clang and its sanitizer and libFuzzer runtimes
#   setup.sh lint     the formatters and checkers that `make lint` runs
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}

build_packages=(g++ make pkg-config libpng-dev zlib1g-dev libwebp-dev libtbb-dev libdeflate-dev binutils)
case "${1:-build}" in
    build) debian_packages=("${build_packages[@]}") python_requirements=("cmake>=3.26" ninja "jinja2>=3.0") ;;
    wheel) debian_packages=(make binutils) python_requirements=(-r requirements-build.txt) ;;
    test) debian_packages=("${build_packages[@]}" chromium chromium-driver qemu-user-static)
        python_requirements=(-r requirements-dev.txt) ;;
    fuzz) debian_packages=("${build_packages[@]}" clang-14 libclang-rt-14-dev)
        python_requirements=(-r requirements-dev.txt) ;;
    lint) debian_packages=(clang-format-14 shellcheck) python_requirements=(-r requirements-dev.txt) ;;
    *) echo "setup.sh: unknown target ${1}" >&2; exit 2 ;;
esac
# The interpreter's headers, for building the module: Debian's python3-dev
# where the interpreter is Debian's and they are missing.
"$PYTHON" -c 'import os, sys, sysconfig; sys.exit(not os.path.isfile(os.path.join(sysconfig.get_path("include"), "Python.h")))' ||
    debian_packages+=(python3-dev)

missing=()
for package in "${debian_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get -o DPkg::Lock::Timeout=600 update -q
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get -o DPkg::Lock::Timeout=600 install -y -q "${missing[@]}"
fi

# Installed unless every named distribution is there, at its version where pinned.
if ! "$PYTHON" - "${python_requirements[@]}" <<'PY' 2>/dev/null; then
import importlib.metadata, re, sys

def lines(arguments):
    arguments = iter(arguments)
    for argument in arguments:
        if argument != "-r":
            yield argument
            continue
        for line in open(next(arguments)).read().splitlines():
            line = line.split("#")[0].strip()
            if line.startswith("-r "):
                yield from lines(line.split())
            elif line:
                yield line


missing = []
for line in lines(sys.argv[1:]):
    name, pin = re.match(r"([A-Za-z0-9_.-]+)(?:==(\S+))?", line).groups()
    try:
        installed = importlib.metadata.version(name)
    except importlib.metadata.PackageNotFoundError:
        missing.append(name)
        continue
    if pin is not None and installed != pin:
        missing.append(name)
sys.exit(1 if missing else 0)
PY
    echo "setup: installing Python packages"
    "$PYTHON" -m pip install -q "${python_requirements[@]}"
fi
