"""diff_count on the example screenshots against the cost of merely
comparing the same two buffers: bytes.__eq__ for identical images, numpy's
count of differing 32-bit pixel words for images that differ."""

import numpy as np
import timing
from PIL import Image

import quorvane


def rgba(name):
    image = Image.open(timing.SCREENS / name).convert("RGBA")
    return image.tobytes(), image.width, image.height


def comparison_of(baseline, current):
    (first, width, height), (second, _, _) = baseline, current
    return quorvane.Comparison.from_rgba(first, width, height, second, width, height)


def words(image):
    return np.frombuffer(image[0], dtype=np.uint32)


def main():
    page = rgba("page_baseline.png")
    page_copy = (bytes(bytearray(page[0])), page[1], page[2])  # equal content, another object
    same = comparison_of(page, page_copy)
    timing.compare(
        "diff_count, page_baseline against itself",
        same.diff_count,
        lambda: page[0] == page_copy[0],
        "bytes.__eq__",
        target=1.5,
    )

    for baseline_name, current_name in [
        ("page_baseline.png", "page_edited_paragraph.png"),
        ("table_1080p.png", "table_1080p_padded.png"),
    ]:
        baseline, current = rgba(baseline_name), rgba(current_name)
        comparison = comparison_of(baseline, current)
        first, second = words(baseline), words(current)
        differing = int(np.count_nonzero(first != second))
        timing.compare(
            f"diff_count, {baseline_name} against {current_name} ({differing} differing words, "
            f"{comparison.diff_count()} changed)",
            comparison.diff_count,
            lambda: np.count_nonzero(first != second),
            "np.count_nonzero(a != b)",
            target=8.0,
        )


if __name__ == "__main__":
    main()
