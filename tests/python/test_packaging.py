"""The extension module as built, and the wheel (built once per run by
scripts/build_wheel.py, which reuses one in dist/ built from the same
sources) in a new virtual environment, run where Debian's copies of the
libraries it bundles cannot load; its types; and the source build's message
when libraries are missing."""

import __future__

import inspect
import json
import os
import pathlib
import platform
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
from imaging import ROOT, SCREENS, png_bytes
from screens import run

import quorvane

EXAMPLE = ROOT / "examples" / "typed_usage.py"
STUBS = ROOT / "python" / "quorvane-stubs" / "__init__.pyi"
BUILD_DIR = pathlib.Path(quorvane.__file__).parent
PAIR = (SCREENS / "page_baseline.png", SCREENS / "page_inserted_banner.png")


def test_version_is_the_packages():
    declared = re.search(r'^version = "(.*)"$', (ROOT / "pyproject.toml").read_text(), re.MULTILINE)
    assert quorvane.__version__ == declared.group(1)


def test_extension_is_one_abi3_object_exporting_only_its_initialiser():
    assert quorvane.__file__.endswith("quorvane.abi3.so")
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    listing = subprocess.run(
        [nm, "-D", "--defined-only", quorvane.__file__], capture_output=True, text=True, check=True
    ).stdout
    assert [line.split()[-1] for line in listing.splitlines() if line.strip()] == ["PyInit_quorvane"]


def clean_env(**extra):
    """This environment without what would put the source tree's module or
    a sanitizer runtime into a child process."""
    dropped = {"PYTHONPATH", "PYTHONHOME", "LD_PRELOAD", "LD_LIBRARY_PATH", "PYTHONMALLOC"}
    return {**{key: value for key, value in os.environ.items() if key not in dropped}, **extra}


@pytest.fixture(scope="module")
def wheel():
    if os.environ.get("QUORVANE_SANITIZED"):
        pytest.skip("the wheel is the release build, tested by the plain run")
    build = subprocess.run(
        [sys.executable, str(ROOT / "scripts" / "build_wheel.py")], capture_output=True, text=True, env=clean_env()
    )
    assert build.returncode == 0, build.stdout + build.stderr
    return pathlib.Path(build.stdout.splitlines()[-1])


@pytest.fixture(scope="module")
def venv(wheel, tmp_path_factory):
    """A new virtual environment with only the wheel installed."""
    root = tmp_path_factory.mktemp("venv")
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", str(root)], check=True)
    subprocess.run(
        [
            sys.executable,
            "-m",
            "pip",
            "--python",
            str(root / "bin" / "python"),
            "install",
            "--no-deps",
            "--no-index",
            "-q",
            str(wheel),
        ],
        check=True,
        capture_output=True,
        env=clean_env(),
    )
    return root


def site_packages(venv):
    query = "import sysconfig; print(sysconfig.get_path('purelib'))"
    return subprocess.run(
        [venv / "bin" / "python", "-c", query], check=True, capture_output=True, text=True, env=clean_env()
    ).stdout.strip()


def test_wheel_is_abi3_for_this_glibc(wheel):
    # Its contents are checked by use: the stubs and py.typed by mypy, the plugin by pytest.
    assert re.fullmatch(rf"quorvane-1\.3\.1-cp310-abi3-manylinux_\d+_\d+_{platform.machine()}\.whl", wheel.name)


