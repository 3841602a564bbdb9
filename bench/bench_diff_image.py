"""diff_image on the edited example pair, PNG encoding included, against
Pillow writing an RGB PNG of the same size; then the C++ benchmark, which
times rendering and encoding separately."""

import io

import timing
from PIL import Image

import quorvane


def main():
    baseline = (timing.SCREENS / "page_baseline.png").read_bytes()
    current = (timing.SCREENS / "page_edited_paragraph.png").read_bytes()
    comparison = quorvane.Comparison(baseline, current)
    drawn = Image.open(io.BytesIO(comparison.diff_image()))

    def pillow_png():
        drawn.save(io.BytesIO(), format="PNG")

    timing.compare(
        "diff_image, page_baseline against page_edited_paragraph (render + encode)",
        comparison.diff_image,
        pillow_png,
        "Pillow saving the same-size RGB PNG",
        repeats=5,
    )
    timing.run_cpp_bench(
        "diff_image_bench", timing.SCREENS / "page_baseline.png", timing.SCREENS / "page_edited_paragraph.png"
    )


if __name__ == "__main__":
    main()
