"""The extension module as built; the release wheels as `make wheel` builds
them with Debian's own python3 (scripts/build_wheel.py keeps those in dist/
while the sources are unchanged): what their modules link and export, the
x86_64 one in a new virtual environment where the machine's copies of the
libraries cannot load, the aarch64 one under qemu with Debian's arm64
CPython, both giving every output of the development build; the module's
types; and the source build's message when libraries are missing."""

import __future__

import inspect
import json
import os
import pathlib
import re
import shlex
import shutil
import subprocess
import sys
import types
import typing
import zipfile

import numpy as np
import pytest
from entry_calls import make_inputs
from imaging import ROOT, SCREENS, pixels, png_bytes
from screens import run

import quorvane

EXAMPLE = ROOT / "examples" / "typed_usage.py"
DIGEST = pathlib.Path(__file__).with_name("output_digest.py")
STUBS = ROOT / "python" / "quorvane-stubs" / "__init__.pyi"
BUILD_DIR = pathlib.Path(quorvane.__file__).parent
PAIR = (SCREENS / "page_baseline.png", SCREENS / "page_inserted_banner.png")
VERSION = re.search(r'^version = "(.*)"$', (ROOT / "pyproject.toml").read_text(), re.MULTILINE).group(1)
PROCESSORS = ("x86_64", "aarch64")


def test_version_is_the_packages():
    assert quorvane.__version__ == VERSION


def clean_env(**extra):
    """This environment without what would put the source tree's module or
    a sanitizer runtime into a child process, or tie a make to ours."""
    dropped = {"PYTHONPATH", "PYTHONHOME", "LD_PRELOAD", "LD_LIBRARY_PATH", "PYTHONMALLOC", "MAKEFLAGS", "MAKELEVEL"}
    return {**{key: value for key, value in os.environ.items() if key not in dropped}, **extra}


@pytest.fixture(scope="module")
def wheels():
    """The wheels by processor, built as the README says, with the system's
    own interpreter where it is Debian's (which refuses installs)."""
    if os.environ.get("QUORVANE_SANITIZED"):
        pytest.skip("the wheels are the release build, tested by the plain run")
    python = "/usr/bin/python3" if os.access("/usr/bin/python3", os.X_OK) else sys.executable
    build = subprocess.run(
        ["make", "wheel", f"PYTHON={python}"], cwd=ROOT, capture_output=True, text=True, env=clean_env()
    )
    assert build.returncode == 0, build.stdout[-3000:] + build.stderr[-3000:]
    built = [pathlib.Path(line) for line in build.stdout.splitlines() if line.endswith(".whl")]
    return {processor: wheel for wheel in built for processor in PROCESSORS if wheel.stem.endswith(processor)}


@pytest.fixture(scope="module")
def venv(wheels, tmp_path_factory):
    """A new virtual environment with only the x86_64 wheel installed."""
    if os.uname().machine != "x86_64":
        pytest.skip("the x86_64 wheel runs on x86_64 machines")
    root = tmp_path_factory.mktemp("venv")
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", str(root)], check=True)
    subprocess.run(
        [sys.executable, "-m", "pip", "--python", str(root / "bin" / "python"), "install", "--no-deps", "--no-index",
         "-q", str(wheels["x86_64"])],
        check=True, capture_output=True, env=clean_env(),
    )  # fmt: skip
    return root


def site_packages(venv):
    query = "import sysconfig; print(sysconfig.get_path('purelib'))"
    return subprocess.run(
        [venv / "bin" / "python", "-c", query], check=True, capture_output=True, text=True, env=clean_env()
    ).stdout.strip()


def dynamic_symbols(module):
    """(name, version, binding, defined) of each dynamic symbol, as readelf reads them."""
    listing = subprocess.run(["readelf", "-W", "--dyn-syms", module], capture_output=True, text=True, check=True)
    rows = [line.split() for line in listing.stdout.splitlines()]
    symbols = [row for row in rows if len(row) >= 8 and row[0][:-1].isdigit()]
    return [(*row[7].partition("@")[::2], row[4], row[6] != "UND") for row in symbols]