def debian_copies(wheel):
    """Every shared object of the Debian packages from which auditwheel took
    the wheel's bundled libraries (its SBOM names them)."""
    with zipfile.ZipFile(wheel) as archive:
        names = archive.namelist()
        (sbom,) = [name for name in names if name.endswith(".dist-info/sboms/auditwheel.cdx.json")]
        components = json.loads(archive.read(sbom))["components"]
    packages = [component["name"] for component in components if component["purl"].startswith("pkg:deb/")]
    if packages and shutil.which("dpkg-query") is None:
        pytest.skip("the bundled libraries come from Debian packages, but dpkg-query is missing to list them")
    listed = (
        subprocess.run(["dpkg-query", "-L", *packages], check=True, capture_output=True, text=True).stdout
        if packages
        else ""
    )
    copies = sorted(
        {
            os.path.realpath(path)
            for path in listed.splitlines()
            if ".so" in os.path.basename(path) and os.path.isfile(path)
        }
    )
    # auditwheel names a bundled library after the file it copied, with a hash.
    bundled = {
        re.sub(r"-[0-9a-f]{8}(?=\.so)", "", name.rsplit("/", 1)[1])
        for name in names
        if re.match(r"[^/]+\.libs/.", name)
    }
    unmatched = bundled - {os.path.basename(copy) for copy in copies}
    if unmatched:
        pytest.skip(f"no system copy to hide was found for the bundled {', '.join(sorted(unmatched))}")
    return copies


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
def hidden(wheel):
    hidden = debian_copies(wheel)
    probe = run_hiding(hidden, ["true"]) if shutil.which("unshare") else None
    if probe is None or probe.returncode != 0:
        reason = probe.stderr.strip() if probe else "unshare is missing"
        pytest.skip(
            f"cannot hide Debian's copies of the bundled libraries from a process ({reason}); "
            "unshare --mount and mount --bind need root"
        )
    return hidden


def test_wheel_runs_where_debian_copies_of_its_libraries_cannot_load(venv, hidden, tmp_path, capsys):
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

    # A comparison, thumbnails, every class and the command: the same
    # output and files as from the build tree.
    from_wheel = run_hiding(hidden, [python, EXAMPLE, *PAIR, tmp_path / "wheel"])
    from_tree = subprocess.run(
        [sys.executable, EXAMPLE, *PAIR, tmp_path / "tree"],
        capture_output=True,
        text=True,
        env=clean_env(PYTHONPATH=os.pathsep.join([str(BUILD_DIR), str(ROOT / "python")])),
    )
    assert from_wheel.returncode == 0, from_wheel.stderr
    assert (from_wheel.returncode, from_wheel.stdout) == (from_tree.returncode, from_tree.stdout)
    for name in ("diff.png", "current.webp", "baseline.webp"):
        assert (tmp_path / "wheel" / name).read_bytes() == (tmp_path / "tree" / name).read_bytes(), name

    command = run_hiding(hidden, [venv / "bin" / "quorvane", "compare", *PAIR])  # the console script
    assert (command.returncode, command.stdout, command.stderr) == run(capsys, "compare", *PAIR)


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
    mypy = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--python-executable",
            str(venv / "bin" / "python"),
            "--cache-dir",
            str(tmp_path / "cache"),
            str(EXAMPLE),
        ],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        env=clean_env(),
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
    )
    instances = {
        type(instance).__name__: instance
        for instance in (
            pair,
            alignment,
            alignment.segments[0],
            alignment.bands[0],
            clusters,
            clusters.clusters[0],
            clusters.clusters[0].bbox,
            *errors,
        )
    }
    arguments = {
        **inputs,
        "png_bytes": inputs["baseline_png"],
        "ignore": inputs["regions"],
        "max_diffs": 5,
        "baseline_width": 8,
        "baseline_height": 12,
        "current_width": 8,
        "current_height": 14,
    }

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
    assert {
        "compare_batch",
        "Comparison.__new__",
        "Comparison.batch",
        "Comparison.width",
        "Comparison.diff_image",
        "Cluster.bbox",
    } <= checked.keys()
    assert [label for label, matches in checked.items() if not matches] == []


def test_source_build_names_each_missing_library_with_its_packages(tmp_path):
    # oneTBB hidden from find_package, and every pkg-config module (libwebp, libdeflate) from pkg-config.
    (tmp_path / "no-pkgconfig").mkdir()
    configure = subprocess.run(
        [
            "cmake",
            "-S",
            str(ROOT),
            "-B",
            str(tmp_path / "build"),
            "-G",
            "Ninja",
            "-DCMAKE_DISABLE_FIND_PACKAGE_TBB=ON",
            f"-DPython_EXECUTABLE={sys.executable}",
        ],
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
