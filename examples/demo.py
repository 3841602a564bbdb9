"""The main job: the visual regression report of the bundled example
screenshots, made with the `quorvane` command as a CI job would make it.

The screenshots are laid out as two directories, baseline and current, the
way a test suite keeps them: pages unchanged, shifted by an inserted banner,
edited, grown taller, one new page and one that went missing."""

import os
import pathlib
import shlex
import shutil
import sys

import quorvane_cli

ROOT = pathlib.Path(__file__).resolve().parents[1]
SCREENS = pathlib.Path("examples/screens")  # paths relative to the repository, as a CI job has them
OUTPUT = pathlib.Path("examples/output")

# (relative path, baseline screenshot, current screenshot); None where the
# page has no screenshot on that side.
PAGES = [
    ("home.png", "page_baseline.png", "page_baseline.png"),
    ("docs/banner.png", "page_baseline.png", "page_inserted_banner.png"),
    ("docs/paragraph.png", "page_baseline.png", "page_edited_paragraph.png"),
    ("docs/deleted_block.png", "page_baseline.png", "page_deleted_block.png"),
    ("docs/taller_window.png", "page_baseline.png", "page_taller.png"),
    ("table/padding.png", "table_1080p.png", "table_1080p_padded.png"),
    ("table/summary.png", None, "table_1080p.png"),
    ("legacy.png", "page_deleted_block.png", None),
]


def lay_out(root):
    """Copies the screenshots into root/baseline and root/current."""
    shutil.rmtree(root, ignore_errors=True)
    for path, *sources in PAGES:
        for side, source in zip(("baseline", "current"), sources):
            if source is not None:
                target = root / side / path
                target.parent.mkdir(parents=True, exist_ok=True)
                shutil.copyfile(SCREENS / source, target)
    return root / "baseline", root / "current"


def run(*args):
    """Runs the command as `quorvane ARGS` would, and says how it ended."""
    args = [str(arg) for arg in args]
    print(f"\n$ quorvane {shlex.join(args)}")
    sys.stdout.flush()
    status = quorvane_cli.main(args)
    print(f"(exit status {status})")
    return status


def main():
    os.chdir(ROOT)
    baseline, current = lay_out(OUTPUT / "screens")
    print(f"{len(PAGES)} example pages laid out in {baseline} and {current}")

    # One pair: content pushed down by a banner fails a plain comparison
    # and passes once shifts are allowed.
    run(
        "compare",
        baseline / "docs/banner.png",
        current / "docs/banner.png",
        "--allow-shifts",
        "--diff",
        OUTPUT / "banner_diff.png",
        "--aligned-diff",
        OUTPUT / "banner_aligned_diff.png",
    )

    # The whole suite: every pair on all processors, into a report page.
    report = OUTPUT / "report"
    run("report", baseline, current, "-o", report, "--allow-shifts", "--max-changed-ratio", "0.1%")
    print(f"\nReport: {(report / 'index.html').resolve()}")


if __name__ == "__main__":
    main()