@pytest.mark.parametrize("processor", PROCESSORS)
def test_wheel_needs_only_glibc_2_17_and_python_and_exports_only_its_initialiser(wheels, processor, tmp_path):
    if shutil.which("readelf") is None:
        pytest.skip("readelf is not installed (Debian's binutils)")
    wheel = wheels[processor]
    assert wheel.name == f"quorvane-{VERSION}-cp310-abi3-manylinux2014_{processor}.manylinux_2_17_{processor}.whl"
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
        module = pathlib.Path(archive.extract("quorvane.abi3.so", tmp_path))
    # Nothing copied in beside the module (auditwheel then writes no bill of
    # materials): every library is linked into it, and the licences of all
    # of them and of Zig's C++ runtime come along.
    assert [name for name in names if name.startswith("quorvane.libs/") or "/sboms/" in name] == []
    licences = {name.split("/")[2] for name in names if re.match(r"quorvane-[^/]*\.dist-info/licenses/[^/]+/", name)}
    assert licences == {"zlib", "libpng", "libwebp", "libdeflate", "oneTBB", "libcxx", "libcxxabi", "libunwind", "zig"}

    dynamic = subprocess.run(["readelf", "-W", "-d", module], capture_output=True, text=True, check=True).stdout
    needed = set(re.findall(r"\(NEEDED\)\s+Shared library: \[(.*)\]", dynamic))
    glibc_libraries = {"libc.so.6", "libm.so.6", "libpthread.so.0", "libdl.so.2"}
    assert {name for name in needed if not name.startswith("ld-linux")} <= glibc_libraries
    symbols = dynamic_symbols(module)
    assert [name for name, _, binding, defined in symbols if defined and binding != "LOCAL"] == ["PyInit_quorvane"]
    undefined = [(name, version) for name, version, binding, defined in symbols if not defined and binding != "WEAK"]
    python = ("Py", "_Py")
    foreign = [name for name, version in undefined if not version.startswith("GLIBC_") and not name.startswith(python)]
    assert foreign == []
    glibc = {tuple(map(int, version[6:].split("."))) for _, version, _, _ in symbols if version.startswith("GLIBC_")}
    assert max(glibc) <= (2, 17)


@pytest.fixture(scope="module")
def development_outputs(tmp_path_factory):
    return digest_outputs(tmp_path_factory.mktemp("development"), sys.executable, PYTHONPATH=str(BUILD_DIR))


def digest_outputs(out_dir, python, **environment):
    """The output digest's text, and the folder of its files."""
    digest = subprocess.run([python, DIGEST, out_dir], capture_output=True, text=True, env=clean_env(**environment))
    assert digest.returncode == 0, digest.stderr
    return digest.stdout, out_dir


def assert_same_outputs(digest, out_dir, expected_outputs, encoded_alike):
    """The digest's figures and files as expected. A WebP file holds the same
    pixels, and the same bytes only where one libwebp encoded both: the
    wheels link one release, the development build the machine's."""
    expected, expected_dir = expected_outputs
    assert digest.returncode == 0, digest.stderr
    assert json.loads(digest.stdout) == json.loads(expected)
    names = sorted(path.name for path in expected_dir.iterdir())
    assert sorted(path.name for path in out_dir.iterdir()) == names
    for name in names:
        ours, theirs = (out_dir / name).read_bytes(), (expected_dir / name).read_bytes()
        if name.endswith(".webp") and not encoded_alike:
            assert (pixels(ours, "RGBA") == pixels(theirs, "RGBA")).all(), name
        else:
            assert ours == theirs, name


def hidden_libraries():
    """The machine's copies of the libraries the development build links,
    besides the C and C++ runtimes (and zlib, which the interpreter's own
    modules load)."""
    if shutil.which("ldd") is None:
        pytest.skip("ldd is missing to list the development build's libraries")
    listing = subprocess.run(["ldd", quorvane.__file__], capture_output=True, text=True, check=True).stdout
    runtime = ("libc.so", "libm.so", "libpthread.so", "libdl.so", "ld-linux", "libstdc++", "libgcc_s", "libz.so")
    paths = re.findall(r"=> (/\S+)", listing)
    return sorted({os.path.realpath(path) for path in paths if not os.path.basename(path).startswith(runtime)})


def run_hiding(hidden, argv, **kwargs):
    """Runs argv in its own mount namespace where each hidden file reads as
    /dev/null, so the loader cannot use it."""
    mounts = "".join(f"mount --bind /dev/null {shlex.quote(path)} && " for path in hidden)
    return subprocess.run(
        ["unshare", "--mount", "sh", "-c", mounts + 'exec "$@"', "sh", *map(str, argv)],
        capture_output=True,
        text=True,
        env=clean_env(),
        **kwargs,
    )


@pytest.fixture(scope="module")
def hidden(venv):
    hidden = hidden_libraries()
    probe = run_hiding(hidden, ["true"]) if shutil.which("unshare") else None
    if probe is None or probe.returncode != 0:
        reason = probe.stderr.strip() if probe else "unshare is missing"
        pytest.skip(
            f"cannot hide the machine's copies of the libraries from a process ({reason}); "
            "unshare --mount and mount --bind need root"
        )
    return hidden


