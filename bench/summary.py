"""The performance table in one run: each row's figure as a ratio against
its yardstick timed alongside it (Pillow decoding the pair, numpy comparing
the pixel words, scikit-image's SSIM), with its target; then the peak
resident memory of a comparison that computes every figure (a 1280 x 5200
changed pair, an unchanged pair as one file twice and as two encodings),
measured in a fresh process."""

import contextlib
import io
import itertools
import os
import pathlib
import tempfile
import time
from collections.abc import Callable
from typing import Any

import numpy as np
import numpy.typing as npt
import pairs
import timing
from skimage.metrics import structural_similarity as skimage_ssim

import quorvane

structural_similarity: Callable[..., Any] = skimage_ssim  # scikit-image is untyped

ROWS: list[tuple[str, str, str, str]] = []  # (work, figure, target, met)


def record(work: str, figure: str, target: str, met: bool) -> None:
    ROWS.append((work, figure, target, "met" if met else "MISSED"))


def unchanged_rows() -> None:
    baseline, copy, reencoded = pairs.unchanged()
    for label, current, target in (("byte-identical", copy, 0.12), ("re-encoded", reencoded, 0.25)):

        def job(current: bytes = current) -> None:
            comparison = quorvane.Comparison(baseline, current)
            comparison.diff_count()
            comparison.ssim()

        ratio = timing.compare(
            f"Comparison + diff_count + ssim, {label} 1280x2400",
            job,
            pairs.pillow_decode(baseline, current),
            "Pillow decoding both",
            repeats=9,
        )
        record(f"Comparison + diff_count + ssim, {label} 1280x2400", f"{ratio:.2f}x", f"<= {target}x", ratio <= target)


def whole_job_rows() -> None:
    for with_image, target in ((False, 0.25), (True, 0.6)):
        ratios: list[float] = []
        for label, (baseline, current) in pairs.changed().items():

            def job(baseline: bytes = baseline, current: bytes = current, with_image: bool = with_image) -> None:
                comparison = quorvane.Comparison(baseline, current)
                comparison.diff_count()
                if with_image:
                    comparison.diff_image()

            what = "Comparison + diff_count" + (" + diff_image" if with_image else "")
            ratios.append(
                timing.compare(
                    f"{what}, {label}", job, pairs.pillow_decode(baseline, current), "Pillow decoding both", repeats=9
                )
            )
        work = "whole job with the diff PNG, changed pairs" if with_image else "whole job, count only, changed pairs"
        figures = " / ".join(f"{ratio:.2f}" for ratio in ratios)
        record(work, f"{figures} x", f"<= {target}x each", max(ratios) <= target)


def diff_count_row() -> None:
    baseline, current = (pairs.rgba(data) for data in pairs.changed()["edit 1280x2400"])
    comparison = quorvane.Comparison.from_rgba(*baseline, *current)
    first, second = np.frombuffer(baseline[0], np.uint32), np.frombuffer(current[0], np.uint32)
    ratio = timing.compare(
        f"diff_count, decoded edit 1280x2400 ({comparison.diff_count()} changed)",
        comparison.diff_count,
        lambda: np.count_nonzero(first != second),
        "np.count_nonzero(a != b)",
    )
    record("diff_count, decoded edit 1280x2400, vs numpy's word count", f"{ratio:.2f}x", "<= 2.3x", ratio <= 2.3)


def ssim_row() -> None:
    baseline, current = pairs.changed()["table 1920x1080"]

    def luminance(data: bytes) -> npt.NDArray[np.float64]:
        channels = np.frombuffer(pairs.rgba(data)[0], np.uint8).reshape(1080, 1920, 4).astype(np.float64)
        return (channels[..., 0] * 0.299 + channels[..., 1] * 0.587) + channels[..., 2] * 0.114

    x, y = luminance(baseline), luminance(current)
    ratio = timing.compare(
        "ssim 1920x1080",
        # A Comparison keeps its score: each timing scores a new one.
        timing.on_fresh(lambda: quorvane.Comparison(baseline, current), quorvane.Comparison.ssim, 7),
        lambda: structural_similarity(x, y, win_size=11, gaussian_weights=False, data_range=255),
        "scikit-image structural_similarity",
        repeats=7,
    )
    record("ssim 1920x1080, times faster than scikit-image", f"{1 / ratio:.1f}x faster", ">= 15x", 1 / ratio >= 15)


