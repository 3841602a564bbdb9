"""Static, position-independent builds of the libraries the release wheels
link, for one Zig target each, from Debian's source packages.

Each upstream tarball is pinned by its SHA-256 and fetched with
`apt-get source` through an apt configuration of this script's own (its own
deb-src lines, package lists and cache in the cache folder), so the
machine's sources, lists and architectures are never touched. The newest
releases whose whole source package Debian's archive serves are pinned;
Debian's patches to them adapt packaging and tests only, so none is applied.

Built libraries are kept per target under a key of everything that shapes
them (this file, the toolchain file, Zig's version), so a second build of
the wheels reuses them.
"""

import dataclasses
import fcntl
import hashlib
import inspect
import os
import pathlib
import shutil
import subprocess
import sys
import tarfile
import tempfile
from collections.abc import Sequence

ROOT = pathlib.Path(__file__).resolve().parents[1]
TOOLCHAIN = ROOT / "cmake" / "zig-toolchain.cmake"

# Old cmake_minimum_required lines (oneTBB asks for 3.1) that CMake 4 refuses
# without a floor for the policies they would get.
POLICY_FLOOR = "-DCMAKE_POLICY_VERSION_MINIMUM=3.5"

APT_SOURCES = """\
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm forky sid
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
"""


@dataclasses.dataclass(frozen=True)
class Library:
    name: str
    source_package: str  # Debian's, at `debian_version`
    debian_version: str
    tarball: str
    sha256: str
    licences: tuple[str, ...]  # files in the tarball that go into the wheel
    # "cmake" with these options ({source} stands for the unpacked tarball),
    # "configure" (zlib's own script) or "makefile" (libdeflate's).
    build: str
    cmake_options: tuple[str, ...] = ()


LIBRARIES = (
    Library(
        "zlib",
        "zlib",
        "1:1.3.dfsg+really1.3.2-3",
        "zlib_1.3.dfsg+really1.3.2.orig.tar.gz",
        "7b6903eb019983987b7112eccf90f1703f1c6c0e0cede36564bf611d19ca579d",
        ("LICENSE",),
        "configure",
    ),
    Library(
        "libdeflate",
        "libdeflate",
        "1.14-1",
        "libdeflate_1.14.orig.tar.gz",
        "89e7df898c37c3427b0f39aadcf733731321a278771d20fc553f92da8d4808ac",
        ("COPYING",),
        "makefile",
    ),
    Library(
        "libpng",
        "libpng1.6",
        "1.6.58-1",
        "libpng1.6_1.6.58.orig.tar.gz",
        "a9d4df463d36a6e5f9c29bd6f4967312d17e996c1854f3511f833924eb1993cf",
        ("LICENSE",),
        "cmake",
        (
            *("-DPNG_SHARED=OFF", "-DPNG_STATIC=ON", "-DPNG_TESTS=OFF", "-DPNG_TOOLS=OFF", "-DPNG_FRAMEWORK=OFF"),
            # Its default configuration as shipped: generating it would run
            # the compiler by its first word alone, which for Zig is no compiler.
            "-DPNG_LIBCONF_HEADER={source}/scripts/pnglibconf.h.prebuilt",
        ),
    ),
    Library(
        "libwebp",
        "libwebp",
        "1.6.0-0.1",
        "libwebp_1.6.0.orig.tar.gz",
        "e4ab7009bf0629fd11982d4c2aa83964cf244cffba7347ecd39019a9e38c4564",
        ("COPYING", "PATENTS"),
        "cmake",
        (
            "-DBUILD_SHARED_LIBS=OFF",
            *(
                f"-DWEBP_BUILD_{tool}=OFF"
                for tool in ("ANIM_UTILS", "CWEBP", "DWEBP", "GIF2WEBP", "IMG2WEBP", "VWEBP", "WEBPINFO", "WEBPMUX")
            ),
            "-DWEBP_BUILD_EXTRAS=OFF",
            "-DWEBP_BUILD_LIBWEBPMUX=OFF",
        ),
    ),
    Library(
        "oneTBB",
        "onetbb",
        "2021.8.0-2+deb12u1",
        "onetbb_2021.8.0.orig.tar.xz",
        "7e9111b8bb59c8800bf6d0b06afe7b0891937443d2dae1ee1101c8e2ede6a7ef",
        ("LICENSE.txt",),
        "cmake",
        (
            "-DBUILD_SHARED_LIBS=OFF",
            "-DTBB_TEST=OFF",
            "-DTBB_EXAMPLES=OFF",
            "-DTBBMALLOC_BUILD=OFF",
            "-DTBB_STRICT=OFF",
            POLICY_FLOOR,
        ),
    ),
)