def test_wheel_runs_where_the_machines_libraries_cannot_load(venv, hidden, development_outputs, tmp_path, capsys):
    python = venv / "bin" / "python"
    where = (
        "import ctypes, sys\n"
        "for path in sys.argv[2:]:\n"
        "    try: ctypes.CDLL(path)\n"
        "    except OSError: continue\n"
        "    sys.exit(path + ' still loads')\n"
        "import quorvane, quorvane_cli\n"
        "assert all(module.__file__.startswith(sys.argv[1]) for module in (quorvane, quorvane_cli))\n"
    )
    probe = run_hiding(hidden, [python, "-c", where, site_packages(venv), *hidden])
    assert probe.returncode == 0, probe.stderr

    # Every figure and file of the comparison set, and what the typed example
    # and the command print, as from the development build.
    digest = run_hiding(hidden, [python, DIGEST, tmp_path / "digest"])
    assert_same_outputs(digest, tmp_path / "digest", development_outputs, encoded_alike=False)
    from_wheel = run_hiding(hidden, [python, EXAMPLE, *PAIR, tmp_path / "wheel"])
    from_tree = subprocess.run(
        [sys.executable, EXAMPLE, *PAIR, tmp_path / "tree"],
        capture_output=True,
        text=True,
        env=clean_env(PYTHONPATH=os.pathsep.join([str(BUILD_DIR), str(ROOT / "python")])),
    )
    assert from_wheel.returncode == 0, from_wheel.stderr
    assert (from_wheel.returncode, from_wheel.stdout) == (from_tree.returncode, from_tree.stdout)

    command = run_hiding(hidden, [venv / "bin" / "quorvane", "compare", *PAIR])  # the console script
    assert (command.returncode, command.stdout, command.stderr) == run(capsys, "compare", *PAIR)


VECTOR_PROBE = """
import sys, quorvane
[text] = [line.split()[0] for line in open("/proc/self/maps") if "quorvane.abi3.so" in line and " r-xp " in line]
png = open(sys.argv[1], "rb").read()
thumbnail, changed = quorvane.thumbnail(png, width=200), quorvane.Comparison(png, png).diff_count()
print("0x" + text.replace("-", "..0x"), thumbnail.hex(), changed)
"""


def test_x86_64_wheel_takes_the_vector_paths_a_processor_has(venv, tmp_path):
    # Under qemu, which offers a processor with AVX2 or without it and logs
    # the instructions run from the module's code: AVX registers exactly
    # when the processor has them, and the same results either way.
    if shutil.which("qemu-x86_64-static") is None:
        pytest.skip("qemu-x86_64-static is missing (Debian's qemu-user-static; make test installs it)")
    probe = [venv / "bin" / "python", "-c", VECTOR_PROBE, PAIR[0]]

    def under_qemu(cpu, *log):
        command = ["qemu-x86_64-static", "-cpu", cpu, *log, *probe]
        run = subprocess.run(command, capture_output=True, text=True, env=clean_env())
        assert run.returncode == 0, run.stderr
        return run.stdout

    text, *results = under_qemu("max").split(maxsplit=1)  # where the module's code lies, the same in every run
    wide = {}
    for cpu in ("max", "max,-avx2"):
        log = tmp_path / f"{cpu}.log"
        assert under_qemu(cpu, "-d", "in_asm", "-dfilter", text, "-D", str(log)).split(maxsplit=1)[1:] == results
        wide[cpu] = "ymm" in log.read_text()
    assert wide == {"max": True, "max,-avx2": False}


ARM64_PYTHON = ("python3.11-minimal", "libpython3.11-minimal", "libpython3.11-stdlib", "libc6", "libexpat1", "zlib1g")


