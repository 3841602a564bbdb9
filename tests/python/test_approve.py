"""`quorvane approve` on a report's results folder: which baselines each
selection writes or deletes, what it refuses, the manifest it reads, and
baselines that stay whole when the process is killed at any moment."""

import hashlib
import json
import pathlib
import random
import shutil
import subprocess
import sys

import pytest
import screens
from conftest import CHILD_ENV

from quorvane_cli import manifest

CHANGED, SHIFTED, NEW, MISSING = "docs/changed.png", "docs/shifted.png", "new.png", "old.png"


def baselines(root):
    return {path.relative_to(root).as_posix(): path.read_bytes() for path in root.rglob("*") if path.is_file()}


@pytest.mark.parametrize(
    "arguments, written, deleted, status",
    [
        ([CHANGED], {CHANGED}, set(), 0),
        (["docs/*"], {CHANGED, SHIFTED}, set(), 0),
        (["--all"], {CHANGED, SHIFTED, NEW}, set(), 0),  # the missing pair's baseline stays
        (["--all", "--delete-missing"], {CHANGED, SHIFTED, NEW}, {MISSING}, 0),
        (["--all", "--delete-missing", "--dry-run"], set(), set(), 0),
        (["home.png", "broken.png"], set(), set(), 1),  # nothing to accept
        (["nothing/*", NEW], {NEW}, set(), 2),  # what matches is written, then status 2
        ([], set(), set(), 2),
        (["--from", "approvals.json"], {SHIFTED, NEW}, set(), 0),
    ],
)
@pytest.mark.parametrize("moved", [False, True], ids=["in place", "moved with --root"])
def test_selection_writes_the_current_images_over_the_baselines(
    results, capsys, arguments, written, deleted, status, moved
):
    folder, root = results.out, results.root / "baseline"
    if moved:  # downloaded onto another machine: both folders elsewhere
        shutil.move(folder, results.root / "elsewhere results")
        shutil.move(root, results.root / "checkout")
        folder, root = results.root / "elsewhere results", results.root / "checkout"
        arguments = [*arguments, "--root", str(root)]
    (results.root / "approvals.json").write_text(
        json.dumps({"format": "quorvane approvals", "version": 1, "pairs": [SHIFTED, NEW]})
    )
    before = baselines(root)
    assert screens.run(capsys, "approve", folder, *arguments)[0] == status
    current = {name: pair[1] for name, pair in results.pages.items()}
    expected = {name: data for name, data in before.items() if name not in deleted}
    expected.update(
        {name: (results.root / "current" / name).read_bytes() for name in written if current[name] is not None}
    )
    assert baselines(root) == expected


@pytest.mark.parametrize(
    "tampered, name, force, message",
    [
        ("baseline", CHANGED, False, "docs/changed.png changed since the run (--force writes over it)"),
        ("baseline", CHANGED, True, None),
        ("baseline", NEW, False, "new.png was made since the run"),
        ("baseline", NEW, True, None),
        ("accepted", CHANGED, True, "is not the image compared: the results folder is stale or was altered"),
    ],
)
def test_files_changed_since_the_run_are_refused(results, capsys, tampered, name, force, message):
    baseline = results.root / "baseline" / name
    accepted = results.out / manifest.by_name(manifest.read(results.out))[name]["accepted"]
    (baseline if tampered == "baseline" else accepted).write_bytes(b"edited")
    before = baseline.read_bytes()
    code, out, err = screens.run(capsys, "approve", results.out, name, *["--force"] * force)
    if message is None:
        assert (code, baseline.read_bytes()) == (0, (results.root / "current" / name).read_bytes())
    else:
        assert (code, baseline.read_bytes(), err.count("\n")) == (1, before, 1) and message in err
        assert out == "0 baselines written, 0 deleted, 0 kept, 1 refused\n"


def changed_pair(index, old, new):
    name = f"shots/{index:03d}.png"
    outcome = dict(status="changed", passed=False, passed_with_shifts=False, failures=["changed"], error=None)
    files = {"baseline": name, "baseline_sha256": hashlib.sha256(old).hexdigest(), "accepted": f"images/{index}.png"}
    files["accepted_sha256"] = hashlib.sha256(new).hexdigest()
    limits = {**dict.fromkeys(manifest.Limits.__annotations__), "allow_shifts": False}
    figures, images = dict.fromkeys(manifest.Figures.__annotations__), manifest.no_images()
    return {"name": name, "title": name, **outcome, **files, "limits": limits, "figures": figures, "images": images}


