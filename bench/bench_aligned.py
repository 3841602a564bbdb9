"""The shift-aware methods against their plain counterparts on the same pair,
page_baseline against page_inserted_banner, in the same run: aligned_diff_image
against diff_image (PNG encoding included in both) and aligned_ssim against
ssim. The alignment is made once, outside the timings. Then the C++
benchmark, which times the computations without PNG encoding, on this pair
and on the edited paragraph, whose changed rows are drawn as strips."""

import timing

import quorvane


def main():
    baseline = (timing.SCREENS / "page_baseline.png").read_bytes()
    current = (timing.SCREENS / "page_inserted_banner.png").read_bytes()
    comparison = quorvane.Comparison(baseline, current)
    alignment = comparison.row_alignment()
    label = "page_baseline against page_inserted_banner"
    timing.compare(
        f"aligned_diff_image, {label}",
        lambda: comparison.aligned_diff_image(alignment),
        comparison.diff_image,
        "diff_image",
        repeats=7,
        target=1.5,
    )
    timing.compare(
        f"aligned_ssim, {label}",
        lambda: comparison.aligned_ssim(alignment),
        # A Comparison keeps its score: each timing scores a new one.
        timing.on_fresh(lambda: quorvane.Comparison(baseline, current), quorvane.Comparison.ssim, 7),
        "ssim",
        repeats=7,
        target=1.5,
    )
    for name in ("page_inserted_banner.png", "page_edited_paragraph.png"):
        timing.run_cpp_bench("aligned_bench", timing.SCREENS / "page_baseline.png", timing.SCREENS / name)


if __name__ == "__main__":
    main()