def cache_root() -> pathlib.Path:
    default = pathlib.Path(os.environ.get("XDG_CACHE_HOME", pathlib.Path.home() / ".cache")) / "quorvane-wheel"
    return pathlib.Path(os.environ.get("QUORVANE_WHEEL_CACHE", default))


def zig_version(zig: pathlib.Path) -> str:
    return subprocess.run([zig, "version"], check=True, capture_output=True, text=True).stdout.strip()


def log(message: str) -> None:
    print(f"wheel: {message}", file=sys.stderr, flush=True)


def quiet(command: Sequence[object], cwd: pathlib.Path | None = None, env: dict[str, str] | None = None) -> None:
    """Runs a build step, its output shown only when it fails."""
    done = subprocess.run(list(map(str, command)), capture_output=True, text=True, cwd=cwd, env=env)
    if done.returncode != 0:
        sys.stderr.write(done.stdout + done.stderr)
        raise SystemExit(f"wheel: failed ({done.returncode}): {' '.join(map(str, command))}")


class DebianSources:
    """`apt-get source` with deb-src lines, lists and cache of its own."""

    def __init__(self, folder: pathlib.Path) -> None:
        self.folder = folder
        self.updated = False

    def apt_get(self, *arguments: str, cwd: pathlib.Path) -> None:
        options = {
            "Dir::Etc::SourceList": "/dev/null",
            "Dir::Etc::SourceParts": self.folder / "sources.list.d",
            "Dir::State::Lists": self.folder / "lists",
            "Dir::Cache": self.folder / "cache",
            "Debug::NoLocking": 1,  # its own lists and cache: no other apt run shares them
            "APT::Sandbox::User": "root" if os.getuid() == 0 else "",
        }
        quiet(["apt-get", "-q", *(f"-o{name}={value}" for name, value in options.items()), *arguments], cwd=cwd)

    def fetch(self, library: Library, into: pathlib.Path) -> None:
        if not self.updated:
            for folder in ("sources.list.d", "lists/partial", "cache/archives/partial"):
                (self.folder / folder).mkdir(parents=True, exist_ok=True)
            (self.folder / "sources.list.d" / "debian.sources").write_text(APT_SOURCES)
            self.apt_get("update", cwd=self.folder)
            self.updated = True
        with tempfile.TemporaryDirectory(dir=self.folder) as scratch:
            package = f"{library.source_package}={library.debian_version}"
            self.apt_get("source", "--download-only", package, cwd=pathlib.Path(scratch))
            shutil.move(pathlib.Path(scratch) / library.tarball, into)


def source_tarball(library: Library, sources: DebianSources) -> pathlib.Path:
    """The pinned tarball, fetched once into the cache."""
    path = cache_root() / "sources" / library.tarball
    if not path.is_file():
        path.parent.mkdir(parents=True, exist_ok=True)
        log(f"fetching {library.source_package} {library.debian_version} with apt-get source")
        partial = path.with_suffix(".partial")
        sources.fetch(library, partial)
        partial.rename(path)
    found = hashlib.sha256(path.read_bytes()).hexdigest()
    if found != library.sha256:
        raise SystemExit(
            f"{path}: SHA-256 {found}, but {library.name} is pinned at {library.sha256}; "
            "delete the file to fetch it again, or pin the new tarball after checking it"
        )
    return path


def unpack(tarball: pathlib.Path, into: pathlib.Path) -> pathlib.Path:
    with tarfile.open(tarball) as archive:
        archive.extractall(into, filter="data")
    (top,) = into.iterdir()
    return top


def build_with_cmake(library: Library, source: pathlib.Path, prefix: pathlib.Path, zig: pathlib.Path,
                     target: str) -> None:  # fmt: skip
    build = source.parent / "build"
    quiet(
        ["cmake", "-S", source, "-B", build, "-G", "Ninja", f"-DCMAKE_TOOLCHAIN_FILE={TOOLCHAIN}",
         f"-DQUORVANE_ZIG={zig}", f"-DQUORVANE_ZIG_TARGET={target}", "-DCMAKE_BUILD_TYPE=Release",
         "-DCMAKE_POSITION_INDEPENDENT_CODE=ON", f"-DCMAKE_PREFIX_PATH={prefix}", f"-DCMAKE_INSTALL_PREFIX={prefix}",
         "-DCMAKE_INSTALL_LIBDIR=lib", *(option.format(source=source) for option in library.cmake_options)]
    )  # fmt: skip
    quiet(["cmake", "--build", build])
    quiet(["cmake", "--install", build])