# 15 pairs of the example screenshots: the same-size pages against each
# other, the taller page, the table pair both ways.
PAGES = ["page_baseline.png", "page_inserted_banner.png", "page_edited_paragraph.png", "page_deleted_block.png"]
REPORT_PAIRS = [
    *itertools.permutations(PAGES, 2),
    ("page_baseline.png", "page_taller.png"),
    ("table_1080p.png", "table_1080p_padded.png"),
    ("table_1080p_padded.png", "table_1080p.png"),
]


def report_cpu_per_pair(root: pathlib.Path, sources: list[tuple[str, str]], label: str) -> tuple[float, float]:
    """Processor time per pair of `quorvane report` over the pairs, and
    Pillow's time to decode a pair, on average over the same pairs."""
    from quorvane_cli import main

    for index, names in enumerate(sources):
        for side, name in zip(("baseline", "current"), names):
            folder = root / label / side
            folder.mkdir(parents=True, exist_ok=True)
            (folder / f"pair_{index:02d}.png").write_bytes((timing.SCREENS / name).read_bytes())
    arguments = ["report", str(root / label / "baseline"), str(root / label / "current")]
    cpu: list[float] = []
    for attempt in range(3):
        started = time.process_time()
        with contextlib.redirect_stdout(io.StringIO()):
            main([*arguments, "-o", str(root / f"{label}-out{attempt}"), "--quiet"])
        cpu.append(time.process_time() - started)
    files = [(timing.SCREENS / name).read_bytes() for names in sources for name in names]
    decode = timing.best_of(pairs.pillow_decode(*files), 5) / len(sources)
    return min(cpu) / len(sources), decode


def report_rows() -> None:
    with tempfile.TemporaryDirectory(prefix="quorvane-summary-") as temp:
        root = pathlib.Path(temp)
        for label, sources, target in (
            ("changed", REPORT_PAIRS, 3.0),
            ("unchanged", [(name, name) for name, _ in REPORT_PAIRS], 0.3),
        ):
            per_pair, decode = report_cpu_per_pair(root, sources, label)
            ratio = per_pair / decode
            print(
                f"quorvane report, {len(sources)} {label} pairs: {per_pair * 1e3:.1f} ms of processor time per pair "
                f"vs Pillow decoding a pair {decode * 1e3:.1f} ms -> {ratio:.2f}x"
            )
            record(f"quorvane report, CPU per {label} pair", f"{ratio:.2f}x", f"<= {target}x", ratio <= target)


# Runs in the child: the peak resident memory of the whole process after a
# comparison of the tall pair has produced every figure.
MEMORY_PROBE = r"""
import sys
import quorvane
from memory_use import _status_kib

comparison = quorvane.Comparison(open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read())
alignment = comparison.row_alignment()
comparison.diff_count(), comparison.ssim(), comparison.diff_image(), comparison.clusters()
comparison.aligned_ssim(alignment), comparison.aligned_diff_image(alignment), comparison.aligned_clusters(alignment)
comparison.current_thumbnail(), comparison.baseline_thumbnail()
print(_status_kib("VmHWM") * 1024)
"""


def peak_memory(baseline: bytes, current: bytes) -> int:
    """The least of three probes' peak resident bytes for the pair."""
    with tempfile.TemporaryDirectory(prefix="quorvane-summary-") as temp:
        files: list[pathlib.Path] = []
        for side, data in zip(("baseline", "current"), (baseline, current)):
            files.append(pathlib.Path(temp) / f"{side}.png")
            files[-1].write_bytes(data)
        return min(int(timing.memory_probe(MEMORY_PROBE, *files)[0]) for _ in range(3))


def memory_rows() -> None:
    baseline, copy, reencoded = pairs.unchanged()
    for label, pair in (
        ("1280x5200 comparison", pairs.changed()["page 1280x5200"]),
        ("1280x2400 byte-identical pair", (baseline, copy)),
        ("1280x2400 re-encoded pair", (baseline, reencoded)),
    ):
        peak = peak_memory(*pair)
        print(f"peak RSS of a {label} with every figure: {peak / 2**20:.1f} MiB")
        ROWS.append((f"peak RSS, {label} with every figure", f"{peak / 2**20:.1f} MiB", "no more than before", ""))


def main() -> None:
    print(f"{os.cpu_count()} processors; ratios against yardsticks timed in the same run, best of several")
    unchanged_rows()
    whole_job_rows()
    diff_count_row()
    ssim_row()
    report_rows()
    memory_rows()
    widths = [max(len(row[column]) for row in ROWS) for column in range(4)]
    print()
    for row in ROWS:
        print(" | ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())


if __name__ == "__main__":
    main()
