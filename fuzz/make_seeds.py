"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Seeds are small crops of the example screenshots (kept unscaled where row
alignment needs whole rows to repeat) and a few PngSuite images, in the input
layout each target reads. Rerun after changing a target's layout; the output
is committed.
"""

import io
import pathlib
import shutil
import struct
import zlib

import numpy as np
import png
from PIL import Image

ROOT = pathlib.Path(__file__).resolve().parents[1]
SCREENS = ROOT / "examples" / "screens"
SUITE = ROOT / "tests" / "data" / "png" / "pngsuite"
CORPUS = ROOT / "fuzz" / "corpus"


def crop(name, left, top, width, height):
    return Image.open(SCREENS / name).convert("RGB").crop((left, top, left + width, top + height))


def png_of(image, **save):
    out = io.BytesIO()
    image.save(out, format="PNG", optimize=True, **save)
    return out.getvalue()


def interlaced_png(image):
    rgba = np.asarray(image.convert("RGBA"), dtype=np.uint8)
    height, width = rgba.shape[:2]
    out = io.BytesIO()
    png.Writer(width, height, alpha=True, greyscale=False, interlace=True).write(out, rgba.reshape(height, -1))
    return out.getvalue()


def with_transparency(image):
    rgba = np.asarray(image.convert("RGBA")).copy()
    rgba[: rgba.shape[0] // 2, :, 3] = np.linspace(0, 255, rgba.shape[1], dtype=np.uint8)
    return Image.fromarray(rgba, "RGBA")


def pair_options(
    threshold=26,
    alpha=26,
    include_aa=False,
    alt=False,
    batch=False,
    thumbnails=False,
    regions=False,
    dilation=4,
    min_pixels=16,
    min_side=0,
    max_clusters=None,
    merge_gap=0,
    overlap=100,
    edit_ratio=64,
    edit_rows=200,
    cap=50,
):
    flags = include_aa | alt << 1 | batch << 2 | thumbnails << 3 | (max_clusters is None) << 4 | regions << 5
    max_clusters = max_clusters or 0
    return bytes(
        [
            threshold,
            alpha,
            flags,
            dilation,
            min_pixels,
            min_side,
            max_clusters,
            merge_gap,
            overlap,
            edit_ratio,
            edit_rows,
            cap,
        ]
    )


def pair_input(options, baseline_png, current_png):
    return options + struct.pack("<H", len(baseline_png)) + baseline_png + current_png


def thumbnail_input(width, height=0, min_width=0, min_height=0, effort=0, png_bytes=b""):
    return bytes([width, height, min_width, min_height, effort]) + png_bytes


def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def filtered(rgb, filters):
    """The rows of an (height, width, 3) array behind the filter types given
    in turn, filtered as the PNG specification defines them."""
    rows = rgb.reshape(rgb.shape[0], -1).astype(int)
    out = bytearray()
    for y, row in enumerate(rows):
        kind = filters[y % len(filters)]
        above = rows[y - 1] if y else np.zeros_like(row)
        left = np.concatenate([[0, 0, 0], row[:-3]])
        upper_left = np.concatenate([[0, 0, 0], above[:-3]])
        if kind == 1:
            predicted = left
        elif kind == 2:
            predicted = above
        elif kind == 3:
            predicted = (left + above) // 2
        elif kind == 4:
            p = left + above - upper_left
            pa, pb, pc = abs(p - left), abs(p - above), abs(p - upper_left)
            predicted = np.where((pa <= pb) & (pa <= pc), left, np.where(pb <= pc, above, upper_left))
        else:
            predicted = 0
        out.append(kind)
        out += ((row - predicted) % 256).astype(np.uint8).tobytes()
    return bytes(out)


def handmade_png(image, filters, strategy=zlib.Z_DEFAULT_STRATEGY, idat_size=None, before=b""):
    """An 8-bit RGB PNG written chunk by chunk: the fast decoding path's input,
    with the filter types, DEFLATE strategy and IDAT split chosen."""
    rgb = np.asarray(image.convert("RGB"))
    compressor = zlib.compressobj(6, zlib.DEFLATED, 15, 8, strategy)
    stream = compressor.compress(filtered(rgb, filters)) + compressor.flush()
    idat_size = idat_size or len(stream)
    header = struct.pack(">IIBBBBB", rgb.shape[1], rgb.shape[0], 8, 2, 0, 0, 0)
    return (
        b"\x89PNG\r\n\x1a\n"
        + chunk(b"IHDR", header)
        + before
        + b"".join(chunk(b"IDAT", stream[at : at + idat_size]) for at in range(0, len(stream), idat_size))
        + chunk(b"IEND", b"")
    )


def decode_seeds():
    text = crop("page_baseline.png", 300, 120, 32, 32)
    table = crop("table_1080p.png", 600, 650, 24, 24)
    return {
        "rgb.png": png_of(text),
        "rgba_gradient_alpha.png": png_of(with_transparency(text)),
        "palette.png": png_of(table.quantize(16)),
        "palette_transparent.png": png_of(table.quantize(8), transparency=0),
        "grey.png": png_of(text.convert("L")),
        "grey_alpha.png": png_of(with_transparency(text).convert("LA")),
        "grey16.png": png_of(Image.fromarray(np.asarray(text.convert("L"), dtype=np.uint16) * 257)),
        "interlaced_rgba.png": interlaced_png(with_transparency(table)),
        "rgb_every_filter.png": handmade_png(text, [0, 1, 2, 3, 4]),
        "rgb_fixed_codes_split.png": handmade_png(table, [4, 1], zlib.Z_FIXED, idat_size=97),
        "rgb_transparent_colour.png": handmade_png(text, [2], before=chunk(b"tRNS", b"\0\xff\0\xff\0\xff")),
    }


def pair_seeds():
    def same_place(baseline, current, left, top, width, height, current_top=None):
        return (
            png_of(crop(baseline, left, top, width, height)),
            png_of(crop(current, left, top if current_top is None else current_top, width, height)),
        )

    banner = same_place("page_baseline.png", "page_inserted_banner.png", 300, 100, 40, 160)
    edited = same_place("page_baseline.png", "page_edited_paragraph.png", 300, 920, 64, 90)
    deleted = same_place("page_baseline.png", "page_deleted_block.png", 300, 560, 40, 160)
    table = same_place("table_1080p.png", "table_1080p_padded.png", 590, 640, 48, 48)
    column = same_place("page_baseline.png", "page_inserted_banner.png", 320, 100, 1, 200)
    mismatch = (png_of(crop("page_baseline.png", 300, 120, 48, 40)), png_of(crop("page_taller.png", 300, 120, 40, 48)))
    same = png_of(crop("page_baseline.png", 300, 250, 40, 40))
    suite = lambda name: (SUITE / name).read_bytes()  # noqa: E731
    return {
        "banner_shift": pair_input(pair_options(), *banner),
        "banner_shift_alt_colour_batch": pair_input(pair_options(alt=True, batch=True, edit_ratio=255), *banner),
        "edited_paragraph_clusters": pair_input(
            pair_options(dilation=2, min_pixels=4, max_clusters=3, merge_gap=4, overlap=20), *edited
        ),
        "edited_paragraph_with_aa": pair_input(pair_options(include_aa=True, threshold=0, cap=1), *edited),
        "deleted_block": pair_input(pair_options(thumbnails=True, batch=True), *deleted),
        "table_padding": pair_input(pair_options(threshold=255, alpha=255, min_side=3), *table),
        "one_pixel_column": pair_input(pair_options(edit_rows=255, edit_ratio=255), *column),
        "extreme_counts": pair_input(
            pair_options(
                dilation=255,
                min_pixels=248,
                min_side=249,
                max_clusters=253,
                merge_gap=254,
                edit_rows=255,
                edit_ratio=255,
                cap=255,
            ),
            *edited,
        ),
        "size_mismatch": pair_input(pair_options(batch=True, thumbnails=True), *mismatch),
        "size_mismatch_ignored_region": pair_input(pair_options(batch=True, thumbnails=True, regions=True), *mismatch),
        "identical": pair_input(pair_options(), same, same),
        "suite_alpha_against_opaque": pair_input(
            pair_options(include_aa=True), suite("basn6a08.png"), suite("basn2c08.png")
        ),
        "suite_palette_against_grey": pair_input(
            pair_options(overlap=255, merge_gap=9), suite("basn3p08.png"), suite("basn0g08.png")
        ),
        "suite_transparent_interlaced": pair_input(
            pair_options(dilation=0, min_pixels=1), suite("ftbbn3p08.png"), suite("ibasn6a16.png")
        ),
    }


def thumbnail_seeds():
    page = png_of(crop("page_baseline.png", 300, 60, 120, 60))
    wide = png_of(crop("table_1080p.png", 580, 640, 128, 24))
    return {
        "scaled": thumbnail_input(50, png_bytes=page),
        "scaled_fastest": thumbnail_input(50, effort=1, png_bytes=page),
        "scaled_smallest": thumbnail_input(37, effort=10, png_bytes=page),
        "scaled_own_encoder": thumbnail_input(50, effort=11, png_bytes=page),
        "within_bounds_own_encoder": thumbnail_input(200, effort=11, png_bytes=page),
        "scaled_and_cropped": thumbnail_input(40, height=11, png_bytes=page),
        "within_bounds_cropped": thumbnail_input(200, height=31, png_bytes=page),
        "minimum_width_crop": thumbnail_input(60, min_width=101, png_bytes=page),
        "minimum_height_crop": thumbnail_input(30, height=21, min_height=41, png_bytes=wide),
        "scaled_to_one_row": thumbnail_input(8, png_bytes=wide),
        "zero_width": thumbnail_input(0, png_bytes=page),
        "zero_height": thumbnail_input(50, height=1, png_bytes=page),
        "extreme_sizes": thumbnail_input(255, height=255, min_width=251, png_bytes=wide),
        "suite_interlaced_alpha": thumbnail_input(20, png_bytes=(SUITE / "ibasn4a16.png").read_bytes()),
        "suite_palette": thumbnail_input(17, png_bytes=(SUITE / "basn3p04.png").read_bytes()),
    }


def webp_lossless_input(width, rgba):
    return bytes([width - 1]) + rgba


def webp_lossless_seeds():
    """Pixels for the WebP encoder: a page's text, flat colour, noise, one pixel."""
    text = np.asarray(crop("page_baseline.png", 300, 60, 40, 24).convert("RGBA"))
    noise = np.random.default_rng(7).integers(0, 256, (9, 13, 4), dtype=np.uint8)
    return {
        "page_text": webp_lossless_input(40, text.tobytes()),
        "flat_colour": webp_lossless_input(17, bytes([200, 30, 90, 255]) * 17 * 5),
        "noise": webp_lossless_input(13, noise.tobytes()),
        "one_pixel": webp_lossless_input(1, bytes([1, 2, 3, 4])),
    }


def main():
    targets = [
        ("png_decode", decode_seeds()),
        ("pair", pair_seeds()),
        ("thumbnail", thumbnail_seeds()),
        ("webp_lossless", webp_lossless_seeds()),
    ]
    for target, seeds in targets:
        directory = CORPUS / target
        shutil.rmtree(directory, ignore_errors=True)
        directory.mkdir(parents=True)
        for name, data in seeds.items():
            (directory / name).write_bytes(data)
        print(f"{target}: {len(seeds)} seeds, {sum(map(len, seeds.values())) // 1024} KiB")


if __name__ == "__main__":
    main()
