"""Comparison.row_alignment(row_threshold=0.1) against the exact alignment
of the same pair: on the example screenshot pairs, where most rows are the
same and match by hash; on a dithered gradient with a banner inserted, where
no row keeps its bytes (the exact alignment gives up after its whole edit
budget, the other aligns); and on a page against itself upside down, where
both search through the whole budget and every failed row comparison costs
a row summary check instead of an integer compare."""

import numpy as np
import timing

import quorvane


def rgba(name):
    from PIL import Image

    with Image.open(timing.SCREENS / name) as image:
        return np.asarray(image.convert("RGBA"))


def comparison(baseline, current):
    return quorvane.Comparison.from_rgba(
        baseline.tobytes(), baseline.shape[1], baseline.shape[0], current.tobytes(), current.shape[1], current.shape[0]
    )


def dithered_gradient_pair(width=1366, height=3000, banner_at=1000, banner_rows=40):
    """A vertical gradient with one level of random noise in every channel,
    drawn afresh for the current image, which has a banner inserted."""
    rng = np.random.default_rng(1)
    gradient = np.repeat(np.linspace(200.0, 255.0, height)[:, None, None], width, axis=1).repeat(3, axis=2)
    banner = np.full((banner_rows, width, 3), (250.0, 200.0, 0.0))
    taller = np.concatenate([gradient[:banner_at], banner, gradient[banner_at:]])

    def noisy(image):
        pixels = np.clip(image + rng.integers(0, 2, image.shape), 0, 255).astype(np.uint8)
        return np.concatenate([pixels, np.full((*pixels.shape[:2], 1), 255, np.uint8)], axis=2)

    return noisy(gradient), noisy(taller)


def main():
    base = rgba("page_baseline.png")
    pairs = {name: (base, rgba(f"{name}.png")) for name in ("page_inserted_banner", "page_deleted_block")}
    pairs |= {name: (base, rgba(f"{name}.png")) for name in ("page_edited_paragraph", "page_taller")}
    pairs["dithered gradient with a banner"] = dithered_gradient_pair()
    pairs["page_baseline upside down"] = (base, np.ascontiguousarray(base[::-1]))
    for name, (baseline, current) in pairs.items():
        pair = comparison(baseline, current)
        exact, within = pair.row_alignment(), pair.row_alignment(row_threshold=0.1)
        print(f"{name}: exact {exact!r}; within 0.1 {within!r}")
        timing.compare(
            f"row_alignment(row_threshold=0.1), {name}",
            lambda: pair.row_alignment(row_threshold=0.1),
            pair.row_alignment,
            "row_alignment() of the same pair",
            repeats=9,
            target=2.0,
        )


if __name__ == "__main__":
    main()