def make_tools(zig: pathlib.Path, target: str) -> dict[str, str]:
    return {
        "CC": f"{zig} cc -target {target} -mcpu=baseline -fomit-frame-pointer",  # as the toolchain file
        "AR": f"{zig} ar",
        "RANLIB": f"{zig} ranlib",
        "CFLAGS": "-O2 -fPIC",
    }


def build_with_configure(source: pathlib.Path, prefix: pathlib.Path, zig: pathlib.Path, target: str) -> None:
    """zlib's own configure script, for its static library only."""
    environment = {**os.environ, **make_tools(zig, target)}
    quiet(["./configure", "--static", f"--prefix={prefix}"], cwd=source, env=environment)
    quiet(["make", "libz.a"], cwd=source, env=environment)
    quiet(["make", "install"], cwd=source, env=environment)


def build_with_makefile(library: Library, source: pathlib.Path, prefix: pathlib.Path, zig: pathlib.Path,
                        target: str) -> None:  # fmt: skip
    """libdeflate's Makefile, for its static library only (its install
    target would build its programs too), and its pkg-config file."""
    quiet(["make", "libdeflate.a", *(f"{name}={value}" for name, value in make_tools(zig, target).items())],
          cwd=source)  # fmt: skip
    for folder, file in (("lib", "libdeflate.a"), ("include", "libdeflate.h")):
        (prefix / folder).mkdir(parents=True, exist_ok=True)
        shutil.copy2(source / file, prefix / folder)
    values = {"PREFIX": prefix, "LIBDIR": prefix / "lib", "INCDIR": prefix / "include",
              "VERSION": library.debian_version.split("-")[0]}  # fmt: skip
    pc = (source / "libdeflate.pc.in").read_text()
    for name, value in values.items():
        pc = pc.replace(f"@{name}@", str(value))
    (prefix / "lib" / "pkgconfig").mkdir(parents=True, exist_ok=True)
    (prefix / "lib" / "pkgconfig" / "libdeflate.pc").write_text(pc)


def build_libraries(zig: pathlib.Path, target: str, prefix: pathlib.Path) -> None:
    sources = DebianSources(cache_root() / "apt")
    tarballs = [source_tarball(library, sources) for library in LIBRARIES]
    # Built into a folder of its own, renamed into place when all are done.
    with tempfile.TemporaryDirectory(dir=prefix.parent) as scratch:
        staging = pathlib.Path(scratch) / "prefix"
        for library, tarball in zip(LIBRARIES, tarballs):
            log(f"building {library.name} for {target}")
            source = unpack(tarball, pathlib.Path(scratch) / library.name)
            if library.build == "cmake":
                build_with_cmake(library, source, staging, zig, target)
            elif library.build == "configure":
                build_with_configure(source, staging, zig, target)
            else:
                build_with_makefile(library, source, staging, zig, target)
            licences = staging / "share" / "licenses" / library.name
            licences.mkdir(parents=True, exist_ok=True)
            for name in library.licences:
                shutil.copy2(source / name, licences / name)
        # The pkg-config files name the staging folder: make them relative to
        # where they lie (CMake's package files already are).
        for pc in (staging / "lib" / "pkgconfig").glob("*.pc"):
            pc.write_text(pc.read_text().replace(str(staging), "${pcfiledir}/../.."))
        staging.rename(prefix)


BUILD_STEPS = (build_libraries, build_with_cmake, make_tools, build_with_configure, build_with_makefile, unpack)


def cache_key(zig: pathlib.Path, target: str) -> str:
    """A digest of what shapes the built libraries: the pins and options,
    the build steps, the toolchain file, Zig's version and the target."""
    steps = [inspect.getsource(step) for step in BUILD_STEPS]
    parts = [repr(LIBRARIES), *steps, TOOLCHAIN.read_text(), zig_version(zig), target]
    key = hashlib.sha256()
    for part in parts:
        key.update(hashlib.sha256(part.encode()).digest())
    return key.hexdigest()[:16]


def static_libraries(zig: pathlib.Path, target: str) -> pathlib.Path:
    """The prefix holding the libraries built for `target`: lib/, include/,
    their CMake and pkg-config files, and share/licenses/<library>/."""
    prefix = cache_root() / "libraries" / f"{target}-{cache_key(zig, target)}"
    prefix.parent.mkdir(parents=True, exist_ok=True)
    # The cache is shared by every clone on the machine: one build at a time.
    with open(prefix.parent / f"{target}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not prefix.is_dir():
            build_libraries(zig, target, prefix)
    return prefix
