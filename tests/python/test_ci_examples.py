"""The CI examples of docs/ci run as written: every shell step that needs
no CI service (the installs, both shards, the merge and the summary), in
job order, on this machine against examples/ci_suite, with the wheel and
Debian's Chromium; artifacts stay in place between jobs, as the examples'
paths expect."""

import os
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

import pytest
from conftest import CHROMIUM, ROOT, SANITIZER_VARIABLES
from test_ci import SCHEMA, workflow_command

from quorvane_cli import manifest

yaml = pytest.importorskip("yaml", reason="PyYAML is not installed (requirements-dev.txt)")
SUITE_SCREENSHOTS = {f"__screenshots__/test_pages/{name}.png" for name in ("home", "basket", "checkout", "help")}


def github_steps(document):
    """(job environment, script) of each `run` step, a matrix's jobs one by one."""
    for job in document["jobs"].values():
        for shard in job.get("strategy", {}).get("matrix", {}).get("shard", [None]):
            env = {
                key: str(value).replace("${{ matrix.shard }}", str(shard)) for key, value in job.get("env", {}).items()
            }
            yield from ((env, step["run"]) for step in job["steps"] if "run" in step)


def gitlab_steps(document):
    for job in document.values():
        if isinstance(job, dict) and "script" in job:
            count = job.get("parallel", 1)
            for index in range(1, count + 1):
                env = {"CI_NODE_INDEX": str(index), "CI_NODE_TOTAL": str(count)} if "parallel" in job else {}
                yield env, "\n".join([*job.get("before_script", []), *job["script"]])


@pytest.fixture(scope="module")
def environment(tmp_path_factory):
    """A new virtual environment that sees this interpreter's packages and
    whose pip installs quorvane from the wheel only, never from an index."""
    if os.environ.get("QUORVANE_SANITIZED"):
        pytest.skip("the wheel is the release build, tested by the plain run")
    if CHROMIUM is None or shutil.which("chromium") is None:
        pytest.skip("no Chromium browser installed (Debian's chromium package; make test installs it)")
    pytest.importorskip("playwright", reason="Playwright is not installed")
    plain = {key: value for key, value in os.environ.items() if key not in {"PYTHONPATH", *SANITIZER_VARIABLES}}
    build = subprocess.run(
        [sys.executable, ROOT / "scripts" / "build_wheel.py"], capture_output=True, text=True, env=plain
    )
    assert build.returncode == 0, build.stdout + build.stderr
    wheels = tmp_path_factory.mktemp("wheels")
    for wheel in build.stdout.split():
        shutil.copy(wheel, wheels)  # pip picks the one for this machine
    venv = tmp_path_factory.mktemp("venv")
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", "--without-pip", venv], check=True)
    plain = {key: value for key, value in plain.items() if not key.startswith(("PYTEST", "GITHUB_", "CI"))}
    pip = {"PIP_NO_INDEX": "1", "PIP_DISABLE_PIP_VERSION_CHECK": "1", "PIP_ROOT_USER_ACTION": "ignore"}
    pip["PIP_FIND_LINKS"] = str(wheels)
    path = f"{venv / 'bin'}{os.pathsep}{plain['PATH']}"
    return {**plain, **pip, "PATH": path, "CI_JOB_URL": "https://gitlab.example/shop/-/jobs/7"}


@pytest.mark.parametrize("example, steps", [("github-actions.yml", github_steps), ("gitlab-ci.yml", gitlab_steps)])
def test_ci_example_runs_its_shards_and_merges_them(environment, tmp_path, example, steps):
    workspace = tmp_path / "checkout"
    shutil.copytree(ROOT / "examples" / "ci_suite", workspace)
    summaries, outputs = [], []
    for index, (env, script) in enumerate(steps(yaml.safe_load((ROOT / "docs" / "ci" / example).read_text()))):
        assert "${{" not in script  # what the CI service would fill in
        summaries.append(tmp_path / f"summary-{index}.md")
        step_env = {**environment, **env, "GITHUB_STEP_SUMMARY": str(summaries[-1])}
        done = subprocess.run(["bash", "-e", "-c", script], cwd=workspace, env=step_env, capture_output=True, text=True)
        assert done.returncode in (0, 1), done.stdout + done.stderr  # 1: screenshots without baselines fail
        outputs.append(done.stdout)

    shards = sorted(path for path in (workspace / "test-results").glob("shard-*") if path.is_dir())
    names = [{pair["name"] for pair in manifest.read(shard)["pairs"]} for shard in shards]
    assert len(shards) == 2 and all(names) and not names[0] & names[1] and names[0] | names[1] == SUITE_SCREENSHOTS
    merged = manifest.read(workspace / "screenshot-report")
    assert {pair["name"] for pair in merged["pairs"]} == SUITE_SCREENSHOTS and merged["summary"]["new"] == 4
    if example == "github-actions.yml":  # a summary from each shard, then the merged one
        headings = [path.read_text().splitlines()[0] for path in summaries if path.exists()]
        assert headings == [f"### quorvane: {count} of {count} screenshots beyond their limits" for count in (2, 2, 4)]
        titles = [workflow_command(line)[0] for line in outputs[-1].splitlines() if line.startswith("::error")]
        assert sorted(titles) == sorted(f"quorvane: {name}" for name in SUITE_SCREENSHOTS)
    else:  # GitLab's test report: each shard's JUnit XML
        xmlschema = pytest.importorskip("xmlschema", reason="xmlschema is not installed (requirements-dev.txt)")
        for shard, shard_names in zip(shards, names):
            junit = shard.with_suffix(".xml")
            xmlschema.XMLSchema(SCHEMA).validate(str(junit))
            assert {case.get("name") for case in ElementTree.parse(junit).iter("testcase")} == shard_names
        summary = (workspace / "screenshot-summary.md").read_text()
        assert summary.count("](https://gitlab.example/shop/-/jobs/7/artifacts/file/screenshot-report/") == 5
