"""Every figure and output of a fixed set of comparisons, as JSON on
standard output, the images written into OUT_DIR:

    python output_digest.py OUT_DIR

Builds of the module compute to the last bit alike, so the texts and files
of every build must be equal. It runs on interpreters that have nothing but
the module and the standard library (an aarch64 CPython under qemu), so its
gradient page is a PNG written by hand."""

import json
import pathlib
import struct
import sys
import zlib

import quorvane

SCREENS = pathlib.Path(__file__).resolve().parents[2] / "examples" / "screens"
PAIRS = [("page_baseline.png", "page_inserted_banner.png"), ("page_baseline.png", "page_deleted_block.png")]


def gradient_png(width, height, phase):
    """Smooth ramps crossed by a sharp diagonal: resampling weights meet
    every fraction."""

    def row(y):
        pixels = bytearray()
        for x in range(width):
            edge = 255 if (x + 2 * y + phase) % 97 < 9 else 0
            pixels += bytes((x * 255 // (width - 1), y * 255 // (height - 1), (x * y + phase) % 256 | edge, 255))
        return b"\0" + bytes(pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    image = zlib.compress(b"".join(map(row, range(height))))
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", image) + chunk(b"IEND", b"")


def figures(name, baseline, current, out_dir):
    comparison = quorvane.Comparison(baseline, current)
    alignment = comparison.row_alignment()
    clusters = comparison.clusters(max_clusters=5)
    files = {
        "diff.png": comparison.diff_image(),
        "current.webp": comparison.current_thumbnail(width=200),
        "baseline.webp": quorvane.thumbnail(baseline, width=200),
    }
    for file, data in files.items():
        (out_dir / f"{name}-{file}").write_bytes(data)
    [batch] = quorvane.compare_batch([(baseline, current)])
    return {
        "comparison": repr(comparison),
        "changed": comparison.diff_count(),
        "ssim": comparison.ssim().hex(),
        "clusters": [
            (c.bbox.x, c.bbox.y, c.bbox.width, c.bbox.height, c.pixel_count, [value.hex() for value in c.centroid])
            for c in clusters.clusters
        ],
        "alignment": [(s.kind, s.baseline_start, s.current_start, s.len) for s in alignment.segments],
        "aligned_ssim": comparison.aligned_ssim(alignment).hex() if alignment.aligned else None,
        "batch": repr(batch),
    }


def main(out_dir):
    out_dir.mkdir(parents=True, exist_ok=True)
    cases = {f"{baseline}-{current}": ((SCREENS / baseline).read_bytes(), (SCREENS / current).read_bytes())
             for baseline, current in PAIRS}  # fmt: skip
    cases["gradient"] = (gradient_png(640, 400, 0), gradient_png(640, 400, 5))
    digest = {name: figures(name, *pair, out_dir) for name, pair in cases.items()}
    print(json.dumps(digest, indent=1, sort_keys=True))


if __name__ == "__main__":
    main(pathlib.Path(sys.argv[1]))