@pytest.fixture(scope="module")
def arm64_python(tmp_path_factory):
    """Debian's arm64 CPython 3.11, its packages unpacked into a folder of
    this test's own, fetched by an apt of the test's own (its own lists and
    architecture), so the machine's package architectures stay as they are."""
    if shutil.which("qemu-aarch64-static") is None:
        pytest.skip("qemu-aarch64-static is missing (Debian's qemu-user-static; make test installs it)")
    if shutil.which("apt-get") is None or shutil.which("dpkg") is None:
        pytest.skip("apt-get and dpkg are missing to fetch Debian's arm64 CPython")
    folder = tmp_path_factory.mktemp("arm64")
    for part in ("etc", "lists/partial", "cache/archives/partial", "debs", "root"):
        (folder / part).mkdir(parents=True)
    (folder / "etc" / "debian.sources").write_text(
        "".join(
            f"Types: deb\nURIs: http://deb.debian.org/{archive}\nSuites: {suites}\nComponents: main\n"
            "Architectures: arm64\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n\n"
            for archive, suites in (("debian", "bookworm bookworm-updates"), ("debian-security", "bookworm-security"))
        )
    )
    options = [
        "-oDir::Etc::SourceList=/dev/null", f"-oDir::Etc::SourceParts={folder / 'etc'}",
        f"-oDir::State::Lists={folder / 'lists'}", f"-oDir::Cache={folder / 'cache'}", "-oDir::State::status=/dev/null",
        "-oAPT::Architecture=arm64", "-oAPT::Architectures::=arm64", "-oDebug::NoLocking=1",
        "-oAPT::Sandbox::User=root" if os.getuid() == 0 else "-oAPT::Sandbox::User=",
    ]  # fmt: skip
    for command in (["update"], ["download", *ARM64_PYTHON]):
        fetch = subprocess.run(
            ["apt-get", "-q", *options, *command], cwd=folder / "debs", capture_output=True, text=True
        )
        if fetch.returncode != 0:
            pytest.skip(f"Debian's arm64 packages cannot be fetched: {fetch.stderr.strip()[-300:]}")
    for deb in (folder / "debs").glob("*.deb"):
        subprocess.run(["dpkg", "-x", deb, folder / "root"], check=True)
    return folder / "root"


@pytest.fixture(scope="module")
def wheel_outputs(venv, tmp_path_factory):
    return digest_outputs(tmp_path_factory.mktemp("wheel"), venv / "bin" / "python")


def test_aarch64_wheel_under_qemu_gives_the_x86_64_outputs(wheels, arm64_python, wheel_outputs, tmp_path):
    with zipfile.ZipFile(wheels["aarch64"]) as archive:
        archive.extractall(tmp_path / "site")
    digest = subprocess.run(
        ["qemu-aarch64-static", "-L", arm64_python, arm64_python / "usr" / "bin" / "python3.11", DIGEST,
         tmp_path / "digest"],
        capture_output=True, text=True, env=clean_env(PYTHONPATH=str(tmp_path / "site")),
    )  # fmt: skip
    assert_same_outputs(digest, tmp_path / "digest", wheel_outputs, encoded_alike=True)


def test_pytest_finds_the_plugin_of_the_installed_wheel(venv, tmp_path):
    # By the name of its entry point, other plugins of the machine left out;
    # Playwright and Selenium stay unimported until a target of theirs comes.
    page = SCREENS / "page_baseline.png"
    (tmp_path / "test_shot.py").write_text(
        "import sys\n\ndef test_shot(assert_screenshot):\n"
        "    assert not {'playwright', 'selenium'} & {name.split('.')[0] for name in sys.modules}\n"
        f"    assert_screenshot({str(page)!r})\n"
    )
    run = subprocess.run(
        [sys.executable, "-m", "pytest", "-q", "-p", "quorvane", "-p", "no:cacheprovider", "test_shot.py"],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        env=clean_env(PYTHONPATH=site_packages(venv), PYTEST_DISABLE_PLUGIN_AUTOLOAD="1"),
    )
    assert "screenshot test_shot.png: no baseline" in run.stdout, run.stdout + run.stderr


def test_stubs_and_types_check_against_the_installed_module(venv, tmp_path):
    stubtest = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "quorvane"],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        env=clean_env(PYTHONPATH=site_packages(venv)),
    )
    assert stubtest.returncode == 0, stubtest.stdout + stubtest.stderr
    options = ["--strict", "--python-executable", venv / "bin" / "python", "--cache-dir", tmp_path / "cache"]
    mypy = subprocess.run(
        [sys.executable, "-m", "mypy", *options, EXAMPLE], capture_output=True, text=True, cwd=tmp_path, env=clean_env()
    )
    assert mypy.returncode == 0, mypy.stdout + mypy.stderr


def conforms(value, hint):
    origin, args = typing.get_origin(hint), typing.get_args(hint)
    if origin in (typing.Union, types.UnionType):
        return any(conforms(value, arg) for arg in args)
    if origin is typing.Literal:
        return value in args
    if origin is list:
        return type(value) is list and all(conforms(item, args[0]) for item in value)
    if origin is tuple:
        return type(value) is tuple and len(value) == len(args) and all(map(conforms, value, args))
    if hint is type(None):
        return value is None
    # Exact types: a bool is no int and an int no float here.
    return type(value).__module__ in ("builtins", "quorvane") and type(value).__qualname__ == hint.__qualname__