def test_baselines_stay_whole_when_approve_is_killed_at_any_moment(tmp_path):
    rng, pairs, checkout = random.Random(27), [], tmp_path / "checkout"
    versions = {}  # baseline -> (old bytes, new bytes)
    for index in range(200):
        old, new = rng.randbytes(48_000), rng.randbytes(48_000)
        pair = changed_pair(index, old, new)
        screens.write(checkout / pair["baseline"], old)
        screens.write(tmp_path / "results" / pair["accepted"], new)
        versions[pair["baseline"]] = old, new
        pairs.append(pair)
    folders = {"root": str(checkout), "baseline_dir": "checkout", "current_dir": "current"}
    run = {"threshold": 0.1, "include_aa": False, "quorvane": "test", "generated": "now"}
    manifest.write(tmp_path / "results", manifest.build(pairs, made_by="report", **folders, **run))
    command = [sys.executable, "-u", "-m", "quorvane_cli", "approve", str(tmp_path / "results"), "--all"]
    for _ in range(8):
        process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=CHILD_ENV)
        said = [process.stdout.readline().decode() for _ in range(rng.randrange(40))]
        process.kill()  # while it writes the baselines after those it has named
        process.wait()
        process.stdout.close()
        found = baselines(checkout)
        pngs = {name: data for name, data in found.items() if name.endswith(".png")}
        assert pngs.keys() == versions.keys() and all(data in versions[name] for name, data in pngs.items())
        assert all(name.endswith(".tmp") for name in found.keys() - pngs.keys())  # a write cut short
        named = [
            pathlib.Path(line.split()[1]).relative_to(checkout).as_posix() for line in said if line.startswith("wrote")
        ]
        assert all(pngs[name] == versions[name][1] for name in named)
    assert subprocess.run(command, capture_output=True, env=CHILD_ENV).returncode == 0
    assert {name: data for name, data in baselines(checkout).items() if name.endswith(".png")} == {
        name: new for name, (_, new) in versions.items()
    }


def second(**fields):
    """A change of the manifest that sets fields of its second pair."""
    return lambda data: data["pairs"][1].update(**fields)


@pytest.mark.parametrize(
    "change, message",
    [
        (lambda data: data.update(version=2), "{path}: manifest version 2 is not one this quorvane reads (1)"),
        (lambda data: data.update(format="other"), "{path}: not a quorvane results manifest"),
        (second(baseline="../outside.png"), '"../outside.png" is not a relative path below'),
        (second(accepted="/etc/passwd"), 'pairs[1].accepted: "/etc/passwd" is not a relative'),
        (lambda data: data["pairs"][1]["images"].update(diff="a//b.png"), "pairs[1].images.diff:"),
        (second(passed="no"), "{path}: pairs[1].passed: expected bool, not str"),
        (lambda data: data["pairs"][1]["figures"].update(width=True), "pairs[1].figures.width: expected int, not bool"),
        (second(status="fine"), 'pairs[1].status: "fine" is not one of unchanged, changed'),
        (lambda data: data["pairs"][1].pop("limits"), "pairs[1]: limits is missing"),
        (second(accepted_sha256="A" * 64), "pairs[1].accepted_sha256: not a SHA-256"),
        (lambda data: data["pairs"].append(data["pairs"][1]), 'the name "docs/changed.png" stands twice'),
        (
            lambda data: data["pairs"][1]["figures"]["clusters"]["items"].append([]),
            "clusters.items[1]: expected an object",
        ),
        (
            lambda data: data.update(root="/nowhere"),
            "/nowhere: the baselines' folder where the run was made is not here",
        ),
    ],
)
def test_a_malformed_manifest_is_refused_in_one_line(results, capsys, change, message):
    path = results.out / "manifest.json"
    data = json.loads(path.read_text())
    change(data)
    path.write_text(json.dumps(data))
    code, out, err = screens.run(capsys, "approve", results.out, "--all")
    assert (code, out, err.count("\n")) == (2, "", 1) and message.format(path=path) in err
