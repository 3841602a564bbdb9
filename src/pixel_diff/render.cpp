#include "pixel_diff/render.hpp"

#include <algorithm>
#include <bit>

#include "core/parallel.hpp"
#include "pixel_diff/change_blocks.hpp"
#include "pixel_diff/gray.hpp"
#include "pixel_diff/inputs.hpp"
#include "pixel_diff/scan.hpp"

namespace quorvane {
namespace {

// Rows per unit of work when a diff image is drawn on the pool.
constexpr u64 kBandRows = 64;

void paint(u8* out, u64 i, Rgb colour) {
    u8* pixel = out + i * kBytesPerPixel;
    pixel[0] = colour.r;
    pixel[1] = colour.g;
    pixel[2] = colour.b;
    pixel[3] = 255;
}

// Draws rows [first_row, end_row): grey first, then the pixels whose words
// differ repainted by their class. Returns the rows' changed-pixel count.
u64 draw_rows(const ScanContext& pair, const ChangeBlocks* known, const DiffOptions& options, u8* out, u64 first_row,
              u64 end_row) {
    const u64 width = pair.pixels.width;
    draw_gray_pixels(pair.pixels.baseline, out, first_row * width, end_row * width, options.alpha);
    // The current image got darker where a Changed pixel's delta is negative.
    const Rgb darker_color = options.diff_color_alt.value_or(options.diff_color);
    u64 count = 0;
    for (u64 y = first_row; y < end_row; ++y) {
        u8* row = out + y * width * kBytesPerPixel;
        for_each_row_block(pair, known, y, [&](const ClassifiedBlock& block) {
            for_each_bit(block.anti_aliased, block.x, [&](u64 x) { paint(row, x, options.aa_color); });
            for_each_bit(block.changed & ~block.darker, block.x, [&](u64 x) { paint(row, x, options.diff_color); });
            for_each_bit(block.darker, block.x, [&](u64 x) { paint(row, x, darker_color); });
            count += std::popcount(block.changed);
        });
    }
    return count;
}

// body(first_row, end_row) over whole bands, on the pool for large images.
template <class Body>
u64 sum_over_bands(u64 width, u64 height, Body&& body) {
    const u64 bands = (height + kBandRows - 1) / kBandRows;
    return parallel_sum_if(worth_splitting(width * height), bands, 1, [&](u64 first_band, u64 end_band) {
        return body(first_band * kBandRows, std::min(end_band * kBandRows, height));
    });
}

}  // namespace

Result<DiffImage> render_diff_image(ByteView baseline, ByteView current, u64 width, u64 height,
                                    const DiffOptions& options, const ChangeBlocks* known) {
    if (auto checked = check_diff_inputs(baseline, current, width, height, options); !checked) {
        return std::move(checked).error();
    }
    // Every byte is written below, so the buffer skips the zero fill.
    DiffImage image{Bytes(baseline.size()), 0, width, height};
    u8* out = image.pixels.data();
    if (same_bytes(baseline, current)) {
        sum_over_bands(width, height, [&](u64 first_row, u64 end_row) {
            draw_gray_pixels(baseline.data(), out, first_row * width, end_row * width, options.alpha);
            return u64{0};
        });
        return image;
    }

    const ScanContext pair(baseline, current, width, height, options);
    image.count = sum_over_bands(width, height, [&](u64 first_row, u64 end_row) {
        return draw_rows(pair, known, options, out, first_row, end_row);
    });
    return image;
}

Result<DiffImage> render_pair_diff(const CanvasView& pair, const DiffOptions& options, const ChangeBlocks* known) {
    auto image = render_diff_image(pair.baseline, pair.current, pair.width, pair.height, options, known);
    if (image) paint_regions(image->pixels, {image->width, image->height}, pair.ignore, pair.mask_color);
    return image;
}

}  // namespace quorvane