def test_stub_result_types_are_what_the_module_returns():
    # The stubs run as Python, their annotations kept as text to resolve later.
    stubs = {"__name__": "quorvane"}
    exec(compile(STUBS.read_text(), str(STUBS), "exec", flags=__future__.annotations.compiler_flag), stubs)
    inputs = make_inputs()
    pair, alignment, clusters = inputs["pair"], inputs["alignment"], inputs["clusters"]

    def raised(call):
        try:
            call()
        except ValueError as error:
            return error
        raise AssertionError("no error")

    too_tall = png_bytes(np.zeros((17000, 1, 4), np.uint8))  # WebP holds 16383 rows
    errors = (
        raised(lambda: quorvane.Comparison(inputs["baseline_png"], inputs["junk"])),
        raised(lambda: quorvane.check_regions(inputs["bad_regions"])),
        raised(lambda: quorvane.thumbnail(too_tall)),
        raised(lambda: quorvane.Comparison.from_rgba(b"", 0, 0, bytes(4), 1, 1).aligned_ssim(alignment)),
        raised(lambda: quorvane.Comparison(inputs["baseline_png"], inputs["baseline_png"], memory_limit=0)),
    )
    results = (pair, alignment, alignment.segments[0], alignment.bands[0], clusters, clusters.clusters[0])
    instances = {type(instance).__name__: instance for instance in (*results, clusters.clusters[0].bbox, *errors)}
    sizes = {"baseline_width": 8, "baseline_height": 12, "current_width": 8, "current_height": 14}
    sizes |= {"width": 6, "height": 5}  # of resize_png
    arguments = {**inputs, "png_bytes": inputs["baseline_png"], "ignore": inputs["regions"], "max_diffs": 5, **sizes}

    def result_conforms(runtime, stub):
        """The runtime callable given the stub's required arguments."""
        required = [
            name
            for name, parameter in inspect.signature(stub).parameters.items()
            if parameter.default is parameter.empty and name not in ("self", "cls")
        ]
        result = runtime(**{name: arguments[name] for name in required})
        return conforms(result, typing.get_type_hints(stub, stubs)["return"])

    checked = {}
    for name, stub in stubs.items():
        if isinstance(stub, types.FunctionType) and stub.__module__ == "quorvane":
            checked[name] = result_conforms(getattr(quorvane, name), stub)
        elif isinstance(stub, type) and stub.__module__ == "quorvane":
            runtime, instance = getattr(quorvane, name), instances[name]
            for member_name, member in vars(stub).items():
                label = f"{name}.{member_name}"
                if isinstance(member, property):
                    checked[label] = conforms(
                        getattr(instance, member_name), typing.get_type_hints(member.fget, stubs)["return"]
                    )
                elif member_name == "__new__":  # a static method too, called through the class
                    checked[label] = result_conforms(runtime, member.__func__)
                elif isinstance(member, (staticmethod, classmethod)):
                    checked[label] = result_conforms(getattr(runtime, member_name), member.__func__)
                elif isinstance(member, types.FunctionType):
                    checked[label] = result_conforms(getattr(instance, member_name), member)
    assert {"compare_batch", "Comparison.__new__", "Comparison.batch", "Comparison.width"} <= checked.keys()
    assert {"Comparison.diff_image", "Cluster.bbox"} <= checked.keys()
    assert [label for label, matches in checked.items() if not matches] == []


def test_source_build_names_each_missing_library_with_its_packages(tmp_path):
    # oneTBB hidden from find_package, and every pkg-config module (libwebp, libdeflate) from pkg-config.
    (tmp_path / "no-pkgconfig").mkdir()
    options = ["-G", "Ninja", "-DCMAKE_DISABLE_FIND_PACKAGE_TBB=ON", f"-DPython_EXECUTABLE={sys.executable}"]
    configure = subprocess.run(
        ["cmake", "-S", ROOT, "-B", tmp_path / "build", *options],
        capture_output=True,
        text=True,
        env=clean_env(PKG_CONFIG_LIBDIR=str(tmp_path / "no-pkgconfig"), PKG_CONFIG_PATH=""),
    )
    assert configure.returncode != 0
    error = configure.stderr
    assert (
        "quorvane cannot be built: these libraries were not found.\n\n"
        "    oneTBB: Debian package libtbb-dev, or tbb-devel from PyPI\n"
        "    libwebp: Debian package libwebp-dev\n"
        "    libdeflate: Debian package libdeflate-dev\n"
    ) in error
    assert "sudo apt-get install libtbb-dev libwebp-dev libdeflate-dev\n" in error
    # One error, no trace or warning from inside CMake's own modules.
    assert error.count("CMake Error") == 1 and "Call Stack" not in error and "Warning" not in error
