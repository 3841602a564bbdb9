"""clusters() on the example screenshots against diff_count of the same pair:
the mask costs about one count, and dilation, labelling and statistics add
three linear passes. The C++ bench then times each stage alone, and the
dilation at two radii."""

import timing

import quorvane


def main():
    comparison = quorvane.Comparison(
        (timing.SCREENS / "page_baseline.png").read_bytes(), (timing.SCREENS / "page_edited_paragraph.png").read_bytes()
    )
    found = comparison.clusters()
    timing.compare(
        f"clusters, page_baseline against page_edited_paragraph ({len(found.clusters)} clusters, "
        f"{comparison.diff_count()} changed pixels)",
        comparison.clusters,
        comparison.diff_count,
        "diff_count",
        target=3.0,
    )
    timing.run_cpp_bench(
        "clusters_bench", timing.SCREENS / "page_baseline.png", timing.SCREENS / "page_edited_paragraph.png"
    )


if __name__ == "__main__":
    main()
