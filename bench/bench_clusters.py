"""clusters() on the example screenshots against diff_count of the same pair:
the mask costs about one count, and dilation, labelling and statistics add
three linear passes. The C++ bench then times each stage alone, and the
dilation at two radii."""

import subprocess

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
    subprocess.run(
        [
            str(timing.BUILD / "bench" / "clusters_bench"),
            str(timing.SCREENS / "page_baseline.png"),
            str(timing.SCREENS / "page_edited_paragraph.png"),
        ],
        check=True,
    )


if __name__ == "__main__":
    main()
