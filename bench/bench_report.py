"""`quorvane report` over 100 pairs of the example screenshots against the sum
of 100 reports of one pair each, the same work done one pair at a time; how
busy the processors were during the report of all of them; and the
processor time per pair of a report of 16 changed pairs against Pillow
decoding one pair."""

import contextlib
import io
import itertools
import os
import pathlib
import shutil
import tempfile
import time

import timing

from quorvane_cli import main

# Unchanged, shifted, edited, shifted and edited, taller, edited table.
KINDS = [
    ("page_baseline.png", "page_baseline.png"),
    ("page_baseline.png", "page_inserted_banner.png"),
    ("page_baseline.png", "page_edited_paragraph.png"),
    ("page_baseline.png", "page_deleted_block.png"),
    ("page_baseline.png", "page_taller.png"),
    ("table_1080p.png", "table_1080p_padded.png"),
]
PAIRS = 100


def lay_out(root, pairs, one_at_a_time=True):
    """root/all holds every pair; root/one/N the N-th pair alone."""
    for index in range(pairs):
        name = f"pair_{index:03d}.png"
        for side, source in zip(("baseline", "current"), KINDS[index % len(KINDS)]):
            alone = [root / "one" / str(index) / side] if one_at_a_time else []
            for folder in [root / "all" / side, *alone]:
                folder.mkdir(parents=True, exist_ok=True)
                shutil.copyfile(timing.SCREENS / source, folder / name)


def report(baseline, current, out):
    with contextlib.redirect_stdout(io.StringIO()):
        main(["report", str(baseline), str(current), "-o", str(out), "--quiet"])


def main_bench():
    with tempfile.TemporaryDirectory(prefix="quorvane-bench-") as temp:
        root = pathlib.Path(temp)
        lay_out(root, PAIRS)

        busy = []  # (wall, processor time) of each report of all pairs

        def all_pairs():
            started, cpu = time.perf_counter(), time.process_time()
            report(root / "all" / "baseline", root / "all" / "current", root / "out-all")
            busy.append((time.perf_counter() - started, time.process_time() - cpu))

        def one_at_a_time():
            for index in range(PAIRS):
                one = root / "one" / str(index)
                report(one / "baseline", one / "current", root / "out-one" / str(index))

        processors = len(os.sched_getaffinity(0))
        timing.compare(
            f"report of {PAIRS} pairs on {processors} processor(s)",
            all_pairs,
            one_at_a_time,
            f"{PAIRS} one-pair reports",
            repeats=2,
            target=0.65,
        )
        wall, cpu = min(busy)
        print(
            f"fastest report of {PAIRS} pairs: {wall:.1f} s, {cpu:.1f} s of processor time: "
            f"{cpu / wall:.2f} of {processors} processors busy"
        )
        processor_time_per_pair(root)


# 16 changed pairs: the same-size pages against each other, the taller page
# and the table pair both ways.
PAGES = ["page_baseline.png", "page_inserted_banner.png", "page_edited_paragraph.png", "page_deleted_block.png"]
CHANGED = list(itertools.permutations(PAGES, 2)) + [
    ("page_baseline.png", "page_taller.png"),
    ("page_taller.png", "page_baseline.png"),
    ("table_1080p.png", "table_1080p_padded.png"),
    ("table_1080p_padded.png", "table_1080p.png"),
]


def processor_time_per_pair(root, repeats=3):
    for index, sources in enumerate(CHANGED):
        for side, source in zip(("baseline", "current"), sources):
            folder = root / "changed" / side
            folder.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(timing.SCREENS / source, folder / f"pair_{index:02d}.png")
    runs = []
    for _ in range(repeats):
        started, cpu = time.perf_counter(), time.process_time()
        report(root / "changed" / "baseline", root / "changed" / "current", root / "out-changed")
        runs.append((time.process_time() - cpu, time.perf_counter() - started))
    decode = timing.best_of(timing.pillow_decode("page_baseline.png", "page_inserted_banner.png"))
    cpu, wall = min(runs)
    per_pair = cpu / len(CHANGED)
    ratio = per_pair / decode
    processors = len(os.sched_getaffinity(0))
    print(
        f"report of {len(CHANGED)} changed pairs: {per_pair * 1e3:.0f} ms of processor time per pair vs Pillow "
        f"decoding a pair {decode * 1e3:.1f} ms -> {ratio:.2f}x (target <= 8x: {'met' if ratio <= 8 else 'MISSED'}); "
        f"{wall:.2f} s, {cpu / wall:.2f} of {processors} processors busy"
    )


if __name__ == "__main__":
    main_bench()
