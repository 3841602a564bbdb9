#include "operations/memory_needs.hpp"

#include <algorithm>
#include <initializer_list>
#include <thread>

#include "alignment/trace.hpp"
#include "operations/analyses.hpp"

namespace quorvane {
namespace {

// Codec states, the PNG strips and resampling bands of the pool's workers,
// and the small vectors of any call.
u64 scratch_bytes() {
    static const u64 bytes =
        (u64{32} << 20) + mul_bytes(u64{4} << 20, std::max(1u, std::thread::hardware_concurrency()));
    return bytes;
}

u64 rgba_bytes(Size size) { return mul_bytes(mul_bytes(size.width, size.height), kBytesPerPixel); }

u64 sum(std::initializer_list<u64> terms) {
    u64 total = 0;
    for (const u64 term : terms) total = add_bytes(total, term);
    return total;
}

// The file of an incompressible image: filtered rows, the DEFLATE bound's
// overhead and the chunks.
u64 png_file_bound(Size size) {
    const u64 filtered = mul_bytes(size.height, add_bytes(mul_bytes(size.width, 3), 1));
    return sum({filtered, filtered / 8, u64{1} << 20});
}

// The strips, then the file they are copied into, then the file and its copy
// as a Python bytes object.
u64 png_work_bytes(Size size) { return mul_bytes(png_file_bound(size), 2); }

// libwebp's lossless encoder takes about 40 bytes a pixel of the picture,
// the RGB copy handed to it included; our own less (its pixels, their
// symbols, the bitstream and the file: about 30 on noise).
constexpr u64 kWebpBytesPerPixel = 48;

// What a pair image takes until the pair is built: its own pixels, with room
// below when it is padded in place, and a padded copy when it is not.
u64 image_build_bytes(Size own, Size canvas) {
    if (own == canvas) return rgba_bytes(own);
    if (own.width == canvas.width) return rgba_bytes(canvas);
    return add_bytes(rgba_bytes(own), rgba_bytes(canvas));
}

// Marked pixels of one run or one component are at least 2r + 1 apart from
// those of the next, r being the dilation: at most this many of either.
u64 spacing(const ClusterOptions& options) { return add_bytes(mul_bytes(options.dilation, 2), 2); }
u64 runs_bound(Size canvas, const ClusterOptions& options) {
    return mul_bytes(canvas.height, canvas.width / spacing(options) + 2);
}
u64 components_bound(Size canvas, const ClusterOptions& options) {
    return mul_bytes(canvas.width / spacing(options) + 1, canvas.height / spacing(options) + 1);
}

}  // namespace

u64 pair_build_bytes(const PairSizes& sizes) {
    const Size canvas = sizes.canvas();
    return add_bytes(image_build_bytes(sizes.baseline, canvas), image_build_bytes(sizes.current, canvas));
}

u64 pair_held_bytes(const PairSizes& sizes) {
    const Size canvas = sizes.canvas();
    const u64 widened = sizes.current.width < canvas.width ? rgba_bytes(sizes.current) : 0;
    return sum({rgba_bytes(canvas), rgba_bytes(canvas), widened});
}

u64 ssim_work_bytes(u64 width) { return add_bytes(mul_bytes(width, 1024), u64{1} << 20); }

u64 diff_png_work_bytes(Size canvas) { return add_bytes(rgba_bytes(canvas), png_work_bytes(canvas)); }

u64 diff_png_and_thumbnail_work_bytes(Size canvas, const ThumbnailOptions& thumbnail) {
    return add_bytes(diff_png_work_bytes(canvas), thumbnail_work_bytes(canvas, thumbnail));
}

u64 thumbnail_work_bytes(Size source, const ThumbnailOptions& options) {
    const Size made = thumbnail_size(source.width, source.height, options);
    const u64 pixels = mul_bytes(made.width, made.height);
    // The crop or the resampled image, then the encoder's picture and file.
    return sum({rgba_bytes(made), mul_bytes(pixels, kWebpBytesPerPixel), u64{1} << 20});
}

u64 clusters_work_bytes(Size canvas, const ClusterOptions& options) {
    // The mask, the dilated mask (with its horizontal pass), the label map of
    // 32-bit labels, and the forest: at most one label a run, 5 bytes each,
    // twice that while its vectors grow.
    const u64 pixels = mul_bytes(canvas.width, canvas.height);
    const u64 dilated = options.dilation == 0 ? 0 : mul_bytes(pixels, 2);
    return sum({pixels, dilated, mul_bytes(pixels, 4), mul_bytes(runs_bound(canvas, options), 10)});
}

// Per label its component index; per component its statistics, its record
// as a candidate and its entries in the merge's grid.
u64 cluster_records_bytes(u64 labels, Size canvas, const ClusterOptions& options) {
    const u64 components = std::min(labels, components_bound(canvas, options));
    return add_bytes(mul_bytes(labels, 4), mul_bytes(components, 64 + 72 + 64));
}

u64 alignment_work_bytes(const PairSizes& sizes, u64 max_edit_rows) {
    const u64 rows = add_bytes(sizes.baseline.height, sizes.current.height);
    const u64 edits = std::min(rows, max_edit_rows);
    const u64 trace = std::min(mul_bytes(mul_bytes(add_bytes(edits, 1), add_bytes(edits, 1)), 8), kMaxTraceBytes);
    // Per row: both hashes, their sorted copies, the edit script and its
    // segments; and the change mask of the replaced rows.
    return sum({mul_bytes(rows, 80), trace, sizes.canvas_pixels()});
}

u64 aligned_ssim_work_bytes(Size canvas) {
    return add_bytes(mul_bytes(canvas.height, 2 * sizeof(const u8*)), ssim_work_bytes(canvas.width));
}

u64 aligned_diff_work_bytes(Size canvas, u64 image_work) {
    return add_bytes(image_work, mul_bytes(canvas.width, canvas.height));
}

u64 cut_thumbnail_work_bytes(Size shown, bool copied, const ThumbnailOptions& options) {
    return add_bytes(copied ? rgba_bytes(shown) : 0, thumbnail_work_bytes(shown, options));
}

u64 pair_memory_needed(const PairSizes& sizes) {
    const Size canvas = sizes.canvas();
    const ThumbnailOptions thumbnail;
    const ClusterOptions clusters;
    const u64 costliest = std::max({
        ssim_work_bytes(canvas.width),
        add_bytes(clusters_work_bytes(canvas, clusters),
                  cluster_records_bytes(runs_bound(canvas, clusters), canvas, clusters)),
        // the shift-aware diff image with its thumbnail; the plain one needs no more
        aligned_diff_work_bytes(canvas, diff_png_and_thumbnail_work_bytes(canvas, thumbnail)),
        alignment_work_bytes(sizes, AlignmentOptions{}.max_edit_rows),
        aligned_ssim_work_bytes(canvas),
        // the baseline's thumbnail at its own size is made of a copy
        cut_thumbnail_work_bytes(sizes.baseline, true, thumbnail),
        thumbnail_work_bytes(sizes.current, thumbnail),
    });
    return pair_call_bytes(sizes, costliest);
}

u64 pair_call_bytes(const PairSizes& sizes, u64 work) {
    return add_bytes(std::max(pair_build_bytes(sizes), add_bytes(pair_held_bytes(sizes), work)), scratch_bytes());
}

// One byte a canvas pixel: an eighth of the pair's own pixels. A pair whose
// change takes more is classified again by each call.
u64 change_blocks_bytes(Size canvas) { return mul_bytes(canvas.width, canvas.height); }

std::optional<CompareError> refusal(const ImagePair& pair, u64 work) {
    const PairSizes sizes = pair.sizes();
    return pair.budget.refusal(sum({pair_held_bytes(sizes), work, scratch_bytes()}), sizes);
}

}  // namespace quorvane
